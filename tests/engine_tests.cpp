// Direct tests of the converter's free functions and of the run's frame.
#include "Tamsel.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

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
  EXPECT_EQ(ParseAlign(nullptr), 0);
  EXPECT_EQ(ParseAlign("left"), 1);
  EXPECT_EQ(ParseAlign("CENTER"), 2);
  EXPECT_EQ(ParseAlign("Right"), 3);
  EXPECT_EQ(ParseAlign("justify"), 0);
  EXPECT_EQ(ParseAlign(" left"), 0);
  EXPECT_EQ(ParseAlign("left "), 0);
  EXPECT_EQ(ParseAlign(""), 0);
  EXPECT_EQ(ParseAlign("lef"), 0);
}

TEST(Links, SchemeAndNamespace) {
  EXPECT_TRUE(HasScheme("http://x"));
  EXPECT_TRUE(HasScheme("a://"));
  EXPECT_FALSE(HasScheme(""));
  EXPECT_FALSE(HasScheme("mailto:x"));
  EXPECT_EQ(PathToNamespace("a/b\\c.d"), "a:b:c.d");
  EXPECT_EQ(PathToNamespace(""), "");
}

TEST(BlockSet, RoomForIdsUpTo143) {
  TBlockSet set{TidyTag_DIV, TidyTag_P, static_cast<TidyTagId>(143), static_cast<TidyTagId>(144)};
  EXPECT_TRUE(set.Contains(TidyTag_DIV));
  EXPECT_TRUE(set.Contains(TidyTag_P));
  EXPECT_FALSE(set.Contains(TidyTag_PRE));
  EXPECT_TRUE(set.Contains(static_cast<TidyTagId>(143)));
  EXPECT_FALSE(set.Contains(static_cast<TidyTagId>(144)));
}

TEST(IsInlineTag, TheThirtySevenInlineElements) {
  int count = 0;
  for (int id = 0; id < N_TIDY_TAGS; ++id)
    count += IsInlineTag(static_cast<TidyTagId>(id));
  EXPECT_EQ(count, 37);
  EXPECT_TRUE(IsInlineTag(TidyTag_SPAN));
  EXPECT_FALSE(IsInlineTag(TidyTag_MARK));
  EXPECT_FALSE(IsInlineTag(TidyTag_NOBR));
  EXPECT_FALSE(IsInlineTag(TidyTag_DIV));
}

TEST(Run, EmptyInputs) {
  TTamsel t;
  EXPECT_EQ(t.ConvertBuffer(nullptr, 0, kEncUtf8), "");
  EXPECT_EQ(t.ConvertAnsi("", kEncUtf8), "");
  EXPECT_EQ(t.ConvertWide(u""), "");
  EXPECT_EQ(t.ConvertAnsi("<body> \r\n\t </body>", kEncUtf8), "");
}

TEST(Run, DefaultsAndPattern) {
  TTamsel t;
  EXPECT_EQ(t.LineBreak, "\r\n");
  EXPECT_EQ(t.LinkOptions, 7);
  EXPECT_EQ(t.FontOptions, 0);
  ASSERT_NE(t.EscapePattern, nullptr);
  EXPECT_EQ(std::string(kEscapePattern).size(), 164u);
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
