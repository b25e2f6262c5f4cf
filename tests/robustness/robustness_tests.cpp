// SPDX-License-Identifier: GPL-2.0-or-later
// Hostile and broken input: every input gets a result or a std::length_error,
// never a crash, a hang or a leak (the sanitized build checks the last), and
// the user's text comes through.
#include "Robust_Input.h"
#include "Tamsel_Internal.h"
#include "Tamsel_Stack.h"
#include "Tamsel_FuzzDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

using namespace tamsel;
using namespace tamsel::robust;

namespace {

struct TNesting {
  const char* Open;
  const char* Close;
  std::size_t Depth;
};

// Depths that Tidy parses within a second or so; each converts in full.
// Tidy's time grows with the square of the depth for blocks, and for inline
// elements that are closed (100,000 closed <b> take it 20 s, unclosed 0.2 s).
const TNesting kNestings[] = {
    {"<div>", "</div>", 10000},
    {"<table><tr><td>", "</td></tr></table>", 4000},
    {"<ul><li>", "</li></ul>", 5000},
    {"<ol><li>", "</li></ol>", 5000},
    {"<dl><dd>", "</dd></dl>", 5000},
    {"<dl><dt>x</dt><dd>", "</dd></dl>", 3000},
    {"<blockquote>", "</blockquote>", 3000},
    {"<ul><li>x", "</li></ul>", 3000},
    {"<center>", "</center>", 10000},
    {"<b>", "", 100000},
    {"<b>", "</b>", 10000},
    {"<i>", "", 50000},
    {"<span>", "</span>", 10000},
    {"<b><i><span>", "", 20000},
    {"<font color=red size=3>", "", 30000},
    {"<a href=x>", "</a>", 30000},
    {"<pre>", "</pre>", 30000},
    {"<p>", "", 30000},
    {"<sup>", "", 30000},
    {"<table><tr><td><div>", "", 3000},
    {"<b><div>", "", 5000},
};

} // namespace

TEST(DeepNesting, EveryKindConvertsInFull) {
  for (const TNesting& kind : kNestings) {
    const std::string out = Convert(Nested(kind.Open, kind.Close, kind.Depth));
    EXPECT_GE(Count(out, "deep"), 1u) << kind.Open << " x " << kind.Depth;
  }
}

TEST(DeepNesting, NeedsNoLargeStackFromTheCaller) {
  // Far deeper than 256 KiB of stack allows: the run finds its own.
  // Each level is walked; a bold inside a bold adds no markers of its own.
  std::string out;
  ASSERT_TRUE(RunOnReservedStack([&] { out = Convert(Nested("<b>", "", 100000)); }, 256 << 10));
  EXPECT_EQ(out, "**deep**");
  std::string direct;
  TTamsel converter;
  direct = converter.ConvertAnsi(Nested("<ul><li>", "", 10000), kEncUtf8);
  EXPECT_EQ(Count(direct, "deep"), 1u);
}

TEST(BadInput, TextComesThrough) {
  struct TCase {
    const char* Name;
    std::string Html;
    std::vector<std::string> Kept;
  } cases[] = {
      {"invalid UTF-8",
       "<p>before \xC3\x28 \xA0\xA1 \xF0\x28\x8C\xBC \xFF\xFE after</p>",
       {"before", "after"}},
      {"truncated UTF-8 at the end", "<p>before \xE2\x80", {"before"}},
      {"overlong and surrogate UTF-8", "<p>a \xC0\xAF \xED\xA0\x80 b</p>", {"a ", " b"}},
      {"NUL bytes", std::string("<p>before\0after</p>\0<p>more</p>", 31), {"before", "more"}},
      {"colspan 2^31", "<table><tr><td colspan=2147483648>cell</td></tr></table>", {"cell"}},
      {"colspan huge", "<table><tr><td colspan=99999999999999999999>c</td></tr></table>", {"c"}},
      {"colspan negative", "<table><tr><td colspan=-2147483649>c</td></tr></table>", {"c"}},
      {"width 2^32", "<img src=a.png width=4294967296 height=-1 alt=pic>", {"a.png", "pic"}},
      {"stray end tags", "</p></table></li></ul>text</div></b>", {"text"}},
      {"unclosed everything", "<table><tr><td><ul><li><b><a href=x>text", {"text"}},
      {"markup in attributes", "<img src='\"><script>x' alt='%%**|'>", {"script"}},
  };
  for (const TCase& c : cases) {
    const std::string out = Convert(c.Html);
    for (const std::string& kept : c.Kept)
      EXPECT_NE(out.find(kept), std::string::npos) << c.Name << ": " << out;
    if (c.Html.find("colspan") != std::string::npos) {
      EXPECT_LE(Count(out, "|"), static_cast<std::size_t>(kMaxColSpan) + 1) << c.Name;
    }
  }
}

TEST(BadInput, UnpairedSurrogatesThroughConvertWide) {
  const std::u16string cases[] = {
      u"<p>a \xD800 b</p>",
      u"<p>a \xDC00 b</p>",
      u"<p>a \xDC00\xD800 b</p>",
      u"<p>a b \xD800",
      std::u16string(u"<p>a\0b</p>", 10),
      u"\xFEFF<p>a b</p>",
  };
  for (const std::u16string& text : cases) {
    TTamsel converter;
    const std::string out = converter.ConvertWide(text);
    EXPECT_NE(out.find('a'), std::string::npos) << out;
    EXPECT_EQ(out, converter.ConvertWide(text));
  }
  // A swapped byte order mark makes Tidy read the rest byte-swapped: the text
  // is lost, but the run ends normally.
  TTamsel converter;
  EXPECT_NO_THROW(converter.ConvertWide(u"\xFFFE<p>a b</p>"));
}

TEST(BadInput, HugeAttributesAndManyOfThem) {
  const std::string big(10'000'000, 'v');
  const std::string href = Convert("<a href=\"" + big + "\">t</a>");
  EXPECT_EQ(href.size(), big.size() + 6); // [[target|t]]
  const std::string alt = Convert("<img src=x alt=\"" + big + "\">");
  EXPECT_EQ(alt.size(), big.size() + 6); // {{x|alt}}
  const std::string digits(10'000'000, '9');
  EXPECT_NE(Convert("<img src=x width=" + digits + ">").find("{{x?9999"), std::string::npos);
  EXPECT_LE(Count(Convert("<table><tr><td colspan=" + digits + ">c</td></tr></table>"), "|"),
            static_cast<std::size_t>(kMaxColSpan) + 1);

  // Tidy's attribute handling is quadratic in their number: 100,000 are in
  // the stress suite.
  std::string many = "<img src=a.png";
  for (int i = 0; i < 10000; ++i)
    many += " data-" + std::to_string(i) + "=\"v\"";
  EXPECT_EQ(Convert(many + " alt=last>"), "{{a.png|last}}");
}

TEST(BadInput, LongTextAndLongMarkupRuns) {
  const std::string text(5'000'000, 'x');
  EXPECT_EQ(Convert("<p>" + text + "</p>"), text);
  // Runs long enough for PCRE2 to give up are still wrapped whole.
  for (char c : {'*', '/', '('}) {
    const std::string run(3'000'000, c);
    EXPECT_EQ(Convert("<p>a " + run + " b</p>"), "a %%" + run + "%% b") << c;
  }
}

TEST(BadInput, EveryTidyEncodingOnRandomBytes) {
  std::mt19937 random(20120813);
  std::uniform_int_distribution<int> byteOf(0, 255);
  const char* const pieces[] = {"<p>",      "<table><tr><td>", "</td>",  "<b>",
                                "&amp;",    "<ul><li>",        "\x1B$B", "\xFF\xFE",
                                "\xFE\xFF", "<a href=x>",      "%%",     "|"};
  for (int encoding = 0; encoding < fuzz::kTidyEncodings; ++encoding) {
    for (int round = 0; round < 20; ++round) {
      std::string bytes;
      for (int i = 0; i < 2000; ++i) {
        if (round % 2 && byteOf(random) < 16) {
          bytes += pieces[byteOf(random) % std::size(pieces)];
        } else {
          bytes += static_cast<char>(byteOf(random));
        }
      }
      TTamsel converter;
      const std::string first = converter.ConvertAnsi(bytes, encoding);
      EXPECT_EQ(first, converter.ConvertAnsi(bytes, encoding)) << "encoding " << encoding;
    }
  }
}

TEST(Limits, InputAndOutputBounds) {
  TTamsel converter;
  const std::string tooLong(kMaxInputBytes + 1, 'x');
  EXPECT_THROW(converter.ConvertAnsi(tooLong, kEncUtf8), std::length_error);
  EXPECT_THROW(
      converter.ConvertBuffer(tooLong.data(), static_cast<std::int32_t>(tooLong.size()), kEncUtf8),
      std::length_error);
  EXPECT_THROW(converter.ConvertWide(std::u16string(kMaxInputBytes / 2 + 1, u'x')),
               std::length_error);
  EXPECT_THROW(converter.ConvertBuffer("x", -1, kEncUtf8), std::length_error);
  EXPECT_EQ(converter.ConvertAnsi("<p>still fine</p>", kEncUtf8), "still fine");

  // The buffer may grow to kMaxOutputBytes and no further; growing past it
  // would take Tidy's doubling towards 2^31.
  TidyBuffer buffer{};
  buffer.allocated = static_cast<uint>(kMaxOutputBytes / 2);
  buffer.size = buffer.allocated - 1;
  EXPECT_NO_THROW(MakeRoom(buffer, kMaxOutputBytes / 2));
  EXPECT_THROW(MakeRoom(buffer, kMaxOutputBytes / 2 + 1), std::length_error);
}

TEST(Limits, ThrowingResolverLeavesTheConverterUsable) {
  TTamsel converter;
  converter.ResolveLocalLink = [](std::string_view, TLinkTarget&) -> bool {
    throw std::runtime_error("resolver failed");
  };
  EXPECT_THROW(converter.ConvertAnsi("<p>a <a href=page.html>b</a></p>", kEncUtf8),
               std::runtime_error);
  converter.ResolveLocalLink = nullptr;
  EXPECT_EQ(converter.ConvertAnsi("<p>a <a href=page.html>b</a></p>", kEncUtf8), "a [[page|b]]");
}

TEST(Limits, TidyStuckInALoopIsAbandoned) {
  // Tidy 5.6 loops for ever on these; the run gives up within a second.
  TTamsel converter;
  for (const char* html : {"<tr><dl></table>", "<p>a</p><tr><dl>x</table>"})
    EXPECT_THROW(converter.ConvertAnsi(html, kEncUtf8), std::runtime_error) << html;
  EXPECT_EQ(converter.ConvertAnsi("<table><tr><td>a</td></tr></table>", kEncUtf8), "|a|");
}

// Inputs the fuzzer once failed on, replayed as it ran them.
TEST(FuzzRegressions, ReplayAsFound) {
  std::size_t replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TAMSEL_ROBUSTNESS_CASES)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_TRUE(fuzz::RunOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
        << entry.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}
