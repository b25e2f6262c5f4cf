// SPDX-License-Identifier: GPL-2.0-or-later
// A page's anchors, found however Tidy fares.
#include "Tamsel_Anchor.h"

#include "Tamsel.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace tamsel::cli {
namespace {

TEST(Anchors, ParsesHoweverTidyFares) {
  // The whole of it is held against DokuWiki's renderer in
  // test_anchors_dokuwiki.py; here: Tidy stuck in a loop, Tidy leaking.
  EXPECT_THROW(FindAnchors("<tr><dl></table>", kEncUtf8), std::runtime_error);
  const TDocumentAnchors anchors =
      FindAnchors("<?xml version='1.0' x='y'?><p><?xml a='b'?></p><h2 id=x>T</h2>", kEncUtf8);
  ASSERT_EQ(anchors.Targets.count("x"), 1u);
  EXPECT_EQ(anchors.Targets.at("x").Section, "t");
  EXPECT_TRUE(anchors.Targets.at("x").OnHeading);
  EXPECT_EQ(anchors.Headings, std::vector<std::string>{"t"});
}

} // namespace
} // namespace tamsel::cli
