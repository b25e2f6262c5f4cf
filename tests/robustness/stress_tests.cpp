// SPDX-License-Identifier: GPL-2.0-or-later
// Nesting and sizes at the edge of what Tidy parses in tolerable time, and the
// limits on input and output. Minutes and gigabytes: CTest label "stress",
// run by scripts/stress.
#include "Robust_Input.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tamsel;
using namespace tamsel::robust;

TEST(Stress, FiftyThousandNestedTables) {
  const std::string out = Convert(Nested("<table><tr><td>", "</td></tr></table>", 50000));
  EXPECT_EQ(Count(out, "deep"), 1u);
}

TEST(Stress, TwoHundredThousandNestedDivs) {
  EXPECT_EQ(Convert(Nested("<div>", "</div>", 200000)), "deep");
}

TEST(Stress, NestingDeeperThanTheCallersStack) {
  // Some 160 bytes of stack a level: eight million levels need more than the
  // callers' 1 GiB, which the run reserves for itself.
  const std::string out = Convert(Nested("<b>", "", 8'000'000));
  EXPECT_EQ(out, "**deep**");
}

TEST(Stress, NestingWrittenNoDeeperThanTenLevels) {
  // Every quotation level wrote its '>' again: 50,000 levels wanted 1.25 GB.
  const std::string quotes = Convert(Nested("<blockquote>", "", 50000));
  EXPECT_EQ(quotes.find(std::string(11, '>')), std::string::npos);
  EXPECT_LT(quotes.size(), 10000u);
  // Every item stays, none indented deeper than ten levels.
  const std::string lists = Convert(Nested("<ul><li>x", "", 40000));
  EXPECT_EQ(Count(lists, "* x"), 40000u);
  EXPECT_EQ(lists.find(std::string(21, ' ')), std::string::npos);
}

TEST(Stress, FiftyMegabytesInOneTextNode) {
  const std::string text(50'000'000, 'x');
  EXPECT_EQ(Convert("<p>" + text + "</p>"), text);
  const std::string markup(50'000'000, '*');
  EXPECT_EQ(Convert(markup), "%%" + markup + "%%");
}

TEST(Stress, HundredThousandAttributes) {
  std::string many = "<img src=a.png";
  for (int i = 0; i < 100000; ++i)
    many += " data-" + std::to_string(i) + "=\"v\"";
  EXPECT_EQ(Convert(many + " alt=last>"), "{{a.png|last}}");
}
