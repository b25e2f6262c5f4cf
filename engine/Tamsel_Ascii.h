// SPDX-License-Identifier: GPL-2.0-or-later
// Case in ASCII alone: tag, attribute and scheme names, keywords of HTML and
// CSS, option values. Bytes above 0x7F are left as they are whatever the
// locale, since they are parts of UTF-8 characters.
#pragma once

#include <string>
#include <string_view>

namespace tamsel {

constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// A code unit of UTF-8 or UTF-16 text.
constexpr char32_t LowerAscii(char32_t c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

inline std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    c = LowerAscii(c);
  return out;
}

// Whether s is lower, ASCII letters compared without regard to case; lower
// is in lower case.
constexpr bool EqualsNoCase(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (LowerAscii(s[i]) != lower[i]) return false;
  return true;
}

constexpr bool StartsWithNoCase(std::string_view s, std::string_view lower) {
  return s.size() >= lower.size() && EqualsNoCase(s.substr(0, lower.size()), lower);
}

} // namespace tamsel
