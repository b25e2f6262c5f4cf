// SPDX-License-Identifier: GPL-2.0-or-later
// Where a link or image reference leads, resolved as a browser resolves it.
//
// One resolver serves the single-document conversion and the site migration,
// so that both read "..", "./", queries, fragments and percent-escapes alike.
#pragma once

#include "Tamsel_Ascii.h"

#include <optional>
#include <string>
#include <string_view>

namespace tamsel {

// A link or image reference, resolved the way a browser resolves it against
// the page that holds it, with the site's folder as the server's root.
struct TReference {
  std::string Path;       // below the root, '/' between folders, percent-decoded
  bool Directory = false; // the reference ended in '/' (or "." or "..")
  bool SamePage = false;  // no path at all: "#frag" or "?query"
  bool HasFragment = false;
  std::string Fragment; // percent-decoded, without '#'
  bool HasQuery = false;
  std::string Query;     // as written, without '?'
  bool Absolute = false; // began with '/'
  // ".." segments that would have climbed above the root. A browser drops
  // them; a single document, whose place in a site is unknown, keeps them.
  std::size_t Above = 0;
};

// pagePath is the holding page's path below the root. Returns nullopt for
// references that leave the site: another scheme ("javascript:", "tel:"), a
// network path ("//host/x"), or a name that cannot be a file (an encoded '/'
// or NUL). A ".." above the root stays at the root, as in a browser.
std::optional<TReference> ResolveReference(std::string_view pagePath, std::string_view href);

// "%20" becomes a space; a '%' without two hex digits stays as it is.
std::string PercentDecode(std::string_view s);

// The scheme of a reference ("mailto", "tel", "http"), or empty when it has
// none: a letter, then letters, digits, '+', '-' or '.', then ':'.
std::string_view SchemeOf(std::string_view href);

// The DokuWiki page a local link on a page of unknown place leads to:
// "docs/setup.html#step2" gives "docs:setup#step2", "/a/b.htm" ":a:b",
// "../x.html" "..:x", "docs/index.html" "docs:start", "#top" "#top". Empty
// when nothing is left to link to.
std::string LocalPageTarget(const TReference& ref, std::string_view startPage = "start");

// The ids DokuWiki gives the files of a site, and the one policy that says
// where a local link leads. Every mode asks it: the window and a single
// document (a page at the root, or of a namespace), and the site migration
// for the links that lead to none of its files.

// path without the extension of its last name ("a.b/c.html" gives "a.b/c").
std::string WithoutExtension(std::string_view path);
// path with its '/' as ':' ("a/b" gives "a:b").
std::string ColonPath(std::string_view path);

// True for *.html and *.htm in any letter case.
bool IsPageName(std::string_view path);
// namespace + ":" + id, or id alone when there is no namespace.
std::string InNamespace(std::string_view ns, std::string_view id);
// Page id of the file at path, without namespace ("Docs/My Page.html" gives
// "docs:my_page", "Docs/index.html" gives "docs:start").
std::string PageIdFor(std::string_view path, std::string_view startPage = "start");
// Media id of the file at path ("img/Logo.PNG" gives "img:logo.png").
std::string MediaIdFor(std::string_view path);
// The name a mirroring tool saves a page with a query under, which is the
// page of the site such a link leads to: "show.php" with "id=12" gives
// "show.php?id=12.html".
std::string QueryPagePath(std::string_view path, std::string_view query);
// Whether a link's query picks a page of its own: it does for programs
// ("show.php?id=12", "/wiki?title=X", a folder), not for a static *.html or
// *.htm page, which is the same file whatever the query.
bool QueryPicksPage(const TReference& ref);
// A file that is no page: its name has an extension that no web page has.
bool IsFileName(const TReference& ref);

// What the caller knows of the page whose links are resolved.
struct TLinkPlace {
  std::string_view PagePath;  // the page's path below its site's root; empty: none known
  std::string_view Namespace; // cleaned; the page's namespace
  std::string_view StartPage = "start";
  std::string_view BaseUrl; // the address the page was published at
  // Ids are written whole (":ns:page") when the page's place is known: in a
  // site, or below a namespace. Otherwise relative, as DokuWiki resolves
  // them against the page that holds them.
  bool Absolute() const { return !PagePath.empty() || !Namespace.empty(); }
};

// Where a link or image leads: a wiki page (and section), a media file, or
// an address.
struct TPolicyTarget {
  enum class TKind { None, Page, Media, Url } Kind = TKind::None;
  std::string Target;
};

// A local href (no scheme, not "#x" alone) on a page at place that leads to
// no page of a known site. With a base address it is that address's link;
// else the page or file it names. A query picks a page of its own (the
// name QueryPagePath gives). holdsImage: a link around an image, which
// stays a page link even to a file (a media link shows no image).
TPolicyTarget LocalLinkTarget(std::string_view href, const TLinkPlace& place, bool holdsImage);
// The same for an image's source: an address, or a media id.
TPolicyTarget LocalImageTarget(std::string_view src, const TLinkPlace& place);

// href resolved against the absolute address base ("http://h/a/b" and "../c"
// give "http://h/c"); empty when base is no address.
std::string ResolveAddress(std::string_view base, std::string_view href);

} // namespace tamsel
