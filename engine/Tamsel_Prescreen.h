// SPDX-License-Identifier: GPL-2.0-or-later
// One linear pass over a run's input before Tidy parses it: repairs the few
// patterns that Tidy 5.6 parses in quadratic time, and counts the start tags
// that bound the nesting (and so the stack) of the parse and the walks.
//
// Each repair keeps what the converter writes:
//
// - An element with more than kMaxAttributes attributes keeps its first
//   kMaxAttributes; beyond them only the attributes a writer reads (href,
//   src, alt, width, height, align, colspan, rowspan, color, size, id, name)
//   stay, the last of each name, as Tidy keeps the last of repeated ones.
//   Tidy compares every attribute with all before it: a million of them
//   took it minutes. Repaired rather than refused: nothing visible is lost.
// - Of nested "font" elements at most kMaxOpenFonts are open at a time;
//   further font start tags, and the end tags that close them, are dropped.
//   Tidy carries every open font into each block that follows and nests a
//   copy of all of them there, so "<font><div>" repeated 2,500 times made
//   millions of elements. Repaired rather than refused: the converter writes
//   no font markup unless FontOptions asks for it, and even then only the
//   colour or size of a font nested more than four deep is lost.
//
// - Of nested "div" elements at most kMaxOpenDivs are open at a time, and
//   further div start tags and their end tags are dropped in the same way.
//   Tidy walks all ancestors of every element it adds, so its time grows
//   with the square of the nesting depth: 100,000 nested divs took it over a
//   minute. A div writes no markup of its own; what is lost is only the
//   paragraph break that a div nested a thousand deep would have made.
//   Repaired rather than refused, for the same reason.
//
// Deep nesting of other elements (quotations, lists, tables, which do write
// markup) is left to the budget of the parse, the stack reserved for it and
// the limit on the result.
#pragma once

#include <cstddef>
#include <string>

namespace tamsel {

inline constexpr std::size_t kMaxAttributes = 256;
inline constexpr std::size_t kMaxOpenFonts = 4;
inline constexpr std::size_t kMaxOpenDivs = 1000;

struct TPrescreen {
  // Start tags ('<' and a letter) in the input; when the encoding is one the
  // pass cannot read, every byte 0x3C.
  std::size_t StartTags = 0;
  // Whether Bytes holds a repaired copy of the input, to be parsed instead.
  bool Repaired = false;
  std::string Bytes;
};

// Reads size bytes in Tidy's input encoding; repairs only in encodings in
// which ASCII characters are single bytes or UTF-16LE units.
TPrescreen Prescreen(const void* bytes, std::size_t size, int encoding);

} // namespace tamsel
