// SPDX-License-Identifier: GPL-2.0-or-later
// The site's files and their ids, and where links between them lead.
#include "Cli_SiteIndex.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tamsel::cli {
namespace {

TEST(SiteIndex, LinksBecomeAbsolutePageIds) {
  std::vector<TSiteFile> files;
  for (const char* path :
       {"index.html", "Docs/Index.HTM", "Docs/Getting Started.html", "Docs/Sub/deep.htm",
        "about.html", "About.htm", "files/report.pdf", "img/Logo.PNG", "Caf\xC3\xA9.html"})
    files.push_back(TSiteFile{path, path, false, {}, {}});
  TSiteIndex index(std::move(files), TIndexOptions{"", "start", false});
  TDocumentAnchors anchors;
  anchors.Headings = {"step_two", "options"};
  anchors.Targets = {{"s2", {"step_two", true}}, {"opt", {"options", false}}, {"top", {"", false}}};
  for (std::size_t i = 0; i < index.Files().size(); ++i)
    if (index.Files()[i].Path == "Docs/Getting Started.html" ||
        index.Files()[i].Path == "index.html")
      index.SetAnchors(i, anchors);

  struct Case {
    const char* Page;
    const char* Href;
    const char* Result; // null: the converter's link policy decides
  };
  const Case cases[] = {
      {"index.html", "Docs/Getting%20Started.html#Step 2", ":docs:getting_started"},
      {"index.html", "Docs/Getting%20Started.html#s2", ":docs:getting_started#step_two"},
      {"index.html", "Docs/Getting%20Started.html#opt", ":docs:getting_started#options"},
      {"index.html", "Docs/Getting%20Started.html#top", ":docs:getting_started"},
      {"index.html", "Docs/Getting%20Started#s2.html", ":docs:getting_started#step_two"},
      {"Docs/Sub/deep.htm", "../../index.html", ":start"},
      {"Docs/Sub/deep.htm", "/docs/getting started.HTML", ":docs:getting_started"},
      {"index.html", "Docs/", ":docs:start"},
      {"index.html", "Docs", ":docs:start"},
      {"index.html", "docs/sub/deep", ":docs:sub:deep"},
      {"index.html", "About.htm", ":about_2"}, // about.html spells the id and keeps it
      {"index.html", "about.html", ":about"},
      {"index.html", "#s2", "#step_two"},
      {"index.html", "#Top", ":start"},
      {"index.html", "#Other", ":start"},     // no such place: the top of the page
      {"index.html", "#Options", "#options"}, // a heading's anchor as DokuWiki spells it
      {"index.html", "about.html#Top", ":about"},
      {"index.html", "#", nullptr},
      {"index.html", "?page=2", ":start"},        // a static page, whatever the query
      {"index.html", "list.php?page=2", nullptr}, // a query picks a page of its own
      {"index.html", "new/Page.html#x", nullptr},
      {"index.html", "new/Page#x", nullptr},
      {"index.html", "files/report.pdf", nullptr},
      {"index.html", "nothing/", nullptr},
      {"index.html", "mailto-like:x", nullptr},
      {"index.html", "caf%C3%A9.html", ":cafe"},
      {"index.html", "caf%E9.html", ":cafe"}, // a link written in Windows-1252
  };
  TLinkCounts counts;
  for (const Case& c : cases) {
    TResolvedLink result;
    std::string note;
    const bool resolved = index.ResolveLink(c.Page, c.Href, result, counts, note);
    EXPECT_EQ(resolved, c.Result != nullptr) << c.Href;
    if (resolved && c.Result) {
      EXPECT_EQ(result.Target, c.Result) << c.Href;
    }
  }
  EXPECT_EQ(counts.Resolved, 20u);
  EXPECT_EQ(counts.MissingPages, 3u);
  EXPECT_EQ(counts.Kept, 4u);
  EXPECT_EQ(counts.FragmentsOnHeading, 4u);
  EXPECT_EQ(counts.FragmentsInSection, 3u);

  std::string result, note;
  std::size_t file = 0;
  EXPECT_TRUE(index.ResolveImage("Docs/Sub/deep.htm", "../../img/logo.png?v=2", result, file,
                                 counts, note));
  EXPECT_EQ(result, ":img:logo.png");
  EXPECT_EQ(index.Files()[file].Path, "img/Logo.PNG");
  EXPECT_FALSE(index.ResolveImage("index.html", "img/none.png", result, file, counts, note));
  EXPECT_FALSE(
      index.ResolveImage("index.html", "data:image/png;base64,AAAA", result, file, counts, note));
}

TEST(SiteIndex, EveryFileArrivesUnderTheNamespace) {
  std::vector<TSiteFile> files;
  for (const char* path :
       {"FAQ.html", "faq.html", "Faq.htm", "faq_2.html", "INDEX.HTM", "dir/index.html",
        "dir/home.html", "---.html", "img/A.png", "img/a.png", "doc/Report.PDF"})
    files.push_back(TSiteFile{path, path, false, {}, {}});
  const TSiteIndex index(std::move(files), TIndexOptions{"wiki:old", "home", true});
  std::map<std::string, std::pair<std::string, std::string>> ids; // path: id, wanted
  for (const TSiteFile& file : index.Files())
    ids[file.Path] = {file.Id, file.Wanted};
  const std::map<std::string, std::pair<std::string, std::string>> expected{
      {"FAQ.html", {"wiki:old:faq_3", "wiki:old:faq"}},
      {"faq.html", {"wiki:old:faq", ""}},
      {"Faq.htm", {"wiki:old:faq_4", "wiki:old:faq"}},
      {"faq_2.html", {"wiki:old:faq_2", ""}},
      {"INDEX.HTM", {"wiki:old:home", ""}},
      {"dir/index.html", {"wiki:old:dir:home_2", "wiki:old:dir:home"}},
      {"dir/home.html", {"wiki:old:dir:home", ""}},
      {"---.html", {"wiki:old:page", ""}},
      {"img/A.png", {"wiki:old:img:a_2.png", "wiki:old:img:a.png"}},
      {"img/a.png", {"wiki:old:img:a.png", ""}},
      {"doc/Report.PDF", {"wiki:old:doc:report.pdf", ""}},
  };
  EXPECT_EQ(ids, expected);

  TLinkCounts counts;
  TResolvedLink link;
  std::string note;
  ASSERT_TRUE(index.ResolveLink("dir/index.html", "../FAQ.html", link, counts, note));
  EXPECT_EQ(link.Target, ":wiki:old:faq_3");
  ASSERT_TRUE(index.ResolveLink("dir/index.html", "../doc/Report.PDF", link, counts, note));
  EXPECT_TRUE(link.Media);
  EXPECT_EQ(link.Target, ":wiki:old:doc:report.pdf");
  EXPECT_EQ(index.Files()[link.File].Path, "doc/Report.PDF");
  ASSERT_TRUE(index.ResolveLink("faq.html", "/", link, counts, note));
  EXPECT_EQ(link.Target, ":wiki:old:home");
}

} // namespace
} // namespace tamsel::cli
