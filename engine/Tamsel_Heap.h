// SPDX-License-Identifier: GPL-2.0-or-later
// The memory of one Tidy document and the budget of one parse; internal to
// the conversion run.
#pragma once

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>

namespace tamsel {

// AddressSanitizer's allocator and checks slow a parse and change what memory
// figures mean: bounds and measures that depend on them ask this.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// Allocators run inside Tidy's C frames, so no exception may leave them, and
// Tidy writes through the pointers they return without checking them for null.
// A failure there cannot be reported to the caller; like Tidy's own default
// allocator, which panics and exits, they end the process with a message. The
// output buffer never gets here: MakeRoom reserves its storage beforehand,
// outside Tidy, where running out of memory throws std::bad_alloc to the
// caller, so that Tidy finds the room it needs and never calls its allocator.
[[noreturn]] void OutOfMemory(const char* what, std::size_t n);

// The memory of one Tidy document, and the budget of its parse.
//
// Tidy 5.6 forgets to free some of what it allocates (the attributes of a
// misplaced "<?xml ...>", for one), so whatever is left once the document has
// been released goes with the heap, and no input leaks.
//
// Tidy makes a great many small blocks (nodes, attributes, names, message
// texts) and frees nearly all of them only at the end. They are cut from large
// chunks and recycled by size class; the chunks go back to a cache shared by
// all runs of the process, so that a run after the first finds its memory
// mapped and faulted in already. Blocks above the largest class (the lexer's
// text, grown by doubling) come from malloc.
//
// Budget: Tidy 5.6 can loop for ever ("<tr><dl></table>" sends it round
// between its row and definition-list parsers) and spends time and memory
// quadratic in the input on some misnestings. Every allocation and every
// message is charged to the parse, in bytes; a real page costs a small
// multiple of its size. The work, the memory and the processor time of a
// parse are bounded as well whatever the size of the input. Once a parse has spent its budget, the
// heap jumps out of Tidy back to ParseWithin, past C frames only; the run then drops the document
// unreleased and the heap frees all of it.
class TTidyHeap : public TidyAllocator {
public:
  // inputBytes: the size of the input to be parsed, which sizes the first
  // chunk.
  explicit TTidyHeap(std::size_t inputBytes = 0);
  TTidyHeap(const TTidyHeap&) = delete;
  TTidyHeap& operator=(const TTidyHeap&) = delete;
  ~TTidyHeap();

  void* Allocate(std::size_t n);
  void* Reallocate(void* p, std::size_t n);
  void Free(void* p);

  // What the parse of inputBytes may spend, in work and in memory taken:
  // proportional to the input, with a floor.
  static std::size_t BudgetFor(std::size_t inputBytes);
  static std::size_t MemoryFor(std::size_t inputBytes);

  // Parses the size bytes at input into doc within the budgets. False when
  // one ran out: Tidy's state is then broken, and doc must not be touched
  // again.
  bool ParseWithin(TidyDoc doc, const void* input, std::size_t size);

  // Work charged so far: allocations, memory taken and messages.
  std::uint64_t Spent() const { return Work; }

  // Called for each message Tidy reports.
  void ChargeMessage(int code, int line, int column);

  static constexpr std::size_t kClasses = 40;
  // Measured, real pages cost 12 to 30 units of work per input byte (600
  // for a page of 1.8 KB, under the floor), sloppy ones 60; the dearest
  // input that converts, an endless run of unclosed inline elements, 610
  // (one unit is very roughly a nanosecond).
  static constexpr std::size_t kBudgetFloor = std::size_t{64} << 20;
  static constexpr std::size_t kBudgetPerByte = 1024;
  // Tidy's tree takes up to 110 bytes per input byte for runs of inline
  // elements, far less for real pages.
  static constexpr std::size_t kMemoryFloor = std::size_t{32} << 20;
  static constexpr std::size_t kMemoryPerByte = 160;
  // Whatever the input's size, a parse takes no more than this, so that a
  // run with its input, its result and their copies stays within 1 GB
  // (a real page's tree takes 8 to 15 bytes per input byte: pages of up to
  // some 25 MB convert), and spends no more work than this, some seconds.
  static constexpr std::size_t kMemoryCeiling = std::size_t{400} << 20;
  static constexpr std::size_t kBudgetCeiling = std::size_t{4000} << 20;
  // And no more processor time than this: Tidy does some work between its
  // allocations that grows with the depth of its open elements, which the
  // work charged does not see. Checked every kClockInterval charges.
  // Tidy reads its input through the heap too, which looks at the clock
  // every kClockBytes bytes: a page of text alone allocates little, and
  // Tidy looks each named reference up among two thousand names.
  static constexpr double kParseSeconds = 2.5;
  static constexpr std::uint32_t kClockInterval = 512;
  static constexpr std::uint32_t kClockBytes = 1 << 16;

  struct TChunk;
  struct TLarge;

private:
  void* AllocateSmall(unsigned cls);
  void* AllocateLarge(std::size_t n);
  void NewChunk(std::size_t atLeast);

  void Charge(std::size_t units) {
    Work += units;
    if (Work > Budget && Exit) std::longjmp(*Exit, 1);
    if (--UntilClock == 0) CheckClock();
  }
  void CheckClock();
  void Take(std::size_t bytes) {
    Work += bytes;
    Taken += bytes;
    if ((Taken > MemoryBudget || Work > Budget) && Exit) std::longjmp(*Exit, 1);
  }

  std::uint64_t Work = 0;
  std::uint64_t Budget = ~std::uint64_t{0};
  std::uint64_t Taken = 0;
  std::uint64_t MemoryBudget = ~std::uint64_t{0};
  // Thread processor time, in nanoseconds, at which the parse is abandoned.
  std::uint64_t Deadline = ~std::uint64_t{0};
  std::uint32_t UntilClock = kClockInterval;
  // The input Tidy reads.
  struct TSource {
    const unsigned char* Begin;
    const unsigned char* Next;
    const unsigned char* End;
    TTidyHeap* Heap;
    std::uint32_t UntilClock;
  };
  static int TIDY_CALL GetByte(void* source);
  static void TIDY_CALL UngetByte(void* source, byte b);
  static Bool TIDY_CALL AtEnd(void* source);
  int LastCode = -1;
  int LastLine = 0;
  int LastColumn = 0;
  std::uint32_t Repeats = 0;
  std::jmp_buf* Exit = nullptr;
  std::size_t FirstChunk;
  char* Next = nullptr;
  char* End = nullptr;
  TChunk* Chunks = nullptr;
  std::size_t ChunkBytes = 0;
  TLarge* Large = nullptr;
  void* FreeLists[kClasses] = {};
};

// Tidy's message callback for a run: declines every message (nothing of it is
// shown) and charges it to the heap given as the document's app data.
Bool TIDY_CALL ChargeMessage(TidyMessage message);

} // namespace tamsel
