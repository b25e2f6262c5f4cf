// SPDX-License-Identifier: GPL-2.0-or-later
// The progress bar and the names shown in messages.
#include "Cli_Progress.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace tamsel::cli {
namespace {

TEST(Progress, BarFitsItsWidth) {
  EXPECT_EQ(TProgress::FormatBar(5, 10, 2.0, 40), "[======>      ] 5/10  2.0 s  2.5 files/s");
  EXPECT_EQ(TProgress::FormatBar(0, 0, 0.0, 12).size(), 12u);
  for (unsigned width : {20u, 60u, 200u})
    EXPECT_LE(TProgress::FormatBar(7, 1000, 12.5, width).size(), width);
}

TEST(Messages, NamesCannotFakeLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain name.html", "plain name.html"},
      {"two\nlines.html", "two\\nlines.html"},
      {"fake\n1 pages written.html", "fake\\n1 pages written.html"},
      {"esc\x1b[31mred", "esc\\x1b[31mred"},
      {"caf\xe9", "caf\\xe9"},
      {"back\\slash", "back\\\\slash"},
      {"\xc2\x85next line", "\\xc2\\x85next line"},
      {"日本", "日本"},
  };
  for (const auto& [name, shown] : cases)
    EXPECT_EQ(Printable(name), shown) << name;
}

} // namespace
} // namespace tamsel::cli
