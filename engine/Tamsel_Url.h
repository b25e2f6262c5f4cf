// SPDX-License-Identifier: GPL-2.0-or-later
// Where a link or image reference leads, resolved as a browser resolves it.
//
// One resolver serves the single-document conversion and the site migration,
// so that both read "..", "./", queries, fragments and percent-escapes alike.
#pragma once

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
  std::string Fragment;  // percent-decoded, without '#'
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
// "../x.html" "..:x", "#top" "#top". Empty when nothing is left to link to.
std::string LocalPageTarget(const TReference& ref);

} // namespace tamsel
