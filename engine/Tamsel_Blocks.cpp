// Headings, rules, paragraphs, preformatted text and quotations.
#include "Tamsel_Internal.h"

#include <cstring>
#include <string_view>

namespace tamsel {

using namespace detail;

void TTamsel::WriteHeading(TidyNode node, std::int32_t level) {
  if (!tidyGetChild(node)) return;
  AppendRepeated('=', level);
  PutByte(' ');
  // DokuWiki reads no markup inside a heading: protection would show as "%%".
  BeginRaw();
  BeginNoDash();
  WriteContent(node);
  EndNoDash();
  EndRaw();
  PutByte(' ');
  AppendRepeated('=', level);
}

void TTamsel::WriteRule() {
  AppendString(Output, "----");
  ResetBreaks();
  // So that the next block's blank line is written in full.
  BreakCount = 0;
}

void TTamsel::WriteParagraph(TidyNode node) {
  WriteInline(node, kNoBlocks);
}

void TTamsel::WriteCode(TidyNode node) {
  const uint openAt = Output.size;
  AppendString(Output, "<code>");
  ResetBreaks();
  BreakCount = 0;
  NeedBreaks(1);
  const uint contentAt = Output.size;
  BeginRaw();
  BeginNoDash();
  ++CodeDepth;
  WriteContent(node);
  --CodeDepth;
  EndNoDash();
  EndRaw();
  TrimRight(Output);
  // A code block ends at the first "</code>", so content that holds one goes
  // into a file block, which DokuWiki shows verbatim as well.
  const std::string_view content(reinterpret_cast<const char*>(Output.bp) + contentAt,
                                 Output.size > contentAt ? Output.size - contentAt : 0);
  const bool asFile = content.find("</code>") != std::string_view::npos &&
                      content.find("</file>") == std::string_view::npos;
  if (asFile) std::memcpy(Output.bp + openAt, "<file>", 6);
  ResetBreaks();
  BreakCount = 0;
  NeedBreaks(1);
  AppendString(Output, asFile ? "</file>" : "</code>");
  ResetBreaks();
  BreakCount = 0;
}

void TTamsel::WriteQuote(TidyNode node, std::int32_t depth) {
  AppendRepeated('>', depth);
  PutByte(' ');
  // What follows a nested quotation belongs to this one again: it starts a
  // line with this quotation's own prefix rather than joining the nested one.
  bool afterNested = false;
  auto resume = [&] {
    if (!afterNested) return;
    afterNested = false;
    ResetBreaks();
    NeedBreaks(2);
    AppendRepeated('>', depth);
    PutByte(' ');
  };
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    switch (tidyNodeGetType(child)) {
    case TidyNode_Text:
      resume();
      WriteText(child);
      break;
    case TidyNode_Start:
      if (tidyNodeGetId(child) == TidyTag_BLOCKQUOTE) {
        ResetBreaks();
        NeedBreaks(2);
        WriteQuote(child, depth + 1);
        afterNested = true;
      } else {
        resume();
        WriteInlineNode(child, kItemContent);
      }
      break;
    default:
      break;
    }
  }
}

} // namespace tamsel
