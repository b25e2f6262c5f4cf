// SPDX-License-Identifier: GPL-2.0-or-later
// How the command line reads a file's bytes: declarations, labels, byte order marks.
#include "Tamsel_Encoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace tamsel::cli {
namespace {

TEST(Encoding, FindsDeclarations) {
  const std::pair<const char*, const char*> cases[] = {
      {"<meta charset=\"ISO-8859-1\">", "ISO-8859-1"},
      {"<META CHARSET=koi8-r>", "koi8-r"},
      {"<meta http-equiv='Content-Type' content='text/html; charset=windows-1251'>",
       "windows-1251"},
      {"<meta content=\"text/html;charset='utf-8'\" http-equiv=content-type>", "utf-8"},
      {"<meta content='text/html; charset = \"big5\"' http-equiv=\"CONTENT-TYPE\">", "big5"},
      {"<?xml version=\"1.0\" encoding=\"iso-8859-15\"?><html>", "iso-8859-15"},
      {"<!-- <meta charset=koi8-r> --><p>", ""},
      {"<p title='<meta charset=koi8-r>'>", ""},
      {"<meta name=description content='charset=x'>", ""},
      {"<p>no declaration</p>", ""},
  };
  for (const auto& [html, charset] : cases)
    EXPECT_EQ(FindDeclaredCharset(html), charset) << html;
  const std::string late = std::string(5000, ' ') + "<meta charset=koi8-r>";
  EXPECT_EQ(FindDeclaredCharset(late), "");
}

TEST(Encoding, ReadsLabelsAsBrowsersDo) {
  EXPECT_EQ(LookupCharsetLabel("ISO-8859-1")->Name, "win1252");
  EXPECT_EQ(LookupCharsetLabel(" us-ascii ")->Name, "win1252");
  EXPECT_EQ(LookupCharsetLabel("utf-16")->Name, "utf8");
  EXPECT_EQ(LookupCharsetLabel("gb2312")->Iconv, "GB18030");
  EXPECT_EQ(LookupCharsetLabel("windows-1251")->Iconv, "windows-1251");
  EXPECT_FALSE(LookupCharsetLabel("x-klingon"));
  EXPECT_FALSE(ParseEncodingName("auto"));
  EXPECT_EQ(ParseEncodingName("UTF-8")->Tidy, 4);
  EXPECT_EQ(ParseEncodingName("shiftjis")->Iconv, "SHIFT_JIS");
}

TEST(Encoding, StripsByteOrderMarks) {
  const std::string utf16 = std::string("\xFF\xFE<\0p\0>\0", 8);
  const TPreparedInput input = PrepareInput(utf16, std::nullopt);
  EXPECT_EQ(input.TidyEncoding, 9);
  EXPECT_EQ(input.Bytes, std::string_view(utf16).substr(2));
  const TPreparedInput utf8 = PrepareInput("\xEF\xBB\xBF<p>", ParseEncodingName("utf8"));
  EXPECT_EQ(utf8.Bytes, "<p>");
  EXPECT_TRUE(utf8.Warnings.empty());
}

} // namespace
} // namespace tamsel::cli
