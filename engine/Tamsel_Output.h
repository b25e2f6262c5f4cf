// SPDX-License-Identifier: GPL-2.0-or-later
// The output channel: the one way bytes reach a conversion's result.
//
// Every byte is written in a context that says what surrounds it in the
// markup, and Write escapes it for that context alone. Writers ask for line
// breaks and never write them: the channel writes what was asked for, with
// the quotation prefix of the new line, right before the next byte. A link
// wrap opens only when something visible is written into it, so a link
// around nothing is never written, and nothing written is ever taken back.
#pragma once

#include "Tamsel_Escape.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

namespace tamsel {

struct Utf8StrAllocator;

namespace detail {

// What each context's escaping is, is said where it is done (Tamsel_Escape.h).
enum class TContext : std::uint8_t {
  // Document text. Whatever DokuWiki would read as markup goes between "%%"
  // or into <nowiki>.
  Text,
  // Document text where DokuWiki reads no markup (a heading's title).
  Plain,
  // The content of a code block: as it stands, every LF a line break of the
  // converter's own; white space at its end is never written.
  Code,
  // Markers, brackets and separators that the converter writes itself.
  Markup,
  // A link target or image source naming a page or media file.
  WikiId,
  // A link target or image source that is an address.
  Url,
  // The text of a link, in link pieces of their own where it holds "]]".
  LinkTitle,
  // An image's title.
  ImageTitle,
  // A colour or size inside the converter's "[color=...]" or "[size=...]".
  FontValue,
};

// Counts a nesting level for the time of a scope.
class TScope {
public:
  explicit TScope(std::uint32_t& depth) : Depth(depth) { ++Depth; }
  ~TScope() { --Depth; }
  TScope(const TScope&) = delete;
  TScope& operator=(const TScope&) = delete;

private:
  std::uint32_t& Depth;
};

// Keeps a variable's value and puts it back at the end of the scope, as a
// writer changes its context for the content it writes and no longer.
template <class T> class TLocal {
public:
  explicit TLocal(T& variable) : Variable(variable), Saved(variable) {}
  TLocal(T& variable, T value) : Variable(variable), Saved(std::move(variable)) {
    Variable = std::move(value);
  }
  ~TLocal() { Variable = std::move(Saved); }
  TLocal(const TLocal&) = delete;
  TLocal& operator=(const TLocal&) = delete;

private:
  T& Variable;
  T Saved;
};

// What one run of the channel changes, all of it back to its start at Begin.
struct TOutputState {
  // Line breaks since the last text, and those of them not yet written.
  std::uint32_t BreakCount = 0;
  std::uint32_t Deferred = 0;
  std::uint32_t QuoteDepth = 0;
  std::uint32_t IndentDepth = 0;
  std::size_t Controls = 0;
  std::size_t Replaced = 0;
  bool QuoteFlattened = false;
  bool ListFlattened = false;
  std::uint32_t CodeDepth = 0;
  // White space at the end of code, written only when more code follows.
  std::string CodeSpace;
  // Tables: inside one, '|' and '^' of document text are protected.
  std::uint32_t TableDepth = 0;
  // Inside inline code: stretches that DokuWiki's typography would change
  // ("--", "->", "...", quotes, "640x480") are protected.
  std::uint32_t CodeTextDepth = 0;

  std::string LinkTarget;
  bool LinkIsUrl = false;
  bool LinkIsMedia = false;
  bool AfterLink = false;
  // Buffer.size right after the last text: the next text, when nothing came
  // between, continues it on the page.
  std::size_t TextEnd = 0;
  std::size_t OpenedWraps = 0;
  struct THole {
    std::size_t At;
    std::uint32_t Slot;
  };
  std::vector<THole> HoleList;
  std::uint32_t DeferredSlot = 0; // the slot + 1; 0: the target is LinkTarget
  enum class TWrap : std::uint8_t { None, Pending, Open } Wrap = TWrap::None;
  std::uint32_t ImageWrapDepth = 0;
  // White space written into a wrap that is not open yet.
  std::string Held;

  // Opening markers not written yet (nothing visible came since), innermost
  // last; pairs written and not yet closed; white space held at an edge.
  std::vector<std::string_view> PendingMarks;
  std::uint32_t OpenMarkCount = 0;
  // Pairs with markers (not a paragraph's), pending or open.
  std::uint32_t NamedMarks = 0;
  std::string EdgeSpace;
  // EdgeSpace was begun at the start of a line (after breaks were asked).
  bool EdgeOnNewLine = false;
  // Buffer.size right after the last marker.
  std::size_t MarkEnd = 0;
  std::size_t Visible = 0;
  bool CellFresh = false;
  // A '[' that ended the last text, not written yet.
  bool HeldBracket = false;
  // While a list item's indentation is written: a line may start with spaces.
  bool Indenting = false;
};

class TOutput final : private TPieceSink, private TOutputState {
public:
  // Throws std::runtime_error when the escaping pattern does not compile.
  TOutput();
  ~TOutput();
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  // A run writes into record's string, which becomes its result. It lasts as
  // long as the scope Begin returns, whose end releases the buffer of a run
  // that ends early.
  class TRun {
  public:
    explicit TRun(TOutput& out) : Out(out) {}
    ~TRun() { Out.Abandon(); }
    TRun(const TRun&) = delete;
    TRun& operator=(const TRun&) = delete;

  private:
    TOutput& Out;
  };
  [[nodiscard]] TRun Begin(Utf8StrAllocator& record, std::string_view lineBreak);
  // Drops what is still pending and the trailing white space; returns the
  // number of bytes of the result.
  std::size_t Finish();
  void Abandon();
  // Room for n more bytes at once, so that the buffer need not grow by steps.
  void Reserve(std::size_t n);

  void Write(TContext context, std::string_view bytes);
  void Write(TContext context, const char* bytes) {
    if (bytes) Write(context, std::string_view(bytes));
  }
  void Put(char c) { Write(TContext::Markup, std::string_view(&c, 1)); }
  void PutRepeated(char c, std::int32_t count);
  // An image's size after its source ("?640x480"), from its width and
  // height attributes (either may be null); nothing for a size DokuWiki
  // would not read.
  void WriteImageSize(const char* width, const char* height);
  // Writes c unless nothing has been written yet or the last byte is c.
  void SpaceOnce(char c = ' ');
  // Bytes accepted so far, pending ones included; grows with every write.
  std::size_t Count() const;

  // Line spacing, asked for and written before the next byte. Requests say
  // how many line breaks must stand since the last text, so asking twice is
  // asking once; none is written while the result is still empty.
  void NeedLineEnd() { NeedBreaks(1); }
  void NeedBlankLine() { NeedBreaks(2); }

  // Deepest levels written: each level of a quotation or list writes its
  // prefix again on every line, so that the markup of deep nesting grows
  // with the square of its depth; deeper levels are written as the deepest.
  // DokuWiki pages rarely show more than a few.
  static constexpr std::uint32_t kMaxQuoteLevels = 10;
  static constexpr std::uint32_t kMaxListLevels = 10;
  // Whether a quotation or a list was written shallower than it nests.
  bool QuotesFlattened() const { return QuoteFlattened; }
  bool ListsFlattened() const { return ListFlattened; }
  // Control characters dropped, and bytes that start no character replaced.
  std::size_t ControlsDropped() const { return Controls; }
  std::size_t BytesReplaced() const { return Replaced; }

  // Quotations: a line that the channel starts within one begins with one
  // '>' per level and a space, for the time of the scope EnterQuote returns.
  // StartQuoteLine writes the prefix of the current line now, also when it
  // holds nothing else.
  [[nodiscard]] TScope EnterQuote() { return TScope(QuoteDepth); }
  void StartQuoteLine();

  // Lists: every level indents its items' lines by two spaces more.
  // StartItem begins an item's line: a line break, the indentation, the
  // bullet (none for 0) and a space.
  [[nodiscard]] TScope EnterList() { return TScope(IndentDepth); }
  std::uint32_t Indent() const { return IndentDepth; }
  void StartItem(char bullet);

  // Code blocks: no prefixes, LF in the converter's line break.
  [[nodiscard]] TScope EnterCode() { return TScope(CodeDepth); }
  bool InCode() const { return CodeDepth > 0; }
  // Drops the white space at the end of the code written so far.
  void DropTrailingCodeSpace();

  // Tables: inside one, '|' and '^' of document text are protected.
  using TOutputState::TableDepth;

  // Links. While a target is set, OpenLinkWrap and CloseLinkWrap put what is
  // written between them into "[[" target "|" ... "]]"; isUrl says which
  // context escapes the target. A media file's link is "{{" id "|" ... "}}",
  // its text escaped as an image's title. A '[' right before a link and a
  // ']' right after one are parted from its brackets, which DokuWiki would
  // otherwise read as part of the link.
  void SetLinkTarget(std::string target, bool isUrl, bool media = false);
  void ClearLinkTarget();
  bool Linking() const { return !LinkTarget.empty(); }
  bool LinkingMedia() const { return LinkIsMedia && !LinkTarget.empty(); }
  const std::string& Target() const { return LinkTarget; }
  // A link's texts go into one wrap, which OpenLinkWrap opens (or goes on
  // with) and anything else written ends; CloseLinkWrap ends it at once.
  void OpenLinkWrap();
  void CloseLinkWrap();
  // An image in a link: a wrap of its own around the image's markup.
  void BeginWrappedImage();
  void EndWrappedImage();
  // Link wraps opened so far.
  std::size_t WrapsOpened() const { return OpenedWraps; }
  // The target just set is known only once the page is written (a fragment
  // whose heading comes later): the channel keeps its place in the result
  // for every wrap of the link, and the run puts the target there at its
  // end. Such targets are anchors, which need no escaping.
  void DeferTarget(std::uint32_t slot);
  using TOutputState::THole;
  const std::vector<THole>& Holes() const { return HoleList; }
  // The bytes written so far; what is still pending (breaks, held white
  // space) is not among them.
  std::size_t Size() const { return Buffer.size; }

  // Inside inline code: stretches that DokuWiki's typography would change
  // ("--", "->", "...", quotes, "640x480") are protected.
  using TOutputState::CodeTextDepth;

  // Formatting pairs ("**", "//", a heading's "=== " and " ===", ...). The
  // current DokuWiki parser reads a pair only with no white space just inside
  // it, so the opening marker is written at the first visible byte of its
  // content, after the white space before it, and the closing one before the
  // white space that ends the content: that white space (spaces, no-break
  // spaces, forced line breaks) is held and written after the marker. A pair
  // around nothing visible is not written at all. Markers are literals that
  // outlive the pair; pairs nest.
  void OpenMark(std::string_view open);
  void CloseMark(std::string_view close);
  // A forced line break ("\\ "), white space at a pair's edge like any other.
  void ForcedBreak();
  // Visible pieces written so far: tells whether a construct wrote anything.
  std::size_t VisibleWrites() const { return Visible; }
  // A table cell: a forced line break before its first visible byte or at
  // its end shows nothing in a browser, and is not written.
  void BeginCell() { CellFresh = true; }
  void EndCell();

private:
  // The lowest level: pending breaks and prefix first, then the bytes as
  // valid UTF-8 without control characters other than tab, LF and CR (no
  // C0, DEL or C1); a byte that starts no valid character becomes U+FFFD.
  void Emit(const char* p, std::size_t n);
  void Append(const char* p, std::size_t n);
  void Flush();
  void NeedBreaks(std::uint32_t n);
  // Bytes already escaped for their context; opens a pending link wrap at
  // the first visible byte.
  void Piece(const char* p, std::size_t n) override {
    if (Marking()) {
      MarkedPiece(p, n);
      return;
    }
    if (Wrap == TWrap::Pending) OpenPendingWrap(p, n);
    if (n > 0) Visited(p, n);
    Emit(p, n);
  }
  bool Marking() const { return !PendingMarks.empty() || OpenMarkCount > 0 || !EdgeSpace.empty(); }
  // Piece while a pair is pending or open, or white space is held.
  void MarkedPiece(const char* p, std::size_t n);
  // Before a piece: when it holds a visible byte, counts it, and parts it
  // from a marker of the same character right before it ("**" and a '*' of
  // the text would make a longer run).
  void Visited(const char* p, std::size_t n);
  // Writes the held white space, then the pending opening markers.
  void ReleaseEdge();
  // Holds white space at a pair's edge or a line's start.
  void HoldEdge(const char* p, std::size_t n);
  void EmitMarker(std::string_view marker);
  // Parts a marker from text right before it that ends in the marker's
  // character: together they would make a longer run ("*" and "**").
  void PartFromText(std::string_view marker);
  // Holds leading white space; at a visible byte writes the wrap's opening
  // and what it held, and leaves p and n at that byte.
  void OpenPendingWrap(const char*& p, std::size_t& n);
  bool EndLinkPiece() override;
  void WriteCodeBytes(std::string_view bytes);
  void WriteLinkTitle(std::string_view bytes);
  void WriteTarget(std::string_view target, bool isUrl);

  TidyBuffer Buffer{};
  bool Live = false;
  std::string LineBreak = "\r\n";

  std::uint32_t QuoteLevels();

  TTextEscaper TextEscaper;
  std::string Scratch;
};

} // namespace detail
} // namespace tamsel
