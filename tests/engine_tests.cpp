// SPDX-License-Identifier: GPL-2.0-or-later
// Direct tests of the converter's free functions and of the run's frame.
#include "Tamsel.h"
#include "Tamsel_Internal.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace tamsel;

TEST(ParseInt, SampleValues) {
  struct Row {
    const char* Value;
    std::int32_t Expected;
  } rows[] = {
      {"3", 3},
      {"  3", 3},
      {"3  ", 3},
      {"+3", 3},
      {"-2", -2},
      {"", 0},
      {"   ", 0},
      {"3px", -7},
      {"3;", -7},
      {"3\t", -7},
      {"x", -7},
      {"-", -7},
      {"+", -7},
      {"\t", -7},
      {"0x10", -7},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999999999999", INT_MIN},
      {"\t\n 12", 12},
      {"- 3", -7},
      {"007", 7},
  };
  for (const Row& row : rows)
    EXPECT_EQ(ParseInt(row.Value, -7), row.Expected) << "value '" << row.Value << "'";
  EXPECT_EQ(ParseInt(nullptr, 42), 42);
}

TEST(ParseAlign, WordsAndCase) {
  const std::pair<const char*, TAlign> cases[] = {
      {nullptr, TAlign::None},  {"left", TAlign::Left},    {"CENTER", TAlign::Center},
      {"Right", TAlign::Right}, {"justify", TAlign::None}, {" left", TAlign::None},
      {"left ", TAlign::None},  {"", TAlign::None},        {"lef", TAlign::None},
  };
  for (const auto& [value, align] : cases)
    EXPECT_EQ(ParseAlign(value), align) << (value ? value : "(null)");
}

// Every id Tidy knows, the newest included, is a member alone.
TEST(BlockSet, HoldsEveryTidyId) {
  for (unsigned u = 1; u < N_TIDY_TAGS; ++u) {
    const auto id = static_cast<TidyTagId>(u);
    const TBlockSet set{id};
    EXPECT_TRUE(set.Contains(id)) << u;
    EXPECT_FALSE(set.Contains(static_cast<TidyTagId>(u - 1))) << u;
    EXPECT_FALSE(TBlockSet{}.Contains(id)) << u;
  }
}

TEST(Run, EmptyInputs) {
  TTamsel t;
  EXPECT_EQ(t.ConvertBuffer(nullptr, 0, kEncUtf8), "");
  EXPECT_EQ(t.ConvertAnsi("", kEncUtf8), "");
  EXPECT_EQ(t.ConvertWide(u""), "");
  EXPECT_EQ(t.ConvertAnsi("<body> \r\n\t </body>", kEncUtf8), "");
}

TEST(Run, Defaults) {
  TTamsel t;
  EXPECT_EQ(t.Options.LineBreak, "\r\n");
  EXPECT_TRUE(t.Options.LocalLinks && t.Options.MailLinks && t.Options.ExternalLinks);
  EXPECT_FALSE(t.Options.FontColor || t.Options.FontSize);
}

TEST(Run, WideAndAnsiAgreeOnNonAscii) {
  TTamsel t;
  const std::string utf8 = "<p>Gr\xC3\xBC\xC3\x9F"
                           "e \xE2\x80\x94 \xF0\x9F\x98\x80 \xE6\x97\xA5</p>";
  const std::u16string wide = u"<p>Grüße — \U0001F600 日</p>";
  EXPECT_EQ(t.ConvertAnsi(utf8, kEncUtf8), t.ConvertWide(wide));
  EXPECT_EQ(t.ConvertWide(wide), "Gr\xC3\xBC\xC3\x9F"
                                 "e \xE2\x80\x94 \xF0\x9F\x98\x80 \xE6\x97\xA5");
}

TEST(Run, NegativeSizeIsRefused) {
  TTamsel t;
  EXPECT_THROW(t.ConvertBuffer("x", -1, kEncUtf8), std::length_error);
}

// Separate converters on separate threads share nothing: each gives what a
// single thread gives. Run under ThreadSanitizer by scripts/test.
TEST(Threads, SeparateConvertersAgreeWithOneThread) {
  const std::vector<std::string> inputs = {
      "<h2>T</h2><p>a **b** <a href=\"x.html\">l]]ink</a> <img src=\"a|b.png\" alt=\"x}}y\"></p>",
      "<table><tr><td>a|b</td><td><pre>c</pre></td></tr></table><ul><li>x<ul><li>y</li></ul></li></"
      "ul>",
      "<blockquote>q<blockquote>r</blockquote>s</blockquote><dl><dt>t</dt><dd>d</dd></dl>",
      "<p>50%% &lt;code&gt; \\\\ x ~~NOTOC~~ &#1;</p>",
  };
  std::vector<std::string> expected;
  {
    TTamsel one;
    for (const std::string& html : inputs)
      expected.push_back(one.ConvertAnsi(html, kEncUtf8));
  }
  constexpr int kThreads = 4, kRounds = 25;
  std::vector<std::vector<std::string>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      TTamsel converter;
      for (int round = 0; round < kRounds; ++round)
        for (const std::string& html : inputs)
          got[t].push_back(converter.ConvertAnsi(html, kEncUtf8));
    });
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(got[t].size(), inputs.size() * kRounds);
    for (std::size_t i = 0; i < got[t].size(); ++i)
      EXPECT_EQ(got[t][i], expected[i % inputs.size()]) << "thread " << t << " run " << i;
  }
}

// Tidy, finding no language in the environment, asks the system for the
// user's locale by switching the process to it, and then to "C".
TEST(Threads, ProcessLocaleUnchanged) {
  if (!std::setlocale(LC_ALL, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
  const std::string expected = std::setlocale(LC_ALL, nullptr);
  std::map<std::string, std::string> saved;
  for (const char* name : {"LANG", "LC_MESSAGES"}) {
    if (const char* value = std::getenv(name)) saved[name] = value;
    unsetenv(name);
  }
  TTamsel t;
  EXPECT_EQ(t.ConvertAnsi("<p>x</p>", kEncUtf8), "x");
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), expected);
  for (const auto& [name, value] : saved)
    setenv(name.c_str(), value.c_str(), 1);
  std::setlocale(LC_ALL, "C");
}

TEST(Options, LineBreakAlsoInCode) {
  TTamsel t;
  t.Options.LineBreak = "\n";
  EXPECT_EQ(t.ConvertAnsi("<p>a</p><pre>b\nc<br>d</pre><ul><li>e</li></ul>", kEncUtf8),
            "a\n\n<code>\nb\nc\nd\n</code>\n\n  * e");
}

// The region hook: the outline a chooser sees, and what the run then writes.
TEST(ChooseRegion, ContentAndLeftOutParts) {
  const std::string html = "<body><div id=a><p>One <b>two</b></p><p id=x>Three</p></div>"
                           "<div id=b><p>Four</p><ul><li>Five</li></ul></div>Tail</body>";
  const TOutline outline = OutlineDocument(html, kEncUtf8);
  ASSERT_FALSE(outline.empty());
  EXPECT_EQ(outline[0].Tag, "body");
  EXPECT_EQ(outline[0].End, outline.size());
  std::map<std::string, std::uint32_t> byId;
  for (std::uint32_t i = 0; i < outline.size(); ++i) {
    const std::string id(outline[i].Attribute("id"));
    if (!id.empty()) byId[id] = i;
    if (i > 0) {
      EXPECT_LT(outline[i].Parent, i);
    }
    EXPECT_LE(outline[i].End, outline.size());
  }
  ASSERT_EQ(byId.size(), 3u);
  EXPECT_EQ(outline[byId["x"]].Parent, byId["a"]);
  EXPECT_EQ(outline[byId["x"] + 1].Text, "Three");

  struct Row {
    std::vector<std::string> Content, LeaveOut;
    const char* Expected;
  } rows[] = {
      {{}, {}, "One **two**\r\n\r\nThree\r\n\r\nFour\r\n\r\n  * Five\r\n\r\nTail"},
      {{"a"}, {}, "One **two**\r\n\r\nThree"},
      {{"b", "x"}, {}, "Three\r\n\r\nFour\r\n\r\n  * Five"},
      {{}, {"a", "b"}, "Tail"},
      {{"a"}, {"x"}, "One **two**"},
      // Numbers past the outline are ignored, the body is never left out.
      {{}, {"", "none"}, "One **two**\r\n\r\nThree\r\n\r\nFour\r\n\r\n  * Five\r\n\r\nTail"},
  };
  for (const Row& row : rows) {
    TTamsel converter;
    converter.ChooseRegion = [&](const TOutline& seen) {
      EXPECT_EQ(seen.size(), outline.size());
      TRegion region;
      for (const std::string& id : row.Content)
        region.Content.push_back(byId.count(id) ? byId[id] : 100000);
      for (const std::string& id : row.LeaveOut)
        region.LeaveOut.push_back(id.empty() ? 0 : byId.count(id) ? byId[id] : 100000);
      return region;
    };
    std::string out = converter.ConvertAnsi(html, kEncUtf8);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
      out.pop_back();
    EXPECT_EQ(out, row.Expected) << row.Content.size() << " " << row.LeaveOut.size();
  }
}
