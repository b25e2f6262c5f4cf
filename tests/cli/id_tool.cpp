// SPDX-License-Identifier: GPL-2.0-or-later
// With no arguments: reads one hex-encoded name a line and writes its page id
// and section id, hex-encoded and separated by a tab, so a test can hold them
// against DokuWiki's own functions byte for byte.
//
// With "--sections": the same input, one page's headings in order; writes the
// anchor DokuWiki's renderer gives each (numbered when met again), hex-encoded.
//
// With "--anchors FILE...": for each HTML file, "F<TAB>file", then a line
// "H<TAB>anchor" for every heading in order, then "T<TAB>name<TAB>anchor<TAB>
// 1|0" for every element name (1: on a heading), names and anchors
// hex-encoded.
#include "Cli_DokuId.h"
#include "Tamsel_Encoding.h"
#include "Cli_Files.h"

#include <iostream>
#include <map>
#include <string>

namespace {
std::string FromHex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}
std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

int Anchors(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    std::string bytes, error;
    if (!tamsel::cli::ReadWholeFile(argv[i], bytes, error)) {
      std::cerr << argv[i] << ": " << error << '\n';
      return 1;
    }
    const tamsel::TPreparedInput input = tamsel::PrepareInput(bytes, std::nullopt);
    const tamsel::TDocumentAnchors anchors = tamsel::FindAnchors(input.Bytes, input.TidyEncoding);
    std::cout << "F\t" << argv[i] << '\n';
    for (const std::string& heading : anchors.Headings)
      std::cout << "H\t" << ToHex(heading) << '\n';
    const std::map<std::string, tamsel::TAnchorTarget> sorted(anchors.Targets.begin(),
                                                              anchors.Targets.end());
    for (const auto& [name, target] : sorted)
      std::cout << "T\t" << ToHex(name) << '\t' << ToHex(target.Section) << '\t'
                << (target.OnHeading ? 1 : 0) << '\n';
  }
  return 0;
}
} // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  if (argc > 1 && std::string(argv[1]) == "--anchors") return Anchors(argc, argv);
  if (argc > 1 && std::string(argv[1]) == "--sections") {
    tamsel::TSectionIds ids;
    for (std::string line; std::getline(std::cin, line);)
      std::cout << ToHex(ids.Next(FromHex(line))) << '\n';
    return 0;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::string name = FromHex(line);
    std::cout << ToHex(tamsel::cli::CleanId(name)) << '\t' << ToHex(tamsel::cli::SectionId(name))
              << '\n';
  }
}
