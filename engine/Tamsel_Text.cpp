// SPDX-License-Identifier: GPL-2.0-or-later
// Text emission: the only way document text reaches the output channel.
#include "Tamsel_Internal.h"

#include <cstring>

namespace tamsel::detail {

namespace {

constexpr uint kKeptValueBytes = 4096;

// Bytes at which the repair below may change something.
struct TRepairStart {
  bool Byte[256] = {};
  constexpr TRepairStart() {
    for (unsigned char c : {'&', '\n', '\r', '\xE2'})
      Byte[c] = true;
  }
};
constexpr TRepairStart kRepairStart;

bool StartsWith(const byte* p, std::size_t m, const char* what, std::size_t len) {
  return m >= len && std::memcmp(p, what, len) == 0;
}

// A dash between spaces (or at an end of the text) is prose; "1–10" keeps
// its dash, since "1--10" would be kept as it stands.
bool ProseDash(const byte* text, std::size_t n, std::size_t at, std::size_t used) {
  return (at == 0 || text[at - 1] == ' ') && (at + used >= n || text[at + used] == ' ');
}

} // namespace

// The text of a node as Tidy prints it (tidyNodeGetText) is the node's bytes in
// Tidy's lexer buffer (tidyNodeGetValue), UTF-8 with every character that the
// printer would spell otherwise already spelled so ("&amp;" stays "&amp;"), with
// three changes: '<' and '>' become "&lt;" and "&gt;", LF becomes CR LF, and CR
// LF follows at the end. The printer costs more than the rest of the conversion
// put together, so the text is taken from the lexer. The two references need
// not be made, since the repair below would at once turn them back: a
// reference made from '<' or '>' is always repaired as a whole, and a repair
// that starts at an '&' of the text never reaches into one (none of "lt;",
// "gt;", "amp;", "ndash;" holds an '&'). tidy_print_check verifies the
// equivalence against the Tidy library in use.
//
// The context says how the channel escapes the text: a code block's content
// is written as it stands, a heading's title unprotected, a link's text as a
// link title, everything else protected.
void TConverter::WriteText(TidyNode node) {
  TidyBuffer& value = TextValue.Buffer;
  tidyNodeGetValue(Doc, node, &value);
  if (value.size == 0) return;
  const byte* const text = value.bp;
  const std::size_t n = value.size;

  // Repair: Tidy spells '&' as a reference, and DokuWiki writes an en dash as
  // "--". Outside preformatted text Tidy has folded the white space of the
  // source; a line end that is left came from a reference such as &#10;. A
  // browser shows it as a space, and in DokuWiki it would cut a table row, a
  // list item or a heading in two.
  std::string& out = Repaired;
  out.clear();
  const bool code = Out.InCode();
  std::size_t r = 0, done = 0;
  auto copy = [&](std::size_t upTo) {
    out.append(reinterpret_cast<const char*>(text) + done, upTo - done);
  };
  while (r < n) {
    const byte c = text[r];
    if (!kRepairStart.Byte[c]) {
      ++r;
      continue;
    }
    const std::size_t m = n - r;
    const char* with = nullptr;
    std::size_t used = 1;
    if (c == '\r') {
      // A lone CR (from "&#13;"; Tidy turns those of the source into LF) is
      // shown by browsers as a space, in preformatted text too.
      with = " ";
    } else if (c == '\n') {
      if (!code) with = " ";
    } else if (c == '&' && StartsWith(text + r + 1, m - 1, "lt;", 3)) {
      with = "<";
      used = 4;
    } else if (c == '&' && StartsWith(text + r + 1, m - 1, "gt;", 3)) {
      with = ">";
      used = 4;
    } else if (c == '&' && StartsWith(text + r + 1, m - 1, "amp;", 4)) {
      with = "&";
      used = 5;
    } else if (c == '&' && StartsWith(text + r, m, "&ndash;", 7)) {
      with = "--";
      used = 7;
    } else if (c == 0xE2 && !Context.NoDash && m >= 3 && text[r + 1] == 0x80 &&
               text[r + 2] == 0x93 && ProseDash(text, n, r, 3)) {
      with = "--";
      used = 3;
    }
    if (!with) {
      ++r;
      continue;
    }
    copy(r);
    out += with;
    r += used;
    done = r;
  }
  // Most texts need no repair and are written from the lexer's bytes.
  std::string_view repaired(reinterpret_cast<const char*>(text), n);
  if (done > 0) {
    copy(n);
    repaired = out;
  }

  if (code) {
    Out.Write(TContext::Code, repaired);
  } else if (Context.Raw) {
    Out.Write(TContext::Plain, repaired);
  } else if (Out.Linking()) {
    Out.OpenLinkWrap();
    Out.Write(TContext::LinkTitle, repaired);
  } else {
    Out.Write(TContext::Text, repaired);
  }
  // tidyNodeGetValue clears the whole of its buffer each time: keep it small.
  if (value.allocated > kKeptValueBytes) tidyBufFree(&value);
}

bool TConverter::WriteEmphasis(TidyNode node, TidyTagId id) {
  switch (id) {
  case TidyTag_EM:
  case TidyTag_CITE:
  case TidyTag_VAR:
  case TidyTag_DFN:
    WriteItalic(node);
    return true;
  case TidyTag_INS:
    WriteUnderline(node);
    return true;
  case TidyTag_KBD:
  case TidyTag_SAMP:
    WriteMonospace(node);
    return true;
  case TidyTag_Q:
    WriteQuotationMark();
    WriteInline(node, kNoBlocks);
    WriteQuotationMark();
    return true;
  default:
    return false;
  }
}

// A straight quotation mark, which DokuWiki shows as the opening or closing
// one, as a browser shows a q; inside a link it is part of the link's text.
void TConverter::WriteQuotationMark() {
  if (Out.InCode()) {
    Out.Write(TContext::Code, "\"");
  } else if (Context.Raw) {
    Out.Write(TContext::Plain, "\"");
  } else if (Out.Linking()) {
    Out.OpenLinkWrap();
    Out.Write(TContext::LinkTitle, "\"");
  } else {
    Out.Write(TContext::Text, "\"");
  }
}

} // namespace tamsel::detail
