// SPDX-License-Identifier: GPL-2.0-or-later
// Bulleted, numbered and definition lists.
//
// A list line is two spaces per level, a bullet and a space; the levels are
// the output channel's indentation, pushed by each list for its time. The
// bullet is written lazily, before the first content that needs it, so that
// an item holding nothing or only nested lists writes no line of its own.
#include "Tamsel_Internal.h"

namespace tamsel::detail {

void TConverter::WriteListItemPrefix(TidyTagId kind) {
  Out.StartItem(kind == TidyTag_OL ? '-' : kind == TidyTag_UL || kind == TidyTag_DL ? '*' : 0);
}

void TConverter::WriteList(TidyNode node, TidyTagId kind) {
  const TScope level = Out.EnterList();
  if (Out.Indent() <= 1) Out.NeedBlankLine();
  ForEachChild(node, [&](TidyNode child) {
    if (KindOf(child) == TNodeKind::Unseen) return;
    if (IsStartTag(child, TidyTag_LI)) {
      WriteListItem(child, kind);
    } else if (tidyNodeGetType(child) == TidyNode_Text) {
      WriteListText(child, kind);
    } else {
      // Tidy leaves a list directly inside a list, which a browser shows as
      // nested in the item before it, and other elements standing there.
      bool prefixWritten = false;
      WriteItemChild(child, kind, prefixWritten);
    }
  });
}

// Tidy leaves text that stands in a list outside any item where it was; a
// browser shows it, so it gets a list line of its own instead of being lost.
void TConverter::WriteListText(TidyNode node, TidyTagId kind) {
  TidyBuffer& value = TextValue.Buffer;
  tidyNodeGetValue(Doc, node, &value);
  if (!HasVisibleByte(value, 0, value.size)) return;
  WriteListItemPrefix(kind);
  WriteText(node);
}

void TConverter::WriteListItem(TidyNode node, TidyTagId kind) {
  bool prefixWritten = false;
  WriteItemContent(node, kind, prefixWritten);
}

void TConverter::WriteItemContent(TidyNode node, TidyTagId kind, bool& prefixWritten) {
  ForEachChild(node, [&](TidyNode child) { WriteItemChild(child, kind, prefixWritten); });
}

// Elements that only group content: in a list item or table cell their
// content is the item's or cell's own, so that lists and code blocks in them
// stay what they are.
bool IsGroupingTag(TidyTagId id) {
  switch (id) {
  case TidyTag_DIV:
  case TidyTag_P:
  case TidyTag_BLOCKQUOTE:
  case TidyTag_CENTER:
  case TidyTag_ADDRESS:
  case TidyTag_SECTION:
  case TidyTag_ARTICLE:
  case TidyTag_ASIDE:
  case TidyTag_NAV:
  case TidyTag_HEADER:
  case TidyTag_FOOTER:
  case TidyTag_MAIN:
  case TidyTag_FIGURE:
  case TidyTag_FIGCAPTION:
  case TidyTag_DETAILS:
  case TidyTag_SUMMARY:
  case TidyTag_LI:
  case TidyTag_DD:
    return true;
  default:
    return false;
  }
}

// A DokuWiki list item is one line, which can hold inline markup and code
// blocks. A nested list starts lines of its own; after it the item's content
// goes on in a line of its own at the item's level. Headings and tables
// cannot stand in an item: they end the list and follow it, and the list
// goes on after them.
void TConverter::WriteItemChild(TidyNode child, TidyTagId kind, bool& prefixWritten) {
  auto ensurePrefix = [&] {
    if (!prefixWritten) {
      WriteListItemPrefix(kind);
      prefixWritten = true;
    }
  };
  const TNodeKind childKind = KindOf(child);
  switch (childKind) {
  case TNodeKind::Unseen:
    return;
  case TNodeKind::Text:
    // White space alone, before a heading or a nested list say, starts no
    // line: it would be an empty item.
    if (!prefixWritten) {
      TidyBuffer& value = TextValue.Buffer;
      tidyNodeGetValue(Doc, child, &value);
      if (!HasVisibleByte(value, 0, value.size)) return;
    }
    ensurePrefix();
    WriteText(child);
    return;
  case TNodeKind::Break:
    // A line break before anything else in the line would only start it.
    if (!prefixWritten) return;
    ensurePrefix();
    WriteInlineNode(child, kItemContent);
    return;
  case TNodeKind::Inline:
  case TNodeKind::Apart:
    break;
  }
  const TidyTagId id = tidyNodeGetId(child);
  switch (id) {
  case TidyTag_OL:
  case TidyTag_UL:
    WriteList(child, id);
    prefixWritten = false;
    return;
  case TidyTag_DL:
    WriteDefinitionList(child);
    prefixWritten = false;
    return;
  default:
    break;
  }
  if (id == TidyTag_TABLE || IsHeadingTag(id)) {
    Out.NeedBlankLine();
    bool afterBlock = false;
    WriteBlock(child, afterBlock);
    Out.NeedBlankLine();
    prefixWritten = false;
    return;
  }
  if (IsGroupingTag(id)) {
    // Set apart from the words around it, as a browser sets its box apart;
    // a definition's paragraphs by a line break.
    if (prefixWritten && kind == TidyTag_DL && id == TidyTag_P &&
        Out.VisibleWrites() > DefinitionStart)
      Out.ForcedBreak();
    else if (prefixWritten)
      Out.SpaceOnce();
    WriteItemContent(child, kind, prefixWritten);
    if (prefixWritten) Out.SpaceOnce();
    return;
  }
  ensurePrefix();
  bool afterBlock = false;
  WriteNode(child, afterBlock, kItemContent, childKind);
}

void TConverter::WriteDefinitionList(TidyNode node) {
  const TScope level = Out.EnterList();
  if (Out.Indent() <= 1) Out.NeedBlankLine();
  bool prefixWritten = false;
  ForEachChild(node, [&](TidyNode child) {
    if (tidyNodeGetType(child) != TidyNode_Start || IsUnseen(child)) return;
    switch (tidyNodeGetId(child)) {
    case TidyTag_DD:
      WriteDefinitionData(child, prefixWritten);
      break;
    case TidyTag_DT:
      // A term that shows nothing writes nothing: its definitions start
      // the item.
      prefixWritten = false;
      if (!ShowsSomething(child)) break;
      WriteDefinitionTerm(child);
      prefixWritten = true;
      break;
    default:
      break;
    }
  });
}

// Whether the node shows a visible character or an image.
bool TConverter::ShowsSomething(TidyNode node) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    switch (KindOf(child)) {
    case TNodeKind::Text: {
      TidyBuffer& value = TextValue.Buffer;
      tidyNodeGetValue(Doc, child, &value);
      if (HasVisibleByte(value, 0, value.size)) return true;
      break;
    }
    case TNodeKind::Inline:
    case TNodeKind::Apart:
      if (tidyNodeGetId(child) == TidyTag_IMG || ShowsSomething(child)) return true;
      break;
    case TNodeKind::Unseen:
    case TNodeKind::Break:
      break;
    }
  }
  return false;
}

// The term keeps its links and formatting; a bold inside it adds nothing to
// the term's own bold (WriteMarked).
void TConverter::WriteDefinitionTerm(TidyNode node) {
  WriteListItemPrefix(TidyTag_DL);
  const TLocal local(Context);
  Context.Marks |= MarkBit("**");
  Context.Term = true;
  Out.OpenMark("**");
  WriteInline(node, kNoBlocks);
  Out.CloseMark("**");
}

namespace {
// Whether the first thing a definition shows goes on its item's line: text,
// an image or a code block, not a list, table or heading, which start lines
// of their own.
int StartsInline(TidyDoc doc, TidyNode node, TidyBuffer& value) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    switch (KindOf(child)) {
    case TNodeKind::Text:
      tidyNodeGetValue(doc, child, &value);
      if (HasVisibleByte(value, 0, value.size)) return 1;
      break;
    case TNodeKind::Inline:
    case TNodeKind::Apart: {
      const TidyTagId id = tidyNodeGetId(child);
      if (IsHeadingTag(id)) return 0;
      switch (id) {
      case TidyTag_IMG:
      case TidyTag_PRE:
        return 1;
      case TidyTag_UL:
      case TidyTag_OL:
      case TidyTag_DL:
      case TidyTag_TABLE:
        return 0;
      default:
        if (const int inner = StartsInline(doc, child, value); inner >= 0) return inner;
        break;
      }
      break;
    }
    case TNodeKind::Unseen:
    case TNodeKind::Break:
      break;
    }
  }
  return -1;
}
} // namespace

// A definition goes on a line of its own below its term (or the definition
// before it), within the same item: a forced line break parts them, as it
// parts the definition's paragraphs. Lists in it are nested below the item.
void TConverter::WriteDefinitionData(TidyNode node, bool& prefixWritten) {
  if (prefixWritten && StartsInline(Doc, node, TextValue.Buffer) == 1) Out.ForcedBreak();
  const std::size_t definition = DefinitionStart;
  DefinitionStart = Out.VisibleWrites();
  WriteItemContent(node, TidyTag_DL, prefixWritten);
  DefinitionStart = definition;
}

} // namespace tamsel::detail
