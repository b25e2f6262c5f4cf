#include "Tamsel_Heap.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace tamsel {

void OutOfMemory(const char* what, std::size_t n) {
  std::fprintf(stderr, "tamsel: out of memory (%s, %zu bytes)\n", what, n);
  std::abort();
}

Bool TIDY_CALL DeclineMessage(TidyMessage message) {
  auto* watch = static_cast<TParseWatch*>(tidyGetAppData(tidyGetMessageDoc(message)));
  if (watch && watch->MessagesLeft-- == 0) std::longjmp(watch->Exit, 1);
  return no;
}

// No object with a destructor lives in this frame, which the watch jumps to.
bool ParseWatched(TidyDoc doc, TidyBuffer* input, TParseWatch* watch) {
  if (setjmp(watch->Exit) != 0) return false;
  tidyParseBuffer(doc, input);
  return true;
}

namespace {

void* TIDY_CALL HeapAlloc(TidyAllocator* self, std::size_t n) {
  return static_cast<TTidyHeap*>(self)->Allocate(n);
}
void* TIDY_CALL HeapRealloc(TidyAllocator* self, void* block, std::size_t n) {
  return static_cast<TTidyHeap*>(self)->Reallocate(block, n);
}
void TIDY_CALL HeapFree(TidyAllocator* self, void* block) {
  static_cast<TTidyHeap*>(self)->Free(block);
}
void TIDY_CALL HeapPanic(TidyAllocator* /*self*/, ctmbstr msg) {
  std::fprintf(stderr, "tamsel: Tidy failed: %s\n", msg ? msg : "");
  std::abort();
}

const TidyAllocatorVtbl kHeapVtbl = {HeapAlloc, HeapRealloc, HeapFree, HeapPanic};

} // namespace

TTidyHeap::TTidyHeap() : TidyAllocator{&kHeapVtbl} {
  Head.Prev = Head.Next = &Head;
}

TTidyHeap::~TTidyHeap() {
  while (Head.Next != &Head) {
    TBlock* block = Head.Next;
    Unlink(block);
    std::free(block);
  }
}

void* TTidyHeap::Allocate(std::size_t n) {
  if (n > std::numeric_limits<std::size_t>::max() - sizeof(TBlock)) OutOfMemory("Tidy document", n);
  auto* block = static_cast<TBlock*>(std::malloc(sizeof(TBlock) + n));
  if (!block) OutOfMemory("Tidy document", n);
  Link(block);
  return block + 1;
}

void* TTidyHeap::Reallocate(void* p, std::size_t n) {
  if (!p) return Allocate(n);
  if (n > std::numeric_limits<std::size_t>::max() - sizeof(TBlock)) OutOfMemory("Tidy document", n);
  TBlock* block = static_cast<TBlock*>(p) - 1;
  Unlink(block);
  auto* moved = static_cast<TBlock*>(std::realloc(block, sizeof(TBlock) + n));
  if (!moved) OutOfMemory("Tidy document", n);
  Link(moved);
  return moved + 1;
}

void TTidyHeap::Free(void* p) {
  if (!p) return;
  TBlock* block = static_cast<TBlock*>(p) - 1;
  Unlink(block);
  std::free(block);
}

} // namespace tamsel
