// SPDX-License-Identifier: GPL-2.0-or-later
// UTF-8 as PCRE accepts it and browsers decode it: no overlong forms, no
// surrogates, nothing above U+10FFFF, no truncated sequence. Header only, for
// the converter's hot path and for the window and the command line, which
// use it without the rest of the converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tamsel {

// The length of the valid UTF-8 character at p (which holds a byte above
// 0x7F), or, negated, of the longest start of one there, at least 1: a byte
// sequence that no character continues becomes one U+FFFD, as browsers
// decode it.
inline std::ptrdiff_t Utf8Length(const unsigned char* p, const unsigned char* end) {
  const unsigned char lead = *p;
  std::ptrdiff_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
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
    const unsigned char b = p[i];
    if (b < low || b > high) return -i;
    low = 0x80;
    high = 0xBF;
  }
  return length;
}

// Decodes one UTF-8 character at text[pos]; advances pos. Returns U+FFFD and
// advances by one byte for a byte that starts no valid character.
inline char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  if (*p < 0x80) {
    ++pos;
    return *p;
  }
  const std::ptrdiff_t length =
      Utf8Length(p, reinterpret_cast<const unsigned char*>(text.data()) + text.size());
  if (length < 0) {
    ++pos;
    return 0xFFFD;
  }
  char32_t c = *p & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
  for (std::ptrdiff_t i = 1; i < length; ++i)
    c = (c << 6) | (p[i] & 0x3F);
  pos += static_cast<std::size_t>(length);
  return c;
}

inline void AppendUtf8(std::string& out, char32_t c) {
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

inline bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    // Runs of ASCII, most of a page, eight bytes at a time.
    if (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080u) == 0) {
        p += 8;
        continue;
      }
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::ptrdiff_t length = Utf8Length(p, end);
    if (length < 0) return false;
    p += length;
  }
  return true;
}

} // namespace tamsel
