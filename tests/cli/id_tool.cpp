// Reads one hex-encoded name a line and writes its page id and section id,
// hex-encoded and separated by a tab, so a test can hold them against
// DokuWiki's own functions byte for byte.
#include "Cli_DokuId.h"

#include <iostream>
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
} // namespace

int main() {
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::string name = FromHex(line);
    std::cout << ToHex(tamsel::cli::CleanId(name)) << '\t' << ToHex(tamsel::cli::SectionId(name))
              << '\n';
  }
}
