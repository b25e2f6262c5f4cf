// SPDX-License-Identifier: GPL-2.0-or-later
// Where links lead: the resolver, the link policy of every mode and the
// address resolution, on the references browsers read differently from how
// they are written (tabs and line ends, percent-escapes, ".." at the root).
#include "Tamsel.h"
#include "Tamsel_Url.h"

#include <gtest/gtest.h>

#include <string>

using namespace tamsel;

namespace {

struct TResolveCase {
  const char* Page;
  const char* Href;
  const char* Path; // null: leaves the site
  const char* Fragment;
  std::size_t Above;
  bool Absolute;
};

} // namespace

TEST(UrlResolver, TabsLineEndsEscapesAndTheRoot) {
  const TResolveCase cases[] = {
      // Browsers drop every tab, CR and LF, wherever they stand.
      {"p.html", "a\tb.html", "ab.html", "", 0, false},
      {"p.html", "\tx.html", "x.html", "", 0, false},
      {"d/p.html", "s\r\nub/x.html", "d/sub/x.html", "", 0, false},
      {"p.html", "x.html#se\tc", "x.html", "sec", 0, false},
      {"p.html", "/\tx\n.html", "x.html", "", 0, true},
      // Every escape is decoded whole, also the last of a name; one that is
      // no escape stays as written.
      {"p.html", "caf%C3%A9", "caf\xC3\xA9", "", 0, false},
      {"p.html", "%C3%A9%C3%A9.html", "\xC3\xA9\xC3\xA9.html", "", 0, false},
      {"p.html", "x.html#%C3%A9", "x.html", "\xC3\xA9", 0, false},
      {"p.html", "#d%C3%A9j%C3%A0", "p.html", "d\xC3\xA9j\xC3\xA0", 0, false},
      {"p.html", "%41%4", "A%4", "", 0, false},
      {"p.html", "a%", "a%", "", 0, false},
      {"p.html", "%zz%4g", "%zz%4g", "", 0, false},
      {"p.html", "a%2fb", nullptr, "", 0, false},
      {"p.html", "a%00b", nullptr, "", 0, false},
      // A ".." at the root stays there for a path from the root; a relative
      // one keeps its climb, for a document whose place is unknown.
      {"p.html", "/../x.html", "x.html", "", 0, true},
      {"a/b/p.html", "/a/../../../x.html", "x.html", "", 0, true},
      {"a/p.html", "/..", "", "", 0, true},
      {"p.html", "../x.html", "x.html", "", 1, false},
      {"a/p.html", "../../../x.html", "x.html", "", 2, false},
  };
  for (const TResolveCase& c : cases) {
    const auto ref = ResolveReference(c.Page, c.Href);
    if (!c.Path) {
      EXPECT_FALSE(ref) << c.Href;
      continue;
    }
    ASSERT_TRUE(ref) << c.Href;
    EXPECT_EQ(ref->Path, c.Path) << c.Href;
    EXPECT_EQ(ref->Fragment, c.Fragment) << c.Href;
    EXPECT_EQ(ref->Above, c.Above) << c.Href;
    EXPECT_EQ(ref->Absolute, c.Absolute) << c.Href;
  }
}

TEST(UrlPolicy, LinksAndImagesInEveryMode) {
  struct TCase {
    const char* PagePath;
    const char* Namespace;
    const char* BaseUrl;
    bool Image;
    const char* Href;
    const char* Target; // empty: no target
  };
  const TCase cases[] = {
      // A site's page, a page of a namespace, a lone page, a published page.
      {"a/p.html", "ns", "", false, "/../x.html", ":ns:x"},
      {"", "ns", "", false, "/../x.html", ":ns:x"},
      {"", "", "", false, "/../x.html", ":x"},
      {"", "", "", false, "../x.html", "..:x"},
      {"a/p.html", "", "http://h/docs/", false, "/../x.html", "http://h/x.html"},
      {"a/p.html", "ns", "", true, "/../img/l.png", ":ns:img:l.png"},
      {"a/p.html", "ns", "", false, "x\ty.html", ":ns:a:xy"},
      {"", "", "", false, "x\r\ny.html", "xy"},
      {"a/p.html", "", "http://h/docs/", false, "x\ty.html", "http://h/docs/a/xy.html"},
      {"a/p.html", "ns", "", true, "i\tmg/a\nb.png", ":ns:a:img:ab.png"},
      // DokuWiki folds accents out of ids.
      {"a/p.html", "ns", "", false, "caf%C3%A9", ":ns:a:cafe"},
      {"", "", "", false, "caf%C3%A9.html#%C3%A9t%C3%A9", "caf\xC3\xA9#\xC3\xA9t\xC3\xA9"},
      {"a/p.html", "ns", "", true, "%C3%A9.png", ":ns:a:e.png"},
  };
  for (const TCase& c : cases) {
    TLinkPlace place;
    place.PagePath = c.PagePath;
    place.Namespace = c.Namespace;
    place.BaseUrl = c.BaseUrl;
    const TPolicyTarget target =
        c.Image ? LocalImageTarget(c.Href, place) : LocalLinkTarget(c.Href, place, false);
    EXPECT_EQ(target.Target, c.Target) << c.PagePath << " " << c.Namespace << " " << c.Href;
  }
}

TEST(UrlAddress, TabsAndTheRoot) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"http://h/a/b.html", "/../x.html", "http://h/x.html"},
      {"http://h/a/b.html", "../../../x", "http://h/x"},
      {"http://h/a/", "x\ty", "http://h/a/xy"},
      {"http://h/a/", "\r\nx\n.html\t", "http://h/a/x.html"},
      {"http://h/a/", "#f\to", "http://h/a/#fo"},
  };
  for (const auto& [base, href, url] : cases)
    EXPECT_EQ(ResolveAddress(base, href), url) << base << " " << href;
}

// The same through the converter, whose output writes the address.
TEST(UrlAddress, WrittenWithoutTabs) {
  struct TCase {
    const char* Html;
    const char* BaseUrl;
    const char* Expected;
  };
  const TCase cases[] = {
      {"<a href=\"http://h/a&#9;b.html\">t</a>", "", "[[http://h/ab.html|t]]"},
      {"<a href=\"x&#9;y.html\">t</a>", "http://h/d/", "[[http://h/d/xy.html|t]]"},
      {"<a href=\"/../x.html\">t</a>", "http://h/d/", "[[http://h/x.html|t]]"},
      {"<a href=\"/../x.html\">t</a>", "", "[[:x|t]]"},
      {"<a href=\"caf%C3%A9.html\">t</a>", "", "[[caf\xC3\xA9|t]]"},
  };
  for (const TCase& c : cases) {
    TTamsel t;
    t.Options.BaseUrl = c.BaseUrl;
    EXPECT_EQ(t.ConvertAnsi(c.Html, kEncUtf8), c.Expected) << c.Html;
  }
}
