// SPDX-License-Identifier: GPL-2.0-or-later
// The converter object, the conversion run and the output buffer.
#include "Tamsel_Internal.h"
#include "Tamsel_Heap.h"
#include "Tamsel_Prescreen.h"
#include "Tamsel_Stack.h"

#include <algorithm>
#include <bit>
#include <clocale>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>

namespace tamsel {

// The public header names Tidy's encodings without including Tidy.
static_assert(kEncUtf8 == TidyEncUtf8 && kEncUtf16le == TidyEncUtf16le);

namespace {

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

const TidyAllocatorVtbl kStrAllocatorVtbl = {StrAlloc, StrRealloc, StrFree, StrPanic};

// Tidy's parser and the walks recurse once for every level of element
// nesting, and each level needs a start tag of its own in the input (Tidy's
// implied elements and the inline elements it carries into blocks add up to
// two levels to one tag; Prescreen counts them, or in encodings it cannot
// read every byte 0x3C). Measured, a level costs up to 160 bytes of stack in an optimised
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
  // Text is taken from Tidy's lexer as its printer would print it with these
  // line ends (tidy_print_check holds the two alike); the result's line ends
  // are the channel's, in the run's LineBreak.
  tidyOptSetInt(doc, TidyNewline, TidyCRLF);
}

Utf8StrAllocator::Utf8StrAllocator() : TidyAllocator{&kStrAllocatorVtbl} {}

void MakeRoom(TidyBuffer& buffer, std::size_t more) {
  // What tidyBufCheckAlloc will ask for: one byte spare beyond the content.
  const std::size_t need = std::size_t{buffer.size} + more + 1;
  if (need <= buffer.allocated) return;
  auto* record = buffer.allocator && buffer.allocator->vtbl == &kStrAllocatorVtbl
                     ? static_cast<Utf8StrAllocator*>(buffer.allocator)
                     : nullptr;
  const std::size_t limit = record ? std::min(record->Limit, kMaxOutputBytes) : kMaxOutputBytes;
  // Refused before the storage grows, not after it has doubled.
  if (need > limit) {
    throw std::length_error(limit == kMaxOutputBytes
                                ? "tamsel: result larger than " +
                                      std::to_string(kMaxOutputBytes >> 20) + " MiB"
                                : "tamsel: result more than " + std::to_string(limit >> 20) +
                                      " MB, too large for an input of this size");
  }
  std::size_t amount = buffer.allocated ? buffer.allocated : 256;
  while (amount < need)
    amount *= 2;
  amount = std::min(amount, limit);
  // Grown here as Tidy would grow it (new bytes zeroed), so Tidy finds room.
  if (record) {
    record->Data.resize(amount);
    buffer.bp = reinterpret_cast<byte*>(record->Data.data());
    buffer.allocated = static_cast<uint>(amount);
  }
}

bool HasVisibleByte(const TidyBuffer& buffer, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t i = from; i < to; ++i)
    if (buffer.bp[i] > 0x20) return true;
  return false;
}

std::size_t MemoryBoundFor(std::size_t inputBytes) {
  const std::size_t n = std::min(inputBytes, kMaxInputBytes);
  const std::size_t output = std::min(kMaxOutputBytes, kOutputFloorBytes + kOutputPerInputByte * n);
  // The repaired copy of the input, Tidy's tree and the result while it
  // grows by half again; the tree is gone before the caller copies the
  // result.
  return n + TTidyHeap::MemoryFor(n) + output / 2 * 3;
}

TTamsel::TTamsel() : Impl(std::make_unique<detail::TConverter>(*this)) {}

TTamsel::~TTamsel() = default;

const TDocumentAnchors& TTamsel::Anchors() const {
  return Impl->Report;
}

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

void WithStackForInput(const void* bytes, std::int32_t size, int encoding,
                       const std::function<void(const void*, std::int32_t)>& work,
                       std::vector<std::string>* notes) {
  if (size < 0) throw std::length_error("tamsel: negative input size");
  if (static_cast<std::size_t>(size) > kMaxInputBytes)
    throw std::length_error("tamsel: input larger than 64 MiB");
  TPrescreen screen = Prescreen(bytes, static_cast<std::size_t>(size), encoding);
  if (notes && screen.DroppedStartTags > 0)
    notes->push_back("nesting deeper than " + std::to_string(kMaxOpenBlocks) + " elements (or " +
                     std::to_string(kMaxOpenInline) + " formatting elements) flattened: " +
                     std::to_string(screen.DroppedStartTags) + " start tags dropped");
  if (notes && screen.DroppedStrayTags > 0)
    notes->push_back(std::to_string(screen.DroppedStrayTags) +
                     " end tags that close nothing dropped");
  if (notes && screen.LoneSurrogates > 0)
    notes->push_back(std::to_string(screen.LoneSurrogates) +
                     " surrogates without their other half read as U+FFFD");
  if (screen.Repaired) {
    bytes = screen.Bytes.data();
    size = static_cast<std::int32_t>(std::min(screen.Bytes.size(), kMaxInputBytes));
  }
  const std::size_t stack = kStackBase + screen.StartTags * kStackPerTag;
  if (StackLeft() >= stack) return work(bytes, size);
  if (!RunOnReservedStack([&] { work(bytes, size); }, stack))
    throw std::length_error("tamsel: no stack for nesting this deep");
}

TidyDoc ParseDocument(TTidyHeap& heap, const void* bytes, std::int32_t size, int encoding) {
  TidyDoc doc = CreateDocument(&heap);
  if (!doc) throw std::runtime_error("tamsel: HTML Tidy cannot make a document");
  SetTidyOptions(doc, encoding);

  // Tidy's error output would go to stderr; nothing of it is shown. Declining
  // every message also spares Tidy writing it out: on badly broken pages that
  // is a tenth of the parse.
  TTidyBuffer errors;
  tidySetErrorBuffer(doc, &errors.Buffer);
  tidySetMessageCallback(doc, ChargeMessage);
  tidySetAppData(doc, &heap);

  const bool parsed = heap.ParseWithin(doc, bytes, static_cast<std::size_t>(size));
  // Tidy's state is broken then: the document goes with the heap, unreleased.
  if (!parsed)
    throw std::runtime_error("the HTML is too deeply tangled to convert: HTML Tidy would take "
                             "far longer or far more memory than a page of its size should");
  return doc;
}

std::string TTamsel::ConvertBuffer(const void* bytes, std::int32_t size, int encoding) {
  std::string result;
  Notes.clear();
  Impl->Notes.clear();
  WithStackForInput(
      bytes, size, encoding,
      [&](const void* input, std::int32_t length) { result = Impl->Run(input, length, encoding); },
      &Notes);
  Notes.insert(Notes.end(), Impl->Notes.begin(), Impl->Notes.end());
  return result;
}

std::string detail::TConverter::Run(const void* bytes, std::int32_t size, int encoding) {
  TTidyHeap heap(static_cast<std::size_t>(size));
  Utf8StrAllocator record;
  std::string result;
  // The run's document, released on every way out.
  const TLocal<TidyDoc> docScope(Doc, nullptr);
  TTidyDoc document;
  // Read once, so that a run sees one set of options throughout.
  Options = Owner.Options;
  Report = {};
  Options.Namespace = CleanId(Options.Namespace);
  Options.StartPage = CleanId(Options.StartPage);
  if (Options.StartPage.empty() || Options.StartPage.find(':') != std::string::npos)
    Options.StartPage = "start";

  document.Reset(ParseDocument(heap, bytes, size, encoding));
  Doc = document.Get();

  TidyNode body = tidyGetBody(Doc);
  if (!body || tidyNodeGetId(body) != TidyTag_BODY) return result;
  if (Owner.ChooseRegion) KeepRegion(Doc, body, Owner.ChooseRegion);

  record.Limit = std::min(kMaxOutputBytes,
                          kOutputFloorBytes + kOutputPerInputByte * static_cast<std::size_t>(size));
  const TOutput::TRun output = Out.Begin(record, Options.LineBreak == "\n" ? "\n" : "\r\n");
  // Real pages give about as many bytes of markup as they have of HTML: room
  // for half of that at once spares most of the doublings.
  Out.Reserve(std::min(static_cast<std::size_t>(size) / 2, record.Limit / 2));
  static_cast<TRunState&>(*this) = TRunState{};
  ClassRules.Collect(Doc);

  bool afterBlock = false;
  WriteBody(body, afterBlock);
  const std::size_t written = Out.Finish();
  if (Out.QuotesFlattened())
    Notes.push_back("quotations nested deeper than " + std::to_string(TOutput::kMaxQuoteLevels) +
                    " levels written at the " + std::to_string(TOutput::kMaxQuoteLevels) + "th");
  if (Out.ControlsDropped() > 0)
    Notes.push_back(std::to_string(Out.ControlsDropped()) + " control characters dropped");
  if (Out.BytesReplaced() > 0)
    Notes.push_back(std::to_string(Out.BytesReplaced()) +
                    " byte sequences that are not UTF-8 written as U+FFFD");
  if (Out.ListsFlattened())
    Notes.push_back("lists nested deeper than " + std::to_string(TOutput::kMaxListLevels) +
                    " levels written at the " + std::to_string(TOutput::kMaxListLevels) + "th");

  record.Data.resize(written);
  result = std::move(record.Data);
  FinishAnchors(result);
  return result;
}

} // namespace tamsel
