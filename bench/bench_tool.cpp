// SPDX-License-Identifier: GPL-2.0-or-later
// tamsel-bench-tool: writes the benchmark documents and converts files, for
// bench/diff-check (same output before and after a change) and
// bench/compare-peers (the same documents for every converter).
//
//   tamsel-bench-tool gen SIZE [SEED]     document of SIZE bytes (k/m suffix ok)
//   tamsel-bench-tool dense SIZE [SEED]   the same, packed with escaping cases
//   tamsel-bench-tool messy SIZE [SEED]   the same page as sloppy HTML
//   tamsel-bench-tool edge                edge cases of Tidy's text handling
//   tamsel-bench-tool convert FILE...     each file's DokuWiki, in turn, on stdout
//   tamsel-bench-tool wide FILE...        the same through ConvertWide, as the
//                                         window converts (ASCII files only)
#include "Tamsel.h"
#include "bench_doc.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace {

std::size_t ParseSize(const std::string& s) {
  char* end = nullptr;
  unsigned long long n = std::strtoull(s.c_str(), &end, 10);
  if (end && (*end == 'k' || *end == 'K')) n <<= 10;
  if (end && (*end == 'm' || *end == 'M')) n <<= 20;
  return static_cast<std::size_t>(n);
}

int Usage() {
  std::cerr << "usage: tamsel-bench-tool gen|dense|messy SIZE [SEED] | edge | convert FILE...\n";
  return 2;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "edge") {
    std::cout << tamsel::bench::MakeEdgeDocument();
    return std::cout ? 0 : 1;
  }
  if (argc < 3) return Usage();
  if (command == "gen" || command == "dense" || command == "messy") {
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    const std::size_t size = ParseSize(argv[2]);
    std::cout << (command == "gen"     ? tamsel::bench::MakeDocument(size, seed)
                  : command == "dense" ? tamsel::bench::MakeDenseDocument(size, seed)
                                       : tamsel::bench::MakeMessyDocument(size, seed));
    return std::cout ? 0 : 1;
  }
  if (command != "convert" && command != "wide") return Usage();
  for (int i = 2; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::cerr << "tamsel-bench-tool: cannot read " << argv[i] << "\n";
      return 1;
    }
    const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    tamsel::TTamsel converter;
    try {
      if (command == "wide") {
        const std::u16string text(html.begin(), html.end());
        std::cout << converter.ConvertWide(text);
      } else {
        std::cout << converter.ConvertAnsi(html, tamsel::kEncUtf8);
      }
    } catch (const std::exception& e) {
      std::cerr << "tamsel-bench-tool: " << argv[i] << ": " << e.what() << "\n";
      return 1;
    }
  }
  return std::cout ? 0 : 1;
}
