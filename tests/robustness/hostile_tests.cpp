// SPDX-License-Identifier: GPL-2.0-or-later
// Input that once made Tidy loop, or spend time and memory growing with the
// square of the input: each converts, or is refused with a clear message,
// within a bound far above the time measured for it (hangs show, a slow
// machine does not), on the byte path and on the window's UTF-16 path.
#include "Robust_Input.h"
#include "Tamsel_FuzzDriver.h"
#include "Tamsel_Heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

#include <sys/resource.h>

using namespace tamsel;
using namespace tamsel::robust;
using tamsel::fuzz::IsPageText;

namespace {

using tamsel::kSanitized;

struct THostile {
  const char* Name;
  std::function<std::string()> Make;
  // What the output must hold when the input converts.
  const char* Kept;
  // What the message must say when it is refused; null: it must convert,
  // unless Kept is null too: then it may convert or be refused.
  const char* Refusal;
  double Seconds;
  // Under sanitizers only small blocks are not charged to the parse, which
  // then runs to its time bound: such cases are left to the plain build.
  bool Plain = false;
};

// 64 MiB of unit repeated.
std::string Fill(std::string_view unit) {
  return Repeat(unit, kMaxInputBytes / unit.size() - 1);
}

std::string FontDivs(std::size_t n) {
  return Repeat("<font><div>", n) + "x";
}

std::string ManyAttributes(std::size_t n) {
  std::string html = "<p";
  for (std::size_t i = 0; i < n; ++i)
    html += " a" + std::to_string(i) + "=v";
  return html + ">x</p>";
}

const THostile kHostile[] = {
    {"Tidy loops after 100 KB of text",
     [] { return "<p>" + std::string(102400, 'a') + "</p><tr><dl></table>"; }, nullptr,
     "too deeply tangled", 10},
    {"Tidy loops after 1 MB of text",
     [] { return "<p>" + std::string(1 << 20, 'a') + "</p><tr><dl></table>"; }, nullptr,
     "too deeply tangled", 20},
    {"2,500 fonts opened before blocks", [] { return FontDivs(2500); }, "x", nullptr, 10},
    {"100,000 fonts opened before blocks", [] { return FontDivs(100000); }, "x", nullptr, 10},
    {"100,000 attributes", [] { return ManyAttributes(100000); }, "x", nullptr, 10},
    {"1,000,000 attributes", [] { return ManyAttributes(1000000); }, "x", nullptr, 30},
    {"44,000 nested quotations", [] { return Repeat("<blockquote>", 44000) + "deep"; }, "deep",
     nullptr, 10},
    // Nesting of any element: Tidy's time grew with the square of the depth.
    {"160,000 nested sections", [] { return Repeat("<section>", 160000) + "deep"; }, "deep",
     nullptr, 10},
    {"100,000 nested definition lists", [] { return Repeat("<dl><dt>", 100000) + "deep"; }, "deep",
     nullptr, 10},
    {"200,000 nested templates", [] { return Repeat("<template>", 200000) + "deep"; }, nullptr,
     nullptr, 10},
    {"200,000 nested forms", [] { return Repeat("<form><input><textarea>", 200000) + "deep"; },
     nullptr, nullptr, 10},
    {"100,000 nested noscripts",
     [] { return Repeat("<noscript><iframe><noembed>", 100000) + "deep"; }, nullptr, nullptr, 10},
    {"100,000 nested tables", [] { return Repeat("<table><tr><td>", 100000) + "deep"; }, "deep",
     nullptr, 10},
    {"100,000 nested lists", [] { return Repeat("<ul><li>x", 100000) + "deep"; }, "deep", nullptr,
     10},
    {"5,000,000 end tags", [] { return Repeat("</div>", 5000000) + "deep"; }, "deep", nullptr, 10},
    {"64 MiB of unclosed italics", [] { return Fill("<i>"); }, nullptr, nullptr, 60},
    // Size alone: Tidy's tree took 25 to 75 times the input, and looking up
    // a named reference searches two thousand names.
    {"64 MiB of empty italics", [] { return Fill("<i></i>"); }, nullptr, nullptr, 60, true},
    {"64 MiB of paragraphs", [] { return Fill("<p>x"); }, nullptr, nullptr, 60, true},
    {"64 MiB of references", [] { return Fill("&zwnj;"); }, nullptr, nullptr, 60, true},
    {"64 MiB of stars", [] { return Fill("*"); }, nullptr, nullptr, 60, true},
};

// As much of it as the window may hand over: 64 MiB of UTF-16.
std::u16string Widen(const std::string& ascii) {
  const std::size_t units = std::min(ascii.size(), kMaxInputBytes / 2);
  return std::u16string(ascii.begin(), ascii.begin() + static_cast<std::ptrdiff_t>(units));
}

void Check(const THostile& input, bool wide) {
  const std::string html = input.Make();
  const auto start = std::chrono::steady_clock::now();
  std::string out, refusal;
  TTamsel converter;
  try {
    out = wide ? converter.ConvertWide(Widen(html)) : converter.ConvertAnsi(html, kEncUtf8);
  } catch (const std::exception& e) {
    refusal = e.what();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const char* path = wide ? "ConvertWide" : "ConvertAnsi";
  EXPECT_TRUE(IsPageText(out)) << input.Name << " (" << path << ")";
  if (input.Refusal) {
    EXPECT_NE(refusal.find(input.Refusal), std::string::npos)
        << input.Name << " (" << path << "): " << (refusal.empty() ? out.substr(0, 80) : refusal);
  } else if (input.Kept) {
    EXPECT_EQ(refusal, "") << input.Name << " (" << path << ")";
    EXPECT_NE(out.find(input.Kept), std::string::npos) << input.Name << " (" << path << ")";
  }
  EXPECT_LT(seconds, input.Seconds * (kSanitized ? 4 : 1)) << input.Name << " (" << path << ")";
}

// The largest the process has been, in bytes; its tests run one to a process.
std::size_t PeakBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

class Hostile : public ::testing::TestWithParam<std::size_t> {};

} // namespace

TEST_P(Hostile, ConvertsOrIsRefusedInBoundedTimeAndMemory) {
  const THostile& input = kHostile[GetParam()];
  if (input.Plain && kSanitized) GTEST_SKIP() << "left to the plain build";
  Check(input, false);
  Check(input, true);
  // Memory under sanitizers says nothing about the converter's own.
  if (!kSanitized) {
    EXPECT_LT(PeakBytes(), std::size_t{1} << 30) << input.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, Hostile, ::testing::Range<std::size_t>(0, std::size(kHostile)));

TEST(Hostile, ConverterStaysUsableAfterARefusal) {
  TTamsel converter;
  EXPECT_THROW(converter.ConvertAnsi("<p>a</p><tr><dl></table>", kEncUtf8), std::runtime_error);
  EXPECT_EQ(converter.ConvertAnsi("<p><b>fine</b></p>", kEncUtf8), "**fine**");
}

TEST(Hostile, RepairsKeepWhatTheWritersRead) {
  // Past the first 256 attributes only those a writer reads stay, the last
  // of each, as Tidy keeps the last of repeated attributes.
  std::string img = "<img";
  for (int i = 0; i < 300; ++i)
    img += " data-" + std::to_string(i) + "=v";
  img += " src=first.png alt='a > b' src=last.png width=20>";
  EXPECT_EQ(Convert(img), "{{last.png?20|a > b}}");
  // A comment or a script before it does not hide it.
  EXPECT_EQ(Convert("<!-- <b --><script>if (a < b) s = '<p';</script>" + img),
            "{{last.png?20|a > b}}");
  std::u16string wide(img.begin(), img.end());
  TTamsel converter;
  EXPECT_EQ(converter.ConvertWide(wide), "{{last.png?20|a > b}}");

  // Fonts nested beyond four: the text and the blocks stay, in order.
  const std::string fonts =
      Repeat("<font color=red>", 10) + "a<div>b</div>" + Repeat("</font>", 10) + "<p>c</p>";
  EXPECT_EQ(Convert(fonts), "a\r\n\r\nb\r\n\r\nc");

  // Divs nested past a thousand: every word stays, in order.
  const std::string divs = Repeat("<div>w", 1500) + Repeat("</div>", 1500) + "<p>end</p>";
  const std::string out = Convert(divs);
  EXPECT_EQ(Count(out, "w"), 1500u);
  EXPECT_EQ(out.substr(out.size() - 3), "end");
}

TEST(Hostile, NestingIsFlattenedNotLost) {
  // Past the bound the start tags go, their content stays in its place.
  const std::string sections = Repeat("<section>w", 1000) + Repeat("</section>", 1000) + "end";
  std::string out = Convert(sections);
  EXPECT_EQ(Count(out, "w"), 1000u);
  EXPECT_EQ(out.substr(out.size() - 3), "end");
  // Lists and quotations are written ten levels deep at most.
  out = Convert(Repeat("<ul><li>x", 30));
  EXPECT_NE(out.find("\r\n" + std::string(20, ' ') + "* x\r\n" + std::string(20, ' ') + "* x"),
            std::string::npos);
  EXPECT_EQ(out.find(std::string(22, ' ')), std::string::npos);
  out = Convert(Repeat("<blockquote>", 30) + "a<br>b");
  EXPECT_NE(out.find(std::string(10, '>') + " a"), std::string::npos);
  EXPECT_EQ(out.find(std::string(11, '>')), std::string::npos);
  // Formatting closed in a table cell does not count beyond it.
  const std::string cells = "<table>" + Repeat("<tr><td><b>x</td></tr>", 100) + "</table>";
  EXPECT_EQ(Count(Convert(cells), "**x**"), 100u);
  // Nor do tags in a script, which is no markup.
  const std::string script = "<script>" + Repeat("'<div>'", 300) + "</script>" +
                             Repeat("<div>d", 200) + Repeat("</div>", 200);
  EXPECT_EQ(Count(Convert(script), "d"), 200u);
  // The converter tells what it changed.
  TTamsel converter;
  converter.ConvertAnsi(Repeat("<section>", 300), kEncUtf8);
  ASSERT_EQ(converter.Notes.size(), 1u);
  EXPECT_NE(converter.Notes[0].find("44 start tags dropped"), std::string::npos);
  converter.ConvertAnsi("<p>fine</p>", kEncUtf8);
  EXPECT_TRUE(converter.Notes.empty());
}

// Bytes that are not text: every result is valid UTF-8 without control
// characters but tab and line ends, on every path; references to 0x80-0x9F
// mean the Windows-1252 characters, as in browsers, and what stays a C1
// control is dropped.
TEST(Hostile, NoByteThatIsNotTextReachesThePage) {
  struct TCase {
    std::string Html;
    std::string Out;
  };
  const TCase cases[] = {
      {"<meta charset=utf-8><p>a\xED\xA0\x80"
       "b\xED\xBF\xBF"
       "c</p>",
       "a\uFFFDb\uFFFDc"},
      {"<p>a&#127;b&#x7F;c\x7F"
       "d</p>",
       "abcd"},
      {"<p>a&#x85;b&#155;c&#128;d</p>", "a\u2026b\u203Ac\u20ACd"},
      {"<p>a&#x81;b&#x9D;c</p>", "abc"},
      {"<p>a\xC2\x85"
       "b\xC2\x9F"
       "c\xC2\xA0"
       "d</p>",
       "ab"
       "c\u00A0d"},
      {"<p>a\xE2\x82"
       "b\xF4\x90\x80\x80"
       "c\xC0\xAF"
       "d</p>",
       "a\uFFFDb\uFFFDc\uFFFDd"},
      {"<p>a&#xD800;b&#1;c</p>", "a\uFFFDbc"},
  };
  for (const TCase& c : cases) {
    const std::string out = Convert(c.Html);
    EXPECT_EQ(out, c.Out) << c.Html;
    EXPECT_TRUE(IsPageText(out)) << c.Html;
  }
  // In attributes and link targets too.
  const std::string attributes =
      "<a href='x\x7F\xC2\x85y.html'>t\xC2\x9B</a><img src=i.png alt='a\x01\xED\xBF\xBF"
      "b'>";
  EXPECT_TRUE(IsPageText(Convert(attributes)));
  for (int encoding = 0; encoding < tamsel::fuzz::kTidyEncodings; ++encoding) {
    TTamsel converter;
    const std::string out =
        converter.ConvertAnsi("<p>a\x7F\x85\x9B\xC2\x85\xED\xA0\x80&#x85;b</p>", encoding);
    EXPECT_TRUE(IsPageText(out)) << "encoding " << encoding;
  }
  // A lone UTF-16 surrogate is U+FFFD, and the character after it stays.
  TTamsel converter;
  EXPECT_EQ(converter.ConvertWide(u"a\xD800"
                                  u"b\xDC00"
                                  u"c\xD800"),
            "a\uFFFDb\uFFFDc\uFFFD");
  EXPECT_EQ(converter.ConvertWide(u"<p>\xD83D\xDE00\x0085\x007F</p>"), "\U0001F600");
}

// Sloppy real HTML, however long, nests nothing past the bound: no tag of it
// is dropped.
TEST(Hostile, SloppyPagesLoseNoTag) {
  const std::string pages[] = {
      Repeat("<p>para", 3000),
      "<ul>" + Repeat("<li>item<p>more", 3000) + "</ul>",
      "<ol>" + Repeat("<li><ul><li>a</ul>", 3000) + "</ol>",
      "<dl>" + Repeat("<dt>term<dd>data<div>x</div>", 3000) + "</dl>",
      "<table>" + Repeat("<tr><td><b>bold<td><i>it<span>x", 3000) + "</table>",
      "<table><tbody>" + Repeat("<tr><th>h<td><div><p>x", 3000) + "</table>",
      "<select>" + Repeat("<option>o<optgroup>g", 3000) + "</select>",
      Repeat("<div><b>x</b><br><img src=a.png><input></div>", 3000),
      Repeat("<section><h2>t</h2><p>x</section>", 3000),
      Repeat("<script>document.write('<div><b>')</script><p>x", 3000),
      Repeat("<p><a href=x>link</a> <i>it</i></p>\n", 3000),
  };
  for (const std::string& page : pages) {
    TTamsel converter;
    converter.ConvertAnsi(page, kEncUtf8);
    EXPECT_TRUE(converter.Notes.empty())
        << page.substr(0, 60) << ": " << (converter.Notes.empty() ? "" : converter.Notes[0]);
  }
}
