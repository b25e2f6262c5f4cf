// SPDX-License-Identifier: GPL-2.0-or-later
// Inline formatting: markers are markup of the converter's own, never
// escaped; the content between them is.
#include "Tamsel_Internal.h"

#include <iterator>

namespace tamsel::detail {

namespace {

// A colour or size goes into "[color=...]" as it stands, less the bytes that
// would end that markup or its line; no colour or size holds one.
std::string FontValue(const char* value) {
  std::string out;
  for (const char* p = value; *p; ++p)
    if (*p != ']' && *p != '[' && static_cast<unsigned char>(*p) >= 0x20) out += *p;
  return out;
}

} // namespace

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
  if (OpenMarks & bit) {
    WriteInline(node, kNoBlocks);
    return;
  }
  OpenMarks |= bit;
  Out.OpenMark(open);
  WriteInline(node, kNoBlocks);
  Out.CloseMark(close);
  OpenMarks &= ~bit;
}

void TConverter::WriteFont(TidyNode node) {
  const char* color = Options.FontColor ? AttrValue(node, TidyAttr_COLOR) : nullptr;
  const char* size = Options.FontSize ? AttrValue(node, TidyAttr_SIZE) : nullptr;
  const bool hasColor = color && *color;
  const bool hasSize = size && *size;
  if (hasColor) Out.Write(TContext::Markup, "[color=" + FontValue(color) + "]");
  if (hasSize) Out.Write(TContext::Markup, "[size=" + FontValue(size) + "]");
  WriteInline(node, kNoBlocks);
  if (hasSize) Out.Write(TContext::Markup, "[/size]");
  if (hasColor) Out.Write(TContext::Markup, "[/color]");
}

void TConverter::WriteLineBreak() {
  Out.ForcedBreak();
}

} // namespace tamsel::detail
