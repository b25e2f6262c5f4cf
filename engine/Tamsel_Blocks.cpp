// Headings, rules, paragraphs, preformatted text and quotations.
#include "Tamsel_Internal.h"

namespace tamsel {

using namespace detail;

void TTamsel::WriteHeading(TidyNode node, std::int32_t level) {
  if (!tidyGetChild(node)) return;
  AppendRepeated('=', level);
  PutByte(' ');
  BeginNoDash();
  WriteContent(node);
  EndNoDash();
  PutByte(' ');
  AppendRepeated('=', level);
}

void TTamsel::WriteRule() {
  AppendString(Output, "----");
  ResetBreaks();
  // So that the next block's blank line is written in full.
  BreakCount = 0;
}

void TTamsel::WriteParagraph(TidyNode node) { WriteInline(node, kNoBlocks); }

void TTamsel::WriteCode(TidyNode node) {
  AppendString(Output, "<code>");
  ResetBreaks();
  BreakCount = 0;
  NeedBreaks(1);
  BeginRaw();
  BeginNoDash();
  WriteContent(node);
  EndNoDash();
  EndRaw();
  TrimRight(Output);
  ResetBreaks();
  BreakCount = 0;
  NeedBreaks(1);
  AppendString(Output, "</code>");
  ResetBreaks();
  BreakCount = 0;
}

void TTamsel::WriteQuote(TidyNode node, std::int32_t depth) {
  AppendRepeated('>', depth);
  PutByte(' ');
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    switch (tidyNodeGetType(child)) {
    case TidyNode_Text:
      WriteText(child);
      break;
    case TidyNode_Start:
      if (tidyNodeGetId(child) == TidyTag_BLOCKQUOTE) {
        ResetBreaks();
        NeedBreaks(2);
        WriteQuote(child, depth + 1);
      } else {
        WriteInlineNode(child, kItemContent);
      }
      break;
    default:
      break;
    }
  }
}

} // namespace tamsel
