// Text emission and escaping: the only way document text reaches the output.
#include "Tamsel_Internal.h"

#include <cstring>

namespace tamsel {

const char* const kEscapePattern =
    "\\A(?: ?----+| ?==+|  \\*|  -|\\||\\^)|<(?:code|del|sub|sup)>|"
    "(?:(?:[\\*\\_\\'\\{\\[\\(]|(?<!http:|https:|ftp:|telnet:|gopher:|wais:|ed2k:|irc:|ldap:|"
    "file:)/){2,})+|\\\\\\\\(?= )";

TidyNode FindEnclosingTable(TidyNode node) {
  for (; node; node = tidyGetParent(node))
    if (tidyNodeGetId(node) == TidyTag_TABLE) return node;
  return nullptr;
}

namespace {

bool StartsWith(const byte* p, std::size_t m, const char* what, std::size_t len) {
  return m >= len && std::memcmp(p, what, len) == 0;
}

// ASCII letters compared without regard to case, all other bytes exactly.
bool StartsWithNoCase(const byte* p, std::size_t m, const char* what, std::size_t len) {
  if (m < len) return false;
  for (std::size_t i = 0; i < len; ++i) {
    byte a = p[i], b = static_cast<byte>(what[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<byte>(a + 32);
    if (a != b) return false;
  }
  return true;
}

void Put(TidyBuffer& buffer, const byte* bytes, std::size_t n) {
  if (n) tidyBufAppend(&buffer, const_cast<byte*>(bytes), static_cast<uint>(n));
}

void Put(TidyBuffer& buffer, const char* text) {
  tidyBufAppend(&buffer, const_cast<char*>(text), static_cast<uint>(std::strlen(text)));
}

} // namespace

void TTamsel::WriteText(TidyNode node) {
  const uint start = Output.size;
  tidyNodeGetText(Doc, node, &Output);
  // Tidy ends every printed text with CR LF; that line end is never emitted.
  const long long n = static_cast<long long>(Output.size) - start - 2;
  if (n <= 0) {
    Output.size = start;
    return;
  }
  BreakCount = 0;

  // Repair in place: Tidy prints '<', '>' and '&' as references, and DokuWiki
  // writes an en dash as "--". Nothing written is longer than what it replaces.
  byte* const text = Output.bp + start;
  std::size_t r = 0, w = 0, m = static_cast<std::size_t>(n);
  while (m > 0) {
    const byte c = text[r];
    std::size_t used = 1;
    if (c == '&' && StartsWith(text + r + 1, m - 1, "lt;", 3)) {
      text[w++] = '<';
      used = 4;
    } else if (c == '&' && StartsWith(text + r + 1, m - 1, "gt;", 3)) {
      text[w++] = '>';
      used = 4;
    } else if (c == '&' && StartsWith(text + r + 1, m - 1, "amp;", 4)) {
      text[w++] = '&';
      used = 5;
    } else if (c == '&' && StartsWith(text + r, m, "&ndash;", 7)) {
      text[w++] = '-';
      text[w++] = '-';
      used = 7;
    } else if (c == 0xE2 && NoDashDepth == 0 && m >= 3 && text[r + 1] == 0x80 &&
               text[r + 2] == 0x93) {
      text[w++] = '-';
      text[w++] = '-';
      used = 3;
    } else {
      text[w++] = c;
    }
    r += used;
    m -= used;
  }
  const std::size_t k = w;

  if (RawDepth > 0) {
    Output.size = start + static_cast<uint>(k);
    return;
  }

  TidyBuffer protectedText;
  tidyBufInit(&protectedText);
  Protect(text, k, FindEnclosingTable(node) != nullptr, protectedText);
  Output.size = start;
  WritePatternPass(protectedText);
  tidyBufFree(&protectedText);
}

// Runs of '%' go into <nowiki>; literal nowiki tags and, inside a table, runs
// of cell separators go between "%%".
void TTamsel::Protect(const byte* text, std::size_t k, bool inTable, TidyBuffer& out) {
  std::size_t r = 0;
  while (r < k) {
    const std::size_t m = k - r;
    const byte c = text[r];
    if (c == '%' && m >= 2 && text[r + 1] == '%') {
      std::size_t end = r;
      while (end < k && text[end] == '%')
        ++end;
      Put(out, "<nowiki>");
      Put(out, text + r, end - r);
      Put(out, "</nowiki>");
      r = end;
    } else if (c == '<' && StartsWithNoCase(text + r, m, "<nowiki>", 8)) {
      Put(out, "%%");
      Put(out, text + r, 8);
      Put(out, "%%");
      r += 8;
    } else if (c == '<' && StartsWithNoCase(text + r, m, "</nowiki>", 9)) {
      Put(out, "%%");
      Put(out, text + r, 9);
      Put(out, "%%");
      r += 9;
    } else if ((c == '^' || c == '|') && inTable) {
      std::size_t end = r;
      while (end < k && (text[end] == '^' || text[end] == '|'))
        ++end;
      Put(out, "%%");
      Put(out, text + r, end - r);
      Put(out, "%%");
      r = end;
    } else {
      tidyBufPutByte(&out, c);
      ++r;
    }
  }
}

// Every stretch that DokuWiki would read as markup goes between "%%". The
// whole subject is matched with a start offset, never a copy of its tail, so
// that \A only holds at the true start and the look-behind sees earlier bytes.
void TTamsel::WritePatternPass(const TidyBuffer& p) {
  const PCRE2_SIZE length = p.size;
  PCRE2_SIZE pos = 0;
  if (EscapePattern && MatchData) {
    while (pos < length) {
      int rc = pcre2_match(EscapePattern, p.bp, length, pos, PCRE2_NOTEMPTY, MatchData, nullptr);
      if (rc <= 0) break;
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(MatchData);
      const PCRE2_SIZE s = ov[0], e = ov[1];
      Put(Output, p.bp + pos, s - pos);
      Put(Output, "%%");
      Put(Output, p.bp + s, e - s);
      Put(Output, "%%");
      pos = e;
    }
  }
  Put(Output, p.bp + pos, length - pos);
}

} // namespace tamsel
