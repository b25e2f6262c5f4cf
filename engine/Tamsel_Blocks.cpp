// SPDX-License-Identifier: GPL-2.0-or-later
// Headings, rules, paragraphs, preformatted text and quotations.
#include "Tamsel_Internal.h"

#include <string>
#include <string_view>

namespace tamsel::detail {

namespace {

// The content of a preformatted block as the code writer will write it,
// closely enough to tell whether it holds "</code>" or "</file>": the text
// nodes' bytes as the lexer holds them ('<' as itself), LF for a line break,
// a space for an element set apart.
void CollectCode(TidyDoc doc, TidyNode node, TidyBuffer& value, std::string& out) {
  ForEachChild(node, [&](TidyNode child) {
    switch (KindOf(child)) {
    case TNodeKind::Unseen:
      break;
    case TNodeKind::Text:
      tidyNodeGetValue(doc, child, &value);
      out.append(reinterpret_cast<const char*>(value.bp), value.size);
      break;
    case TNodeKind::Break:
      out += '\n';
      break;
    case TNodeKind::Inline:
      CollectCode(doc, child, value, out);
      break;
    case TNodeKind::Apart:
      out += ' ';
      CollectCode(doc, child, value, out);
      out += ' ';
      break;
    }
  });
}

bool HoldsLineBreak(TidyNode node) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child))
    if (tidyNodeGetId(child) == TidyTag_BR || HoldsLineBreak(child)) return true;
  return false;
}

} // namespace

// Whether node holds visible text outside the element link.
bool TConverter::HasTextBeside(TidyNode node, TidyNode link) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    if (child == link) continue;
    const TNodeKind kind = KindOf(child);
    if (kind == TNodeKind::Text) {
      TidyBuffer& value = TextValue.Buffer;
      tidyNodeGetValue(Doc, child, &value);
      if (HasVisibleByte(value, 0, value.size)) return true;
    } else if ((kind == TNodeKind::Inline || kind == TNodeKind::Apart) &&
               !(tidyNodeGetId(child) == TidyTag_A && IsPermalinkMark(Doc, child)) &&
               HasTextBeside(child, link)) {
      return true;
    }
  }
  return false;
}

void TConverter::WriteHeading(TidyNode node, std::int32_t level) {
  if (!tidyGetChild(node)) return;
  // A pair like any other: a heading with nothing visible writes nothing.
  static constexpr std::string_view kOpen[] = {"== ", "=== ", "==== ", "===== ", "====== "};
  static constexpr std::string_view kClose[] = {" ==", " ===", " ====", " =====", " ======"};
  const std::size_t index = static_cast<std::size_t>(level < 2 ? 0 : level > 6 ? 4 : level - 2);
  const std::size_t lineStart = Out.Size();
  Out.OpenMark(kOpen[index]);
  // DokuWiki reads no markup inside a heading: protection would show as "%%".
  HeadingLinks.clear();
  {
    const TLocal local(Context);
    Context.Raw = Context.NoDash = true;
    Context.Heading = node;
    WriteContent(node);
  }
  Out.CloseMark(kClose[index]);
  // The anchor DokuWiki gives the line as written is what links to the
  // heading lead to; it is worked out when a link needs it.
  if (Out.Size() > lineStart) HeadingLines.push_back({node, lineStart, Out.Size()});
  // A heading that is one link into this page as a whole: the heading's own
  // anchor stands for it, and a line repeating its words would be noise.
  if (HeadingLinks.size() == 1) {
    const char* href = AttrValue(HeadingLinks.front(), TidyAttr_HREF);
    if (href && href[0] == '#' && !HasTextBeside(node, HeadingLinks.front())) HeadingLinks.clear();
  }
  if (HeadingLinks.empty()) return;
  // The heading's other links, which would be lost, on the line after it.
  const std::vector<TidyNode> links = std::move(HeadingLinks);
  HeadingLinks.clear();
  Out.NeedLineEnd();
  for (TidyNode link : links) {
    if (link != links.front()) Out.SpaceOnce();
    WriteInlineNode(link, kNoBlocks);
  }
}

// The heading's own anchor: its id, an id inside it, that of the element it
// is the first child of, or of an empty element right before it.
bool TConverter::IsOwnAnchor(TidyNode heading, std::string_view href) {
  if (href.empty() || href == "#") return true;
  if (href.front() != '#') return false;
  const std::string_view name = href.substr(1);
  const auto named = [&](TidyNode node) {
    for (TidyAttrId attr : {TidyAttr_ID, TidyAttr_NAME}) {
      const char* value = AttrValue(node, attr);
      if (value && name == value) return true;
    }
    return false;
  };
  const auto inside = [&](auto&& self, TidyNode node) -> bool {
    if (named(node)) return true;
    for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child))
      if (tidyNodeGetType(child) == TidyNode_Start && self(self, child)) return true;
    return false;
  };
  if (inside(inside, heading)) return true;
  const auto blank = [&](TidyNode text) {
    TidyBuffer& value = TextValue.Buffer;
    tidyNodeGetValue(Doc, text, &value);
    return !HasVisibleByte(value, 0, value.size);
  };
  TidyNode before = tidyGetPrev(heading);
  while (before && tidyNodeGetType(before) == TidyNode_Text && blank(before))
    before = tidyGetPrev(before);
  if (before && tidyNodeGetType(before) != TidyNode_Text && !tidyGetChild(before) && named(before))
    return true;
  if (!before) {
    TidyNode parent = tidyGetParent(heading);
    if (parent && named(parent)) return true;
  }
  return false;
}

// A permalink mark goes with its link; a link to the heading itself leaves
// its text; any other link leaves its text and is written after the heading.
void TConverter::WriteHeadingLink(TidyNode node, bool& afterBlock) {
  if (IsPermalinkMark(Doc, node)) return;
  if (const char* href = AttrValue(node, TidyAttr_HREF);
      href && !IsOwnAnchor(Context.Heading, href))
    HeadingLinks.push_back(node);
  WriteContentChildren(node, afterBlock);
}

void TConverter::WriteRule() {
  Out.Write(TContext::Markup, "----");
}

// A paragraph is a pair without markers: white space at its edges, a
// no-break space that Word puts in an empty one, writes no line of blanks.
// Its CSS formatting (Word's "p.Code", a "p.rule" in italics) covers it.
void TConverter::WriteParagraph(TidyNode node) {
  TStyleMarks marks;
  const bool styled = StyleMarks(node, marks);
  // A monospace paragraph of several lines is preformatted text as word
  // processors write it (LibreOffice's "Preformatted Text" in some
  // exports): a code block keeps its lines and indentation.
  if (styled && marks.Mono > 0 && HoldsLineBreak(node)) {
    WriteCode(node);
    return;
  }
  const std::uint32_t opened = styled ? OpenStyleMarks(marks) : 0;
  Out.OpenMark({});
  WriteInline(node, kNoBlocks);
  Out.CloseMark({});
  CloseStyleMarks(opened);
}

void TConverter::WriteCode(TidyNode node) {
  // A code block ends at the first "</code>", so content that holds one goes
  // into a file block, which DokuWiki shows verbatim as well.
  Repaired.clear();
  CollectCode(Doc, node, TextValue.Buffer, Repaired);
  const bool asFile = Repaired.find("</code>") != std::string::npos &&
                      Repaired.find("</file>") == std::string::npos;
  Out.Write(TContext::Markup, asFile ? "<file>" : "<code>");
  // Up to its closing tag the block's lines get no quotation prefix.
  const TScope code = Out.EnterCode();
  Out.NeedLineEnd();
  {
    const TLocal local(Context);
    Context.NoDash = true;
    WriteContent(node);
  }
  Out.DropTrailingCodeSpace();
  Out.NeedLineEnd();
  Out.Write(TContext::Markup, asFile ? "</file>" : "</code>");
}

// Every line of a quotation begins with its prefix, which the channel writes
// for each line it starts; a nested quotation adds a level for its time.
void TConverter::WriteQuote(TidyNode node) {
  {
    const TLocal local(Context);
    Context.Quote = true;
    WriteQuoteLines(node);
  }
  if (Context.Quote || QuoteBlocks.empty()) return;
  // DokuWiki holds no table in a quotation, and no code block that both of
  // its parsers read alike (the newer one ends the quotation at the line's
  // end, the older one keeps a "> " in the code): they follow it.
  const std::vector<TidyNode> blocks = std::move(QuoteBlocks);
  QuoteBlocks.clear();
  for (TidyNode block : blocks) {
    Out.NeedBlankLine();
    if (tidyNodeGetId(block) == TidyTag_TABLE) {
      WriteTable(block);
    } else {
      bool afterBlock = false;
      WriteBlock(block, afterBlock);
    }
  }
}

void TConverter::WriteQuoteLines(TidyNode node) {
  const TScope quote = Out.EnterQuote();
  Out.StartQuoteLine();
  ForEachChild(node, [&](TidyNode child) {
    const TNodeKind kind = KindOf(child);
    if (kind == TNodeKind::Apart && tidyNodeGetId(child) == TidyTag_BLOCKQUOTE) {
      Out.NeedBlankLine();
      WriteQuote(child);
      // What follows is this quotation's own again, on a line of its own.
      Out.NeedBlankLine();
    } else {
      bool afterBlock = false;
      WriteNode(child, afterBlock, kItemContent, kind);
    }
  });
}

} // namespace tamsel::detail
