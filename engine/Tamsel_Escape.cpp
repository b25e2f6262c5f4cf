// SPDX-License-Identifier: GPL-2.0-or-later
// Escaping per context. Document text takes three passes: stretches that
// DokuWiki would link or change by its typography go between "%%" whole;
// then the protection rules (nowiki tags, '%' runs, cell separators, syntax
// the pattern does not cover); then the pattern, for the markup it names.
#include "Tamsel_Escape.h"

#include "Tamsel_Ascii.h"

#include <cstring>
#include <stdexcept>

namespace tamsel::detail {

namespace {

using byte = unsigned char;

std::string_view View(const byte* p, std::size_t n) {
  return {reinterpret_cast<const char*>(p), n};
}

constexpr char kHex[] = "0123456789ABCDEF";
// Zero width space: parts "}}" and "]]" in a title without showing.
constexpr std::string_view kInvisibleSpace = "\xE2\x80\x8B";
// U+FF5D, the full-width '}'.
constexpr std::string_view kFullWidthBrace = "\xEF\xBD\x9D";

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
    for (const std::string_view tag : {"<code", "<file", "<html>", "<php>"}) {
      const std::size_t len = tag.size();
      if (!StartsWithNoCase(View(p, m), tag)) continue;
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
    if (StartsWithNoCase(View(p, m), "~~notoc~~")) return 9;
    if (StartsWithNoCase(View(p, m), "~~nocache~~")) return 11;
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
// multiplication sign of "640x480". With words, only what changes the
// characters of a word, an option, an arrow or a size in ordinary text:
// "--" or "---" joined to a letter or digit ("--check", "a--b"), the arrows
// and guillemets ("->", "<=", ">>", ...), "(c)", "(r)", "(tm)" in lower case
// and "640x480"; a dash between spaces, "..." and quotation marks are prose,
// and stay typographic.
bool HasTypography(const byte* p, std::size_t n, bool words) {
  for (std::size_t i = 0; i < n; ++i) {
    const byte c = p[i];
    const byte next = i + 1 < n ? p[i + 1] : 0;
    switch (c) {
    case '"':
    case '\'':
      if (!words) return true;
      break;
    case '-': {
      if (next == '>' || (next == '-' && !words)) return true;
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
    case '.':
      if (!words && next == '.' && i + 2 < n && p[i + 2] == '.') return true;
      break;
    case '(': {
      const std::string_view rest = View(p + i, n - i);
      for (const std::string_view entity : {"(c)", "(r)", "(tm)"})
        if (words ? rest.starts_with(entity) : StartsWithNoCase(rest, entity)) return true;
      break;
    }
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

bool HasWordTypography(const byte* p, std::size_t n) {
  return HasTypography(p, n, true);
}

bool IsSchemeByte(byte c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// Where an address that DokuWiki links by itself begins in p[0, n): one of
// its schemes before "://", or "www." at the start; n when there is none.
std::size_t AutoLinkStart(const byte* p, std::size_t n) {
  if (StartsWithNoCase(View(p, n), "www.") || StartsWithNoCase(View(p, n), "ftp.")) return 0;
  for (std::size_t i = 0; i + 3 <= n; ++i) {
    if (p[i] != ':' || p[i + 1] != '/' || p[i + 2] != '/') continue;
    std::size_t from = i;
    while (from > 0 && IsSchemeByte(p[from - 1]))
      --from;
    for (const std::string_view scheme : kLinkedSchemes) {
      const std::size_t len = scheme.size();
      if (i - from >= len && EqualsNoCase(View(p + i - len, len), scheme)) return i - len;
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
        (StartsWithNoCase(View(dot - 3, 4), "www.") || StartsWithNoCase(View(dot - 3, 4), "ftp.")))
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
    if (i + 1 < n && kByteClasses.Run[c] && kByteClasses.Run[p[i + 1]] && p + i != slashes)
      return true;
  }
  return false;
}

// The non-blank run of text at text[at], protected whole when DokuWiki's
// auto-linking or typography would read into it; 0 when it is not.
std::size_t WholeStretchAt(const byte* text, std::size_t k, std::size_t at,
                           const TTextPlace& place) {
  std::size_t end = at;
  while (end < k && text[end] > 0x20)
    ++end;
  const byte* p = text + at;
  const std::size_t n = end - at;
  for (std::size_t i = 0; i + 1 < n; ++i)
    if (p[i] == '%' && p[i + 1] == '%') return 0;
  if (HasTypography(p, n, !place.InlineCode)) return n;
  // DokuWiki links an address in text by itself, reading '%', '[' and ']'
  // as part of it: protection inside it would be cut in two.
  // An address that ends the text inside a pair would take the closing
  // marker's bytes ("//" of an italic) into itself.
  if (const std::size_t url = AutoLinkStart(p, n);
      url < n && (NeedsProtection(p, n, url, place.Table) || (place.InPair && end == k)))
    return n;
  return 0;
}

// Whether no pass would change the text: most texts hold no byte that a
// protection rule or a match of the pattern could start with.
bool IsPlain(const byte* text, std::size_t k) {
  std::size_t last = k;
  while (last > 0 && (text[last - 1] == ' ' || text[last - 1] == '\t'))
    --last;
  bool plain =
      !kByteClasses.FirstByte[text[0]] && text[0] != '>' && !(last > 0 && text[last - 1] == '=');
  bool typography = false;
  for (std::size_t i = 0; plain && i < k; ++i) {
    plain = !kByteClasses.Inner[text[i]];
    typography = typography || kByteClasses.Typography[text[i]];
  }
  return plain && !(typography && HasWordTypography(text, k));
}

void Put(TPieceSink& sink, std::string_view bytes) {
  if (!bytes.empty()) sink.Piece(bytes.data(), bytes.size());
}

} // namespace

std::string TTextEscaper::Pattern() {
  // The '/' of "//" right after a scheme that DokuWiki links is no markup
  // when the address goes on in the same text: the link takes it. Anywhere
  // else, after "http://" at the end of a text too, "//" would open an italic.
  std::string pattern = "\\A(?: ?----+| ?==+|  \\*|  -|\\||\\^)|<(?:code|del|sub|sup)>|(?:(?:[";
  for (const char c : kRunBytes)
    if (c != '/') {
      pattern += '\\';
      pattern += c;
    }
  pattern += "]|(?:(?<!";
  for (const std::string_view scheme : kLinkedSchemes) {
    if (pattern.back() != '!') pattern += '|';
    pattern += "\\b";
    pattern += scheme;
    pattern += ':';
  }
  pattern += ")|(?!//[\\w/#~:.?+=&%@!\\-\\[\\]]))/){2,})+|\\\\\\\\(?= )";
  return pattern;
}

TTextEscaper::TTextEscaper() {
  const std::string pattern = Pattern();
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  EscapePattern =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), PCRE2_ZERO_TERMINATED,
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

TTextEscaper::~TTextEscaper() {
  pcre2_match_context_free(MatchContext);
  pcre2_match_data_free(MatchData);
  pcre2_code_free(EscapePattern);
}

// What each alternative needs in its first bytes: at the start of the text a
// byte with which the anchored alternative begins; anywhere "<c", "<d" or
// "<s" in any case for the tags, two bytes of the run in a row for the run,
// and two backslashes and a space for the line break.
bool TTextEscaper::CanStartMatch(const byte* p, std::size_t length, std::size_t at) {
  const byte c = p[at];
  if (at == 0 && (c == ' ' || c == '-' || c == '=' || c == '|' || c == '^')) return true;
  const std::size_t left = length - at;
  if (c == '<') {
    if (left < 2) return false;
    const byte next = static_cast<byte>(p[at + 1] | 0x20);
    return next == 'c' || next == 'd' || next == 's';
  }
  if (c == '\\') return left > 2 && p[at + 1] == '\\' && p[at + 2] == ' ';
  return kByteClasses.Run[c] && left > 1 && kByteClasses.Run[p[at + 1]];
}

void TTextEscaper::Escape(std::string_view text, const TTextPlace& place, TPieceSink& sink) {
  if (text.empty()) return;
  const auto* p = reinterpret_cast<const byte*>(text.data());
  // An address inside a pair needs the judging of stretches even when no
  // byte of it is markup: "www." starts one with letters and dots alone.
  if (!place.BracketHeld && !place.InlineCode && IsPlain(p, text.size()) &&
      !(place.InPair && MayHoldAutoLink(p, text.size())))
    sink.Piece(text.data(), text.size());
  else
    Segments(p, text.size(), place, sink);
}

// Text in which DokuWiki would link an address or change typography: such
// non-blank stretches go between "%%" whole, the rest is protected as usual.
void TTextEscaper::Segments(const byte* text, std::size_t k, const TTextPlace& place,
                            TPieceSink& sink) {
  if (!place.InlineCode && !MayHoldAutoLink(text, k) && !HasWordTypography(text, k)) {
    Protected(text, k, place.Table, sink);
    return;
  }
  std::size_t done = 0;
  for (std::size_t at = 0; at < k;) {
    if (text[at] <= 0x20) {
      ++at;
      continue;
    }
    const std::size_t whole = WholeStretchAt(text, k, at, place);
    if (whole == 0) {
      while (at < k && text[at] > 0x20)
        ++at;
      continue;
    }
    if (at > done) Protected(text + done, at - done, place.Table, sink);
    sink.Piece("%%", 2);
    sink.Piece(reinterpret_cast<const char*>(text) + at, whole);
    sink.Piece("%%", 2);
    at = done = at + whole;
  }
  if (done < k) Protected(text + done, k - done, place.Table, sink);
}

// Runs of '%' go into <nowiki>; literal nowiki tags and, inside a table, runs
// of cell separators go between "%%"; then the pattern pass.
void TTextEscaper::Protected(const byte* text, std::size_t k, bool table, TPieceSink& sink) {
  std::string& out = ProtectedText;
  out.clear();
  auto copy = [&out](const byte* from, std::size_t count) {
    out.append(reinterpret_cast<const char*>(from), count);
  };
  std::size_t r = 0, done = 0;
  while (r < k) {
    const byte c = text[r];
    if (!kByteClasses.Protect[c]) {
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
    } else if (c == '<' && StartsWithNoCase(View(text + r, m), "<nowiki>")) {
      end = r + 8;
    } else if (c == '<' && StartsWithNoCase(View(text + r, m), "</nowiki>")) {
      end = r + 9;
    } else if (c == '^' || c == '|') {
      if (table)
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
  PatternPass(reinterpret_cast<const byte*>(out.data()), out.size(), sink);
}

// Every stretch that DokuWiki would read as markup goes between "%%". The
// whole subject is matched with a start offset, never a copy of its tail, so
// that \A only holds at the true start and the look-behind sees earlier bytes.
//
// Searching from an offset returns the leftmost position at which the pattern
// matches. The pattern has no start-of-match optimisation (its anchored branch
// keeps PCRE2 from computing one), so such a search runs the whole pattern,
// look-behind included, at every byte. Instead the positions at which a match
// can start at all (the first byte, and bytes of MatchStart) are found here
// and tried one by one, anchored: the first that matches is the one the
// search would have found, with the same match, since the pattern at a fixed
// position does the same work either way (PCRE2's match limit counts per start
// position).
void TTextEscaper::PatternPass(const byte* p, std::size_t length, TPieceSink& sink) {
  const char* const chars = reinterpret_cast<const char*>(p);
  std::size_t pos = 0;
  std::size_t at = 0;
  while (at < length) {
    if (at > 0)
      while (at < length && !kByteClasses.MatchStart[p[at]])
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
               kByteClasses.Run[p[at]]) {
      // PCRE2 gives up (match limit) on a run of the third alternative
      // that is some hundred thousand bytes long. No other alternative can
      // start with such a byte, and that one takes the whole run: its
      // look-behind concerns only the first '/', which CanStartMatch and
      // PCRE2, failing rather than finding no match, have let through.
      while (e < length && kByteClasses.Run[p[e]])
        ++e;
    } else {
      PCRE2_UCHAR message[256];
      pcre2_get_error_message(rc, message, sizeof message);
      throw std::runtime_error(std::string("tamsel: escaping failed: ") +
                               reinterpret_cast<const char*>(message));
    }
    sink.Piece(chars + pos, s - pos);
    sink.Piece("%%", 2);
    sink.Piece(chars + s, e - s);
    sink.Piece("%%", 2);
    pos = at = e;
  }
  sink.Piece(chars + pos, length - pos);
}

void EscapeTarget(std::string_view target, bool isUrl, std::string& out) {
  out.reserve(out.size() + target.size());
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
}

void EscapeLinkTitle(std::string_view title, bool opensTitle, TPieceSink& sink) {
  auto part = [&sink](std::string_view bytes, bool opens) {
    if (opens && bytes.substr(0, 2) == "{{") {
      std::string parted = "{";
      parted += kInvisibleSpace;
      Put(sink, parted);
      bytes.remove_prefix(1);
    }
    Put(sink, bytes);
  };
  std::size_t from = 0;
  for (std::size_t at = title.find("]]"); at != std::string_view::npos;
       at = title.find("]]", from)) {
    std::size_t end = at;
    while (end < title.size() && title[end] == ']')
      ++end;
    part(title.substr(from, end - from), opensTitle);
    opensTitle = sink.EndLinkPiece();
    from = end;
  }
  part(title.substr(from), opensTitle);
}

void EscapeImageTitle(std::string_view title, bool inLink, std::string& out) {
  for (std::size_t i = 0; i < title.size(); ++i) {
    const char c = title[i];
    if (c == '}' && inLink) {
      out += kFullWidthBrace;
      continue;
    }
    out += c == '\n' || c == '\r' || c == '\t' ? ' ' : c;
    // A '}' before another or at the end would close the image early.
    if ((c == '}' && (i + 1 == title.size() || title[i + 1] == '}')) ||
        (c == ']' && i + 1 < title.size() && title[i + 1] == ']'))
      out += kInvisibleSpace;
  }
}

void EscapeCode(std::string_view code, std::string_view lineBreak, std::string& out) {
  std::size_t from = 0;
  for (std::size_t lf = code.find('\n'); lf != std::string_view::npos; lf = code.find('\n', from)) {
    out.append(code.data() + from, lf - from);
    out += lineBreak;
    from = lf + 1;
  }
  out.append(code.data() + from, code.size() - from);
}

void EscapeFontValue(std::string_view value, std::string& out) {
  for (const char c : value)
    if (c != ']' && c != '[' && static_cast<byte>(c) >= 0x20) out += c;
}

namespace {
// The digits of a size attribute that holds digits alone (trailing spaces
// allowed); empty for anything else.
std::string_view SizeDigits(std::string_view value) {
  std::size_t n = 0;
  while (n < value.size() && value[n] >= '0' && value[n] <= '9')
    ++n;
  for (std::size_t i = n; i < value.size(); ++i)
    if (value[i] != ' ') return {};
  return value.substr(0, n);
}
} // namespace

void EscapeImageSize(std::string_view width, std::string_view height, std::string& out) {
  const std::string_view w = SizeDigits(width);
  if (w.empty()) return;
  out += '?';
  out += w;
  if (const std::string_view h = SizeDigits(height); !h.empty()) {
    out += 'x';
    out += h;
  }
}

} // namespace tamsel::detail
