// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_DokuId.h"

#include <algorithm>

namespace tamsel::cli {

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
