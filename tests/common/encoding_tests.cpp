// Reading the bytes of an HTML file: which encoding, and the text it holds.
#include "Tamsel_Encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace tamsel {
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

// What the window puts into its editor: the detection's choice decoded into
// UTF-8 text.
TEST(Encoding, DecodesTheChosenEncodingIntoUtf8) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      // Latin-1 declared, and undeclared bytes that are not UTF-8.
      {"<meta charset=\"iso-8859-1\"><p>Gr\xFC\xDF"
       "e \x80</p>",
       "<meta charset=\"iso-8859-1\"><p>Grüße €</p>"},
      {"<p>caf\xE9</p>", "<p>café</p>"},
      {"<p>café</p>", "<p>café</p>"},
      {"\xEF\xBB\xBF<p>ü</p>", "<p>ü</p>"},
      {"\xFF\xFE<\0\xFC\0"s, "<ü"},
      {"\xFE\xFF\0<\0\xFC"s, "<ü"},
      {"<\0p\0>\0\xE4\0"s, "<p>ä"},
      {"<meta charset=iso-8859-15><p>\xA4</p>", "<meta charset=iso-8859-15><p>€</p>"},
      {"<meta charset=koi8-r><p>\xF0</p>", "<meta charset=koi8-r><p>П</p>"},
      // Declared UTF-8 with one broken byte: the rest is still read as UTF-8.
      {"<meta charset=utf-8><p>ü\xFF</p>", "<meta charset=utf-8><p>ü\uFFFD</p>"},
      {"", ""},
  };
  for (const auto& [bytes, text] : cases)
    EXPECT_EQ(PreparedAsUtf8(PrepareInput(bytes, std::nullopt)), text) << bytes;
}

} // namespace
} // namespace tamsel
