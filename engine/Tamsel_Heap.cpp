// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Heap.h"

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include <sys/mman.h>
#include <time.h>

namespace tamsel {

void OutOfMemory(const char* what, std::size_t n) {
  std::fprintf(stderr, "tamsel: out of memory (%s, %zu bytes)\n", what, n);
  std::abort();
}

namespace {

// Size classes: 16-byte steps up to 256, then two a doubling (3·2^k, 4·2^k)
// up to 32 KiB; rounding wastes at most a third of a block.
constexpr std::size_t kSmallLimit = 32768;
constexpr unsigned kClassCount = 30;
static_assert(kClassCount <= TTidyHeap::kClasses);

constexpr std::array<std::uint32_t, kClassCount> MakeClassSizes() {
  std::array<std::uint32_t, kClassCount> sizes{};
  unsigned i = 0;
  for (std::uint32_t s = 16; s <= 256; s += 16)
    sizes[i++] = s;
  for (std::uint32_t p = 256; i < kClassCount; p *= 2) {
    sizes[i++] = p + p / 2;
    sizes[i++] = 2 * p;
  }
  return sizes;
}
constexpr std::array<std::uint32_t, kClassCount> kClassSize = MakeClassSizes();
static_assert(kClassSize[kClassCount - 1] == kSmallLimit);

unsigned ClassOf(std::size_t n) {
  if (n <= 256) return n == 0 ? 0 : static_cast<unsigned>((n - 1) >> 4);
  // n in (2^(b-1), 2^b]: the class 3·2^(b-2) if it holds n, else 2^b.
  const unsigned b = static_cast<unsigned>(std::bit_width(n - 1));
  const unsigned base = 16 + 2 * (b - 9); // 3·2^(b-2) for b = 9 is 384
  return n <= (std::size_t{3} << (b - 2)) ? base : base + 1;
}

// Every block's payload is preceded by 16 bytes whose second word tells its
// class, or kLargeTag for a block from malloc; payloads are 16-byte aligned,
// as malloc's are.
constexpr std::size_t kHead = 16;

// Memory a block from malloc is charged as: blocks of chunk sizes only under
// AddressSanitizer, where they stand in for chunk memory, which is charged
// by the chunk, so that the sanitized build spends what the others do.
std::size_t Charged(std::size_t n) {
  return n > kSmallLimit ? n : 0;
}
constexpr std::size_t kLargeTag = ~std::size_t{0};

std::size_t& TagOf(void* payload) {
  return *reinterpret_cast<std::size_t*>(static_cast<char*>(payload) - sizeof(std::size_t));
}

// A message costs Tidy a few allocations of its own (charged as such) and the
// formatting, charged as this much.
constexpr std::size_t kMessageCost = 256;
// What an allocation costs beyond the memory it may take.
constexpr std::size_t kAllocationCost = 64;
// Tidy stuck in a loop reports the same message at the same place again and
// again; no parse that gets anywhere does that so often.
constexpr std::uint32_t kMaxRepeats = 10000;

constexpr std::size_t kSmallestChunk = std::size_t{256} << 10;
// Tidy's tree of a real page takes 8 to 15 bytes per input byte.
constexpr std::size_t kTreePerInputByte = 12;
constexpr std::size_t kLargestChunk = std::size_t{32} << 20;
// Chunks kept for later runs, at most; the rest goes back to the system.
constexpr std::size_t kCachedBytes = std::size_t{64} << 20;

// Maps a chunk of size bytes, faulted in by one call rather than a page at
// a time: a chunk is about as large as the tree will be, and in a virtual
// machine each fault costs far more than clearing its page. From 2 MiB up
// the chunk is aligned for huge pages, which spares most of the clearing
// and the page-table work as well (a fifth of a 1 MB page's process).
void* MapChunk(std::size_t& size) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  if (size < kHuge) {
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (base == MAP_FAILED) OutOfMemory("Tidy document", size);
    return base;
  }
  size = (size + kHuge - 1) / kHuge * kHuge;
  const std::size_t span = size + kHuge;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) OutOfMemory("Tidy document", size);
  char* const first = static_cast<char*>(raw);
  char* const base = first + (kHuge - reinterpret_cast<std::uintptr_t>(first) % kHuge) % kHuge;
  if (base > first) munmap(first, static_cast<std::size_t>(base - first));
  if (first + span > base + size)
    munmap(base + size, static_cast<std::size_t>(first + span - (base + size)));
  // Advice only: without it the pages come one fault at a time.
  madvise(base, size, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  madvise(base, size, MADV_POPULATE_WRITE);
#endif
  return base;
}

} // namespace

struct TTidyHeap::TChunk {
  TChunk* Next;
  std::size_t Size;
};
static_assert(sizeof(TTidyHeap::TChunk) == kHead);

struct TTidyHeap::TLarge {
  TLarge* Prev;
  TLarge* Next;
  std::size_t Size;
  std::size_t Tag;
};
static_assert(sizeof(TTidyHeap::TLarge) % 16 == 0);

namespace {

// Chunks between runs, shared by every thread of the process.
struct TChunkCache {
  std::mutex Lock;
  TTidyHeap::TChunk* List = nullptr;
  std::size_t Bytes = 0;
};
TChunkCache& Cache() {
  static TChunkCache cache;
  return cache;
}

} // namespace

TTidyHeap::TTidyHeap(std::size_t inputBytes)
    : TidyAllocator{nullptr},
      FirstChunk(std::clamp(kTreePerInputByte * inputBytes, kSmallestChunk, kLargestChunk)) {
  static const TidyAllocatorVtbl kVtbl = {
      [](TidyAllocator* self, std::size_t n) { return static_cast<TTidyHeap*>(self)->Allocate(n); },
      [](TidyAllocator* self, void* block, std::size_t n) {
        return static_cast<TTidyHeap*>(self)->Reallocate(block, n);
      },
      [](TidyAllocator* self, void* block) { static_cast<TTidyHeap*>(self)->Free(block); },
      [](TidyAllocator*, ctmbstr msg) {
        std::fprintf(stderr, "tamsel: Tidy failed: %s\n", msg ? msg : "");
        std::abort();
      }};
  vtbl = &kVtbl;
}

TTidyHeap::~TTidyHeap() {
  while (Large) {
    TLarge* next = Large->Next;
    std::free(Large);
    Large = next;
  }
  if (!Chunks) return;
  TChunk* drop = nullptr;
  {
    TChunkCache& cache = Cache();
    std::lock_guard<std::mutex> hold(cache.Lock);
    while (Chunks) {
      TChunk* chunk = Chunks;
      Chunks = chunk->Next;
      if (cache.Bytes + chunk->Size <= kCachedBytes) {
        cache.Bytes += chunk->Size;
        chunk->Next = cache.List;
        cache.List = chunk;
      } else {
        chunk->Next = drop;
        drop = chunk;
      }
    }
  }
  while (drop) {
    TChunk* next = drop->Next;
    munmap(drop, drop->Size);
    drop = next;
  }
}

std::size_t TTidyHeap::BudgetFor(std::size_t inputBytes) {
  return std::min(kBudgetFloor + kBudgetPerByte * inputBytes, kBudgetCeiling);
}

std::size_t TTidyHeap::MemoryFor(std::size_t inputBytes) {
  return std::min(kMemoryFloor + kMemoryPerByte * inputBytes, kMemoryCeiling);
}

namespace {

std::uint64_t ThreadNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

// Sanitized builds run several times slower, and a program under valgrind
// (instruction counts are how conversions are measured) some fifty times:
// the bound is for the work.
constexpr double kSlowdown = kSanitized ? 10 : 1;

double Slowdown() {
#if __has_include(<valgrind/valgrind.h>)
  if (RUNNING_ON_VALGRIND) return 100;
#endif
  return kSlowdown;
}

} // namespace

void TTidyHeap::CheckClock() {
  UntilClock = kClockInterval;
  if (Exit && ThreadNanoseconds() > Deadline) std::longjmp(*Exit, 1);
}

void TTidyHeap::ChargeMessage(int code, int line, int column) {
  if (code == LastCode && line == LastLine && column == LastColumn) {
    if (++Repeats > kMaxRepeats && Exit) std::longjmp(*Exit, 1);
  } else {
    LastCode = code;
    LastLine = line;
    LastColumn = column;
    Repeats = 0;
  }
  Charge(kMessageCost);
}

void TTidyHeap::NewChunk(std::size_t atLeast) {
  const std::size_t need = atLeast + kHead;
  TChunk* chunk = nullptr;
  {
    TChunkCache& cache = Cache();
    std::lock_guard<std::mutex> hold(cache.Lock);
    for (TChunk** at = &cache.List; *at; at = &(*at)->Next) {
      if ((*at)->Size >= need) {
        chunk = *at;
        *at = chunk->Next;
        cache.Bytes -= chunk->Size;
        break;
      }
    }
  }
  if (!chunk) {
    // Each chunk as large as all before it together: few chunks, few calls.
    std::size_t size = std::min(std::max(ChunkBytes, FirstChunk), kLargestChunk);
    if (size < need) size = (need + kSmallestChunk - 1) / kSmallestChunk * kSmallestChunk;
    void* base = MapChunk(size);
    chunk = static_cast<TChunk*>(base);
    chunk->Size = size;
  }
  chunk->Next = Chunks;
  Chunks = chunk;
  ChunkBytes += chunk->Size;
  Next = reinterpret_cast<char*>(chunk) + kHead;
  End = reinterpret_cast<char*>(chunk) + chunk->Size;
  // Charged once the heap holds the chunk, so that a jump out frees it.
  Take(chunk->Size);
}

void* TTidyHeap::AllocateSmall(unsigned cls) {
  if (void* p = FreeLists[cls]) {
    FreeLists[cls] = *static_cast<void**>(p);
    return p;
  }
  const std::size_t block = kHead + kClassSize[cls];
  if (static_cast<std::size_t>(End - Next) < block) NewChunk(block);
  void* p = Next + kHead;
  Next += block;
  TagOf(p) = cls;
  return p;
}

void* TTidyHeap::AllocateLarge(std::size_t n) {
  if (n > std::numeric_limits<std::size_t>::max() - sizeof(TLarge)) OutOfMemory("Tidy document", n);
  auto* block = static_cast<TLarge*>(std::malloc(sizeof(TLarge) + n));
  if (!block) OutOfMemory("Tidy document", n);
  block->Prev = nullptr;
  block->Next = Large;
  if (Large) Large->Prev = block;
  Large = block;
  block->Size = n;
  block->Tag = kLargeTag;
  Take(Charged(n));
  return block + 1;
}

void* TTidyHeap::Allocate(std::size_t n) {
  Charge(kAllocationCost);
  // Under AddressSanitizer every block comes from malloc, so that an overrun
  // in Tidy is caught at the block's end, not somewhere inside a chunk.
  if (kSanitized || n > kSmallLimit) return AllocateLarge(n);
  return AllocateSmall(ClassOf(n));
}

void* TTidyHeap::Reallocate(void* p, std::size_t n) {
  if (!p) return Allocate(n);
  const std::size_t tag = TagOf(p);
  if (tag != kLargeTag) {
    if (n <= kClassSize[tag]) return p;
    void* moved = Allocate(n);
    std::memcpy(moved, p, kClassSize[tag]);
    Free(p);
    return moved;
  }
  TLarge* block = static_cast<TLarge*>(p) - 1;
  if (n <= block->Size) return p;
  Charge(kAllocationCost);
  Take(Charged(n) - Charged(block->Size));
  if (n > std::numeric_limits<std::size_t>::max() - sizeof(TLarge)) OutOfMemory("Tidy document", n);
  TLarge* prev = block->Prev;
  TLarge* next = block->Next;
  auto* moved = static_cast<TLarge*>(std::realloc(block, sizeof(TLarge) + n));
  if (!moved) OutOfMemory("Tidy document", n);
  if (prev) {
    prev->Next = moved;
  } else {
    Large = moved;
  }
  if (next) next->Prev = moved;
  moved->Size = n;
  return moved + 1;
}

void TTidyHeap::Free(void* p) {
  if (!p) return;
  const std::size_t tag = TagOf(p);
  if (tag != kLargeTag) {
    *static_cast<void**>(p) = FreeLists[tag];
    FreeLists[tag] = p;
    return;
  }
  TLarge* block = static_cast<TLarge*>(p) - 1;
  if (block->Prev) {
    block->Prev->Next = block->Next;
  } else {
    Large = block->Next;
  }
  if (block->Next) block->Next->Prev = block->Prev;
  Taken -= Charged(block->Size);
  std::free(block);
}

int TIDY_CALL TTidyHeap::GetByte(void* data) {
  auto* source = static_cast<TSource*>(data);
  if (source->Next >= source->End) return -1; // Tidy's EndOfStream
  if (--source->UntilClock == 0) {
    source->UntilClock = kClockBytes;
    source->Heap->CheckClock();
  }
  return *source->Next++;
}

void TIDY_CALL TTidyHeap::UngetByte(void* data, byte) {
  auto* source = static_cast<TSource*>(data);
  if (source->Next > source->Begin) --source->Next;
}

Bool TIDY_CALL TTidyHeap::AtEnd(void* data) {
  auto* source = static_cast<TSource*>(data);
  return source->Next >= source->End ? yes : no;
}

// No object with a destructor lives in this frame, which the budget jumps to.
bool TTidyHeap::ParseWithin(TidyDoc doc, const void* bytes, std::size_t inputBytes) {
  const auto* begin = static_cast<const unsigned char*>(bytes);
  TSource data{begin, begin, begin + inputBytes, this, kClockBytes};
  TidyInputSource source;
  tidyInitSource(&source, &data, GetByte, UngetByte, AtEnd);
  std::jmp_buf exit;
  Budget = Work + BudgetFor(inputBytes);
  MemoryBudget = Taken + MemoryFor(inputBytes);
  Deadline = ThreadNanoseconds() + static_cast<std::uint64_t>(kParseSeconds * Slowdown() * 1e9);
  Exit = &exit;
  if (setjmp(exit) != 0) {
    Exit = nullptr;
    Budget = MemoryBudget = Deadline = ~std::uint64_t{0};
    return false;
  }
  tidyParseSource(doc, &source);
  Exit = nullptr;
  Budget = MemoryBudget = Deadline = ~std::uint64_t{0};
  return true;
}

Bool TIDY_CALL ChargeMessage(TidyMessage message) {
  if (auto* heap = static_cast<TTidyHeap*>(tidyGetAppData(tidyGetMessageDoc(message))))
    heap->ChargeMessage(static_cast<int>(tidyGetMessageCode(message)), tidyGetMessageLine(message),
                        tidyGetMessageColumn(message));
  return no;
}

} // namespace tamsel
