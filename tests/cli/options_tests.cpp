// SPDX-License-Identifier: GPL-2.0-or-later
// The command line read into what it asks for.
#include "Cli_Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tamsel::cli {
namespace {

TEST(Options, ReadsTheCommandLine) {
  const TCommandLine site =
      ParseCommandLine({"--site", "src", "--out=pages", "--media", "m", "-j", "3", "--force",
                        "--encoding", "latin1", "--newline", "crlf"});
  EXPECT_EQ(site.Mode, TMode::Site);
  EXPECT_EQ(site.Site.Pages, "pages");
  EXPECT_EQ(site.Site.Jobs, 3u);
  EXPECT_TRUE(site.Site.Force);
  EXPECT_EQ(site.Site.Document.Encoding->Tidy, 3);
  EXPECT_EQ(site.Site.Document.Newline, TNewline::CrLf);

  const TCommandLine one = ParseCommandLine({"--no-links", "--", "-odd-name.html"});
  EXPECT_EQ(one.Mode, TMode::Document);
  EXPECT_EQ(one.Input, "-odd-name.html");
  EXPECT_FALSE(one.Site.Document.Links);
  EXPECT_EQ(ParseCommandLine({"-"}).Input, "-");
  EXPECT_EQ(ParseCommandLine({"x", "--help"}).Mode, TMode::Help);

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--jobs", "0"},
                                             {"--site", "s", "--out", "o", "--jobs", "1x"},
                                             {"--media", "m"},
                                             {"--newline"},
                                             {"--output", ""},
                                             {"-x"},
                                             {"a", "b"}})
    EXPECT_THROW(ParseCommandLine(bad), TUsageError) << bad.front();
}

TEST(Options, WikiModes) {
  const TCommandLine site =
      ParseCommandLine({"--site", "src", "--wiki", "https://w.example/", "--user", "ann",
                        "--summary", "Moved", "--dry-run", "--timeout", "5"});
  EXPECT_EQ(site.Mode, TMode::Site);
  EXPECT_EQ(site.Site.Wiki.User, "ann");
  EXPECT_EQ(site.Site.Wiki.Summary, "Moved");
  EXPECT_TRUE(site.Site.Wiki.DryRun);
  EXPECT_EQ(site.Site.Wiki.TimeoutSeconds, 5);
  const TCommandLine one = ParseCommandLine(
      {"a.html", "--wiki", "http://w/", "--user", "ann", "--page", "Docs:My Page"});
  EXPECT_EQ(one.Mode, TMode::Document);
  EXPECT_EQ(one.WikiPage, "docs:my_page");
  EXPECT_EQ(one.Site.Wiki.Summary, "Imported with tamsel");

  const std::vector<std::string> wiki = {"--wiki", "http://w/", "--user", "ann"};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.end(), wiki.begin(), wiki.end());
    return more;
  };
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--site", "s", "--wiki", "http://w/"},               // no user
           with({"--site", "s", "--out", "o"}),                  // two destinations
           with({"--site", "s", "--page", "p"}),                 // a page for a whole site
           with({"a.html"}),                                     // a document without its page
           with({"a.html", "--page", "p", "-o", "x"}),           // and an output file
           with({"a.html", "--page", "?!"}),                     // an id that cleans to nothing
           with({"a.html", "--page", "p", "--newline", "crlf"}), // DokuWiki keeps LF
           with({"--site", "s", "--timeout", "0"}),
           {"a.html", "--page", "p", "--user", "ann", "--wiki", "https://ann:pw@w/"},
           {"a.html", "--user", "ann"}, // wiki options without --wiki
           {"a.html", "--dry-run"},
           {"a.html", "--force"}})
    EXPECT_THROW(ParseCommandLine(bad), TUsageError) << bad.front() << " " << bad.back();
}

} // namespace
} // namespace tamsel::cli
