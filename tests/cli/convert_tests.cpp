// SPDX-License-Identifier: GPL-2.0-or-later
// One document through the converter, as the command line writes it.
#include "Cli_Convert.h"

#include "Tamsel.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tamsel::cli {
namespace {

// The engine writes the line end asked for; a lone CR is a space everywhere.
TEST(Output, LineEnds) {
  const std::tuple<const char*, TNewline, const char*> cases[] = {
      {"<p>a</p><p>b</p>", TNewline::Lf, "a\n\nb\n"},
      {"<p>a<br>b</p>", TNewline::CrLf, "a\\\\ b\r\n"},
      {"<pre>a&#13;b\nc</pre>", TNewline::Lf, "<code>\na b\nc\n</code>\n"},
      {"<pre>a&#13;b</pre>", TNewline::CrLf, "<code>\r\na b\r\n</code>\r\n"},
      {"<table><tr><td>a&#13;b</td></tr></table>", TNewline::Lf, "|a b|\n"},
      {"", TNewline::Lf, ""},
  };
  for (const auto& [in, newline, out] : cases) {
    tamsel::TTamsel converter;
    TDocumentOptions options;
    options.Newline = newline;
    EXPECT_EQ(ConvertDocument(converter, in, options).Text, out) << in;
  }
}

} // namespace
} // namespace tamsel::cli
