// The converter object, the conversion run and the output buffer.
#include "Tamsel.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace tamsel {

namespace {

// The allocator runs inside Tidy's C frames, so no exception may leave it, and
// Tidy's buffer code writes through the pointer it gets back without checking
// it for null. Running out of memory while the output grows therefore cannot
// be reported to the caller; like Tidy's own default allocator, which panics
// and exits, it ends the process with a message.
[[noreturn]] void OutOfMemory(std::size_t n) {
  std::fprintf(stderr, "tamsel: out of memory (output buffer of %zu bytes)\n", n);
  std::abort();
}

void* TIDY_CALL StrAlloc(TidyAllocator* self, std::size_t n) {
  auto* a = static_cast<Utf8StrAllocator*>(self);
  try {
    a->Data.assign(n, '\0');
  } catch (...) {
    OutOfMemory(n);
  }
  return a->Data.data();
}

// One record serves exactly one buffer, whose block always is Data.
void* TIDY_CALL StrRealloc(TidyAllocator* self, void* /*block*/, std::size_t n) {
  auto* a = static_cast<Utf8StrAllocator*>(self);
  try {
    a->Data.resize(n);
  } catch (...) {
    OutOfMemory(n);
  }
  return a->Data.data();
}

void TIDY_CALL StrFree(TidyAllocator* self, void* /*block*/) {
  auto* a = static_cast<Utf8StrAllocator*>(self);
  a->Data.clear();
}

void TIDY_CALL StrPanic(TidyAllocator* /*self*/, ctmbstr /*msg*/) {}

Bool TIDY_CALL DeclineMessage(TidyMessage /*message*/) { return no; }

const TidyAllocatorVtbl kStrAllocatorVtbl = {StrAlloc, StrRealloc, StrFree, StrPanic};

// Frees what the run holds on every way out, also when an exception passes.
struct TRunGuard {
  TTamsel& Owner;
  bool OutputLive = false;
  ~TRunGuard() {
    if (OutputLive) tidyBufFree(&Owner.Output);
    if (Owner.Doc) tidyRelease(Owner.Doc);
    Owner.Doc = nullptr;
    Owner.LinkTarget.clear();
  }
};

} // namespace

Utf8StrAllocator::Utf8StrAllocator() : TidyAllocator{&kStrAllocatorVtbl} {}

void AppendString(TidyBuffer& buffer, std::string_view bytes) {
  if (bytes.empty()) return;
  tidyBufAppend(&buffer, const_cast<char*>(bytes.data()), static_cast<uint>(bytes.size()));
}

void AppendCString(TidyBuffer& buffer, const char* text) {
  if (!text) return;
  for (; *text; ++text)
    tidyBufPutByte(&buffer, static_cast<byte>(*text));
}

void AppendSpaceOnce(TidyBuffer& buffer, char c) {
  if (buffer.size == 0 || buffer.bp[buffer.size - 1] == static_cast<byte>(c)) return;
  tidyBufPutByte(&buffer, static_cast<byte>(c));
}

void TrimRight(TidyBuffer& buffer) {
  while (buffer.size > 0 && buffer.bp[buffer.size - 1] <= 0x20)
    --buffer.size;
}

TTamsel::TTamsel() : LineBreak("\r\n") {
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  EscapePattern = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kEscapePattern), PCRE2_ZERO_TERMINATED,
                                PCRE2_CASELESS, &errorCode, &errorOffset, nullptr);
  if (EscapePattern) MatchData = pcre2_match_data_create(3, nullptr);
}

TTamsel::~TTamsel() {
  pcre2_match_data_free(MatchData);
  pcre2_code_free(EscapePattern);
}

void TTamsel::AppendRepeated(char c, std::int32_t count) {
  for (std::int32_t i = 0; i < count; ++i)
    PutByte(c);
}

void TTamsel::NeedBreaks(std::uint32_t n) {
  if (Output.size != 0) {
    // Markup written after the last breaks (a bullet, a cell, an image, a
    // quotation's '>') ends the run of breaks just as text does; without this
    // the next block would join that markup's line.
    if (BreakCount > 0 && Output.size != BreakEnd) {
      if (Output.size < BreakEnd) {
        BreakCount = 0;
      } else {
        for (uint i = BreakEnd; i < Output.size; ++i)
          if (Output.bp[i] > 0x20) {
            BreakCount = 0;
            break;
          }
      }
    }
    while (PendingBreaks < n && BreakCount < 2) {
      AppendString(Output, LineBreak);
      ++BreakCount;
      ++PendingBreaks;
    }
    BreakEnd = Output.size;
  } else if (PendingBreaks < n) {
    PendingBreaks = n;
  }
}

std::string TTamsel::ConvertAnsi(std::string_view text, int encoding) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    throw std::length_error("tamsel: input of 2 GiB or more");
  return ConvertBuffer(text.data(), static_cast<std::int32_t>(text.size()), encoding);
}

std::string TTamsel::ConvertWide(std::u16string_view text) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) / 2)
    throw std::length_error("tamsel: input of 2 GiB or more");
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
  Utf8StrAllocator record;
  std::string result;
  TRunGuard guard{*this};

  Doc = tidyCreate();
  if (!Doc) return result;

  tidyOptSetInt(Doc, TidyInCharEncoding, static_cast<ulong>(encoding));
  tidyOptSetBool(Doc, TidyDropEmptyElems, no);
  tidyOptSetBool(Doc, TidyDropEmptyParas, no);
  tidyOptSetBool(Doc, TidyFixUri, no);
  tidyOptSetInt(Doc, TidyOutCharEncoding, TidyEncUtf8);
  tidyOptSetBool(Doc, TidyQuoteAmpersand, no);
  tidyOptSetBool(Doc, TidyQuoteNbsp, no);
  tidyOptSetInt(Doc, TidyVertSpace, TidyNoState);
  tidyOptSetInt(Doc, TidyWrapLen, 0);
  // Text emission cuts a two-byte line end off every printed text.
  tidyOptSetInt(Doc, TidyNewline, TidyCRLF);

  // Tidy's error output would go to stderr; nothing of it is shown. Declining
  // every message also spares Tidy writing it out: on badly broken pages that
  // is a tenth of the parse.
  TidyBuffer errors;
  tidyBufInit(&errors);
  tidySetErrorBuffer(Doc, &errors);
  tidySetMessageCallback(Doc, DeclineMessage);

  TidyBuffer input;
  tidyBufInit(&input);
  if (size > 0)
    tidyBufAttach(&input, static_cast<byte*>(const_cast<void*>(bytes)), static_cast<uint>(size));
  tidyParseBuffer(Doc, &input);
  tidyBufDetach(&input);
  tidyBufFree(&input);
  tidyBufFree(&errors);

  TidyNode body = tidyGetBody(Doc);
  if (!body || tidyNodeGetId(body) != TidyTag_BODY) return result;

  tidyBufInitWithAllocator(&Output, &record);
  guard.OutputLive = true;
  ResetBreaks();
  BreakCount = 0;
  RawDepth = 0;
  NoDashDepth = 0;
  BreakEnd = 0;
  CodeDepth = 0;

  std::uint8_t state = 0;
  WriteBody(body, state);
  TrimRight(Output);

  record.Data.resize(Output.size);
  result = std::move(record.Data);
  return result;
}

} // namespace tamsel
