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
//   no font markup unless its FontColor or FontSize option asks for it, and even then only the
//   colour or size of a font nested more than four deep is lost.
// - Every other element is bounded the same way. Tidy walks up the open
//   elements for every element and text it adds, so its time grows with the
//   square of the nesting depth: 160,000 nested sections took it 40 seconds,
//   and a list nested 100,000 deep wrote indentation growing with the square
//   of the depth. The pass follows the open elements as a browser would
//   (void elements, end tags a paragraph, item, term or cell may omit,
//   formatting carried across blocks but not out of a table cell); past
//   kMaxOpenBlocks open elements, or kMaxOpenInline open formatting
//   elements, further start tags and the end tags that close them are
//   dropped, their content kept in its place. No page nests so deep on
//   purpose, and DokuWiki shows a few levels of anything at most.
// - End tags that close nothing open, past the first kMaxStrayEndTags, are
//   dropped: Tidy reports each, and ten million of them took it 16 seconds.
//
// The content of scripts and styles is not followed for nesting, since
// their text is no markup for a browser either; its attributes are trimmed
// all the same (where Tidy ends a script is its own affair).
#pragma once

#include <cstddef>
#include <string>

namespace tamsel {

inline constexpr std::size_t kMaxAttributes = 256;
inline constexpr std::size_t kMaxOpenFonts = 4;
inline constexpr std::size_t kMaxOpenBlocks = 256;
inline constexpr std::size_t kMaxOpenInline = 32;
inline constexpr std::size_t kMaxStrayEndTags = 10000;

struct TPrescreen {
  // Start tags ('<' and a letter) in the input; when the encoding is one the
  // pass cannot read, every byte 0x3C.
  std::size_t StartTags = 0;
  // Start tags dropped for nesting too deep, and end tags dropped for
  // closing nothing.
  std::size_t DroppedStartTags = 0;
  std::size_t DroppedStrayTags = 0;
  // Surrogates without their other half (in UTF-16) or encoded on their own
  // (in UTF-8), replaced by U+FFFD.
  std::size_t LoneSurrogates = 0;
  // Whether Bytes holds a repaired copy of the input, to be parsed instead.
  bool Repaired = false;
  std::string Bytes;
};

// Reads size bytes in Tidy's input encoding; repairs only in encodings in
// which ASCII characters are single bytes or UTF-16LE units. A surrogate
// without its other half in UTF-16LE, or encoded on its own in UTF-8,
// becomes U+FFFD: Tidy would pair it with the next character, which would
// be lost. C1 control characters in UTF-16LE are dropped.
TPrescreen Prescreen(const void* bytes, std::size_t size, int encoding);

} // namespace tamsel
