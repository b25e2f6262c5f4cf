// Tamsel: HTML to DokuWiki markup.
//
// A TTamsel parses HTML with HTML Tidy and walks the repaired tree below <body>,
// writing DokuWiki markup in UTF-8. One object serves any number of independent
// runs, one at a time; separate objects share nothing and may run on separate
// threads.
#pragma once

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <pcre2.h>
#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

namespace tamsel {

inline constexpr const char* kVersion = "2012-08-13";

// Tidy input encodings the callers use (TidyEncoding numbers).
inline constexpr int kEncUtf8 = 4;
inline constexpr int kEncUtf16le = 9;

// LinkOptions bits.
inline constexpr std::uint8_t kLinkLocal = 1;
inline constexpr std::uint8_t kLinkMail = 2;
inline constexpr std::uint8_t kLinkExternal = 4;

// FontOptions bits.
inline constexpr std::uint8_t kFontColor = 1;
inline constexpr std::uint8_t kFontSize = 2;

// Widest column span written for one table cell. Each unit of span writes one
// separator, so an absurd colspan would otherwise fill memory; no real DokuWiki
// table has more columns than this.
inline constexpr std::int32_t kMaxColSpan = 1000;

// Largest input that a run accepts, in bytes. Tidy counts the bytes of its
// buffers in 32-bit unsigned integers that double when they grow, and its
// lexer holds the whole text of the document as UTF-8, up to three bytes for
// one input byte; below this size none of them comes near 2^31.
inline constexpr std::size_t kMaxInputBytes = std::size_t{64} << 20;
// Largest storage of the result. Nesting makes markup grow faster than its
// input (every quotation level writes its '>' again), and the output buffer,
// a TidyBuffer, would loop for ever when asked to grow past 2^31 bytes.
inline constexpr std::size_t kMaxOutputBytes = std::size_t{1} << 30;
// Within that, the result of one run may take this much plus so many bytes
// per input byte: only nesting makes markup outgrow its input (a quotation
// 40,000 levels deep would write a gigabyte of '>'), and the run stops it
// before it takes far more memory than the page it came from.
inline constexpr std::size_t kOutputFloorBytes = std::size_t{64} << 20;
inline constexpr std::size_t kOutputPerInputByte = 16;

// A TidyAllocator whose storage is the string Data itself: the bytes of the
// one buffer it serves are always the first `size` bytes of Data, so the
// finished output becomes the result without a copy.
struct Utf8StrAllocator : TidyAllocator {
  Utf8StrAllocator();
  std::string Data;
  // MakeRoom lets Data grow to this many bytes and no further.
  std::size_t Limit = kMaxOutputBytes;
};

// An element id set with room for ids 0 to 143; larger ids are never members.
class TBlockSet {
public:
  constexpr TBlockSet() = default;
  constexpr TBlockSet(std::initializer_list<TidyTagId> ids) {
    for (TidyTagId id : ids)
      if (static_cast<unsigned>(id) < kBits) Words[id / 64] |= std::uint64_t{1} << (id % 64);
  }
  constexpr bool Contains(TidyTagId id) const {
    unsigned u = static_cast<unsigned>(id);
    return u < kBits && (Words[u / 64] >> (u % 64)) & 1;
  }

private:
  static constexpr unsigned kBits = 144;
  std::uint64_t Words[3] = {0, 0, 0};
};

// Rewrites a local link target or image source. Returns false to keep the
// converter's own rewriting. Unset by default; the site migration sets it so
// that links resolve to absolute page and media ids.
using TLocalResolver = std::function<bool(std::string_view original, std::string& result)>;

// Makes room for more bytes before a TidyBuffer call appends them, so that the
// allocation, which may fail, happens here and not inside Tidy. Throws
// std::length_error when the buffer would outgrow kMaxOutputBytes, or the
// Limit of its Utf8StrAllocator.
void MakeRoom(TidyBuffer& buffer, std::size_t more);

class TTamsel {
public:
  TTamsel();
  ~TTamsel();
  TTamsel(const TTamsel&) = delete;
  TTamsel& operator=(const TTamsel&) = delete;

  // bytes are read by Tidy in place, never copied; encoding is a TidyEncoding.
  // Throws std::length_error when size is negative or above kMaxInputBytes,
  // and when the result would outgrow kMaxOutputBytes. Runs on a thread of its
  // own when the input may nest deeper than the caller's stack allows.
  std::string ConvertBuffer(const void* bytes, std::int32_t size, int encoding);
  // Throws std::length_error as ConvertBuffer does.
  std::string ConvertAnsi(std::string_view text, int encoding);
  // UTF-16 code units, read by Tidy as UTF-16LE. Throws as ConvertBuffer does.
  std::string ConvertWide(std::u16string_view text);

  std::uint8_t FontOptions = 0;
  TidyBuffer Output{};
  TidyDoc Doc = nullptr;
  std::string LineBreak;
  std::uint32_t PendingBreaks = 0;
  std::uint32_t BreakCount = 0;
  std::string LinkTarget;
  std::uint8_t LinkOptions = 7;
  std::uint32_t RawDepth = 0;
  pcre2_code* EscapePattern = nullptr;
  std::uint32_t NoDashDepth = 0;

  // Extension points for the site migration; see TLocalResolver.
  TLocalResolver ResolveLocalLink;
  TLocalResolver ResolveLocalImage;

private:
  // The run itself, once ConvertBuffer has made sure of the stack.
  std::string Run(const void* bytes, std::int32_t size, int encoding);

  // Output buffer and spacing.
  void NeedBreaks(std::uint32_t n);
  void ResetBreaks() { PendingBreaks = 0; }
  void BeginRaw() { ++RawDepth; }
  void EndRaw() {
    if (RawDepth > 0) --RawDepth;
  }
  void BeginNoDash() { ++NoDashDepth; }
  void EndNoDash() {
    if (NoDashDepth > 0) --NoDashDepth;
  }
  void AppendRepeated(char c, std::int32_t count);
  void PutByte(char c) {
    if (Output.size + 2 > Output.allocated) MakeRoom(Output, 1);
    tidyBufPutByte(&Output, static_cast<byte>(c));
  }

  // Walks and dispatch.
  void WriteBody(TidyNode node, std::uint8_t& state);
  void WriteBlock(TidyNode node, std::uint8_t& state);
  void WriteNode(TidyNode node, std::uint8_t& state, const TBlockSet& blocks);
  void WriteInlineChildren(TidyNode node, std::uint8_t& state, const TBlockSet& blocks);
  void WriteInline(TidyNode node, const TBlockSet& blocks);
  void WriteInlineNode(TidyNode node, const TBlockSet& blocks);
  void WriteContentChildren(TidyNode node, std::uint8_t& state, const TBlockSet& blocks);
  void WriteContent(TidyNode node);
  void WriteContentBreak();

  // Text.
  void WriteText(TidyNode node);
  void Protect(const byte* text, std::size_t k, TidyNode node);
  void WritePatternPass(const byte* protectedText, std::size_t length);

  // Blocks.
  void WriteHeading(TidyNode node, std::int32_t level);
  void WriteRule();
  void WriteParagraph(TidyNode node);
  void WriteCode(TidyNode node);
  void WriteQuote(TidyNode node, std::int32_t depth);

  // Lists.
  void WriteList(TidyNode node, std::int32_t depth, TidyTagId kind);
  void WriteListItem(TidyNode node, std::int32_t depth, TidyTagId kind);
  void WriteListItemPrefix(std::int32_t depth, TidyTagId kind);
  void WriteDefinitionList(TidyNode node, std::int32_t depth);
  void WriteDefinitionTerm(TidyNode node, std::int32_t depth);
  void WriteDefinitionData(TidyNode node, std::int32_t depth, bool& prefixWritten);

  // Tables.
  void WriteTable(TidyNode node);
  void WriteTableSection(TidyNode node);
  void WriteTableRow(TidyNode node);
  void WriteTableCell(TidyNode node, TidyTagId kind, std::uint8_t rowAlign);

  // Inline formatting.
  void WriteMarked(TidyNode node, std::string_view open, std::string_view close);
  void WriteBold(TidyNode node) { WriteMarked(node, "**", "**"); }
  void WriteItalic(TidyNode node) { WriteMarked(node, "//", "//"); }
  void WriteUnderline(TidyNode node) { WriteMarked(node, "__", "__"); }
  void WriteMonospace(TidyNode node) { WriteMarked(node, "''", "''"); }
  void WriteDeleted(TidyNode node) { WriteMarked(node, "<del>", "</del>"); }
  void WriteSubscript(TidyNode node) { WriteMarked(node, "<sub>", "</sub>"); }
  void WriteSuperscript(TidyNode node) { WriteMarked(node, "<sup>", "</sup>"); }
  void WriteFont(TidyNode node);
  void WriteLineBreak();

  // Links and images.
  void WriteLink(TidyNode node, std::uint8_t& state, const TBlockSet& blocks);
  void WriteImage(TidyNode node);
  void WriteLinkedImage(TidyNode node);
  void OpenLinkWrap();
  // wrapAt and contentAt are the output sizes before and after OpenLinkWrap.
  void CloseLinkWrap(std::uint32_t wrapAt, std::uint32_t contentAt);
  void WriteListText(TidyNode node, std::int32_t depth, TidyTagId kind);

  pcre2_match_data* MatchData = nullptr;
  // Output size right after NeedBreaks last wrote: anything visible written
  // since then means the output no longer ends in line breaks.
  std::uint32_t BreakEnd = 0;
  // Above 0 while the content of a preformatted block is written.
  std::uint32_t CodeDepth = 0;
  // The protected form of the text being written; kept to reuse its storage.
  std::string ProtectedText;
  // A text node's bytes as Tidy's lexer holds them.
  struct TOwnedBuffer {
    TOwnedBuffer() { tidyBufInit(&Buffer); }
    ~TOwnedBuffer() { tidyBufFree(&Buffer); }
    TOwnedBuffer(const TOwnedBuffer&) = delete;
    TOwnedBuffer& operator=(const TOwnedBuffer&) = delete;
    TidyBuffer Buffer;
  } TextValue;
};

// Sets the Tidy options of a conversion run on doc, reading input in encoding.
void SetTidyOptions(TidyDoc doc, int encoding);

// Buffer operations.
void AppendString(TidyBuffer& buffer, std::string_view bytes);
void AppendCString(TidyBuffer& buffer, const char* text);
// Appends c unless the buffer is empty or already ends with it.
void AppendSpaceOnce(TidyBuffer& buffer, char c);
// Drops trailing bytes up to 0x20; bytes from 0x80 up (UTF-8) stop it.
void TrimRight(TidyBuffer& buffer);
// Whether bytes [from, to) of the buffer hold one above 0x20, the bytes that
// TrimRight would keep.
bool HasVisibleByte(const TidyBuffer& buffer, std::uint32_t from, std::uint32_t to);

// Elements that flow inside a line; every other element is a block.
bool IsInlineTag(TidyTagId id);
// 0 none, 1 left, 2 center, 3 right.
std::uint8_t ParseAlign(const char* value);
std::int32_t ParseInt(const char* value, std::int32_t fallback);
bool HasScheme(std::string_view s);
std::string PathToNamespace(std::string_view s);
TidyNode FindEnclosingTable(TidyNode node);

// The escaping pattern, as compiled into every converter.
extern const char* const kEscapePattern;

} // namespace tamsel
