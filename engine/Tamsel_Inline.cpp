// Inline formatting: markers go straight into the output, never through the
// text emission, so they are never escaped; the content between them is.
#include "Tamsel_Internal.h"

namespace tamsel {

using namespace detail;

void TTamsel::WriteMarked(TidyNode node, std::string_view open, std::string_view close) {
  AppendString(Output, open);
  WriteInline(node, kNoBlocks);
  AppendString(Output, close);
}

void TTamsel::WriteFont(TidyNode node) {
  const char* color = (FontOptions & kFontColor) ? AttrValue(node, TidyAttr_COLOR) : nullptr;
  const char* size = (FontOptions & kFontSize) ? AttrValue(node, TidyAttr_SIZE) : nullptr;
  const bool hasColor = color && *color;
  const bool hasSize = size && *size;
  if (hasColor) {
    AppendString(Output, "[color=");
    AppendCString(Output, color);
    PutByte(']');
  }
  if (hasSize) {
    AppendString(Output, "[size=");
    AppendCString(Output, size);
    PutByte(']');
  }
  WriteInline(node, kNoBlocks);
  if (hasSize) AppendString(Output, "[/size]");
  if (hasColor) AppendString(Output, "[/color]");
}

void TTamsel::WriteLineBreak() {
  AppendString(Output, "\\\\ ");
}

} // namespace tamsel
