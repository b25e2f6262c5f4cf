// SPDX-License-Identifier: GPL-2.0-or-later
// Inline formatting: markers are markup of the converter's own, never
// escaped; the content between them is.
#include "Tamsel_Internal.h"

#include <iterator>

namespace tamsel::detail {

// A marker opened inside the same marker would close it instead ("**a **b**
// c**" is bold, plain, bold), and "****" around nothing shows as text: the
// inner element adds nothing that the outer one does not already show.
std::uint32_t TConverter::MarkBit(std::string_view open) {
  static constexpr std::string_view kMarks[] = {"**", "//", "__", "''", "<del>", "<sub>", "<sup>"};
  for (std::uint32_t i = 0; i < std::size(kMarks); ++i)
    if (kMarks[i] == open) return std::uint32_t{1} << i;
  return 0;
}

void TConverter::WriteMarked(TidyNode node, std::string_view open, std::string_view close) {
  const std::uint32_t bit = MarkBit(open);
  if (Context.Marks & bit) {
    WriteInline(node, kNoBlocks);
    return;
  }
  const TLocal local(Context);
  Context.Marks |= bit;
  Out.OpenMark(open);
  WriteInline(node, kNoBlocks);
  Out.CloseMark(close);
}

void TConverter::WriteFont(TidyNode node) {
  const char* color = Options.FontColor ? AttrValue(node, TidyAttr_COLOR) : nullptr;
  const char* size = Options.FontSize ? AttrValue(node, TidyAttr_SIZE) : nullptr;
  const bool hasColor = color && *color;
  const bool hasSize = size && *size;
  if (hasColor) {
    Out.Write(TContext::Markup, "[color=");
    Out.Write(TContext::FontValue, color);
    Out.Put(']');
  }
  if (hasSize) {
    Out.Write(TContext::Markup, "[size=");
    Out.Write(TContext::FontValue, size);
    Out.Put(']');
  }
  WriteInline(node, kNoBlocks);
  if (hasSize) Out.Write(TContext::Markup, "[/size]");
  if (hasColor) Out.Write(TContext::Markup, "[/color]");
}

bool TConverter::StyleMarks(TidyNode node, TStyleMarks& marks) {
  const char* style = AttrValue(node, TidyAttr_STYLE);
  const char* classes = ClassRules.Empty() ? nullptr : AttrValue(node, TidyAttr_CLASS);
  if (!style && !classes) return false;
  if (classes) ClassRules.Apply(classes, marks);
  if (style) {
    TStyleMarks own;
    ParseDeclarations(style, own);
    marks.Merge(own);
  }
  return marks.Any();
}

namespace {
struct TStyleMarker {
  std::int8_t TStyleMarks::*Flag;
  std::string_view Open;
  std::string_view Close;
};
// Outermost first, as they open.
constexpr TStyleMarker kStyleMarkers[] = {
    {&TStyleMarks::Bold, "**", "**"},      {&TStyleMarks::Italic, "//", "//"},
    {&TStyleMarks::Underline, "__", "__"}, {&TStyleMarks::Strike, "<del>", "</del>"},
    {&TStyleMarks::Mono, "''", "''"},
};
} // namespace

std::uint32_t TConverter::OpenStyleMarks(const TStyleMarks& marks) {
  std::uint32_t opened = 0;
  for (const TStyleMarker& m : kStyleMarkers) {
    const std::uint32_t bit = MarkBit(m.Open);
    if (marks.*m.Flag <= 0 || (Context.Marks & bit)) continue;
    Context.Marks |= bit;
    opened |= bit;
    Out.OpenMark(m.Open);
    if (m.Open == "''") ++Out.CodeTextDepth;
  }
  return opened;
}

void TConverter::CloseStyleMarks(std::uint32_t opened) {
  for (std::size_t i = std::size(kStyleMarkers); i-- > 0;) {
    const TStyleMarker& m = kStyleMarkers[i];
    const std::uint32_t bit = MarkBit(m.Open);
    if (!(opened & bit)) continue;
    if (m.Open == "''") --Out.CodeTextDepth;
    Out.CloseMark(m.Close);
    Context.Marks &= ~bit;
  }
}

void TConverter::WriteStyled(TidyNode node, bool& afterBlock, const TBlockSet& blocks,
                             const TStyleMarks& marks) {
  if (marks.Apart > 0) Out.SpaceOnce();
  const std::uint32_t opened = OpenStyleMarks(marks);
  const TidyTagId id = tidyNodeGetId(node);
  const bool off =
      (marks.Bold < 0 && (id == TidyTag_B || id == TidyTag_STRONG)) ||
      (marks.Italic < 0 && (id == TidyTag_I || id == TidyTag_EM)) ||
      (marks.Underline < 0 && (id == TidyTag_U || id == TidyTag_INS)) ||
      (marks.Strike < 0 && (id == TidyTag_S || id == TidyTag_STRIKE || id == TidyTag_DEL));
  if (off) {
    WriteInlineChildren(node, afterBlock, kNoBlocks);
  } else {
    const TLocal styled(Context.Styled, node);
    WriteNode(node, afterBlock, blocks);
  }
  CloseStyleMarks(opened);
  if (marks.Apart > 0) Out.SpaceOnce();
}

void TConverter::WriteLineBreak() {
  Out.ForcedBreak();
}

} // namespace tamsel::detail
