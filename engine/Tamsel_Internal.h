// Shared between the converter's own source files; not part of the API.
#pragma once

#include "Tamsel.h"

namespace tamsel::detail {

inline constexpr std::uint8_t kStateText = 1;
inline constexpr std::uint8_t kStateInline = 2;
inline constexpr std::uint8_t kStateBlock = 3;

inline const TBlockSet kNoBlocks{};
inline const TBlockSet kLinkContent{TidyTag_DIV, TidyTag_P};
inline const TBlockSet kItemContent{TidyTag_PRE};

// The attribute's value, or null when the attribute or its value is absent.
inline const char* AttrValue(TidyNode node, TidyAttrId id) {
  TidyAttr attr = tidyAttrGetById(node, id);
  return attr ? reinterpret_cast<const char*>(tidyAttrValue(attr)) : nullptr;
}

inline bool IsStartTag(TidyNode node, TidyTagId id) {
  return tidyNodeGetType(node) == TidyNode_Start && tidyNodeGetId(node) == id;
}

} // namespace tamsel::detail
