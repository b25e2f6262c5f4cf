// SPDX-License-Identifier: GPL-2.0-or-later
// Builders of hostile input shared by the robustness and stress suites.
#pragma once

#include "Tamsel.h"

#include <string>
#include <string_view>

namespace tamsel::robust {

inline std::string Repeat(std::string_view unit, std::size_t n) {
  std::string out;
  out.reserve(unit.size() * n);
  for (std::size_t i = 0; i < n; ++i)
    out += unit;
  return out;
}

// open repeated depth times around the word "deep", then close as often.
inline std::string Nested(std::string_view open, std::string_view close, std::size_t depth) {
  return Repeat(open, depth) + "deep" + Repeat(close, depth);
}

// Converts as the callers do: on their own thread, however deep the input.
inline std::string Convert(const std::string& html, bool links = true) {
  TTamsel converter;
  converter.Options.SetLinks(links);
  return converter.ConvertAnsi(html, kEncUtf8);
}

inline std::size_t Count(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

} // namespace tamsel::robust
