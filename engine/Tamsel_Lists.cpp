// Bulleted, numbered and definition lists.
//
// A list line is two spaces per level, a bullet and a space; the levels are
// the output channel's indentation, pushed by each list for its time. The
// bullet is written lazily, before the first content that needs it, so that
// an item holding nothing or only nested lists writes no line of its own.
#include "Tamsel_Internal.h"

namespace tamsel::detail {

namespace {

// One level of indentation for the time of a list.
class TIndentScope {
public:
  TIndentScope(TOutput& out, bool newLevel) : Out(out), Pushed(newLevel) {
    if (Pushed) Out.PushIndent();
  }
  ~TIndentScope() {
    if (Pushed) Out.PopIndent();
  }
  TIndentScope(const TIndentScope&) = delete;
  TIndentScope& operator=(const TIndentScope&) = delete;

private:
  TOutput& Out;
  bool Pushed;
};

} // namespace

void TConverter::WriteListItemPrefix(TidyTagId kind) {
  Out.StartItem(kind == TidyTag_OL ? '-' : kind == TidyTag_UL || kind == TidyTag_DL ? '*' : 0);
}

void TConverter::WriteList(TidyNode node, TidyTagId kind, bool newLevel) {
  const TIndentScope level(Out, newLevel);
  if (Out.Indent() <= 1) Out.NeedBreaks(2);
  ForEachChild(node, [&](TidyNode child) {
    if (IsStartTag(child, TidyTag_LI))
      WriteListItem(child, kind);
    else if (tidyNodeGetType(child) == TidyNode_Text)
      WriteListText(child, kind);
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
  auto ensurePrefix = [&] {
    if (!prefixWritten) {
      WriteListItemPrefix(kind);
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
        WriteDefinitionList(child);
        prefixWritten = false;
      } else if (id == TidyTag_OL || id == TidyTag_UL) {
        WriteList(child, id);
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

void TConverter::WriteDefinitionList(TidyNode node) {
  const TIndentScope level(Out, true);
  if (Out.Indent() <= 1) Out.NeedBreaks(2);
  bool prefixWritten = false;
  ForEachChild(node, [&](TidyNode child) {
    if (tidyNodeGetType(child) != TidyNode_Start) return;
    switch (tidyNodeGetId(child)) {
    case TidyTag_DD:
      WriteDefinitionData(child, prefixWritten);
      break;
    case TidyTag_DT:
      WriteDefinitionTerm(child);
      prefixWritten = true;
      break;
    default:
      break;
    }
  });
}

void TConverter::WriteDefinitionTerm(TidyNode node) {
  WriteListItemPrefix(TidyTag_DL);
  Out.Write(TContext::Markup, "**");
  WriteContent(node);
  Out.Write(TContext::Markup, "** ");
}

void TConverter::WriteDefinitionData(TidyNode node, bool& prefixWritten) {
  // A definition that continues the line of an earlier one is set apart from
  // it by a space, so that their words do not run together.
  bool continuing = prefixWritten;
  auto ensurePrefix = [&] {
    if (!prefixWritten) {
      WriteListItemPrefix(TidyTag_DL);
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
        WriteDefinitionList(child);
      } else if (id == TidyTag_UL) {
        // At the definition's own level: the term line already stands there.
        WriteList(child, TidyTag_UL, false);
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
