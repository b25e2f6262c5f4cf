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
  if (!n) return;
  MakeRoom(buffer, n);
  tidyBufAppend(&buffer, const_cast<byte*>(bytes), static_cast<uint>(n));
}

void Put(TidyBuffer& buffer, const char* text) {
  const std::size_t n = std::strlen(text);
  MakeRoom(buffer, n);
  tidyBufAppend(&buffer, const_cast<char*>(text), static_cast<uint>(n));
}

// Byte classes for skipping the work that cannot change a text. The escaping
// pattern is matched caselessly without UTF mode, and none of these bytes has
// another case in PCRE2's default tables, so the classes are exact.
struct TByteClasses {
  // Bytes with which a protection rule can start.
  bool Protect[256] = {};
  // Bytes with which a match of the pattern can start anywhere: '<' of the
  // tags, the set and the '/' of the run alternative (its look-behind consumes
  // nothing), the backslash of the forced line break.
  bool MatchStart[256] = {};
  // The same at the very start of the text, where the anchored alternative
  // adds rules, headings, list bullets and cell separators.
  bool FirstByte[256] = {};
  // The bytes of a run of the run alternative.
  bool Run[256] = {};
  // Bytes that make a text need the protection or pattern pass wherever
  // they stand.
  bool Inner[256] = {};

  constexpr TByteClasses() {
    for (unsigned char c : {'%', '<', '^', '|', '>', '\\', '~', '='})
      Protect[c] = true;
    // Anywhere in a text these start something; '>' and '=' only at its
    // start or end, which WriteText looks at by itself.
    for (unsigned char c : {'%', '<', '^', '|', '\\', '~', '*', '_', '\'', '{', '[', '(', '/'})
      Inner[c] = true;
    for (unsigned char c : {'<', '*', '_', '\'', '{', '[', '(', '/', '\\'})
      MatchStart[c] = FirstByte[c] = true;
    for (unsigned char c : {' ', '-', '=', '|', '^'})
      FirstByte[c] = true;
    for (unsigned char c : {'*', '_', '\'', '{', '[', '(', '/'})
      Run[c] = true;
  }
};

constexpr TByteClasses kClasses;

constexpr uint kKeptValueBytes = 4096;

// False when no match of the escaping pattern can start at p[at], judged by
// what each alternative needs in its first bytes: at the start of the text a
// byte with which the anchored alternative begins; anywhere "<c", "<d" or "<s"
// in any case for the tags, two bytes of Run in a row for the run, and two
// backslashes and a space for the line break.
bool CanStartMatch(const byte* p, std::size_t length, std::size_t at) {
  const byte c = p[at];
  if (at == 0 && (c == ' ' || c == '-' || c == '=' || c == '|' || c == '^')) return true;
  const std::size_t left = length - at;
  if (c == '<') {
    if (left < 2) return false;
    const byte next = static_cast<byte>(p[at + 1] | 0x20);
    return next == 'c' || next == 'd' || next == 's';
  }
  if (c == '\\') return left > 2 && p[at + 1] == '\\' && p[at + 2] == ' ';
  return kClasses.Run[c] && left > 1 && kClasses.Run[p[at + 1]];
}

bool IsWordByte(byte c) {
  return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_';
}

// DokuWiki syntax that the escaping pattern does not cover, found at text[r]:
// the number of bytes to put between "%%", or 0. A quotation's '>' at the
// start of a line; the openers of code, file, HTML and PHP blocks ("<code>"
// itself is left to the pattern); an e-mail address in angle brackets; "\\"
// before the end of the text or a word (a line break, a Windows share);
// the NOTOC and NOCACHE macros; and the '=' run that ends a heading line.
std::size_t MoreSyntaxAt(const byte* text, std::size_t k, std::size_t r) {
  const std::size_t m = k - r;
  const byte* p = text + r;
  switch (p[0]) {
  case '>': {
    if (r != 0) return 0;
    std::size_t n = 0;
    while (n < m && p[n] == '>')
      ++n;
    return n;
  }
  case '<': {
    for (const char* tag : {"<code", "<file", "<html>", "<php>"}) {
      const std::size_t len = std::strlen(tag);
      if (!StartsWithNoCase(p, m, tag, len)) continue;
      if (tag[len - 1] == '>') return len - 1;
      if (m > len && (p[len] == ' ' || p[len] == '\t' || (tag[1] == 'f' && p[len] == '>')))
        return len;
      return 0;
    }
    bool at = false;
    for (std::size_t i = 1; i < m; ++i) {
      const byte c = p[i];
      if (c == '>') return at && i > 2 ? 1 : 0;
      if (c <= ' ' || c == '<') return 0;
      at = at || c == '@';
    }
    return 0;
  }
  case '\\':
    if (m >= 2 && p[1] == '\\' && (m == 2 || IsWordByte(p[2]))) return 2;
    return 0;
  case '~':
    if (StartsWithNoCase(p, m, "~~notoc~~", 9)) return 9;
    if (StartsWithNoCase(p, m, "~~nocache~~", 11)) return 11;
    return 0;
  case '=': {
    if (r > 0 && text[r - 1] == '=') return 0;
    std::size_t n = 0;
    while (n < m && p[n] == '=')
      ++n;
    std::size_t rest = n;
    while (rest < m && (p[rest] == ' ' || p[rest] == '\t'))
      ++rest;
    return n >= 2 && rest == m ? n : 0;
  }
  default:
    return 0;
  }
}

} // namespace

// The text of a node as Tidy prints it (tidyNodeGetText) is the node's bytes in
// Tidy's lexer buffer (tidyNodeGetValue), UTF-8 with every character that the
// printer would spell otherwise already spelled so ("&amp;" stays "&amp;"), with
// three changes: '<' and '>' become "&lt;" and "&gt;", LF becomes CR LF, and CR
// LF follows at the end. The printer costs more than the rest of the conversion
// put together, so the text is taken from the lexer and only LF widened. The
// two references need not be made, since the repair pass would at once turn
// them back: a reference made from '<' or '>' is always repaired as a whole,
// and a repair that starts at an '&' of the text never reaches into one (none
// of "lt;", "gt;", "amp;", "ndash;" holds an '&'). tidy_print_check verifies
// the equivalence against the Tidy library in use.
void TTamsel::WriteText(TidyNode node) {
  TidyBuffer& value = TextValue.Buffer;
  tidyNodeGetValue(Doc, node, &value);
  if (value.size == 0) return;
  const uint start = Output.size;
  const byte* from = value.bp;
  const byte* const end = value.bp + value.size;
  if (CodeDepth > 0) {
    while (const byte* lf = static_cast<const byte*>(std::memchr(from, '\n', end - from))) {
      Put(Output, from, lf - from);
      Put(Output, "\r\n");
      from = lf + 1;
    }
    Put(Output, from, end - from);
  } else {
    // Outside preformatted text Tidy has folded the white space of the source;
    // a line end that is left came from a reference such as &#10;. A browser
    // shows it as a space, and in DokuWiki it would cut a table row, a list
    // item or a heading in two.
    Put(Output, from, end - from);
    byte* const last = Output.bp + Output.size;
    for (int c : {'\n', '\r'})
      for (byte* b = Output.bp + start;
           (b = static_cast<byte*>(std::memchr(b, c, static_cast<std::size_t>(last - b))));)
        *b = ' ';
  }
  // tidyNodeGetValue clears the whole of its buffer each time: keep it small.
  if (value.allocated > kKeptValueBytes) tidyBufFree(&value);
  const std::size_t n = Output.size - start;
  BreakCount = 0;

  // Repair in place: Tidy prints '&' as a reference, and DokuWiki writes an en
  // dash as "--". Nothing written is longer than what it replaces.
  // Up to the first '&' or 0xE2 every byte would be written onto itself.
  byte* const text = Output.bp + start;
  std::size_t r = 0, m = n;
  while (r < m && text[r] != '&' && text[r] != 0xE2)
    ++r;
  std::size_t w = r;
  m -= r;
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
  Output.size = start + static_cast<uint>(k);
  if (RawDepth > 0) return;

  // Most texts hold no byte that a protection rule or a match of the pattern
  // could start with; both passes would then copy them unchanged.
  std::size_t last = k;
  while (last > 0 && (text[last - 1] == ' ' || text[last - 1] == '\t'))
    --last;
  bool plain =
      !kClasses.FirstByte[text[0]] && text[0] != '>' && !(last > 0 && text[last - 1] == '=');
  for (std::size_t i = 0; plain && i < k; ++i)
    plain = !kClasses.Inner[text[i]];
  if (plain) return;

  Protect(text, k, node);
  Output.size = start;
  WritePatternPass(reinterpret_cast<const byte*>(ProtectedText.data()), ProtectedText.size());
}

// Runs of '%' go into <nowiki>; literal nowiki tags and, inside a table, runs
// of cell separators go between "%%". The result goes to ProtectedText, which
// keeps its storage from one text to the next.
void TTamsel::Protect(const byte* text, std::size_t k, TidyNode node) {
  std::string& out = ProtectedText;
  out.clear();
  auto copy = [&out](const byte* from, std::size_t count) {
    out.append(reinterpret_cast<const char*>(from), count);
  };
  // Whether the text lies in a table matters only for '^' and '|'.
  int inTable = -1;
  std::size_t r = 0, done = 0;
  while (r < k) {
    const byte c = text[r];
    if (!kClasses.Protect[c]) {
      ++r;
      continue;
    }
    const std::size_t m = k - r;
    std::size_t end = r;
    const char* open = "%%";
    const char* close = "%%";
    if (c == '%' && m >= 2 && text[r + 1] == '%') {
      while (end < k && text[end] == '%')
        ++end;
      open = "<nowiki>";
      close = "</nowiki>";
    } else if (c == '<' && StartsWithNoCase(text + r, m, "<nowiki>", 8)) {
      end = r + 8;
    } else if (c == '<' && StartsWithNoCase(text + r, m, "</nowiki>", 9)) {
      end = r + 9;
    } else if (c == '^' || c == '|') {
      if (inTable < 0) inTable = FindEnclosingTable(node) != nullptr;
      if (inTable)
        while (end < k && (text[end] == '^' || text[end] == '|'))
          ++end;
    } else {
      end = r + MoreSyntaxAt(text, k, r);
    }
    if (end == r) {
      ++r;
      continue;
    }
    copy(text + done, r - done);
    out += open;
    copy(text + r, end - r);
    out += close;
    r = done = end;
  }
  copy(text + done, k - done);
}

// Every stretch that DokuWiki would read as markup goes between "%%". The
// whole subject is matched with a start offset, never a copy of its tail, so
// that \A only holds at the true start and the look-behind sees earlier bytes.
//
// Searching from an offset returns the leftmost position at which the pattern
// matches. The pattern has no start-of-match optimisation (its anchored branch
// keeps PCRE2 from computing one), so such a search runs the whole pattern,
// look-behind included, at every byte. Instead the positions at which a match
// can start at all (the first byte, and bytes of kClasses.MatchStart) are found
// here and tried one by one, anchored: the first that matches is the one the
// search would have found, with the same match, since the pattern at a fixed
// position does the same work either way (PCRE2's match limit counts per start
// position). An error ends the pass as it would have ended the search.
void TTamsel::WritePatternPass(const byte* p, std::size_t length) {
  std::size_t pos = 0;
  if (EscapePattern && MatchData) {
    std::size_t at = 0;
    while (at < length) {
      if (at > 0)
        while (at < length && !kClasses.MatchStart[p[at]])
          ++at;
      if (at >= length) break;
      if (!CanStartMatch(p, length, at)) {
        ++at;
        continue;
      }
      const int rc = pcre2_match(EscapePattern, p, length, at, PCRE2_NOTEMPTY | PCRE2_ANCHORED,
                                 MatchData, nullptr);
      if (rc == PCRE2_ERROR_NOMATCH) {
        ++at;
        continue;
      }
      PCRE2_SIZE s = at, e = at;
      if (rc > 0) {
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(MatchData);
        s = ov[0];
        e = ov[1];
      } else if (kClasses.Run[p[at]]) {
        // PCRE2 gives up (match limit) on a run of the third alternative
        // that is some hundred thousand bytes long. No other alternative can
        // start with such a byte, and that one takes the whole run: its
        // look-behind concerns only the first '/', which CanStartMatch and
        // PCRE2, failing rather than finding no match, have let through.
        while (e < length && kClasses.Run[p[e]])
          ++e;
      } else {
        break;
      }
      Put(Output, p + pos, s - pos);
      Put(Output, "%%");
      Put(Output, p + s, e - s);
      Put(Output, "%%");
      pos = at = e;
    }
  }
  Put(Output, p + pos, length - pos);
}

} // namespace tamsel
