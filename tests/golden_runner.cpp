// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the golden cases in tests/golden/*.txt: HTML in, exact DokuWiki out.
//
// File format (see tests/golden/README.md):
//   @@ name [links=N] [font=N] [emphasis=1] [via=both|wide|ansi] [encoding=N]
//           [namespace=NS] [page=PATH] [base=URL]
//   HTML lines (joined with LF)
//   @@ expect
//   DokuWiki lines (joined with CR LF, nothing after the last)
//   @@ end
// Lines outside a case are comments. Inside a case «SP», «TAB», «CR», «LF»
// and «xHH» stand for a space, a tab, CR, LF and any byte.
#include "Tamsel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct GoldenCase {
  std::string File;
  int Line = 0;
  std::string Name;
  std::string Html;
  std::string Expected;
  int Links = 7;
  int Font = 0;
  bool Emphasis = false;
  std::string Namespace, PagePath, BaseUrl; // the link policy's place
  int Encoding = tamsel::kEncUtf8;
  bool Wide = true;
  bool Ansi = true;
};

std::string Unescape(const std::string& line) {
  std::string out;
  for (std::size_t i = 0; i < line.size();) {
    if (line.compare(i, 2, "\xC2\xAB") == 0) {
      std::size_t end = line.find("\xC2\xBB", i + 2);
      if (end != std::string::npos) {
        std::string name = line.substr(i + 2, end - i - 2);
        bool known = true;
        if (name == "SP")
          out += ' ';
        else if (name == "TAB")
          out += '\t';
        else if (name == "CR")
          out += '\r';
        else if (name == "LF")
          out += '\n';
        else if (name.size() == 3 && name[0] == 'x')
          out += static_cast<char>(std::stoi(name.substr(1), nullptr, 16));
        else
          known = false;
        if (known) {
          i = end + 2;
          continue;
        }
      }
    }
    out += line[i++];
  }
  return out;
}

std::string Join(const std::vector<std::string>& lines, const char* sep) {
  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) out += sep;
    out += Unescape(lines[i]);
  }
  return out;
}

void ParseOptions(std::istringstream& words, GoldenCase& c) {
  std::string word;
  while (words >> word) {
    auto eq = word.find('=');
    std::string key = word.substr(0, eq),
                value = eq == std::string::npos ? "" : word.substr(eq + 1);
    if (key == "links")
      c.Links = std::stoi(value);
    else if (key == "font")
      c.Font = std::stoi(value);
    else if (key == "emphasis")
      c.Emphasis = value == "1";
    else if (key == "namespace")
      c.Namespace = value;
    else if (key == "page")
      c.PagePath = value;
    else if (key == "base")
      c.BaseUrl = value;
    else if (key == "encoding")
      c.Encoding = std::stoi(value);
    else if (key == "via") {
      c.Wide = value != "ansi";
      c.Ansi = value != "wide";
    } else
      throw std::runtime_error(c.File + ":" + std::to_string(c.Line) + ": unknown option " + word);
  }
}

std::vector<GoldenCase> LoadCases() {
  std::vector<GoldenCase> cases;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(TAMSEL_GOLDEN_DIR))
    if (entry.path().extension() == ".txt") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    int lineNo = 0;
    enum { kOutside, kInput, kExpect } where = kOutside;
    GoldenCase current;
    std::vector<std::string> input, expect;
    while (std::getline(in, line)) {
      ++lineNo;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("@@ ", 0) == 0 || line == "@@") {
        std::istringstream words(line.substr(2));
        std::string head;
        words >> head;
        if (head == "expect" && where == kInput) {
          where = kExpect;
        } else if (head == "end" && where == kExpect) {
          current.Html = Join(input, "\n");
          current.Expected = Join(expect, "\r\n");
          cases.push_back(current);
          where = kOutside;
        } else if (where == kOutside && !head.empty() && head != "expect" && head != "end") {
          current = GoldenCase{};
          current.File = path.filename().string();
          current.Line = lineNo;
          current.Name = head;
          ParseOptions(words, current);
          input.clear();
          expect.clear();
          where = kInput;
        } else {
          throw std::runtime_error(path.string() + ":" + std::to_string(lineNo) + ": misplaced '" +
                                   line + "'");
        }
        continue;
      }
      if (where == kInput) input.push_back(line);
      if (where == kExpect) expect.push_back(line);
    }
    if (where != kOutside)
      throw std::runtime_error(path.string() + ": case at line " + std::to_string(current.Line) +
                               " has no '@@ end'");
  }
  return cases;
}

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    int len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      len = 3;
    } else {
      cp = c & 0x07;
      len = 4;
    }
    for (int k = 1; k < len && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

// Shows line ends and unprintable bytes so that a diff of CR LF output reads.
std::string Visible(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
      out += "\xE2\x8F\x8E\n";
      ++i;
    } else if (c == '\r')
      out += "«CR»";
    else if (c == '\n')
      out += "«LF»\n";
    else if (c == '\t')
      out += "«TAB»";
    else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "«x%02X»", c);
      out += buf;
    } else
      out += static_cast<char>(c);
  }
  // A space at a line's end would be invisible.
  std::string marked;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == ' ' &&
        (i + 1 == out.size() || out[i + 1] == '\n' || out.compare(i + 1, 3, "\xE2\x8F\x8E") == 0))
      marked += "«SP»";
    else
      marked += out[i];
  }
  return marked;
}

std::string Diff(const std::string& expected, const std::string& actual) {
  auto split = [](const std::string& s) {
    std::vector<std::string> lines;
    std::istringstream in(Visible(s));
    for (std::string l; std::getline(in, l);)
      lines.push_back(l);
    return lines;
  };
  auto e = split(expected), a = split(actual);
  std::ostringstream out;
  std::size_t n = std::max(e.size(), a.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::string* el = i < e.size() ? &e[i] : nullptr;
    const std::string* al = i < a.size() ? &a[i] : nullptr;
    if (el && al && *el == *al) {
      out << "  " << *el << "\n";
    } else {
      if (el) out << "- " << *el << "\n";
      if (al) out << "+ " << *al << "\n";
    }
  }
  return out.str();
}

void PrintTo(const GoldenCase& c, std::ostream* os) {
  *os << c.File << ":" << c.Line << " " << c.Name;
}

class Golden : public testing::TestWithParam<GoldenCase> {};

std::string Describe(const GoldenCase& c, const char* via) {
  return c.File + ":" + std::to_string(c.Line) + " [" + c.Name + "] via " + via;
}

TEST_P(Golden, Converts) {
  const GoldenCase& c = GetParam();
  tamsel::TTamsel converter;
  // The bits of links= and font= as the case files write them.
  converter.Options.LocalLinks = c.Links & 1;
  converter.Options.MailLinks = c.Links & 2;
  converter.Options.ExternalLinks = c.Links & 4;
  converter.Options.FontColor = c.Font & 1;
  converter.Options.FontSize = c.Font & 2;
  converter.Options.Emphasis = c.Emphasis;
  converter.Options.Namespace = c.Namespace;
  converter.Options.PagePath = c.PagePath;
  converter.Options.BaseUrl = c.BaseUrl;
  if (c.Ansi) {
    std::string got = converter.ConvertAnsi(c.Html, c.Encoding);
    EXPECT_EQ(got, c.Expected) << Describe(c, "ConvertAnsi") << "\n" << Diff(c.Expected, got);
    // A used converter gives the same result as a fresh one.
    EXPECT_EQ(converter.ConvertAnsi(c.Html, c.Encoding), got) << Describe(c, "second run");
  }
  if (c.Wide) {
    std::string got = converter.ConvertWide(Utf8ToUtf16(c.Html));
    EXPECT_EQ(got, c.Expected) << Describe(c, "ConvertWide") << "\n" << Diff(c.Expected, got);
  }
}

std::string CaseName(const testing::TestParamInfo<GoldenCase>& info) {
  std::string name = info.param.File.substr(0, info.param.File.find('.')) + "_" + info.param.Name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, testing::ValuesIn(LoadCases()), CaseName);

} // namespace
