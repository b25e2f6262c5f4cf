// Tables: a row is one line, each cell opened by '^' (header) or '|' (data),
// the line closed by '|'. Alignment is two spaces on the side away from which
// the content leans; a column span is further separators after the cell.
#include "Tamsel_Internal.h"

#include <cstring>
#include <limits>

namespace tamsel {

using namespace detail;

namespace {
bool EqualsNoCase(const char* value, const char* word) {
  for (; *value && *word; ++value, ++word) {
    char c = *value;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != *word) return false;
  }
  return *value == '\0' && *word == '\0';
}
} // namespace

std::uint8_t ParseAlign(const char* value) {
  if (!value) return 0;
  if (EqualsNoCase(value, "left")) return 1;
  if (EqualsNoCase(value, "center")) return 2;
  if (EqualsNoCase(value, "right")) return 3;
  return 0;
}

std::int32_t ParseInt(const char* value, std::int32_t fallback) {
  if (!value) return fallback;
  const char* p = value;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
    ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long number = 0;
  if (*p >= '0' && *p <= '9') {
    constexpr long long kLimit = std::numeric_limits<std::int32_t>::max() + 1LL;
    for (; *p >= '0' && *p <= '9'; ++p)
      if (number <= kLimit) number = number * 10 + (*p - '0');
    if (negative) number = -number;
    if (number > std::numeric_limits<std::int32_t>::max())
      number = std::numeric_limits<std::int32_t>::max();
    if (number < std::numeric_limits<std::int32_t>::min())
      number = std::numeric_limits<std::int32_t>::min();
  } else {
    // No digit: nothing is consumed, not even white space or a sign.
    p = value;
  }
  while (*p == ' ')
    ++p;
  return *p == '\0' ? static_cast<std::int32_t>(number) : fallback;
}

void TTamsel::WriteTable(TidyNode node) {
  NeedBreaks(2);
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    if (tidyNodeGetType(child) != TidyNode_Start) continue;
    switch (tidyNodeGetId(child)) {
    case TidyTag_THEAD:
    case TidyTag_TBODY:
    case TidyTag_TFOOT:
      WriteTableSection(child);
      break;
    case TidyTag_TR:
      WriteTableRow(child);
      break;
    default:
      break;
    }
  }
}

void TTamsel::WriteTableSection(TidyNode node) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child))
    if (IsStartTag(child, TidyTag_TR)) WriteTableRow(child);
}

void TTamsel::WriteTableRow(TidyNode node) {
  NeedBreaks(1);
  const std::uint8_t rowAlign = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    if (tidyNodeGetType(child) != TidyNode_Start) continue;
    const TidyTagId id = tidyNodeGetId(child);
    if (id == TidyTag_TD || id == TidyTag_TH) WriteTableCell(child, id, rowAlign);
  }
  PutByte('|');
  ResetBreaks();
}

void TTamsel::WriteTableCell(TidyNode node, TidyTagId kind, std::uint8_t rowAlign) {
  const char separator = kind == TidyTag_TH ? '^' : '|';
  PutByte(separator);
  std::uint8_t align = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  if (align == 0) align = rowAlign;
  if (align == 3 || align == 2) AppendString(Output, "  ");
  const uint before = Output.size;
  WriteInline(node, kItemContent);
  if (Output.size == before) PutByte(' ');
  if (align == 1 || align == 2) AppendString(Output, "  ");
  std::int32_t span = ParseInt(AttrValue(node, TidyAttr_COLSPAN), -1);
  if (span > kMaxColSpan) span = kMaxColSpan;
  for (; span > 1; --span)
    PutByte(separator);
}

} // namespace tamsel
