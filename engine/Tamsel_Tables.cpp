// SPDX-License-Identifier: GPL-2.0-or-later
// Tables: a row is one line, each cell opened by '^' (header) or '|' (data),
// the line closed by '|'. Alignment is two spaces on the side away from which
// the content leans; a column span is further separators after the cell.
#include "Tamsel_Ascii.h"
#include "Tamsel_Internal.h"

#include <cstring>
#include <limits>
#include <vector>

namespace tamsel {

TAlign ParseAlign(const char* value) {
  if (!value) return TAlign::None;
  if (EqualsNoCase(value, "left")) return TAlign::Left;
  if (EqualsNoCase(value, "center")) return TAlign::Center;
  if (EqualsNoCase(value, "right")) return TAlign::Right;
  return TAlign::None;
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

// A cell that spans rows stands in DokuWiki's table once; the rows below
// hold ":::" in its columns, or their cells would move left into its place.
struct TTableSpans {
  struct TColumn {
    // Rows below the current one that the cell above still covers.
    std::int32_t Rows = 0;
    // Columns that cell covers, counted at its first one; 0 at the others.
    std::int32_t Width = 0;
    char Separator = '|';
  };
  std::vector<TColumn> Columns;
  // The column the next cell of the current row stands in.
  std::size_t Next = 0;
};

namespace {

bool IsCell(TidyNode node) {
  const TidyTagId id = tidyNodeGetId(node);
  return tidyNodeGetType(node) == TidyNode_Start && (id == TidyTag_TD || id == TidyTag_TH);
}

// Calls f for every cell of the table itself (not of tables inside it).
template <class F> void ForEachCell(TidyNode table, F&& f) {
  ForEachChild(table, [&](TidyNode child) {
    const TidyTagId id = tidyNodeGetId(child);
    if (id == TidyTag_TR) {
      ForEachChild(child, [&](TidyNode cell) {
        if (IsCell(cell)) f(cell);
      });
    } else if (id == TidyTag_THEAD || id == TidyTag_TBODY || id == TidyTag_TFOOT) {
      ForEachChild(child, [&](TidyNode row) {
        if (IsStartTag(row, TidyTag_TR))
          ForEachChild(row, [&](TidyNode cell) {
            if (IsCell(cell)) f(cell);
          });
      });
    }
  });
}

// What a cell holds that no data cell needs: headings and tables make a
// table a layout at once; lists and several paragraphs only in a table
// without header cells.
struct TCellBlocks {
  bool Layout = false;
  bool Loose = false;
  // Any block at all (a paragraph, a division, a list, ...).
  bool Block = false;
};

void ScanCell(TidyNode cell, TCellBlocks& found) {
  std::vector<TidyNode> stack{cell};
  std::uint32_t paragraphs = 0;
  while (!stack.empty() && !found.Layout) {
    const TidyNode node = stack.back();
    stack.pop_back();
    for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
      if (tidyNodeGetType(child) != TidyNode_Start) continue;
      const TidyTagId id = tidyNodeGetId(child);
      if (!IsInlineTag(id)) found.Block = true;
      if (id == TidyTag_TABLE || IsHeadingTag(id)) {
        found.Layout = true;
        return;
      }
      switch (id) {
      case TidyTag_UL:
      case TidyTag_OL:
      case TidyTag_DL:
      case TidyTag_BLOCKQUOTE:
        found.Loose = true;
        break;
      case TidyTag_P:
        if (++paragraphs > 1) found.Loose = true;
        break;
      default:
        stack.push_back(child);
        break;
      }
    }
  }
}

} // namespace

// A table used for layout: marked so (role presentation or none), a single
// cell holding blocks (a lone cell of text is a box around it, which a
// table shows well), or cells holding headings or tables; lists, quotations and several
// paragraphs in a cell mark one only where no cell is a header cell. Data
// tables of documentation generators and office exports hold a paragraph per
// cell, and lists under headers.
bool IsLayoutTable(TidyNode node) {
  const char* role = AttrValue(node, TidyAttr_ROLE);
  if (role && (EqualsNoCase(role, "presentation") || EqualsNoCase(role, "none"))) return true;
  std::size_t cells = 0;
  bool header = false;
  TCellBlocks found;
  ForEachCell(node, [&](TidyNode cell) {
    ++cells;
    header = header || tidyNodeGetId(cell) == TidyTag_TH;
    if (!found.Layout) ScanCell(cell, found);
  });
  return (cells == 1 && found.Block) || found.Layout || (found.Loose && !header);
}

// A layout table is its content, cell after cell, block after block.
void TConverter::WriteLayoutTable(TidyNode node) {
  ForEachCell(node, [&](TidyNode cell) {
    bool afterBlock = true;
    Out.NeedBlankLine();
    WriteBody(cell, afterBlock);
  });
  Out.NeedBlankLine();
}

void TConverter::WriteTable(TidyNode node) {
  if (Out.TableDepth == 0 && IsLayoutTable(node)) {
    WriteLayoutTable(node);
    return;
  }
  const TScope table(Out.TableDepth);
  Out.NeedBlankLine();
  // DokuWiki tables have no caption: it goes right before the table.
  ForEachChild(node, [&](TidyNode child) {
    if (IsStartTag(child, TidyTag_CAPTION) && tidyGetChild(child) && !IsUnseen(child))
      WriteTableCaption(child);
  });
  TTableSpans spans;
  ForEachChild(node, [&](TidyNode child) {
    if (tidyNodeGetType(child) != TidyNode_Start || IsUnseen(child)) return;
    switch (tidyNodeGetId(child)) {
    case TidyTag_THEAD:
    case TidyTag_TBODY:
    case TidyTag_TFOOT:
      // A row span ends with its row group.
      spans.Columns.clear();
      WriteTableSection(child, spans);
      spans.Columns.clear();
      break;
    case TidyTag_TR:
      WriteTableRow(child, spans);
      break;
    default:
      break;
    }
  });
}

// A bold line of its own; a bold inside the caption adds nothing to it.
void TConverter::WriteTableCaption(TidyNode node) {
  {
    const TLocal local(Context);
    Context.Marks |= MarkBit("**");
    Out.OpenMark("**");
    WriteInline(node, kNoBlocks);
    Out.CloseMark("**");
  }
  Out.NeedLineEnd();
}

void TConverter::WriteTableSection(TidyNode node, TTableSpans& spans) {
  ForEachChild(node, [&](TidyNode child) {
    if (IsStartTag(child, TidyTag_TR) && !IsUnseen(child)) WriteTableRow(child, spans);
  });
}

// Writes the ":::" cells of the columns from spans.Next on that a cell above
// still covers; with all set, also those after free columns (as empty
// cells), up to the last covered one.
void TConverter::WriteSpannedCells(TTableSpans& spans, bool all) {
  auto& columns = spans.Columns;
  std::size_t last = columns.size();
  if (all)
    while (last > spans.Next && columns[last - 1].Rows <= 0)
      --last;
  while (spans.Next < columns.size()) {
    TTableSpans::TColumn& column = columns[spans.Next];
    if (column.Rows <= 0) {
      if (!all || spans.Next >= last) return;
      Out.Write(TContext::Markup, "| ");
      ++spans.Next;
      continue;
    }
    const std::int32_t width = column.Width > 0 ? column.Width : 1;
    if (column.Width > 0) {
      Out.Put(column.Separator);
      Out.Write(TContext::Markup, ":::");
      Out.PutRepeated(column.Separator, width - 1);
    }
    for (std::int32_t i = 0; i < width && spans.Next < columns.size(); ++i)
      --columns[spans.Next++].Rows;
  }
}

void TConverter::WriteTableRow(TidyNode node, TTableSpans& spans) {
  Out.NeedLineEnd();
  const TAlign rowAlign = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  spans.Next = 0;
  ForEachChild(node, [&](TidyNode child) {
    if (tidyNodeGetType(child) != TidyNode_Start || IsUnseen(child)) return;
    const TidyTagId id = tidyNodeGetId(child);
    if (id != TidyTag_TD && id != TidyTag_TH) return;
    WriteSpannedCells(spans, false);
    WriteTableCell(child, id, rowAlign, spans);
  });
  WriteSpannedCells(spans, true);
  Out.Put('|');
}

namespace {
// Lists and tables, which a cell cannot hold: their words are flattened into
// the cell's line.
bool IsFlattenedInCell(TidyTagId id) {
  switch (id) {
  case TidyTag_UL:
  case TidyTag_OL:
  case TidyTag_DL:
  case TidyTag_TABLE:
  case TidyTag_CAPTION:
  case TidyTag_THEAD:
  case TidyTag_TBODY:
  case TidyTag_TFOOT:
  case TidyTag_TR:
  case TidyTag_TD:
  case TidyTag_TH:
    return true;
  default:
    return false;
  }
}
} // namespace

// A row is one line. DokuWiki keeps a code block in a cell, and the row goes
// on after it: the rest of the cell follows at once, never after the blank
// line that would end the row. Lists, tables and paragraphs in a cell are
// flattened into its line, their code blocks kept.
void TConverter::WriteCellContent(TidyNode node, bool& afterBlock) {
  ForEachChild(node, [&](TidyNode child) {
    const TidyTagId id = tidyNodeGetId(child);
    const TNodeKind kind = KindOf(child);
    if (kind == TNodeKind::Apart && (IsGroupingTag(id) || IsFlattenedInCell(id))) {
      Out.SpaceOnce();
      WriteCellContent(child, afterBlock);
      Out.SpaceOnce();
    } else {
      WriteNode(child, afterBlock, kItemContent, kind);
    }
    afterBlock = false;
  });
}

void TConverter::WriteTableCell(TidyNode node, TidyTagId kind, TAlign rowAlign,
                                TTableSpans& spans) {
  const char separator = kind == TidyTag_TH ? '^' : '|';
  Out.Put(separator);
  TAlign align = ParseAlign(AttrValue(node, TidyAttr_ALIGN));
  if (align == TAlign::None) align = rowAlign;
  // DokuWiki aligns a cell by the spaces on either side of its content.
  if (align == TAlign::Right || align == TAlign::Center) Out.Write(TContext::Markup, "  ");
  const std::size_t before = Out.Count();
  bool afterBlock = false;
  Out.BeginCell();
  WriteCellContent(node, afterBlock);
  Out.EndCell();
  if (Out.Count() == before) Out.Put(' ');
  if (align == TAlign::Left || align == TAlign::Center) Out.Write(TContext::Markup, "  ");
  std::int32_t span = ParseInt(AttrValue(node, TidyAttr_COLSPAN), -1);
  if (span > kMaxColSpan) span = kMaxColSpan;
  if (span > 1) Out.PutRepeated(separator, span - 1);

  const std::int32_t width = span > 1 ? span : 1;
  const std::int32_t rows = ParseInt(AttrValue(node, TidyAttr_ROWSPAN), -1);
  if (rows > 1) {
    auto& columns = spans.Columns;
    if (columns.size() < spans.Next + static_cast<std::size_t>(width))
      columns.resize(spans.Next + static_cast<std::size_t>(width));
    for (std::int32_t i = 0; i < width; ++i)
      columns[spans.Next + static_cast<std::size_t>(i)] = {rows - 1, i == 0 ? width : 0, separator};
  }
  spans.Next += static_cast<std::size_t>(width);
}

} // namespace detail
} // namespace tamsel
