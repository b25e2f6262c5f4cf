// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the bytes of an HTML file: the text they hold. (Which encoding is
// chosen is tested with the command line's pieces, tests/cli.)
#include "Tamsel_Encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace tamsel {
namespace {

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
