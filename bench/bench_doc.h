// SPDX-License-Identifier: GPL-2.0-or-later
// Deterministic HTML documents of a chosen size for timing the converter.
//
// The documents look like pages people paste into the window: headings,
// paragraphs with inline formatting, links and images, nested lists, tables,
// code blocks and quotations, with text in several scripts and a fair share of
// the character runs that text emission has to protect (** // [[ %% | ^ ----,
// en dashes, references). The same size and seed always give the same bytes,
// so timings and output comparisons are repeatable across builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tamsel::bench {

// A complete HTML document of at least `bytes` bytes (it ends at the first
// block boundary past that size, so it is at most a few hundred bytes longer).
std::string MakeDocument(std::size_t bytes, std::uint64_t seed = 1);

// A document packed with short text nodes made of the bytes and words that
// text emission treats specially, in every context (tables, links, code,
// headings, lists). Not realistic: it exists to compare the converter's output
// before and after a change on inputs that reach every escaping rule.
std::string MakeDenseDocument(std::size_t bytes, std::uint64_t seed = 1);

// MakeDocument's page as sloppy editors and old sites write it: unclosed and
// misnested inline elements, stray end tags, attributes HTML does not know.
// Tidy repairs it and reports every repair, so this is the input for which
// its message reporting costs most.
std::string MakeMessyDocument(std::size_t bytes, std::uint64_t seed = 1);

// Edge cases of Tidy's text handling rather than a page: every code point up
// to U+2FFF and the rest of the BMP's top (as characters and as numeric
// references) in paragraphs, preformatted text and cells, elements whose
// content Tidy keeps raw (script, style, textarea, xmp, listing), tabs, CR and
// LF, and text nodes hundreds of kilobytes long.
std::string MakeEdgeDocument();

// "10KB", "1MB": sizes the benchmarks are named by.
std::string SizeName(std::size_t bytes);

} // namespace tamsel::bench
