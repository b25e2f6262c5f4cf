#include "Cli_DokuId.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace tamsel::cli {

namespace {

struct TCodePointPair {
  char32_t From;
  char32_t To;
};
struct TCodePointText {
  char32_t From;
  const char* To;
};

#include "Cli_DokuIdTables.inc"

constexpr char kSeparator = '_';

char32_t LowerCase(char32_t c) {
  auto it = std::lower_bound(std::begin(kLowerCase), std::end(kLowerCase), c,
                             [](const TCodePointPair& p, char32_t v) { return p.From < v; });
  return it != std::end(kLowerCase) && it->From == c ? it->To : c;
}

const char* Deaccent(char32_t c) {
  auto it = std::lower_bound(std::begin(kLowerAccents), std::end(kLowerAccents), c,
                             [](const TCodePointText& p, char32_t v) { return p.From < v; });
  return it != std::end(kLowerAccents) && it->From == c ? it->To : nullptr;
}

bool IsSpecial(char32_t c) {
  return c <= 0x19 || c == '*' || std::binary_search(std::begin(kSpecials), std::end(kSpecials), c);
}

bool IsIdPunct(char c) {
  return c == ':' || c == '.' || c == '_' || c == '-';
}

// PHP's trim() with its default set of characters.
std::string_view TrimPhpSpace(std::string_view s) {
  auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0' || c == '\x0B';
  };
  while (!s.empty() && space(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && space(s.back()))
    s.remove_suffix(1);
  return s;
}

void AppendCleaned(std::string& out, char32_t c) {
  if (IsSpecial(c)) {
    out += kSeparator;
  } else if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    AppendUtf8(out, c);
  }
}

} // namespace

char32_t DecodeUtf8(std::string_view s, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length = 0;
  char32_t c = 0;
  char32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, min = 0x10000;
  }
  if (length == 0 || pos + length > s.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += length;
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    // Runs of ASCII, most of a page, eight bytes at a time.
    while (pos + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + pos, 8);
      if (word & 0x8080808080808080u) break;
      pos += 8;
    }
    if (pos >= text.size()) break;
    const std::size_t at = pos;
    if (DecodeUtf8(text, pos) == 0xFFFD && pos == at + 1) return false;
  }
  return true;
}

std::string CleanId(std::string_view raw) {
  if (!IsValidUtf8(raw)) return {};
  const std::string_view trimmed = TrimPhpSpace(raw);

  // Lower case, ';' and '/', accents and special characters all work on one
  // character at a time and none of them makes a character that an earlier
  // step would have changed, so one pass does them in DokuWiki's order.
  std::string mapped;
  mapped.reserve(trimmed.size());
  for (std::size_t pos = 0; pos < trimmed.size();) {
    char32_t c = LowerCase(DecodeUtf8(trimmed, pos));
    if (c == ';') c = ':';
    if (c == '/') c = kSeparator;
    if (const char* plain = Deaccent(c)) {
      for (const char* p = plain; *p; ++p)
        AppendCleaned(mapped, static_cast<unsigned char>(*p));
    } else {
      AppendCleaned(mapped, c);
    }
  }

  // Runs of separators and of colons shrink to one.
  std::string id;
  id.reserve(mapped.size());
  for (char c : mapped)
    if (!((c == kSeparator || c == ':') && !id.empty() && id.back() == c)) id += c;

  // No punctuation at either end.
  std::size_t first = 0;
  std::size_t last = id.size();
  while (first < last && IsIdPunct(id[first]))
    ++first;
  while (last > first && IsIdPunct(id[last - 1]))
    --last;
  id = id.substr(first, last - first);

  // No punctuation right after a colon: ":[:._-]+" becomes ":".
  std::string afterColon;
  afterColon.reserve(id.size());
  for (std::size_t i = 0; i < id.size(); ++i) {
    afterColon += id[i];
    if (id[i] == ':')
      while (i + 1 < id.size() && IsIdPunct(id[i + 1]))
        ++i;
  }

  // Nor right before one: "[:._-]+:" becomes ":". A run matches up to its
  // last colon; a run without a colon after its first character stays.
  std::string result;
  result.reserve(afterColon.size());
  for (std::size_t i = 0; i < afterColon.size();) {
    if (!IsIdPunct(afterColon[i])) {
      result += afterColon[i++];
      continue;
    }
    std::size_t end = i;
    std::size_t lastColon = std::string::npos;
    while (end < afterColon.size() && IsIdPunct(afterColon[end])) {
      if (afterColon[end] == ':' && end > i) lastColon = end;
      ++end;
    }
    if (lastColon != std::string::npos) {
      result += ':';
      result.append(afterColon, lastColon + 1, end - lastColon - 1);
    } else {
      result.append(afterColon, i, end - i);
    }
    i = end;
  }
  return result;
}

std::string SectionId(std::string_view title) {
  std::string cleaned;
  for (char c : CleanId(title))
    if (c != ':' && c != '.') cleaned += c;
  const std::size_t start = cleaned.find_first_not_of("0123456789_-");
  if (start != std::string::npos) return cleaned.substr(start);
  std::string digits = "section";
  for (char c : cleaned)
    if (c >= '0' && c <= '9') digits += c;
  return digits;
}

std::string EncodeFileName(std::string_view path) {
  const auto plain = [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
  };
  if (!path.empty() && std::all_of(path.begin(), path.end(), [&](char c) {
        return plain(static_cast<unsigned char>(c)) || c == '/' || c == '%';
      }))
    return std::string(path);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (plain(c) || c == '/') {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

} // namespace tamsel::cli
