// The converter object, the conversion run and the output buffer.
#include "Tamsel_Internal.h"
#include "Tamsel_Stack.h"

#include <algorithm>
#include <bit>
#include <clocale>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>

namespace tamsel {

namespace {

// Allocators run inside Tidy's C frames, so no exception may leave them, and
// Tidy writes through the pointers they return without checking them for null.
// A failure there cannot be reported to the caller; like Tidy's own default
// allocator, which panics and exits, they end the process with a message. The
// output buffer never gets here: MakeRoom reserves its storage beforehand,
// outside Tidy, where running out of memory throws std::bad_alloc to the
// caller, so that Tidy finds the room it needs and never calls its allocator.
[[noreturn]] void OutOfMemory(const char* what, std::size_t n) {
  std::fprintf(stderr, "tamsel: out of memory (%s, %zu bytes)\n", what, n);
  std::abort();
}

void* TIDY_CALL StrAlloc(TidyAllocator* self, std::size_t n) {
  auto* a = static_cast<Utf8StrAllocator*>(self);
  try {
    a->Data.assign(n, '\0');
  } catch (...) {
    OutOfMemory("output buffer", n);
  }
  return a->Data.data();
}

// One record serves exactly one buffer, whose block always is Data.
void* TIDY_CALL StrRealloc(TidyAllocator* self, void* /*block*/, std::size_t n) {
  auto* a = static_cast<Utf8StrAllocator*>(self);
  try {
    a->Data.resize(n);
  } catch (...) {
    OutOfMemory("output buffer", n);
  }
  return a->Data.data();
}

void TIDY_CALL StrFree(TidyAllocator* self, void* /*block*/) {
  auto* a = static_cast<Utf8StrAllocator*>(self);
  a->Data.clear();
}

void TIDY_CALL StrPanic(TidyAllocator* /*self*/, ctmbstr /*msg*/) {}

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

const TidyAllocatorVtbl kStrAllocatorVtbl = {StrAlloc, StrRealloc, StrFree, StrPanic};

// The memory of one Tidy document. Tidy 5.6 forgets to free some of what it
// allocates (the attributes of a misplaced "<?xml ...>", for one); every block
// therefore sits on a list, and whatever is left once the document has been
// released is freed with the heap, so that no input leaks.
class TTidyHeap : public TidyAllocator {
public:
  TTidyHeap();
  TTidyHeap(const TTidyHeap&) = delete;
  TTidyHeap& operator=(const TTidyHeap&) = delete;
  ~TTidyHeap() {
    while (Head.Next != &Head) {
      TBlock* block = Head.Next;
      Unlink(block);
      std::free(block);
    }
  }

  void* Allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() - sizeof(TBlock))
      OutOfMemory("Tidy document", n);
    auto* block = static_cast<TBlock*>(std::malloc(sizeof(TBlock) + n));
    if (!block) OutOfMemory("Tidy document", n);
    Link(block);
    return block + 1;
  }
  void* Reallocate(void* p, std::size_t n) {
    if (!p) return Allocate(n);
    if (n > std::numeric_limits<std::size_t>::max() - sizeof(TBlock))
      OutOfMemory("Tidy document", n);
    TBlock* block = static_cast<TBlock*>(p) - 1;
    Unlink(block);
    auto* moved = static_cast<TBlock*>(std::realloc(block, sizeof(TBlock) + n));
    if (!moved) OutOfMemory("Tidy document", n);
    Link(moved);
    return moved + 1;
  }
  void Free(void* p) {
    if (!p) return;
    TBlock* block = static_cast<TBlock*>(p) - 1;
    Unlink(block);
    std::free(block);
  }

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

TTidyHeap::TTidyHeap() : TidyAllocator{&kHeapVtbl} {
  Head.Prev = Head.Next = &Head;
}

// Tidy's parser and the walks recurse once for every level of element
// nesting, and each level needs a '<' of its own in the input: in every
// encoding Tidy reads, a byte 0x3C (Tidy's implied elements add a few levels
// at most). Measured, a level costs up to 160 bytes of stack in an optimised
// build and up to 420 under AddressSanitizer or without optimisation.
#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
constexpr std::size_t kStackPerTag = 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t kStackPerTag = 1024;
#else
constexpr std::size_t kStackPerTag = 512;
#endif
#else
constexpr std::size_t kStackPerTag = 512;
#endif
// For the frames above the walk, Tidy's and PCRE2's own, and the caller's.
constexpr std::size_t kStackBase = std::size_t{1} << 20;

// Releases the run's document on every way out, also when an exception passes.
struct TDocGuard {
  TidyDoc& Doc;
  ~TDocGuard() {
    if (Doc) tidyRelease(Doc);
    Doc = nullptr;
  }
};

} // namespace

// Tidy sets the process locale while it makes a document (it looks up the
// user's language and then switches to "C"), and it keeps the language in a
// global. Separate converters on separate threads would race there, and the
// caller's locale would be changed under it: documents are made one at a
// time, and the locale is put back as it was.
TidyDoc CreateDocument(TidyAllocator* allocator) {
  static std::mutex lock;
  const std::lock_guard<std::mutex> hold(lock);
  const char* current = std::setlocale(LC_ALL, nullptr);
  const std::string saved = current ? current : "C";
  TidyDoc doc = tidyCreateWithAllocator(allocator);
  if (!std::setlocale(LC_ALL, saved.c_str()) && doc) {
    tidyRelease(doc);
    throw std::runtime_error("tamsel: cannot restore the locale \"" + saved +
                             "\" after HTML Tidy changed it");
  }
  return doc;
}

void SetTidyOptions(TidyDoc doc, int encoding) {
  tidyOptSetInt(doc, TidyInCharEncoding, static_cast<ulong>(encoding));
  tidyOptSetBool(doc, TidyDropEmptyElems, no);
  tidyOptSetBool(doc, TidyDropEmptyParas, no);
  tidyOptSetBool(doc, TidyFixUri, no);
  tidyOptSetInt(doc, TidyOutCharEncoding, TidyEncUtf8);
  tidyOptSetBool(doc, TidyQuoteAmpersand, no);
  tidyOptSetBool(doc, TidyQuoteNbsp, no);
  tidyOptSetInt(doc, TidyVertSpace, TidyNoState);
  tidyOptSetInt(doc, TidyWrapLen, 0);
  // Text emission relies on Tidy's line ends being CR LF.
  tidyOptSetInt(doc, TidyNewline, TidyCRLF);
}

Utf8StrAllocator::Utf8StrAllocator() : TidyAllocator{&kStrAllocatorVtbl} {}

void MakeRoom(TidyBuffer& buffer, std::size_t more) {
  // What tidyBufCheckAlloc will ask for: one byte spare beyond the content,
  // the storage doubled from 256 bytes up as often as needed.
  const std::size_t need = std::size_t{buffer.size} + more + 1;
  if (need <= buffer.allocated) return;
  std::size_t amount = buffer.allocated ? buffer.allocated : 256;
  while (amount < need)
    amount *= 2;
  if (amount > kMaxOutputBytes) throw std::length_error("tamsel: result larger than 1 GiB");
  // Grown here as Tidy would grow it (new bytes zeroed), so Tidy finds room.
  if (buffer.allocator && buffer.allocator->vtbl == &kStrAllocatorVtbl) {
    std::string& data = static_cast<Utf8StrAllocator*>(buffer.allocator)->Data;
    data.resize(amount);
    buffer.bp = reinterpret_cast<byte*>(data.data());
    buffer.allocated = static_cast<uint>(amount);
  }
}

bool HasVisibleByte(const TidyBuffer& buffer, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t i = from; i < to; ++i)
    if (buffer.bp[i] > 0x20) return true;
  return false;
}

TTamsel::TTamsel() : Impl(std::make_unique<detail::TConverter>(*this)) {}

TTamsel::~TTamsel() = default;

std::string TTamsel::ConvertAnsi(std::string_view text, int encoding) {
  if (text.size() > kMaxInputBytes) throw std::length_error("tamsel: input larger than 64 MiB");
  return ConvertBuffer(text.data(), static_cast<std::int32_t>(text.size()), encoding);
}

std::string TTamsel::ConvertWide(std::u16string_view text) {
  if (text.size() > kMaxInputBytes / 2) throw std::length_error("tamsel: input larger than 64 MiB");
  const auto size = static_cast<std::int32_t>(text.size() * 2);
  if constexpr (std::endian::native == std::endian::little) {
    return ConvertBuffer(text.data(), size, kEncUtf16le);
  } else {
    std::string le(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      le[2 * i] = static_cast<char>(text[i] & 0xFF);
      le[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return ConvertBuffer(le.data(), size, kEncUtf16le);
  }
}

std::string TTamsel::ConvertBuffer(const void* bytes, std::int32_t size, int encoding) {
  if (size < 0) throw std::length_error("tamsel: negative input size");
  if (static_cast<std::size_t>(size) > kMaxInputBytes)
    throw std::length_error("tamsel: input larger than 64 MiB");
  const char* p = static_cast<const char*>(bytes);
  const auto tags = size > 0 ? static_cast<std::size_t>(std::count(p, p + size, '<')) : 0;
  const std::size_t stack = kStackBase + tags * kStackPerTag;
  if (StackLeft() >= stack) return Impl->Run(bytes, size, encoding);
  std::string result;
  if (!RunOnReservedStack([&] { result = Impl->Run(bytes, size, encoding); }, stack))
    throw std::length_error("tamsel: no stack for nesting this deep");
  return result;
}

std::string detail::TConverter::Run(const void* bytes, std::int32_t size, int encoding) {
  TTidyHeap heap;
  Utf8StrAllocator record;
  std::string result;
  TDocGuard guard{Doc};
  // Read once, so that a run sees one set of options throughout.
  Options = Owner.Options;

  Doc = CreateDocument(&heap);
  if (!Doc) throw std::runtime_error("tamsel: HTML Tidy cannot make a document");

  SetTidyOptions(Doc, encoding);

  // Tidy's error output would go to stderr; nothing of it is shown. Declining
  // every message also spares Tidy writing it out: on badly broken pages that
  // is a tenth of the parse.
  TidyBuffer errors;
  tidyBufInit(&errors);
  tidySetErrorBuffer(Doc, &errors);
  tidySetMessageCallback(Doc, DeclineMessage);
  TParseWatch watch;
  watch.MessagesLeft = 100000 + 64 * static_cast<std::size_t>(size);
  tidySetAppData(Doc, &watch);

  TidyBuffer input;
  tidyBufInit(&input);
  if (size > 0)
    tidyBufAttach(&input, static_cast<byte*>(const_cast<void*>(bytes)), static_cast<uint>(size));
  const bool parsed = ParseWatched(Doc, &input, &watch);
  tidyBufDetach(&input);
  tidyBufFree(&input);
  tidyBufFree(&errors);
  if (!parsed) {
    Doc = nullptr;
    throw std::runtime_error("tamsel: HTML Tidy got stuck on this input");
  }

  TidyNode body = tidyGetBody(Doc);
  if (!body || tidyNodeGetId(body) != TidyTag_BODY) return result;

  Out.Begin(record, Options.LineBreak);
  struct TOutputGuard {
    TOutput& Out;
    ~TOutputGuard() { Out.Abandon(); }
  } outputGuard{Out};
  RawDepth = NoDashDepth = CodeDepth = 0;
  Anchors = {};
  AnchorsFound = false;

  std::uint8_t state = 0;
  WriteBody(body, state);
  const std::size_t written = Out.Finish();

  record.Data.resize(written);
  result = std::move(record.Data);
  return result;
}

} // namespace tamsel
