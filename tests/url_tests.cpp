// SPDX-License-Identifier: GPL-2.0-or-later
// Where links lead: the resolver, the link policy of every mode and the
// address resolution, also on the references browsers read otherwise than
// they are written (tabs and line ends, percent-escapes, ".." at the root).
#include "Tamsel.h"
#include "Tamsel_Url.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace tamsel;

TEST(Url, ResolvesReferencesLikeABrowser) {
  struct TCase {
    const char* Page;
    const char* Href;
    const char* Path; // null: leaves the site
    bool Directory;
    const char* Fragment;
    std::size_t Above;
    bool Absolute;
  };
  const TCase cases[] = {
      {"a/b/page.html", "other.html", "a/b/other.html", false, "", 0, false},
      {"a/b/page.html", "../up.html", "a/up.html", false, "", 0, false},
      {"a/b/page.html", "/root.html?q=1#x", "root.html", false, "x", 0, true},
      {"a/b/page.html", "./c/./d/../e.htm", "a/b/c/e.htm", false, "", 0, false},
      {"a/b/page.html", "My%20Page.html#%C3%9Cber", "a/b/My Page.html", false,
       "\xC3\x9C"
       "ber",
       0, false},
      {"a/b/page.html", "..\\win\\x.htm", "a/win/x.htm", false, "", 0, false},
      {"a/b/page.html", "sub/", "a/b/sub", true, "", 0, false},
      {"a/b/page.html", "..", "a", true, "", 0, false},
      {"page.html", "/", "", true, "", 0, true},
      {"page.html", "//host/x.html", nullptr, false, "", 0, false},
      {"page.html", "javascript:void(0)", nullptr, false, "", 0, false},
      {"page.html", "tel:0123", nullptr, false, "", 0, false},
      // Browsers drop surrounding spaces and every tab, CR and LF, wherever
      // they stand.
      {"page.html", "  spaced.html\t", "spaced.html", false, "", 0, false},
      {"p.html", "a\tb.html", "ab.html", false, "", 0, false},
      {"d/p.html", "s\r\nub/x.html", "d/sub/x.html", false, "", 0, false},
      {"p.html", "x.html#se\tc", "x.html", false, "sec", 0, false},
      {"p.html", "/\tx\n.html", "x.html", false, "", 0, true},
      // Every escape is decoded whole, also the last of a name; one that is
      // no escape stays as written, and a name cannot hold a '/' or a NUL.
      {"p.html", "caf%C3%A9", "caf\xC3\xA9", false, "", 0, false},
      {"p.html", "%C3%A9%C3%A9.html", "\xC3\xA9\xC3\xA9.html", false, "", 0, false},
      {"p.html", "x.html#%C3%A9", "x.html", false, "\xC3\xA9", 0, false},
      {"p.html", "%41%4", "A%4", false, "", 0, false},
      {"p.html", "a%", "a%", false, "", 0, false},
      {"p.html", "%zz%4g", "%zz%4g", false, "", 0, false},
      {"p.html", "a%2Fb.html", nullptr, false, "", 0, false},
      {"p.html", "a%00b", nullptr, false, "", 0, false},
      // A ".." at the root stays there for a path from the root; a relative
      // one keeps its climb, for a document whose place is unknown.
      {"p.html", "/../x.html", "x.html", false, "", 0, true},
      {"a/b/p.html", "/a/../../../x.html", "x.html", false, "", 0, true},
      {"a/p.html", "/..", "", true, "", 0, true},
      {"p.html", "../x.html", "x.html", false, "", 1, false},
      {"a/b/page.html", "../../../../top.html", "top.html", false, "", 2, false},
  };
  for (const TCase& c : cases) {
    const auto ref = ResolveReference(c.Page, c.Href);
    if (!c.Path) {
      EXPECT_FALSE(ref) << c.Href;
      continue;
    }
    ASSERT_TRUE(ref) << c.Href;
    EXPECT_EQ(ref->Path, c.Path) << c.Href;
    EXPECT_EQ(ref->Directory, c.Directory) << c.Href;
    EXPECT_EQ(ref->Fragment, c.Fragment) << c.Href;
    EXPECT_EQ(ref->Above, c.Above) << c.Href;
    EXPECT_EQ(ref->Absolute, c.Absolute) << c.Href;
    EXPECT_FALSE(ref->SamePage) << c.Href;
  }
  const auto same = ResolveReference("p.html", "#d%C3%A9j%C3%A0");
  ASSERT_TRUE(same);
  EXPECT_TRUE(same->SamePage);
  EXPECT_EQ(same->Fragment, "d\xC3\xA9j\xC3\xA0");
}

TEST(Url, PageTargetsOfASingleDocument) {
  const std::pair<const char*, const char*> cases[] = {
      {"docs/setup.html#step2", "docs:setup#step2"},
      {"/wiki/start.html", ":wiki:start"},
      {"..\\manual\\index.htm", "..:manual:start"},
      {"../../COPYING", "..:..:COPYING"},
      {"dir.old/page", "dir.old:page"},
      {"./page", "page"},
      {"sub/", "sub:"},
      {"#top", "#top"},
      {"/", ":"},
      {"./", ""},
      {"My%20Page.html?x=1#%C3%9Cber", "My Page#\xC3\x9C"
                                       "ber"},
      {".hidden", ".hidden"},
  };
  for (const auto& [href, page] : cases) {
    const auto ref = ResolveReference("", href);
    ASSERT_TRUE(ref) << href;
    EXPECT_EQ(LocalPageTarget(*ref), page) << href;
  }
  EXPECT_EQ(SchemeOf("MailTo:x"), "MailTo");
  EXPECT_EQ(SchemeOf("a.html?u=http://x"), "");
  EXPECT_EQ(SchemeOf("1a:b"), "");
}

TEST(Url, LinksAndImagesInEveryMode) {
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

// RFC 3986's resolution of a reference against a base address.
TEST(Url, AddressesResolveAgainstTheBase) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"http://h/a/b.html", "../c", "http://h/c"},
      {"http://h/a/b.html", "c.html?x=1#f", "http://h/a/c.html?x=1#f"},
      {"http://h/a/b.html", "/d/./e/../f", "http://h/d/f"},
      {"http://h/a/b.html?q=1#x", "#y", "http://h/a/b.html?q=1#y"},
      {"http://h/a/b.html?q=1", "?r=2", "http://h/a/b.html?r=2"},
      {"https://h", "x", "https://h/x"},
      {"https://h/a/", "//cdn/i.png", "https://cdn/i.png"},
      {"https://h/a/", "mailto:x@y", "mailto:x@y"},
      {"https://h/a/", "..\\b\tc", "https://h/bc"},
      {"https://h/a/", "../../..", "https://h/"},
      {"http://h/a/b.html", "/../x.html", "http://h/x.html"},
      {"http://h/a/b.html", "../../../x", "http://h/x"},
      {"http://h/a/", "\r\nx\n.html\t", "http://h/a/x.html"},
      {"http://h/a/", "#f\to", "http://h/a/#fo"},
      {"not an address", "x", ""},
      {"file:x", "y", ""},
  };
  for (const auto& [base, href, url] : cases)
    EXPECT_EQ(ResolveAddress(base, href), url) << base << " " << href;
}

// The same through the converter, whose output channel writes the address.
TEST(Url, WrittenAddressesHoldNoTab) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"<a href=\"http://h/a&#9;b.html\">t</a>", "", "[[http://h/ab.html|t]]"},
      {"<a href=\"x&#9;y.html\">t</a>", "http://h/d/", "[[http://h/d/xy.html|t]]"},
      {"<a href=\"/../x.html\">t</a>", "http://h/d/", "[[http://h/x.html|t]]"},
      {"<a href=\"/../x.html\">t</a>", "", "[[:x|t]]"},
      {"<a href=\"caf%C3%A9.html\">t</a>", "", "[[caf\xC3\xA9|t]]"},
  };
  TTamsel t;
  for (const auto& [html, base, expected] : cases) {
    t.Options.BaseUrl = base;
    EXPECT_EQ(t.ConvertAnsi(html, kEncUtf8), expected) << html;
  }
}
