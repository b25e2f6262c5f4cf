// SPDX-License-Identifier: GPL-2.0-or-later
// One fuzz input, run through the converter the way the callers do.
//
// The first byte chooses the options: bits 0-2 the three kinds of link, bits 3-4
// colour and size of <font>, bits 5-7 the entry. Entry 0 is ConvertWide, with the remaining
// bytes read as UTF-8 and every byte that is not part of a well-formed
// sequence taken as an unpaired low surrogate (0xDC00 + byte), so that
// structured HTML and broken UTF-16 both reach Tidy. Entry 1 is ConvertAnsi
// with UTF-8, as the window's "UTF-8" box does; entries 2 to 7 take one more
// byte, which picks any of Tidy's encodings.
//
// Shared by the fuzz target and the regression cases of tests/robustness, so
// that a saved crash input replays exactly as it was found.
#pragma once

#include "Tamsel.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tamsel::fuzz {

inline constexpr int kTidyEncodings = 14; // raw (0) to shiftjis (13)

inline std::u16string DecodeLenient(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  auto cont = [&](std::size_t at) {
    return at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80;
  };
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0;
    std::size_t len = 0;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if (c >= 0xC2 && c < 0xE0 && cont(i + 1)) {
      cp = (c & 0x1Fu) << 6 | (s[i + 1] & 0x3Fu);
      len = 2;
    } else if (c >= 0xE0 && c < 0xF0 && cont(i + 1) && cont(i + 2)) {
      // Encoded surrogates (ED A0 80 and up) are let through on purpose.
      cp = (c & 0x0Fu) << 12 | (s[i + 1] & 0x3Fu) << 6 | (s[i + 2] & 0x3Fu);
      len = cp >= 0x800 ? 3 : 0;
    } else if (c >= 0xF0 && c < 0xF5 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      cp = (c & 0x07u) << 18 | (s[i + 1] & 0x3Fu) << 12 | (s[i + 2] & 0x3Fu) << 6 |
           (s[i + 3] & 0x3Fu);
      len = cp >= 0x10000 && cp <= 0x10FFFF ? 4 : 0;
    }
    if (len == 0) {
      out += static_cast<char16_t>(0xDC00 + c);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

// Whether text could be a DokuWiki page: valid UTF-8 (no surrogates, no
// overlong forms) without control characters other than tab, LF and CR (no
// C0, DEL or C1).
inline bool IsPageText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
      if (c == 0xC2) low = 0xA0; // C1 controls
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char b = static_cast<unsigned char>(text[i + k]);
      if (b < low || b > high) return false;
      low = 0x80;
      high = 0xBF;
    }
    i += length;
  }
  return true;
}

// Converts twice on one converter; returns false when the two results differ,
// or a result is no page text (IsPageText), which no input may cause: every
// run is independent of the one before. The
// converter's refusals (std::length_error for sizes, std::runtime_error when
// Tidy gets stuck) count as results; any other exception escapes.
inline bool RunOne(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return true;
  const std::uint8_t head = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  TTamsel converter;
  converter.Options.LocalLinks = head & 1;
  converter.Options.MailLinks = head & 2;
  converter.Options.ExternalLinks = head & 4;
  converter.Options.FontColor = head & 8;
  converter.Options.FontSize = head & 16;
  const int entry = head >> 5;
  auto refused = [](auto&& convert) -> std::string {
    try {
      return convert();
    } catch (const std::length_error& e) {
      return std::string("\0length: ", 9) + e.what();
    } catch (const std::runtime_error& e) {
      return std::string("\0runtime: ", 10) + e.what();
    }
  };
  std::string first, second;
  if (entry == 0) {
    const std::u16string wide = DecodeLenient(rest);
    first = refused([&] { return converter.ConvertWide(wide); });
    second = refused([&] { return converter.ConvertWide(wide); });
  } else {
    int encoding = kEncUtf8;
    if (entry >= 2 && !rest.empty()) {
      encoding = static_cast<unsigned char>(rest[0]) % kTidyEncodings;
      rest.remove_prefix(1);
    }
    first = refused([&] { return converter.ConvertAnsi(rest, encoding); });
    second = refused([&] { return converter.ConvertAnsi(rest, encoding); });
  }
  const bool refusal = !first.empty() && first[0] == '\0';
  return first == second && (refusal || IsPageText(first));
}

} // namespace tamsel::fuzz
