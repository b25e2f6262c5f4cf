// Inline formatting: markers are markup of the converter's own, never
// escaped; the content between them is.
#include "Tamsel_Internal.h"

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

void TConverter::WriteMarked(TidyNode node, std::string_view open, std::string_view close) {
  Out.Write(TContext::Markup, open);
  WriteInline(node, kNoBlocks);
  Out.Write(TContext::Markup, close);
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
  Out.Write(TContext::Markup, "\\\\ ");
}

} // namespace tamsel::detail
