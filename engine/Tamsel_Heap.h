// The memory of one Tidy document and the watch over one parse; internal to
// the conversion run.
#pragma once

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <csetjmp>
#include <cstddef>

namespace tamsel {

// Allocators run inside Tidy's C frames, so no exception may leave them, and
// Tidy writes through the pointers they return without checking them for null.
// A failure there cannot be reported to the caller; like Tidy's own default
// allocator, which panics and exits, they end the process with a message. The
// output buffer never gets here: MakeRoom reserves its storage beforehand,
// outside Tidy, where running out of memory throws std::bad_alloc to the
// caller, so that Tidy finds the room it needs and never calls its allocator.
[[noreturn]] void OutOfMemory(const char* what, std::size_t n);

// Tidy 5.6 can loop for ever: "<tr><dl></table>" sends it round between its
// row and definition-list parsers, reporting the same message each time. A
// parse that reports far more messages than its input could account for
// (real pages report at most a few per tag) is taken to be stuck and is
// abandoned: the watch jumps out of Tidy back to ParseWatched, past C frames
// only, and the run drops the document unreleased; its heap frees all of it.
struct TParseWatch {
  std::jmp_buf Exit;
  std::size_t MessagesLeft;
};

Bool TIDY_CALL DeclineMessage(TidyMessage message);

// Parses input into doc under the watch; false when the watch abandoned it.
bool ParseWatched(TidyDoc doc, TidyBuffer* input, TParseWatch* watch);

// The memory of one Tidy document. Tidy 5.6 forgets to free some of what it
// allocates (the attributes of a misplaced "<?xml ...>", for one); every block
// therefore sits on a list, and whatever is left once the document has been
// released is freed with the heap, so that no input leaks.
class TTidyHeap : public TidyAllocator {
public:
  TTidyHeap();
  TTidyHeap(const TTidyHeap&) = delete;
  TTidyHeap& operator=(const TTidyHeap&) = delete;
  ~TTidyHeap();

  void* Allocate(std::size_t n);
  void* Reallocate(void* p, std::size_t n);
  void Free(void* p);

private:
  // Keeps the blocks' contents aligned as malloc's are.
  struct alignas(std::max_align_t) TBlock {
    TBlock* Prev;
    TBlock* Next;
  };
  void Link(TBlock* block) {
    block->Prev = &Head;
    block->Next = Head.Next;
    Head.Next->Prev = block;
    Head.Next = block;
  }
  static void Unlink(TBlock* block) {
    block->Prev->Next = block->Next;
    block->Next->Prev = block->Prev;
  }
  TBlock Head;
};

} // namespace tamsel
