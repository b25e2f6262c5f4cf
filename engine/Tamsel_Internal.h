// SPDX-License-Identifier: GPL-2.0-or-later
// Shared between the converter's own source files; not part of the API.
#pragma once

#include "Tamsel.h"
#include "Tamsel_Anchor.h"
#include "Tamsel_Output.h"
#include "Tamsel_Style.h"
#include "Tamsel_Url.h"

#include <functional>
#include <optional>
#include <unordered_map>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

namespace tamsel {

// A TidyAllocator whose storage is the string Data itself: the bytes of the
// one buffer it serves are always the first `size` bytes of Data, so the
// finished output becomes the result without a copy.
struct Utf8StrAllocator : TidyAllocator {
  Utf8StrAllocator();
  std::string Data;
  // MakeRoom lets Data grow to this many bytes and no further.
  std::size_t Limit = kMaxOutputBytes;
};

// Makes room for more bytes before a TidyBuffer call appends them, so that the
// allocation, which may fail, happens here and not inside Tidy. Throws
// std::length_error when the buffer would outgrow kMaxOutputBytes, or the
// Limit of its Utf8StrAllocator.
void MakeRoom(TidyBuffer& buffer, std::size_t more);

// Makes a Tidy document with allocator, one at a time in the whole process
// and leaving the process locale as it was (Tidy changes it). Null when Tidy
// cannot make one.
TidyDoc CreateDocument(TidyAllocator* allocator);

class TTidyHeap;

// A TidyBuffer of Tidy's default allocator, freed with its owner.
struct TTidyBuffer {
  TTidyBuffer() { tidyBufInit(&Buffer); }
  ~TTidyBuffer() { tidyBufFree(&Buffer); }
  TTidyBuffer(const TTidyBuffer&) = delete;
  TTidyBuffer& operator=(const TTidyBuffer&) = delete;
  TidyBuffer Buffer;
};

// A Tidy document, released with its owner.
class TTidyDoc {
public:
  TTidyDoc() = default;
  explicit TTidyDoc(TidyDoc doc) : Doc(doc) {}
  ~TTidyDoc() { Reset(); }
  TTidyDoc(const TTidyDoc&) = delete;
  TTidyDoc& operator=(const TTidyDoc&) = delete;
  TidyDoc Get() const { return Doc; }
  void Reset(TidyDoc doc = nullptr) {
    if (Doc) tidyRelease(Doc);
    Doc = doc;
  }

private:
  TidyDoc Doc = nullptr;
};

// Checks the input's size, repairs what HTML Tidy would spend quadratic time
// on, and calls work with the bytes to parse on a stack deep enough for
// their nesting (a thread of its own when this one's is too small). Throws
// std::length_error for an input over kMaxInputBytes or nesting no stack
// can hold.
// Notes on what the pre-screen repaired go to notes when given.
void WithStackForInput(const void* bytes, std::int32_t size, int encoding,
                       const std::function<void(const void*, std::int32_t)>& work,
                       std::vector<std::string>* notes = nullptr);

// Parses bytes into a new document whose memory is heap's, within heap's
// budget. Throws std::runtime_error when Tidy cannot make a document or the
// parse was abandoned (the heap then frees all of it).
TidyDoc ParseDocument(TTidyHeap& heap, const void* bytes, std::int32_t size, int encoding);

// Removes from the tree below body what chooser leaves out of its outline.
void KeepRegion(TidyDoc doc, TidyNode body, const TRegionChooser& chooser);

// Sets the Tidy options of a conversion run on doc, reading input in encoding.
void SetTidyOptions(TidyDoc doc, int encoding);

// A set of element ids, with room for every id of the Tidy it is built with.
class TBlockSet {
public:
  constexpr TBlockSet() = default;
  constexpr TBlockSet(std::initializer_list<TidyTagId> ids) {
    for (TidyTagId id : ids)
      Words[id / 64] |= std::uint64_t{1} << (id % 64);
  }
  constexpr bool Contains(TidyTagId id) const {
    unsigned u = static_cast<unsigned>(id);
    return u < N_TIDY_TAGS && (Words[u / 64] >> (u % 64)) & 1;
  }

private:
  std::uint64_t Words[(N_TIDY_TAGS + 63) / 64] = {};
};

// Elements that flow inside a line; every other element is a block.
bool IsInlineTag(TidyTagId id);
inline bool IsHeadingTag(TidyTagId id) {
  return id == TidyTag_H1 || id == TidyTag_H2 || id == TidyTag_H3 || id == TidyTag_H4 ||
         id == TidyTag_H5 || id == TidyTag_H6;
}

// What a walk makes of a node; every walk asks this, and only this.
enum class TNodeKind : std::uint8_t {
  // Shows nothing: a comment, an unseen element (IsUnseen), a wbr.
  Unseen,
  Text,
  // A line break (br).
  Break,
  // An element that flows in the line (IsInlineTag).
  Inline,
  // Any other element: a block, or set apart by spaces within a line.
  Apart,
};
TNodeKind KindOf(TidyNode node);
// What a browser never shows, nor anything inside it: scripts, styles,
// templates, drawings, what belongs in the head, and elements hidden by
// their hidden attribute or an inline display:none.
bool IsUnseen(TidyNode node);
// An align attribute's word; None for anything else.
enum class TAlign : std::uint8_t { None, Left, Center, Right };
TAlign ParseAlign(const char* value);
std::int32_t ParseInt(const char* value, std::int32_t fallback);
// Whether bytes [from, to) of the buffer hold one above 0x20.
bool HasVisibleByte(const TidyBuffer& buffer, std::uint32_t from, std::uint32_t to);

namespace detail {

// Elements that only group other content (div, p, section, li, dd, ...).
bool IsGroupingTag(TidyTagId id);

// A table used for layout, which the converter writes as its content.
bool IsLayoutTable(TidyNode table);

inline const TBlockSet kNoBlocks{};
// A link around blocks (a card: a whole article as one link) keeps them
// blocks, every one of their texts linked.
inline const TBlockSet kLinkContent{
    TidyTag_DIV,        TidyTag_P,       TidyTag_SECTION, TidyTag_ARTICLE, TidyTag_ASIDE,
    TidyTag_NAV,        TidyTag_HEADER,  TidyTag_FOOTER,  TidyTag_MAIN,    TidyTag_FIGURE,
    TidyTag_FIGCAPTION, TidyTag_DETAILS, TidyTag_SUMMARY};
inline const TBlockSet kItemContent{TidyTag_PRE};

// The attribute's value, or null when the attribute or its value is absent.
inline const char* AttrValue(TidyNode node, TidyAttrId id) {
  TidyAttr attr = tidyAttrGetById(node, id);
  return attr ? reinterpret_cast<const char*>(tidyAttrValue(attr)) : nullptr;
}

inline bool IsStartTag(TidyNode node, TidyTagId id) {
  return tidyNodeGetType(node) == TidyNode_Start && tidyNodeGetId(node) == id;
}

// Calls f for every child of node, in order.
template <class F> void ForEachChild(TidyNode node, F&& f) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child))
    f(child);
}

struct TTableSpans;

// What a writer needs to know of where it writes. A writer changes it for its
// content only, under a TLocal of the whole record.
struct TWriteContext {
  // A heading's title: DokuWiki reads no markup there.
  bool Raw = false;
  // En dashes stay as they are (headings, links, code).
  bool NoDash = false;
  // A definition term: a permalink mark there goes with its link, as in a
  // heading.
  bool Term = false;
  // Inside a quotation.
  bool Quote = false;
  // The formatting markers open around what is being written (MarkBit).
  std::uint32_t Marks = 0;
  // The heading being written.
  TidyNode Heading = nullptr;
  // The element whose CSS markers are open: its own walk writes no more.
  TidyNode Styled = nullptr;
};

// What one run of the converter finds and changes, all of it back to its
// start when the next run begins.
struct TRunState {
  TWriteContext Context;
  // The anchor the heading writer gave each heading it wrote, numbered as
  // DokuWiki numbers them.
  TSectionIds SectionIds;
  std::unordered_map<TidyNode, std::string> HeadingAnchors;
  // Where the writer wrote each heading's line in the result.
  struct THeadingLine {
    TidyNode Node;
    std::size_t From, To;
  };
  std::vector<THeadingLine> HeadingLines;
  // Where the document's ids stand among its headings, found at the first
  // link to a fragment (or for the report).
  TIdPlaces Places;
  bool PlacesFound = false;
  // The fragments of links written before their headings were: each a
  // place, or (no such id) a name that may be a heading's anchor.
  struct TDeferredFragment {
    const TIdPlace* Place;
    std::string Name;
  };
  std::vector<TDeferredFragment> Deferred;
  // An image was written inside the current link to a media file.
  bool MediaImage = false;
  // The links of the heading being written that go after its line.
  std::vector<TidyNode> HeadingLinks;
  // Tables and code blocks met inside a quotation, which DokuWiki cannot
  // hold there alike in its parsers: they follow the outermost quotation.
  std::vector<TidyNode> QuoteBlocks;
  // VisibleWrites when the current definition began.
  std::size_t DefinitionStart = 0;
};

// The converter's run: the Tidy document, the output channel and the walks.
class TConverter : private TRunState {
public:
  explicit TConverter(const TTamsel& owner) : Owner(owner) {}

  // The run itself, once ConvertBuffer has made sure of the stack.
  std::string Run(const void* bytes, std::int32_t size, int encoding);
  // What the walk wrote shallower than it nests, for TTamsel::Notes.
  std::vector<std::string> Notes;

private:
  // Walks and dispatch.
  void WriteBody(TidyNode node, bool& afterBlock);
  void WriteBlock(TidyNode node, bool& afterBlock);
  void WriteNode(TidyNode node, bool& afterBlock, const TBlockSet& blocks);
  void WriteNode(TidyNode node, bool& afterBlock, const TBlockSet& blocks, TNodeKind kind);
  void WriteInlineChildren(TidyNode node, bool& afterBlock, const TBlockSet& blocks);
  void WriteInline(TidyNode node, const TBlockSet& blocks);
  void WriteInlineNode(TidyNode node, const TBlockSet& blocks);
  void WriteContentChildren(TidyNode node, bool& afterBlock);
  void WriteContent(TidyNode node);
  void WriteContentBreak();
  // An element outside the inline list, set apart by spaces.
  template <class F> void WriteSetApart(TidyNode node, F&& walk);

  // Text.
  void WriteText(TidyNode node);

  // Blocks.
  void WriteHeading(TidyNode node, std::int32_t level);
  // A link inside a heading, where DokuWiki holds none.
  void WriteHeadingLink(TidyNode node, bool& afterBlock);
  bool IsOwnAnchor(TidyNode heading, std::string_view href);
  bool HasTextBeside(TidyNode node, TidyNode link);
  void WriteRule();
  void WriteParagraph(TidyNode node);
  void WriteCode(TidyNode node);
  void WriteQuote(TidyNode node);
  void WriteQuoteLines(TidyNode node);

  // Lists.
  void WriteList(TidyNode node, TidyTagId kind);
  void WriteListItem(TidyNode node, TidyTagId kind);
  void WriteListItemPrefix(TidyTagId kind);
  void WriteListText(TidyNode node, TidyTagId kind);
  // The content of an item (or of a definition), line by line; the prefix
  // is written lazily before the first content that needs one.
  void WriteItemContent(TidyNode node, TidyTagId kind, bool& prefixWritten);
  void WriteItemChild(TidyNode child, TidyTagId kind, bool& prefixWritten);
  void WriteDefinitionList(TidyNode node);
  void WriteDefinitionTerm(TidyNode node);
  bool ShowsSomething(TidyNode node);
  void WriteDefinitionData(TidyNode node, bool& prefixWritten);

  // Tables.
  void WriteTable(TidyNode node);
  void WriteLayoutTable(TidyNode node);
  void WriteTableCaption(TidyNode node);
  void WriteTableSection(TidyNode node, TTableSpans& spans);
  void WriteTableRow(TidyNode node, TTableSpans& spans);
  void WriteTableCell(TidyNode node, TidyTagId kind, TAlign rowAlign, TTableSpans& spans);
  void WriteSpannedCells(TTableSpans& spans, bool all);
  void WriteCellContent(TidyNode node, bool& afterBlock);

  // Inline formatting.
  void WriteMarked(TidyNode node, std::string_view open, std::string_view close);
  // The bit of OpenMarks that stands for a marker; 0 for other markup.
  static std::uint32_t MarkBit(std::string_view open);
  void WriteBold(TidyNode node) { WriteMarked(node, "**", "**"); }
  void WriteItalic(TidyNode node) { WriteMarked(node, "//", "//"); }
  void WriteUnderline(TidyNode node) { WriteMarked(node, "__", "__"); }
  // DokuWiki's typography reaches into monospace too: the channel protects
  // what it would change there.
  void WriteMonospace(TidyNode node) {
    const TScope codeText(Out.CodeTextDepth);
    WriteMarked(node, "''", "''");
  }
  // Writes em, cite, var, dfn, ins, kbd, samp and q as the Emphasis option
  // asks; false when it is off.
  bool WriteEmphasis(TidyNode node, TidyTagId id);
  void WriteQuotationMark();
  void WriteDeleted(TidyNode node) { WriteMarked(node, "<del>", "</del>"); }
  void WriteSubscript(TidyNode node) { WriteMarked(node, "<sub>", "</sub>"); }
  void WriteSuperscript(TidyNode node) { WriteMarked(node, "<sup>", "</sup>"); }
  void WriteFont(TidyNode node);
  // CSS formatting of the element: its style attribute over its classes'
  // rules; false when it says nothing.
  bool StyleMarks(TidyNode node, TStyleMarks& marks);
  // The element within the markers its CSS asks for; one that its CSS turns
  // off (a b with "font-weight: normal") writes no markers of its own.
  void WriteStyled(TidyNode node, bool& afterBlock, const TBlockSet& blocks,
                   const TStyleMarks& marks);
  // Opens the markers marks turns on that are not open yet; returns them.
  std::uint32_t OpenStyleMarks(const TStyleMarks& marks);
  void CloseStyleMarks(std::uint32_t opened);
  void WriteLineBreak();

  // Links and images.
  void WriteLink(TidyNode node, bool& afterBlock, const TBlockSet& blocks);
  void WriteImage(TidyNode node);
  void WriteLinkedImage(TidyNode node);
  // "#frag" as DokuWiki's anchor of the heading where the fragment lands.
  // The target is put in at the end of the run: slot says where.
  std::string FragmentTarget(std::string_view fragment, std::optional<std::uint32_t>& slot);

  // Where this run's page lies, for the link policy.
  TLinkPlace Place() const {
    return {Options.PagePath, Options.Namespace, Options.StartPage, Options.BaseUrl};
  }

  const TTamsel& Owner;
  TOptions Options;
  TidyDoc Doc = nullptr;
  TOutput Out;
  const TIdPlaces& IdPlaces();
  // Where a place lands, now that every heading is written.
  TAnchorTarget Land(const TIdPlace& place) const;
  // The result with every deferred fragment in its place; the report.
  void FinishAnchors(std::string& result);

public:
  TDocumentAnchors Report;

private:
  // Class rules of the document's style sheets.
  TClassRules ClassRules;
  // A text node's bytes as Tidy's lexer holds them.
  TTidyBuffer TextValue;
  // The repaired form of the text being written; kept to reuse its storage.
  std::string Repaired;
};

} // namespace detail
} // namespace tamsel
