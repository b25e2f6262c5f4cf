// SPDX-License-Identifier: GPL-2.0-or-later
// The output channel: the one place where each context is escaped (Write)
// and the one place where line breaks and prefixes are written (Flush).
#include "Tamsel_Internal.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tamsel {

// The '/' of "//" right after a scheme that DokuWiki links is no markup when
// the address goes on in the same text: the link takes it. Anywhere else,
// after "http://" at the end of a text too, "//" would open an italic.
const char* const kEscapePattern =
    "\\A(?: ?----+| ?==+|  \\*|  -|\\||\\^)|<(?:code|del|sub|sup)>|"
    "(?:(?:[\\*\\_\\'\\{\\[\\(]|(?:(?<!\\bhttp:|\\bhttps:|\\bftp:|\\btelnet:|\\bgopher:|"
    "\\bwais:|\\bed2k:|\\birc:|\\bldap:|\\bfile:)|(?!//[\\w/#~:.?+=&%@!\\-\\[\\]]))/){2,})+|"
    "\\\\\\\\(?= )";

namespace detail {

namespace {

using byte = unsigned char;

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
  // C0 control characters other than tab, LF and CR: DokuWiki pages hold none.
  bool Control[256] = {};
  // Bytes with which a word's typography can start, apart from Inner ones.
  bool Typography[256] = {};

  constexpr TByteClasses() {
    for (unsigned char c : {'%', '<', '^', '|', '>', '\\', '~', '='})
      Protect[c] = true;
    // Anywhere in a text these start something; '>' and '=' only at its
    // start or end, which Write looks at by itself.
    for (unsigned char c : {'%', '<', '^', '|', '\\', '~', '*', '_', '\'', '{', '[', '(', '/'})
      Inner[c] = true;
    for (unsigned char c : {'<', '*', '_', '\'', '{', '[', '(', '/', '\\'})
      MatchStart[c] = FirstByte[c] = true;
    for (unsigned char c : {' ', '-', '=', '|', '^'})
      FirstByte[c] = true;
    for (unsigned char c : {'*', '_', '\'', '{', '[', '(', '/'})
      Run[c] = true;
    for (int c = 0; c < 0x20; ++c)
      Control[c] = c != '\t' && c != '\n' && c != '\r';
    for (unsigned char c : {'-', '=', '>', 'x', 'X'})
      Typography[c] = true;
  }
};

constexpr TByteClasses kClasses;

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

bool IsTypographyDigit(byte c) {
  return c >= '0' && c <= '9';
}

// Whether the 'x' at p[i] stands between the numbers of a size ("640x480"),
// which DokuWiki's typography writes with a multiplication sign; "0x1F" is
// a hexadecimal number and stays.
bool IsSizeAt(const byte* p, std::size_t n, std::size_t i) {
  if (i == 0 || i + 1 >= n || !IsTypographyDigit(p[i - 1]) || !IsTypographyDigit(p[i + 1]))
    return false;
  std::size_t first = i;
  while (first > 0 && IsTypographyDigit(p[first - 1]))
    --first;
  if (first > 0 && IsWordByte(p[first - 1])) return false;
  if (i - first == 1 && p[first] == '0') return false;
  std::size_t last = i + 1;
  while (last < n && IsTypographyDigit(p[last]))
    ++last;
  return last == n || !IsWordByte(p[last]);
}

// Whether DokuWiki's typography would change something in p[0, n): its
// entities ("--", "->", "<=>", "(c)", "..."), quotation marks and the
// multiplication sign of "640x480".
bool HasTypography(const byte* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const byte c = p[i];
    const byte next = i + 1 < n ? p[i + 1] : 0;
    switch (c) {
    case '"':
    case '\'':
      return true;
    case '-':
      if (next == '-' || next == '>') return true;
      break;
    case '<':
      if (next == '-' || next == '=' || next == '<') return true;
      break;
    case '=':
    case '>':
      if (next == '>') return true;
      break;
    case '.':
      if (next == '.' && i + 2 < n && p[i + 2] == '.') return true;
      break;
    case '(':
      if (StartsWithNoCase(p + i, n - i, "(c)", 3) || StartsWithNoCase(p + i, n - i, "(r)", 3) ||
          StartsWithNoCase(p + i, n - i, "(tm)", 4))
        return true;
      break;
    case 'x':
    case 'X':
      if (IsSizeAt(p, n, i)) return true;
      break;
    default:
      break;
    }
  }
  return false;
}

// Whether DokuWiki's typography would change the characters of a word, an
// option, an arrow or a size in p[0, n) of ordinary text: "--" or "---"
// joined to a letter or digit ("--check", "a--b"), the arrows and guillemets
// ("->", "<=", ">>", ...), "(c)", "(r)", "(tm)" and "640x480". A dash
// between spaces, "..." and quotation marks are prose, and stay typographic.
bool HasWordTypography(const byte* p, std::size_t n) {
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const byte c = p[i];
    const byte next = p[i + 1];
    switch (c) {
    case '-': {
      if (next == '>') return true;
      if (next != '-') break;
      std::size_t end = i + 2;
      if (end < n && p[end] == '-') ++end;
      if ((i > 0 && IsWordByte(p[i - 1])) || (end < n && IsWordByte(p[end]))) return true;
      i = end - 1;
      break;
    }
    case '<':
      if (next == '-' || next == '=' || next == '<') return true;
      break;
    case '=':
    case '>':
      if (next == '>') return true;
      break;
    case '(':
      if ((n - i >= 3 &&
           (std::memcmp(p + i, "(c)", 3) == 0 || std::memcmp(p + i, "(r)", 3) == 0)) ||
          (n - i >= 4 && std::memcmp(p + i, "(tm)", 4) == 0))
        return true;
      break;
    case 'x':
    case 'X':
      if (IsSizeAt(p, n, i)) return true;
      break;
    default:
      break;
    }
  }
  return false;
}

// White space at the edge of a pair's content: ASCII white space and the
// no-break space U+00A0.
std::size_t LeadingEdge(const char* text, std::size_t n) {
  const auto* p = reinterpret_cast<const byte*>(text);
  std::size_t i = 0;
  while (i < n) {
    if (p[i] == ' ' || p[i] == '\t' || p[i] == '\n' || p[i] == '\r')
      ++i;
    else if (p[i] == 0xC2 && i + 1 < n && p[i + 1] == 0xA0)
      i += 2;
    else
      break;
  }
  return i;
}

std::size_t TrailingEdge(const char* text, std::size_t n) {
  const auto* p = reinterpret_cast<const byte*>(text);
  std::size_t i = n;
  while (i > 0) {
    const byte c = p[i - 1];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
      --i;
    else if (c == 0xA0 && i >= 2 && p[i - 2] == 0xC2)
      i -= 2;
    else
      break;
  }
  return n - i;
}

bool IsSchemeByte(byte c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// Where an address that DokuWiki links by itself begins in p[0, n): one of
// its schemes before "://", or "www." at the start; n when there is none.
std::size_t AutoLinkStart(const byte* p, std::size_t n) {
  if (StartsWithNoCase(p, n, "www.", 4) || StartsWithNoCase(p, n, "ftp.", 4)) return 0;
  for (std::size_t i = 0; i + 3 <= n; ++i) {
    if (p[i] != ':' || p[i + 1] != '/' || p[i + 2] != '/') continue;
    std::size_t from = i;
    while (from > 0 && IsSchemeByte(p[from - 1]))
      --from;
    for (const char* scheme :
         {"http", "https", "telnet", "gopher", "wais", "ftp", "ed2k", "irc", "ldap"}) {
      const std::size_t len = std::strlen(scheme);
      for (std::size_t s = from; s + len <= i; ++s)
        if (s + len == i && StartsWithNoCase(p + s, len, scheme, len)) return s;
    }
  }
  return n;
}

// Most texts hold neither "://" nor "www."; memmem and memchr tell fast.
bool MayHoldAutoLink(const byte* p, std::size_t n) {
  if (memmem(p, n, "://", 3)) return true;
  for (const byte* dot = p; (dot = static_cast<const byte*>(
                                 std::memchr(dot, '.', n - static_cast<std::size_t>(dot - p))));
       ++dot)
    if (dot - p >= 3 &&
        (StartsWithNoCase(dot - 3, 4, "www.", 4) || StartsWithNoCase(dot - 3, 4, "ftp.", 4)))
      return true;
  return false;
}

// Whether the escaping would put something of an address's stretch between
// "%%": its markup runs (apart from the "//" after the scheme), tags, line
// breaks and, in a table, cell separators.
bool NeedsProtection(const byte* p, std::size_t n, std::size_t url, bool table) {
  const byte* slashes = static_cast<const byte*>(std::memchr(p + url, '/', n - url));
  if (slashes && (slashes == p || slashes[-1] != ':')) slashes = nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    const byte c = p[i];
    if (c == '<' || c == '\\' || (table && (c == '|' || c == '^'))) return true;
    if (i + 1 < n && kClasses.Run[c] && kClasses.Run[p[i + 1]] && p + i != slashes) return true;
  }
  return false;
}

bool HasVisible(std::string_view bytes) {
  for (char c : bytes)
    if (static_cast<byte>(c) > 0x20) return true;
  return false;
}

constexpr char kHex[] = "0123456789ABCDEF";

bool IsImageName(std::string_view id) {
  const std::size_t dot = id.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(id.substr(dot + 1));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  for (const char* image : {"png", "jpg", "jpeg", "gif", "svg", "webp", "ico", "bmp"})
    if (ext == image) return true;
  return false;
}
// Zero width space: parts "}}" and "]]" in an image title without showing.
constexpr std::string_view kInvisibleSpace = "\xE2\x80\x8B";
// U+FF5D, the full-width '}'.
constexpr std::string_view kFullWidthBrace = "\xEF\xBD\x9D";

} // namespace

TOutput::TOutput() {
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  EscapePattern = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kEscapePattern), PCRE2_ZERO_TERMINATED,
                                PCRE2_CASELESS, &errorCode, &errorOffset, nullptr);
  if (!EscapePattern) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(errorCode, message, sizeof message);
    throw std::runtime_error("tamsel: the escaping pattern does not compile at offset " +
                             std::to_string(errorOffset) + ": " +
                             reinterpret_cast<const char*>(message));
  }
  MatchData = pcre2_match_data_create(3, nullptr);
  // PCRE2 keeps a frame for every repetition of a group it may go back to:
  // a run of 64 million '*' took 5 GB before it gave up. Bounded, it gives
  // up sooner, and the run is protected whole.
  MatchContext = pcre2_match_context_create(nullptr);
  if (!MatchData || !MatchContext) {
    pcre2_match_data_free(MatchData);
    pcre2_code_free(EscapePattern);
    throw std::bad_alloc();
  }
  pcre2_set_heap_limit(MatchContext, kMatchHeapKiB);
}

TOutput::~TOutput() {
  Abandon();
  pcre2_match_context_free(MatchContext);
  pcre2_match_data_free(MatchData);
  pcre2_code_free(EscapePattern);
}

void TOutput::Begin(Utf8StrAllocator& record, std::string_view lineBreak) {
  Abandon();
  tidyBufInitWithAllocator(&Buffer, &record);
  Live = true;
  LineBreak.assign(lineBreak);
  PendingBreaks = BreakCount = Deferred = 0;
  QuoteDepth = IndentDepth = CodeDepth = TableDepth = 0;
  QuoteFlattened = ListFlattened = false;
  Controls = Replaced = 0;
  CodeSpace.clear();
  LinkTarget.clear();
  LinkIsMedia = AfterLink = false;
  TextEnd = 0;
  OpenedWraps = 0;
  CodeTextDepth = 0;
  Wrap = TWrap::None;
  ImageWrapDepth = 0;
  Held.clear();
  HoleList.clear();
  DeferredSlot = 0;
  PendingMarks.clear();
  OpenMarkCount = 0;
  EdgeSpace.clear();
  MarkEnd = Visible = 0;
  CellFresh = Indenting = HeldBracket = false;
  NamedMarks = 0;
}

void TOutput::DeferTarget(std::uint32_t slot) {
  if (!LinkTarget.empty() && !LinkIsMedia) DeferredSlot = slot + 1;
}

std::size_t TOutput::Finish() {
  Deferred = 0;
  if (HeldBracket) {
    HeldBracket = false;
    Append("[", 1);
  }
  CodeSpace.clear();
  Held.clear();
  EdgeSpace.clear();
  PendingMarks.clear();
  OpenMarkCount = 0;
  while (Buffer.size > 0 && Buffer.bp[Buffer.size - 1] <= 0x20)
    --Buffer.size;
  return Buffer.size;
}

void TOutput::Abandon() {
  if (Live) tidyBufFree(&Buffer);
  Live = false;
}

void TOutput::Reserve(std::size_t n) {
  MakeRoom(Buffer, n);
}

std::size_t TOutput::Count() const {
  return Buffer.size + Held.size() + CodeSpace.size() + EdgeSpace.size() + HeldBracket +
         Deferred * LineBreak.size();
}

void TOutput::Append(const char* p, std::size_t n) {
  if (!n) return;
  if (HeldBracket) {
    HeldBracket = false;
    Append("[", 1);
  }
  // MakeRoom leaves room for n bytes and the terminating zero that Tidy's
  // own appending keeps after them.
  MakeRoom(Buffer, n);
  std::memcpy(Buffer.bp + Buffer.size, p, n);
  Buffer.size += static_cast<uint>(n);
  Buffer.bp[Buffer.size] = 0;
}

void TOutput::Flush() {
  if (Deferred == 0) return;
  // White space held at the end of a line ends it; a forced line break
  // there is kept, as it would have been written. What was held at the
  // start of the next line goes on that line, after the breaks.
  if (!EdgeOnNewLine) {
    if (EdgeSpace.find('\\') != std::string::npos) Append(EdgeSpace.data(), EdgeSpace.size());
    EdgeSpace.clear();
  }
  for (; Deferred > 0; --Deferred)
    Append(LineBreak.data(), LineBreak.size());
  if (QuoteDepth > 0 && CodeDepth == 0) {
    const std::uint32_t levels = QuoteLevels();
    MakeRoom(Buffer, levels + 1);
    for (std::uint32_t i = 0; i < levels; ++i)
      tidyBufPutByte(&Buffer, '>');
    tidyBufPutByte(&Buffer, ' ');
    BreakCount = 0;
  }
}

namespace {

// The length of the valid UTF-8 character at p (which holds a byte above
// 0x7F), or, negated, of the longest start of one there, at least 1: a byte
// sequence that no character continues becomes one U+FFFD, as browsers
// decode it.
std::ptrdiff_t Utf8Length(const byte* p, const byte* end) {
  const byte lead = *p;
  std::ptrdiff_t length = 0;
  byte low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;  // overlong
    if (lead == 0xED) high = 0x9F; // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;  // overlong
    if (lead == 0xF4) high = 0x8F; // above U+10FFFF
  } else {
    return -1;
  }
  for (std::ptrdiff_t i = 1; i < length; ++i) {
    if (p + i >= end) return -i;
    const byte b = p[i];
    if (b < low || b > high) return -i;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

} // namespace

void TOutput::Emit(const char* p, std::size_t n) {
  if (!n) return;
  Flush();
  // Two spaces or a tab at the start of a line would make DokuWiki show it
  // as preformatted text: only a list item's indentation starts a line so.
  if (!Indenting && CodeDepth == 0 && (Buffer.size == 0 || Buffer.bp[Buffer.size - 1] == '\n')) {
    while (n > 0 && (*p == ' ' || *p == '\t')) {
      ++p;
      --n;
    }
    if (n == 0) return;
  }
  if (AfterLink) {
    AfterLink = false;
    // A ']' right after "]]" would be read into the link: it is protected
    // itself, which reads as the bracket it is.
    if (*p == ']') {
      Append("%%]%%", 5);
      if (--n == 0) return;
      ++p;
    }
  }
  const char* from = p;
  const char* const end = p + n;
  const char* q = p;
  while (q < end) {
    // Eight bytes at a time while all of them are printable ASCII.
    if (end - q >= 8) {
      std::uint64_t word;
      std::memcpy(&word, q, 8);
      constexpr std::uint64_t kOnes = 0x0101010101010101, kHigh = 0x8080808080808080;
      const std::uint64_t del = word ^ (0x7F * kOnes);
      if ((((word - 0x20 * kOnes) | (del - kOnes) | word) & kHigh) == 0) {
        q += 8;
        continue;
      }
    }
    const byte c = static_cast<byte>(*q);
    if (c < 0x80) {
      if (kClasses.Control[c] || c == 0x7F) {
        Append(from, static_cast<std::size_t>(q - from));
        from = q + 1;
        ++Controls;
      }
      ++q;
      continue;
    }
    const std::ptrdiff_t length =
        Utf8Length(reinterpret_cast<const byte*>(q), reinterpret_cast<const byte*>(end));
    if (length < 0) {
      Append(from, static_cast<std::size_t>(q - from));
      Append("\xEF\xBF\xBD", 3);
      q -= length;
      from = q;
      ++Replaced;
    } else if (c == 0xC2 && static_cast<byte>(q[1]) < 0xA0) {
      // A C1 control character, U+0080 to U+009F.
      Append(from, static_cast<std::size_t>(q - from));
      q += 2;
      from = q;
      ++Controls;
    } else {
      q += length;
    }
  }
  Append(from, static_cast<std::size_t>(end - from));
}

void TOutput::OpenPendingWrap(const char*& p, std::size_t& n) {
  std::size_t blank = 0;
  while (blank < n && static_cast<byte>(p[blank]) <= 0x20)
    ++blank;
  Held.append(p, blank);
  if (blank == n) {
    n = 0;
    return;
  }
  Wrap = TWrap::Open;
  ++OpenedWraps;
  if (LinkIsMedia) {
    Emit("{{", 2);
    WriteTarget(LinkTarget, false);
    // An image's media link shows the image unless told otherwise.
    if (IsImageName(LinkTarget)) Emit("?linkonly", 9);
  } else {
    Flush();
    if (HeldBracket) {
      HeldBracket = false;
      Append("%%[%%", 5);
    } else if (Buffer.size > 0 && Buffer.bp[Buffer.size - 1] == '[') {
      Append("%%%%", 4);
    }
    Emit("[[", 2);
    if (DeferredSlot > 0)
      HoleList.push_back({Buffer.size, DeferredSlot - 1});
    else
      WriteTarget(LinkTarget, LinkIsUrl);
  }
  Emit("|", 1);
  Emit(Held.data(), Held.size());
  Held.clear();
  p += blank;
  n -= blank;
}

void TOutput::PutRepeated(char c, std::int32_t count) {
  if (count <= 0) return;
  Scratch.assign(static_cast<std::size_t>(count), c);
  Write(TContext::Markup, Scratch);
}

void TOutput::SpaceOnce(char c) {
  char last;
  if (HeldBracket)
    last = '[';
  else if (!EdgeSpace.empty())
    last = EdgeSpace.back();
  else if (!Held.empty())
    last = Held.back();
  else if (!CodeSpace.empty())
    last = CodeSpace.back();
  else if (Deferred > 0)
    last = QuoteDepth > 0 && CodeDepth == 0 ? ' ' : '\n';
  else if (Buffer.size > 0)
    last = static_cast<char>(Buffer.bp[Buffer.size - 1]);
  else
    return;
  if (last != c) Write(TContext::Markup, std::string_view(&c, 1));
}

void TOutput::NeedBreaks(std::uint32_t n) {
  if (Wrap != TWrap::None && ImageWrapDepth == 0) CloseLinkWrap();
  // A line that held nothing but white space ends unwritten.
  if (EdgeOnNewLine) EdgeSpace.clear();
  if (Count() != 0) {
    while (PendingBreaks < n && BreakCount < 2 && Deferred < 2) {
      ++Deferred;
      ++BreakCount;
      ++PendingBreaks;
    }
  } else if (PendingBreaks < n) {
    PendingBreaks = n;
  }
}

void TOutput::StartQuoteLine() {
  if (Deferred > 0) {
    Flush();
    return;
  }
  PutRepeated('>', static_cast<std::int32_t>(QuoteLevels()));
  Put(' ');
}

std::uint32_t TOutput::QuoteLevels() {
  if (QuoteDepth <= kMaxQuoteLevels) return QuoteDepth;
  QuoteFlattened = true;
  return kMaxQuoteLevels;
}

void TOutput::StartItem(char bullet) {
  NeedBreaks(1);
  // The line before ends with what it held; the item's line starts with
  // its indentation, which no pair's edge may take.
  Flush();
  EdgeSpace.clear();
  if (IndentDepth > kMaxListLevels) ListFlattened = true;
  Scratch.assign(static_cast<std::size_t>(2 * std::min(IndentDepth, kMaxListLevels)), ' ');
  if (bullet) Scratch += bullet;
  Scratch += ' ';
  Indenting = true;
  Emit(Scratch.data(), Scratch.size());
  Indenting = false;
  BreakCount = 0;
  ResetBreaks();
}

void TOutput::OpenMark(std::string_view open) {
  PendingMarks.push_back(open);
  if (!open.empty()) ++NamedMarks;
}

void TOutput::CloseMark(std::string_view close) {
  if (!close.empty()) --NamedMarks;
  if (!PendingMarks.empty()) {
    PendingMarks.pop_back();
    return;
  }
  if (OpenMarkCount == 0) return;
  --OpenMarkCount;
  if (close.empty()) return;
  // A marker ends a link's wrap: DokuWiki reads no formatting in a title.
  if (Wrap != TWrap::None && ImageWrapDepth == 0) CloseLinkWrap();
  const byte c = static_cast<byte>(close[0]);
  if (Buffer.size > 0 && Buffer.size == TextEnd && kClasses.Run[c] &&
      Buffer.bp[Buffer.size - 1] == c)
    Append("%%%%", 4);
  // Written at once, without the breaks asked for since: the marker ends
  // the line its pair began on.
  Append(close.data(), close.size());
  MarkEnd = Buffer.size;
}

void TOutput::EmitMarker(std::string_view marker) {
  if (marker.empty()) return;
  const byte c = static_cast<byte>(marker[0]);
  if (Buffer.size > 0 && Buffer.size == TextEnd && kClasses.Run[c] &&
      Buffer.bp[Buffer.size - 1] == c)
    Append("%%%%", 4);
  Emit(marker.data(), marker.size());
  MarkEnd = Buffer.size;
}

void TOutput::ReleaseEdge() {
  // Markers opening inside a link go outside its wrap; its text goes on in
  // a wrap of its own after them.
  const bool parts = Wrap != TWrap::None && ImageWrapDepth == 0 &&
                     std::any_of(PendingMarks.begin(), PendingMarks.end(),
                                 [](std::string_view m) { return !m.empty(); });
  if (parts) CloseLinkWrap();
  Flush();
  if (!EdgeSpace.empty()) {
    // A space already written makes another one before the marker redundant.
    std::size_t from = 0;
    if (Buffer.size > 0 && Buffer.bp[Buffer.size - 1] == ' ')
      while (from < EdgeSpace.size() && EdgeSpace[from] == ' ')
        ++from;
    Emit(EdgeSpace.data() + from, EdgeSpace.size() - from);
    EdgeSpace.clear();
  }
  for (const std::string_view marker : PendingMarks) {
    EmitMarker(marker);
    ++OpenMarkCount;
  }
  PendingMarks.clear();
  if (parts) OpenLinkWrap();
}

void TOutput::Visited(const char* p, std::size_t n) {
  std::size_t i = 0;
  while (i < n && static_cast<byte>(p[i]) <= 0x20)
    ++i;
  if (i == n) return;
  ++Visible;
  CellFresh = false;
  const byte c = static_cast<byte>(p[0]);
  if (i == 0 && Buffer.size > 0 && Buffer.size == MarkEnd && Deferred == 0 && kClasses.Run[c] &&
      Buffer.bp[Buffer.size - 1] == c)
    Append("%%%%", 4);
}

void TOutput::MarkedPiece(const char* p, std::size_t n) {
  const std::size_t lead = LeadingEdge(p, n);
  HoldEdge(p, lead);
  if (lead == n) return;
  p += lead;
  n -= lead;
  ReleaseEdge();
  if (Wrap == TWrap::Pending) OpenPendingWrap(p, n);
  const std::size_t trail = OpenMarkCount > 0 ? TrailingEdge(p, n) : 0;
  Visited(p, n - trail);
  Emit(p, n - trail);
  HoldEdge(p + n - trail, trail);
}

void TOutput::HoldEdge(const char* p, std::size_t n) {
  if (n == 0) return;
  if (EdgeSpace.empty())
    EdgeOnNewLine = Deferred > 0 || Buffer.size == 0 || Buffer.bp[Buffer.size - 1] == '\n';
  EdgeSpace.append(p, n);
}

void TOutput::ForcedBreak() {
  if (TableDepth > 0 && CellFresh) return;
  if (Marking() || TableDepth > 0) {
    HoldEdge("\\\\ ", 3);
    return;
  }
  Write(TContext::Markup, "\\\\ ");
}

void TOutput::EndCell() {
  CellFresh = false;
  std::size_t w = 0;
  for (const char c : EdgeSpace)
    if (c != '\\') EdgeSpace[w++] = c;
  EdgeSpace.resize(w);
}

void TOutput::DropTrailingCodeSpace() {
  CodeSpace.clear();
  Deferred = 0;
}

void TOutput::SetLinkTarget(std::string target, bool isUrl, bool media) {
  CloseLinkWrap();
  LinkTarget = std::move(target);
  LinkIsUrl = isUrl;
  LinkIsMedia = media;
  DeferredSlot = 0;
}

void TOutput::ClearLinkTarget() {
  CloseLinkWrap();
  LinkTarget.clear();
  DeferredSlot = 0;
}

// An open wrap goes on: the texts of one link, whatever elements part them,
// are one link's title.
void TOutput::OpenLinkWrap() {
  if (!LinkTarget.empty() && Wrap == TWrap::None) Wrap = TWrap::Pending;
}

void TOutput::BeginWrappedImage() {
  CloseLinkWrap();
  OpenLinkWrap();
  ++ImageWrapDepth;
}

void TOutput::EndWrappedImage() {
  --ImageWrapDepth;
  CloseLinkWrap();
}

void TOutput::CloseLinkWrap() {
  const TWrap was = Wrap;
  Wrap = TWrap::None;
  if (was == TWrap::Open) {
    Emit(LinkIsMedia ? "}}" : "]]", 2);
    AfterLink = !LinkIsMedia;
  } else if (was == TWrap::Pending && !Held.empty()) {
    // Only white space was written: it stays, without a link around it,
    // which would show the target's name instead. Not through Scratch: a
    // text being written may stand there (an image title's does).
    std::string held;
    held.swap(Held);
    Emit(held.data(), held.size());
  }
}

void TOutput::Write(TContext context, std::string_view bytes) {
  if (bytes.empty()) return;
  // Only a link's text goes on in its wrap: markers, breaks and other markup
  // end it (an image in a link has a wrap of its own).
  if (Wrap != TWrap::None && context != TContext::LinkTitle && ImageWrapDepth == 0) CloseLinkWrap();
  switch (context) {
  case TContext::Text: {
    const auto* text = reinterpret_cast<const byte*>(bytes.data());
    const std::size_t k = bytes.size();
    // White space alone (a no-break space between blocks, in an empty
    // division) at the start of a line is held: it shows only if something
    // visible follows on the line, and writes no line of blanks.
    if (Wrap == TWrap::None && !HeldBracket && CodeTextDepth == 0 &&
        (Deferred > 0 || Buffer.size == 0 || Buffer.bp[Buffer.size - 1] == '\n') &&
        LeadingEdge(bytes.data(), k) == k) {
      HoldEdge(bytes.data(), bytes.size());
      return;
    }
    BreakCount = 0;
    // Most texts hold no byte that a protection rule or a match of the
    // pattern could start with; both passes would then copy them unchanged.
    std::size_t last = k;
    while (last > 0 && (text[last - 1] == ' ' || text[last - 1] == '\t'))
      --last;
    bool plain =
        !kClasses.FirstByte[text[0]] && text[0] != '>' && !(last > 0 && text[last - 1] == '=');
    bool typography = false;
    for (std::size_t i = 0; plain && i < k; ++i) {
      plain = !kClasses.Inner[text[i]];
      typography = typography || kClasses.Typography[text[i]];
    }
    if (plain && typography) plain = !HasWordTypography(text, k);
    // Two texts written one after the other ("[" and "[" of separate
    // elements) would make a run that neither holds: "[[" opens a link that
    // swallows what follows, "**" bold. An empty nowiki parts them.
    if (TextEnd > 0 && Buffer.size == TextEnd && Deferred == 0 && Wrap != TWrap::Pending &&
        EdgeSpace.empty() && PendingMarks.empty() &&
        kClasses.Run[static_cast<byte>(Buffer.bp[TextEnd - 1])] && kClasses.Run[text[0]])
      Emit("%%%%", 4);
    if (HeldBracket && Deferred == 0 && kClasses.Run[text[0]]) {
      HeldBracket = false;
      Append("[%%%%", 5);
    }
    // A '[' that ends the text is held: right before a link it is
    // protected itself ("%%[%%[[...]]"), anywhere else written as it is.
    std::size_t keep = k;
    if (k > 0 && text[k - 1] == '[' && (k == 1 || text[k - 2] != '[') && TableDepth == 0 &&
        CodeTextDepth == 0 && EdgeSpace.empty() && Wrap == TWrap::None)
      --keep;
    if (keep == 0) {
    } else if (plain && CodeTextDepth == 0)
      Piece(bytes.data(), keep);
    else
      WriteTextSegments(text, keep);
    if (keep < k) {
      // White space held before the bracket is no pair's edge any more.
      Flush();
      if (!EdgeSpace.empty()) {
        Emit(EdgeSpace.data(), EdgeSpace.size());
        EdgeSpace.clear();
      }
      HeldBracket = true;
    }
    TextEnd = Buffer.size;
    return;
  }
  case TContext::Plain:
    BreakCount = 0;
    Piece(bytes.data(), bytes.size());
    return;
  case TContext::Code:
    BreakCount = 0;
    WriteCodeBytes(bytes);
    return;
  case TContext::Markup:
    if (HasVisible(bytes)) BreakCount = 0;
    Piece(bytes.data(), bytes.size());
    return;
  case TContext::WikiId:
  case TContext::Url:
    BreakCount = 0;
    WriteTarget(bytes, context == TContext::Url);
    return;
  case TContext::LinkTitle:
    BreakCount = 0;
    if (!LinkIsMedia) {
      WriteLinkTitle(bytes);
      return;
    }
    [[fallthrough]];
  case TContext::ImageTitle: {
    BreakCount = 0;
    // Inside a link DokuWiki takes "{{...}}" for an image only when no '}'
    // stands between the braces: there '}' becomes its full-width twin.
    const bool inLink = Wrap != TWrap::None && !LinkIsMedia;
    std::string& out = Scratch;
    out.clear();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (c == '}' && inLink) {
        out += kFullWidthBrace;
        continue;
      }
      out += c == '\n' || c == '\r' || c == '\t' ? ' ' : c;
      // A '}' before another or at the end would close the image early.
      if ((c == '}' && (i + 1 == bytes.size() || bytes[i + 1] == '}')) ||
          (c == ']' && i + 1 < bytes.size() && bytes[i + 1] == ']'))
        out += kInvisibleSpace;
    }
    Piece(out.data(), out.size());
    return;
  }
  }
}

// The one form of a link target or image source: ids and addresses differ in
// how the bytes that would end "[[...|" or "{{...}}" are kept.
void TOutput::WriteTarget(std::string_view target, bool isUrl) {
  std::string out;
  out.reserve(target.size());
  for (const char c : target) {
    const byte b = static_cast<byte>(c);
    const bool breaking = c == '|' || c == '[' || c == ']' || c == '{' || c == '}';
    if (isUrl) {
      if (c == '\n' || c == '\r' || c == '\t') continue;
      if (breaking || c == ' ' || c == '"' || c == '<' || c == '>' || b < 0x20) {
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
        continue;
      }
    } else if (breaking || b <= 0x20) {
      // A leading space would also read as alignment in "{{ ...}}".
      out += '_';
      continue;
    }
    out += c;
  }
  Piece(out.data(), out.size());
}

// A run of two or more ']' would end the link. The run is written and the
// link closed right after it: DokuWiki takes a "]]" that is followed by ']'
// as part of the title, so the title keeps the run. What follows goes into a
// link piece of its own.
void TOutput::WriteLinkTitle(std::string_view bytes) {
  // A title that is "{{...}}" as a whole would be read as an image: an
  // invisible U+200B parts the opening braces of a piece.
  auto piece = [this](std::string_view part) {
    if (Wrap == TWrap::Pending && Held.empty() && part.substr(0, 2) == "{{") {
      Piece("{", 1);
      Emit(kInvisibleSpace.data(), kInvisibleSpace.size());
      part.remove_prefix(1);
    }
    Piece(part.data(), part.size());
  };
  std::size_t from = 0;
  for (std::size_t at = bytes.find("]]"); at != std::string_view::npos;
       at = bytes.find("]]", from)) {
    std::size_t end = at;
    while (end < bytes.size() && bytes[end] == ']')
      ++end;
    piece(bytes.substr(from, end - from));
    if (Wrap == TWrap::Open) {
      Emit("]]", 2);
      Wrap = TWrap::Pending;
    }
    from = end;
  }
  piece(bytes.substr(from));
}

void TOutput::WriteCodeBytes(std::string_view bytes) {
  std::string& out = Scratch;
  out.assign(CodeSpace);
  CodeSpace.clear();
  std::size_t from = 0;
  for (std::size_t lf = bytes.find('\n'); lf != std::string_view::npos;
       lf = bytes.find('\n', from)) {
    out.append(bytes.data() + from, lf - from);
    out += LineBreak;
    from = lf + 1;
  }
  out.append(bytes.data() + from, bytes.size() - from);
  std::size_t keep = out.size();
  while (keep > 0 && static_cast<byte>(out[keep - 1]) <= 0x20)
    --keep;
  CodeSpace.assign(out, keep, std::string::npos);
  Emit(out.data(), keep);
}

std::size_t TOutput::WholeStretchAt(const byte* text, std::size_t k, std::size_t at) const {
  std::size_t end = at;
  while (end < k && text[end] > 0x20)
    ++end;
  const byte* p = text + at;
  const std::size_t n = end - at;
  for (std::size_t i = 0; i + 1 < n; ++i)
    if (p[i] == '%' && p[i + 1] == '%') return 0;
  if (CodeTextDepth > 0 ? HasTypography(p, n) : HasWordTypography(p, n)) return n;
  // DokuWiki links an address in text by itself, reading '%', '[' and ']'
  // as part of it: protection inside it would be cut in two.
  // An address that ends the text inside a pair would take the closing
  // marker's bytes ("//" of an italic) into itself.
  if (const std::size_t url = AutoLinkStart(p, n);
      url < n && (NeedsProtection(p, n, url, TableDepth > 0) || (NamedMarks > 0 && end == k)))
    return n;
  return 0;
}

// Text in which DokuWiki would link an address or change typography: such
// non-blank stretches go between "%%" whole, the rest is protected as usual.
void TOutput::WriteTextSegments(const byte* text, std::size_t k) {
  if (CodeTextDepth == 0 && !MayHoldAutoLink(text, k) && !HasWordTypography(text, k)) {
    WriteProtected(text, k);
    return;
  }
  std::size_t done = 0;
  for (std::size_t at = 0; at < k;) {
    if (text[at] <= 0x20) {
      ++at;
      continue;
    }
    const std::size_t whole = WholeStretchAt(text, k, at);
    if (whole == 0) {
      while (at < k && text[at] > 0x20)
        ++at;
      continue;
    }
    if (at > done) WriteProtected(text + done, at - done);
    Piece("%%", 2);
    Piece(reinterpret_cast<const char*>(text) + at, whole);
    Piece("%%", 2);
    at = done = at + whole;
  }
  if (done < k) WriteProtected(text + done, k - done);
}

// Runs of '%' go into <nowiki>; literal nowiki tags and, inside a table, runs
// of cell separators go between "%%"; then the pattern pass.
void TOutput::WriteProtected(const byte* text, std::size_t k) {
  std::string& out = ProtectedText;
  out.clear();
  auto copy = [&out](const byte* from, std::size_t count) {
    out.append(reinterpret_cast<const char*>(from), count);
  };
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
      if (TableDepth > 0)
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
  WritePatternPass(reinterpret_cast<const byte*>(out.data()), out.size());
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
// position).
void TOutput::WritePatternPass(const byte* p, std::size_t length) {
  const char* const chars = reinterpret_cast<const char*>(p);
  std::size_t pos = 0;
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
                               MatchData, MatchContext);
    if (rc == PCRE2_ERROR_NOMATCH) {
      ++at;
      continue;
    }
    PCRE2_SIZE s = at, e = at;
    if (rc > 0) {
      const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(MatchData);
      s = ov[0];
      e = ov[1];
    } else if ((rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
                rc == PCRE2_ERROR_HEAPLIMIT) &&
               kClasses.Run[p[at]]) {
      // PCRE2 gives up (match limit) on a run of the third alternative
      // that is some hundred thousand bytes long. No other alternative can
      // start with such a byte, and that one takes the whole run: its
      // look-behind concerns only the first '/', which CanStartMatch and
      // PCRE2, failing rather than finding no match, have let through.
      while (e < length && kClasses.Run[p[e]])
        ++e;
    } else {
      PCRE2_UCHAR message[256];
      pcre2_get_error_message(rc, message, sizeof message);
      throw std::runtime_error(std::string("tamsel: escaping failed: ") +
                               reinterpret_cast<const char*>(message));
    }
    Piece(chars + pos, s - pos);
    Piece("%%", 2);
    Piece(chars + s, e - s);
    Piece("%%", 2);
    pos = at = e;
  }
  Piece(chars + pos, length - pos);
}

} // namespace detail
} // namespace tamsel
