// tamsel-cli: HTML in, DokuWiki markup out.
#include "Tamsel.h"
#include "Tamsel_Stack.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const char* const kUsage =
    "Usage: tamsel-cli [OPTIONS] [FILE | -]...\n"
    "Converts HTML (UTF-8) to DokuWiki markup on standard output.\n"
    "With no FILE, or when FILE is -, reads standard input.\n"
    "\n"
    "  --no-links   write link texts without wiki links\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n";

bool ReadAll(std::istream& in, std::string& out) {
  std::ostringstream buffer;
  buffer << in.rdbuf();
  out = std::move(buffer).str();
  return !in.bad();
}

} // namespace

int main(int argc, char** argv) {
  std::uint8_t linkOptions = 7;
  std::vector<std::string> files;
  bool onlyFiles = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!onlyFiles && arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (!onlyFiles && arg == "--version") {
      std::cout << "tamsel-cli " << tamsel::kVersion << "\n";
      return 0;
    } else if (!onlyFiles && arg == "--no-links") {
      linkOptions = 0;
    } else if (!onlyFiles && arg == "--") {
      onlyFiles = true;
    } else if (!onlyFiles && arg.size() > 1 && arg[0] == '-') {
      std::cerr << "tamsel-cli: unknown option '" << arg << "'\nTry 'tamsel-cli --help'.\n";
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) files.push_back("-");

  int status = 0;
  for (const std::string& name : files) {
    std::string html;
    if (name == "-") {
      if (!ReadAll(std::cin, html)) {
        std::cerr << "tamsel-cli: cannot read standard input\n";
        status = 1;
        continue;
      }
    } else {
      std::ifstream in(name, std::ios::binary);
      errno = 0;
      if (!in || !ReadAll(in, html)) {
        std::cerr << "tamsel-cli: cannot read '" << name << "': "
                  << (errno ? std::strerror(errno) : "read error") << "\n";
        status = 1;
        continue;
      }
    }
    std::string result;
    tamsel::RunWithLargeStack([&] {
      tamsel::TTamsel converter;
      converter.LinkOptions = linkOptions;
      result = converter.ConvertAnsi(html, tamsel::kEncUtf8);
    });
    std::cout << result;
    // A pipe gets the converter's bytes exactly; a terminal gets a final line end.
    if (!result.empty() && isatty(STDOUT_FILENO)) std::cout << "\r\n";
  }
  std::cout.flush();
  return std::cout ? status : 1;
}
