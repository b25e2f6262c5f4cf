// Tables: a row is one line, each cell opened by '^' (header) or '|' (data),
// the line closed by '|'. Alignment is two spaces on the side away from which
// the content leans; a column span is further separators after the cell.
#include "Tamsel_Internal.h"

#include <cstring>
#include <limits>

namespace tamsel {

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

namespace detail {

void TConverter::WriteTable(TidyNode node) {
  const TScope table(Out.TableDepth);
  Out.NeedBreaks(2);
  ForEachChild(node, [&](TidyNode child) {
    if (tidyNodeGetType(child) != TidyNode_Start) return;
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
  });
}

void TConverter::WriteTableSection(TidyNode node) {
  ForEachChild(node, [&](TidyNode child) {
    if (IsStartTag(child, TidyTag_TR)) WriteTableRow(child);
  });
}

void TConverter::WriteTableRow(TidyNode node) {
  Out.NeedBreaks(1);
  const std::uint8_t rowAlign = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  ForEachChild(node, [&](TidyNode child) {
    if (tidyNodeGetType(child) != TidyNode_Start) return;
    const TidyTagId id = tidyNodeGetId(child);
    if (id == TidyTag_TD || id == TidyTag_TH) WriteTableCell(child, id, rowAlign);
  });
  Out.Put('|');
  Out.ResetBreaks();
}

void TConverter::WriteTableCell(TidyNode node, TidyTagId kind, std::uint8_t rowAlign) {
  const char separator = kind == TidyTag_TH ? '^' : '|';
  Out.Put(separator);
  std::uint8_t align = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  if (align == 0) align = rowAlign;
  if (align == 3 || align == 2) Out.Write(TContext::Markup, "  ");
  const std::size_t before = Out.Count();
  WriteInline(node, kItemContent);
  if (Out.Count() == before) Out.Put(' ');
  if (align == 1 || align == 2) Out.Write(TContext::Markup, "  ");
  std::int32_t span = ParseInt(AttrValue(node, TidyAttr_COLSPAN), -1);
  if (span > kMaxColSpan) span = kMaxColSpan;
  if (span > 1) Out.PutRepeated(separator, span - 1);
}

} // namespace detail
} // namespace tamsel
