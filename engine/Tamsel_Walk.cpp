// SPDX-License-Identifier: GPL-2.0-or-later
// Node dispatch and container walks.
//
// A walk keeps whether it wrote a block last: the next text or inline element
// then starts after a blank line.
#include "Tamsel_Internal.h"

#include <cstring>
#include <strings.h>

namespace tamsel {

// Browsers keep these in the line of the text around them (HTML5's phrase
// elements among them): set apart, "a<mark>b</mark>c" would split a word.
bool IsInlineTag(TidyTagId id) {
  switch (id) {
  case TidyTag_A:
  case TidyTag_ABBR:
  case TidyTag_ACRONYM:
  case TidyTag_B:
  case TidyTag_BDI:
  case TidyTag_BDO:
  case TidyTag_BIG:
  case TidyTag_BR:
  case TidyTag_BUTTON:
  case TidyTag_CITE:
  case TidyTag_CODE:
  case TidyTag_DEL:
  case TidyTag_DFN:
  case TidyTag_EM:
  case TidyTag_FONT:
  case TidyTag_I:
  case TidyTag_IMG:
  case TidyTag_INPUT:
  case TidyTag_INS:
  case TidyTag_KBD:
  case TidyTag_LABEL:
  case TidyTag_MAP:
  case TidyTag_MARK:
  case TidyTag_NOBR:
  case TidyTag_OBJECT:
  case TidyTag_OUTPUT:
  case TidyTag_Q:
  case TidyTag_S:
  case TidyTag_SAMP:
  case TidyTag_SCRIPT:
  case TidyTag_SELECT:
  case TidyTag_SMALL:
  case TidyTag_SPAN:
  case TidyTag_STRIKE:
  case TidyTag_STRONG:
  case TidyTag_SUB:
  case TidyTag_SUP:
  case TidyTag_TEXTAREA:
  case TidyTag_TIME:
  case TidyTag_TT:
  case TidyTag_U:
  case TidyTag_VAR:
    return true;
  default:
    return false;
  }
}

namespace {
bool HidesByStyle(const char* style) {
  // "display : none" in any case, anywhere among the declarations.
  for (const char* p = style; (p = std::strpbrk(p, "dD")) != nullptr; ++p) {
    if (strncasecmp(p, "display", 7) != 0) continue;
    const char* q = p + 7;
    while (*q == ' ' || *q == '\t')
      ++q;
    if (*q != ':') continue;
    ++q;
    while (*q == ' ' || *q == '\t')
      ++q;
    if (strncasecmp(q, "none", 4) == 0) return true;
  }
  return false;
}
} // namespace

bool IsUnseen(TidyNode node) {
  switch (tidyNodeGetId(node)) {
  case TidyTag_SCRIPT:
  case TidyTag_STYLE:
  case TidyTag_TEMPLATE:
  case TidyTag_SVG:
  case TidyTag_TITLE:
  case TidyTag_META:
  case TidyTag_LINK:
  case TidyTag_BASE:
  case TidyTag_DATALIST:
    return true;
  default:
    break;
  }
  // One pass over the attributes: this is asked of every element.
  for (TidyAttr attr = tidyAttrFirst(node); attr; attr = tidyAttrNext(attr)) {
    switch (tidyAttrGetId(attr)) {
    case TidyAttr_HIDDEN:
      return true;
    case TidyAttr_STYLE:
      if (const char* style = reinterpret_cast<const char*>(tidyAttrValue(attr));
          style && HidesByStyle(style))
        return true;
      break;
    default:
      break;
    }
  }
  return false;
}

TNodeKind KindOf(TidyNode node) {
  switch (tidyNodeGetType(node)) {
  case TidyNode_Text:
    return TNodeKind::Text;
  case TidyNode_Start:
  case TidyNode_StartEnd:
    break;
  default:
    return TNodeKind::Unseen;
  }
  const TidyTagId id = tidyNodeGetId(node);
  // Where a line may break shows nothing, so no space stands there.
  if (id == TidyTag_WBR || IsUnseen(node)) return TNodeKind::Unseen;
  if (id == TidyTag_BR) return TNodeKind::Break;
  return IsInlineTag(id) ? TNodeKind::Inline : TNodeKind::Apart;
}

namespace detail {

void TConverter::WriteBody(TidyNode node, bool& afterBlock) {
  ForEachChild(node, [&](TidyNode child) {
    switch (const TNodeKind kind = KindOf(child)) {
    case TNodeKind::Unseen:
      break;
    case TNodeKind::Text:
    case TNodeKind::Break:
    case TNodeKind::Inline:
      if (afterBlock) Out.NeedBlankLine();
      WriteNode(child, afterBlock, kNoBlocks, kind);
      break;
    case TNodeKind::Apart:
      Out.NeedBlankLine();
      WriteBlock(child, afterBlock);
      break;
    }
  });
}

void TConverter::WriteBlock(TidyNode node, bool& afterBlock) {
  switch (tidyNodeGetId(node)) {
  case TidyTag_BLOCKQUOTE:
    WriteQuote(node);
    break;
  case TidyTag_DL:
    WriteDefinitionList(node);
    break;
  case TidyTag_H1:
    WriteHeading(node, 6);
    break;
  case TidyTag_H2:
    WriteHeading(node, 5);
    break;
  case TidyTag_H3:
    WriteHeading(node, 4);
    break;
  case TidyTag_H4:
    WriteHeading(node, 3);
    break;
  case TidyTag_H5:
  case TidyTag_H6:
    // DokuWiki's smallest heading is h5's: h6 shares it, and stays a heading.
    WriteHeading(node, 2);
    break;
  case TidyTag_HR:
    WriteRule();
    break;
  case TidyTag_OL:
    WriteList(node, TidyTag_OL);
    break;
  case TidyTag_UL:
    WriteList(node, TidyTag_UL);
    break;
  case TidyTag_P:
    WriteParagraph(node);
    break;
  case TidyTag_PRE:
    WriteCode(node);
    break;
  case TidyTag_TABLE:
    WriteTable(node);
    break;
  default:
    WriteBody(node, afterBlock);
    break;
  }
  afterBlock = true;
}

// The words of an element outside the inline list stand apart from their
// neighbours, as a browser sets its box apart. A table met so is flattened,
// but its cell separators in the text are still protected.
template <class F> void TConverter::WriteSetApart(TidyNode node, F&& walk) {
  const bool table = tidyNodeGetId(node) == TidyTag_TABLE;
  if (table) ++Out.TableDepth;
  Out.SpaceOnce();
  walk();
  Out.SpaceOnce();
  if (table) --Out.TableDepth;
}

void TConverter::WriteNode(TidyNode node, bool& afterBlock, const TBlockSet& blocks) {
  WriteNode(node, afterBlock, blocks, KindOf(node));
}

// kind: KindOf(node), which a caller that has dispatched on it already hands
// on rather than have every attribute of the element read again.
void TConverter::WriteNode(TidyNode node, bool& afterBlock, const TBlockSet& blocks,
                           TNodeKind kind) {
  switch (kind) {
  case TNodeKind::Unseen:
    return;
  case TNodeKind::Text:
    WriteText(node);
    afterBlock = false;
    return;
  case TNodeKind::Break:
    WriteLineBreak();
    afterBlock = false;
    return;
  case TNodeKind::Inline:
  case TNodeKind::Apart:
    break;
  }

  const TidyTagId id = tidyNodeGetId(node);
  const bool inlineTag = kind == TNodeKind::Inline;
  if (node != Context.Styled && inlineTag) {
    if (TStyleMarks marks; StyleMarks(node, marks)) {
      WriteStyled(node, afterBlock, blocks, marks);
      afterBlock = false;
      return;
    }
  }
  switch (id) {
  case TidyTag_A:
    WriteLink(node, afterBlock, kLinkContent);
    return;
  case TidyTag_B:
  case TidyTag_STRONG:
    WriteBold(node);
    break;
  case TidyTag_I:
    WriteItalic(node);
    break;
  case TidyTag_U:
    WriteUnderline(node);
    break;
  case TidyTag_CODE:
  case TidyTag_TT:
    WriteMonospace(node);
    break;
  case TidyTag_DEL:
  case TidyTag_S:
  case TidyTag_STRIKE:
    WriteDeleted(node);
    break;
  case TidyTag_SUB:
    WriteSubscript(node);
    break;
  case TidyTag_SUP:
    WriteSuperscript(node);
    break;
  case TidyTag_FONT:
    WriteFont(node);
    break;
  case TidyTag_IMG:
    WriteLinkedImage(node);
    afterBlock = false;
    return;
  default:
    if (Options.Emphasis && WriteEmphasis(node, id))
      break;
    else if (id == TidyTag_KBD || id == TidyTag_SAMP) {
      // Unmarked, what one types or reads off a screen still keeps its
      // exact characters ("--version" is no en dash).
      const TScope codeText(Out.CodeTextDepth);
      WriteInlineChildren(node, afterBlock, kNoBlocks);
    } else if ((id == TidyTag_TABLE || id == TidyTag_PRE) && Context.Quote && Out.TableDepth == 0)
      QuoteBlocks.push_back(node);
    else if (blocks.Contains(id))
      WriteBlock(node, afterBlock);
    else if (inlineTag)
      WriteInlineChildren(node, afterBlock, kNoBlocks);
    else
      WriteSetApart(node, [&] { WriteInlineChildren(node, afterBlock, kNoBlocks); });
    return;
  }
  afterBlock = false;
}

void TConverter::WriteInlineChildren(TidyNode node, bool& afterBlock, const TBlockSet& blocks) {
  ForEachChild(node, [&](TidyNode child) {
    if (afterBlock) {
      Out.NeedBlankLine();
    }
    WriteNode(child, afterBlock, blocks);
  });
}

void TConverter::WriteInline(TidyNode node, const TBlockSet& blocks) {
  bool afterBlock = false;
  WriteInlineChildren(node, afterBlock, blocks);
}

void TConverter::WriteInlineNode(TidyNode node, const TBlockSet& blocks) {
  bool afterBlock = false;
  WriteNode(node, afterBlock, blocks);
}

void TConverter::WriteContentChildren(TidyNode node, bool& afterBlock) {
  ForEachChild(node, [&](TidyNode child) {
    switch (const TNodeKind kind = KindOf(child)) {
    case TNodeKind::Unseen:
      break;
    case TNodeKind::Text:
      WriteText(child);
      afterBlock = false;
      break;
    case TNodeKind::Break:
      WriteContentBreak();
      break;
    case TNodeKind::Inline:
    case TNodeKind::Apart:
      if (tidyNodeGetId(child) == TidyTag_A && Context.Heading)
        WriteHeadingLink(child, afterBlock);
      else if (kind == TNodeKind::Inline)
        WriteContentChildren(child, afterBlock);
      else
        WriteSetApart(child, [&] { WriteContentChildren(child, afterBlock); });
      break;
    }
  });
}

// Plain content has no forced line breaks: a line break in a preformatted
// block starts a new line, elsewhere (headings, terms) it parts the words.
void TConverter::WriteContentBreak() {
  if (Out.InCode())
    Out.Write(TContext::Code, "\n");
  else
    Out.SpaceOnce();
}

void TConverter::WriteContent(TidyNode node) {
  bool afterBlock = false;
  WriteContentChildren(node, afterBlock);
}

} // namespace detail
} // namespace tamsel
