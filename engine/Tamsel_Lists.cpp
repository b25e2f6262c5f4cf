// Bulleted, numbered and definition lists.
//
// A list line is two spaces per level, a bullet and a space. The bullet is
// written lazily, before the first content that needs it, so that an item
// holding nothing or only nested lists writes no line of its own.
#include "Tamsel_Internal.h"

namespace tamsel::detail {

void TConverter::WriteListItemPrefix(std::int32_t depth, TidyTagId kind) {
  Out.NeedBreaks(1);
  if (depth > 0) Out.PutRepeated(' ', 2 * depth);
  if (kind == TidyTag_UL || kind == TidyTag_DL)
    Out.Put('*');
  else if (kind == TidyTag_OL)
    Out.Put('-');
  Out.Put(' ');
  Out.ResetBreaks();
}

void TConverter::WriteList(TidyNode node, std::int32_t depth, TidyTagId kind) {
  if (depth <= 1) Out.NeedBreaks(2);
  ForEachChild(node, [&](TidyNode child) {
    if (IsStartTag(child, TidyTag_LI))
      WriteListItem(child, depth, kind);
    else if (tidyNodeGetType(child) == TidyNode_Text)
      WriteListText(child, depth, kind);
  });
}

// Tidy leaves text that stands in a list outside any item where it was; a
// browser shows it, so it gets a list line of its own instead of being lost.
void TConverter::WriteListText(TidyNode node, std::int32_t depth, TidyTagId kind) {
  TidyBuffer& value = TextValue.Buffer;
  tidyNodeGetValue(Doc, node, &value);
  if (!HasVisibleByte(value, 0, value.size)) return;
  WriteListItemPrefix(depth, kind);
  WriteText(node);
}

void TConverter::WriteListItem(TidyNode node, std::int32_t depth, TidyTagId kind) {
  bool prefixWritten = false;
  auto ensurePrefix = [&] {
    if (!prefixWritten) {
      WriteListItemPrefix(depth, kind);
      prefixWritten = true;
    }
  };
  ForEachChild(node, [&](TidyNode child) {
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
  });
}

void TConverter::WriteDefinitionList(TidyNode node, std::int32_t depth) {
  if (depth <= 1) Out.NeedBreaks(2);
  bool prefixWritten = false;
  ForEachChild(node, [&](TidyNode child) {
    if (tidyNodeGetType(child) != TidyNode_Start) return;
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
  });
}

void TConverter::WriteDefinitionTerm(TidyNode node, std::int32_t depth) {
  WriteListItemPrefix(depth, TidyTag_DL);
  Out.Write(TContext::Markup, "**");
  WriteContent(node);
  Out.Write(TContext::Markup, "** ");
}

void TConverter::WriteDefinitionData(TidyNode node, std::int32_t depth, bool& prefixWritten) {
  // A definition that continues the line of an earlier one is set apart from
  // it by a space, so that their words do not run together.
  bool continuing = prefixWritten;
  auto ensurePrefix = [&] {
    if (!prefixWritten) {
      WriteListItemPrefix(depth, TidyTag_DL);
      prefixWritten = true;
    } else if (continuing) {
      Out.SpaceOnce();
    }
    continuing = false;
  };
  ForEachChild(node, [&](TidyNode child) {
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
  });
}

} // namespace tamsel::detail
