// SPDX-License-Identifier: GPL-2.0-or-later
// DokuWiki's ids as the command line makes them.
#include "Cli_DokuId.h"

#include <gtest/gtest.h>

namespace tamsel::cli {
namespace {

TEST(DokuId, CleansLikeDokuWiki) {
  // The whole of it is held against DokuWiki itself in test_ids_dokuwiki.py;
  // these show what the rules do.
  const std::pair<const char*, const char*> cases[] = {
      {"My Page", "my_page"},
      {"Docs:Getting Started", "docs:getting_started"},
      {"Äpfel/Birnen", "aepfel_birnen"},
      {"a;b", "a:b"},
      {"  __a__  ", "a"},
      {"a  -  b", "a_-_b"},
      {"ns:.hidden", "ns:hidden"},
      {"ns._:page", "ns:page"},
      {"::a::b::", "a:b"},
      {"v1.2", "v1.2"},
      {"Ελληνικά", "ελληνικά"},
      {"100% *sure*?", "100_sure"},
      // Bytes that are no UTF-8 separate, as mbstring's '?' for them does.
      {"caf\xE9", "caf"},
      {"a\xFF\x62", "a_b"},
      // Composed before the accents go: "e" and a combining acute is "é".
      {"Cafe\xCC\x81", "cafe"},
      {"\xC4\xB0stanbul", "i\xCC\x87stanbul"},
      {"", ""},
  };
  for (const auto& [raw, id] : cases)
    EXPECT_EQ(CleanId(raw), id) << raw;
}

TEST(DokuId, SectionIds) {
  EXPECT_EQ(SectionId("Part Two"), "part_two");
  EXPECT_EQ(SectionId("1.2 Setup"), "setup");
  EXPECT_EQ(SectionId("1.2"), "section12");
  EXPECT_EQ(SectionId("ns:a.b"), "nsab");
}

TEST(DokuId, FileNamesAreUrlEncodedUnlessPlain) {
  EXPECT_EQ(EncodeFileName("docs/getting_started"), "docs/getting_started");
  EXPECT_EQ(EncodeFileName("ελ/a b"), "%CE%B5%CE%BB/a+b");
  EXPECT_EQ(EncodeFileName("a~b"), "a%7Eb");
}

} // namespace
} // namespace tamsel::cli
