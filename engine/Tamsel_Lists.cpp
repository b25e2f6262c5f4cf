// Bulleted, numbered and definition lists.
//
// A list line is two spaces per level, a bullet and a space. The bullet is
// written lazily, before the first content that needs it, so that an item
// holding nothing or only nested lists writes no line of its own.
#include "Tamsel_Internal.h"

namespace tamsel {

using namespace detail;

void TTamsel::WriteListItemPrefix(std::int32_t depth, TidyTagId kind) {
  NeedBreaks(1);
  if (depth > 0) AppendRepeated(' ', 2 * depth);
  if (kind == TidyTag_UL || kind == TidyTag_DL)
    PutByte('*');
  else if (kind == TidyTag_OL)
    PutByte('-');
  PutByte(' ');
  ResetBreaks();
}

void TTamsel::WriteList(TidyNode node, std::int32_t depth, TidyTagId kind) {
  if (depth <= 1) NeedBreaks(2);
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    if (IsStartTag(child, TidyTag_LI))
      WriteListItem(child, depth, kind);
    else if (tidyNodeGetType(child) == TidyNode_Text)
      WriteListText(child, depth, kind);
  }
}

// Tidy leaves text that stands in a list outside any item where it was; a
// browser shows it, so it gets a list line of its own instead of being lost.
void TTamsel::WriteListText(TidyNode node, std::int32_t depth, TidyTagId kind) {
  TidyBuffer value;
  tidyBufInit(&value);
  tidyNodeGetValue(Doc, node, &value);
  const bool visible = HasVisibleByte(value, 0, value.size);
  tidyBufFree(&value);
  if (!visible) return;
  WriteListItemPrefix(depth, kind);
  WriteText(node);
}

void TTamsel::WriteListItem(TidyNode node, std::int32_t depth, TidyTagId kind) {
  bool prefixWritten = false;
  auto ensurePrefix = [&] {
    if (!prefixWritten) {
      WriteListItemPrefix(depth, kind);
      prefixWritten = true;
    }
  };
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    switch (tidyNodeGetType(child)) {
    case TidyNode_Text:
      ensurePrefix();
      WriteText(child);
      break;
    case TidyNode_Start: {
      const TidyTagId id = tidyNodeGetId(child);
      if (id == TidyTag_DL) {
        WriteDefinitionList(child, depth + 1);
        prefixWritten = false;
      } else if (id == TidyTag_OL || id == TidyTag_UL) {
        WriteList(child, depth + 1, id);
        prefixWritten = false;
      } else {
        ensurePrefix();
        WriteInlineNode(child, kItemContent);
      }
      break;
    }
    default:
      break;
    }
  }
}

void TTamsel::WriteDefinitionList(TidyNode node, std::int32_t depth) {
  if (depth <= 1) NeedBreaks(2);
  bool prefixWritten = false;
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    if (tidyNodeGetType(child) != TidyNode_Start) continue;
    switch (tidyNodeGetId(child)) {
    case TidyTag_DD:
      WriteDefinitionData(child, depth, prefixWritten);
      break;
    case TidyTag_DT:
      WriteDefinitionTerm(child, depth);
      prefixWritten = true;
      break;
    default:
      break;
    }
  }
}

void TTamsel::WriteDefinitionTerm(TidyNode node, std::int32_t depth) {
  WriteListItemPrefix(depth, TidyTag_DL);
  AppendString(Output, "**");
  WriteContent(node);
  AppendString(Output, "** ");
}

void TTamsel::WriteDefinitionData(TidyNode node, std::int32_t depth, bool& prefixWritten) {
  // A definition that continues the line of an earlier one is set apart from
  // it by a space, so that their words do not run together.
  bool continuing = prefixWritten;
  auto ensurePrefix = [&] {
    if (!prefixWritten) {
      WriteListItemPrefix(depth, TidyTag_DL);
      prefixWritten = true;
    } else if (continuing) {
      AppendSpaceOnce(Output, ' ');
    }
    continuing = false;
  };
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    switch (tidyNodeGetType(child)) {
    case TidyNode_Text:
      ensurePrefix();
      WriteText(child);
      break;
    case TidyNode_Start: {
      const TidyTagId id = tidyNodeGetId(child);
      if (id == TidyTag_DL) {
        WriteDefinitionList(child, depth + 1);
      } else if (id == TidyTag_UL) {
        // At the definition's own depth: the term line already stands there.
        WriteList(child, depth, TidyTag_UL);
      } else {
        ensurePrefix();
        WriteInlineNode(child, kItemContent);
      }
      break;
    }
    default:
      break;
    }
  }
}

} // namespace tamsel
