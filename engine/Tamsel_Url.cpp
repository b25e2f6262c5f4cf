// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Url.h"
#include "Tamsel_Anchor.h"

#include <algorithm>
#include <vector>

namespace tamsel {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string WithFragment(std::string out, const TReference& ref) {
  if (ref.HasFragment && !ref.Fragment.empty()) out += "#" + ref.Fragment;
  return out;
}

// A relative id's way up: one "..:" for every ".." above the root.
std::string RelativePrefix(const TReference& ref) {
  std::string out = ref.Absolute ? ":" : "";
  for (std::size_t i = 0; i < ref.Above; ++i)
    out += "..:";
  return out;
}

// A media id for a local file: the path as a browser resolves it, its
// folders namespaces, its name with its extension.
std::string RelativeMediaId(const TReference& ref) {
  if (ref.SamePage || ref.Path.empty()) return {};
  return RelativePrefix(ref) + ColonPath(ref.Path);
}

// The parts of an absolute address: "scheme:", "//authority", path, rest
// ("?query#fragment").
struct TAddress {
  std::string_view Scheme, Authority, Path, Rest;
};

std::optional<TAddress> SplitAddress(std::string_view url) {
  const std::string_view scheme = SchemeOf(url);
  if (scheme.empty()) return std::nullopt;
  TAddress a;
  a.Scheme = url.substr(0, scheme.size() + 1);
  std::string_view rest = url.substr(scheme.size() + 1);
  if (rest.starts_with("//")) {
    const std::size_t end = std::min(rest.find_first_of("/?#", 2), rest.size());
    a.Authority = rest.substr(0, end);
    rest.remove_prefix(end);
  }
  const std::size_t end = std::min(rest.find_first_of("?#"), rest.size());
  a.Path = rest.substr(0, end);
  a.Rest = rest.substr(end);
  return a;
}

// RFC 3986's removal of "." and ".." segments from an absolute path.
std::string RemoveDots(std::string_view path) {
  std::vector<std::string_view> out;
  std::size_t start = path.starts_with('/') ? 1 : 0;
  bool directory = false;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view segment = path.substr(start, end - start);
    const bool last = end == path.size();
    directory = last && (segment == "." || segment == "..");
    if (segment == "..") {
      if (!out.empty()) out.pop_back();
    } else if (segment != ".") {
      out.push_back(segment);
    }
    start = end + 1;
  }
  std::string result;
  for (std::string_view segment : out) {
    result += '/';
    result += segment;
  }
  if (directory || result.empty()) result += '/';
  return result;
}

} // namespace

std::string WithoutExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    return std::string(path);
  return std::string(path.substr(0, dot));
}

std::string ColonPath(std::string_view path) {
  std::string out(path);
  std::replace(out.begin(), out.end(), '/', ':');
  return out;
}

std::string_view SchemeOf(std::string_view s) {
  if (s.empty() || !IsLetter(s[0])) return {};
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == ':') return s.substr(0, i);
    const bool schemeChar =
        IsLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!schemeChar) return {};
  }
  return {};
}

std::string PercentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    int high, low;
    if (s[i] == '%' && i + 2 < s.size() && (high = HexValue(s[i + 1])) >= 0 &&
        (low = HexValue(s[i + 2])) >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::optional<TReference> ResolveReference(std::string_view pagePath, std::string_view href) {
  // Browsers drop surrounding white space and every tab and line end, and
  // read a backslash as a slash.
  std::string s;
  for (char c : href)
    if (c != '\t' && c != '\n' && c != '\r') s += c == '\\' ? '/' : c;
  const std::size_t first = s.find_first_not_of(" \f");
  s = first == std::string::npos ? std::string()
                                 : s.substr(first, s.find_last_not_of(" \f") - first + 1);

  TReference ref;
  if (const std::size_t hash = s.find('#'); hash != std::string::npos) {
    ref.HasFragment = true;
    ref.Fragment = PercentDecode(std::string_view(s).substr(hash + 1));
    s.resize(hash);
  }
  if (const std::size_t query = s.find('?'); query != std::string::npos) {
    ref.HasQuery = true;
    ref.Query = s.substr(query + 1);
    s.resize(query);
  }
  if (s.rfind("//", 0) == 0 || !SchemeOf(s).empty()) return std::nullopt;
  if (s.empty()) {
    ref.SamePage = true;
    ref.Path = std::string(pagePath);
    return ref;
  }

  ref.Absolute = s[0] == '/';
  std::vector<std::string> segments;
  if (!ref.Absolute) {
    std::string_view base = pagePath;
    const std::size_t slash = base.rfind('/');
    base = slash == std::string_view::npos ? std::string_view() : base.substr(0, slash);
    for (std::size_t start = 0; !base.empty() && start <= base.size();) {
      const std::size_t end = std::min(base.find('/', start), base.size());
      segments.emplace_back(base.substr(start, end - start));
      start = end + 1;
    }
  }
  bool directory = false;
  for (std::size_t start = ref.Absolute ? 1 : 0; start <= s.size();) {
    const std::size_t end = std::min(s.find('/', start), s.size());
    const std::string segment = PercentDecode(std::string_view(s).substr(start, end - start));
    start = end + 1;
    const bool last = end == s.size();
    if (segment.find('/') != std::string::npos || segment.find('\0') != std::string::npos)
      return std::nullopt;
    directory = last && (segment.empty() || segment == "." || segment == "..");
    if (segment == "..") {
      if (!segments.empty())
        segments.pop_back();
      else if (!ref.Absolute)
        ++ref.Above;
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
  }
  for (const std::string& segment : segments) {
    if (!ref.Path.empty()) ref.Path += '/';
    ref.Path += segment;
  }
  ref.Directory = directory || ref.Path.empty();
  return ref;
}

std::string LocalPageTarget(const TReference& ref, std::string_view startPage) {
  std::string out;
  if (!ref.SamePage) {
    if (ref.Absolute) out += ':';
    for (std::size_t i = 0; i < ref.Above; ++i)
      out += "..:";
    // The extension of the file's own name goes; a dot in a folder's name or
    // a name that is only dots ("..") stays.
    std::string_view path = ref.Path;
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    const std::size_t name = slash == std::string_view::npos ? 0 : slash + 1;
    if (dot != std::string_view::npos && dot > name) {
      // A folder's index is its namespace's start page, as in a site.
      const std::string ext = LowerAscii(path.substr(dot));
      if (ext.starts_with(".htm") && LowerAscii(path.substr(name, dot - name)) == "index") {
        path = path.substr(0, name);
        for (char c : path)
          out += c == '/' ? ':' : c;
        out += startPage;
        return WithFragment(out, ref);
      }
      path = path.substr(0, dot);
    }
    for (char c : path)
      out += c == '/' ? ':' : c;
    // A folder's link leads to the namespace's start page ("dir:").
    if (ref.Directory && !path.empty()) out += ':';
    if (!ref.Above && !ref.Absolute && path.empty()) out.clear();
  }
  return WithFragment(out, ref);
}

bool IsPageName(std::string_view path) {
  const std::string lower = LowerAscii(path);
  const auto ends = [&](std::string_view suffix) {
    return lower.size() > suffix.size() &&
           lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends(".html") || ends(".htm");
}

std::string InNamespace(std::string_view ns, std::string_view id) {
  if (ns.empty()) return std::string(id);
  if (id.empty()) return std::string(ns);
  return std::string(ns) + ":" + std::string(id);
}

std::string PageIdFor(std::string_view path, std::string_view startPage) {
  // A folder's index is the start page of its namespace, as DokuWiki names
  // every namespace's own page.
  const std::size_t slash = path.rfind('/');
  const std::string name = LowerAscii(path.substr(slash == std::string_view::npos ? 0 : slash + 1));
  if (name == "index.html" || name == "index.htm") {
    const std::string folder =
        slash == std::string_view::npos ? std::string() : CleanId(ColonPath(path.substr(0, slash)));
    return InNamespace(folder, CleanId(startPage));
  }
  return CleanId(ColonPath(WithoutExtension(path)));
}

std::string MediaIdFor(std::string_view path) {
  return CleanId(ColonPath(path));
}

std::string QueryPagePath(std::string_view path, std::string_view query) {
  // A '/' in the query would make folders of it; mirroring tools escape it.
  std::string out(path);
  out += '?';
  for (char c : query)
    if (c == '/')
      out += "%2F";
    else
      out += c;
  return out + ".html";
}

bool QueryPicksPage(const TReference& ref) {
  return ref.HasQuery && !ref.Query.empty() && !IsPageName(ref.Path);
}

bool IsFileName(const TReference& ref) {
  if (ref.SamePage || ref.Directory || ref.Path.empty()) return false;
  const std::string_view path = ref.Path;
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
  if (dot == std::string_view::npos || dot <= start || dot + 1 == path.size()) return false;
  const std::string ext = LowerAscii(path.substr(dot + 1));
  for (const char* page : {"html", "htm", "xhtml", "shtml", "php", "asp", "aspx", "jsp", "cgi"})
    if (ext == page) return false;
  return true;
}

std::string ResolveAddress(std::string_view base, std::string_view href) {
  const std::optional<TAddress> b = SplitAddress(base);
  if (!b || b->Authority.empty()) return {};
  std::string h;
  for (char c : href)
    if (c != '\t' && c != '\n' && c != '\r') h += c == '\\' ? '/' : c;
  const std::size_t first = h.find_first_not_of(" \f");
  h = first == std::string::npos ? std::string()
                                 : h.substr(first, h.find_last_not_of(" \f") - first + 1);
  if (!SchemeOf(h).empty()) return h;
  const std::string origin = std::string(b->Scheme) + std::string(b->Authority);
  if (h.starts_with("//")) return std::string(b->Scheme) + h;
  const std::size_t end = std::min(h.find_first_of("?#"), h.size());
  const std::string_view path = std::string_view(h).substr(0, end);
  const std::string_view rest = std::string_view(h).substr(end);
  if (path.empty()) {
    // "?q" keeps the base's path; "#f" its query too.
    if (rest.starts_with('#')) {
      const std::size_t hash = b->Rest.find('#');
      return origin + std::string(b->Path.empty() ? "/" : b->Path) +
             std::string(b->Rest.substr(0, hash)) + std::string(rest);
    }
    return origin + std::string(b->Path.empty() ? "/" : b->Path) + std::string(rest);
  }
  if (path.starts_with('/')) return origin + RemoveDots(path) + std::string(rest);
  const std::size_t slash = b->Path.rfind('/');
  const std::string folder =
      slash == std::string_view::npos ? "/" : std::string(b->Path.substr(0, slash + 1));
  return origin + RemoveDots(folder + std::string(path)) + std::string(rest);
}

namespace {
// The page's own address: the base address itself for a lone page; for a
// site's page, its path below the base, the site's root.
std::string PageAddress(const TLinkPlace& place) {
  if (place.PagePath.empty()) return std::string(place.BaseUrl);
  std::string root(place.BaseUrl);
  if (!root.ends_with('/')) root += '/';
  std::string path;
  for (char c : place.PagePath) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || c == '%' || c == '?' || c == '#' || c == '"') {
      constexpr char kHexDigits[] = "0123456789ABCDEF";
      path += '%';
      path += kHexDigits[b >> 4];
      path += kHexDigits[b & 15];
    } else {
      path += c;
    }
  }
  return ResolveAddress(root, path);
}
} // namespace

TPolicyTarget LocalLinkTarget(std::string_view href, const TLinkPlace& place, bool holdsImage) {
  using TKind = TPolicyTarget::TKind;
  TPolicyTarget out;
  if (!place.BaseUrl.empty()) {
    if (std::string url = ResolveAddress(PageAddress(place), href); !url.empty()) {
      out.Kind = TKind::Url;
      out.Target = std::move(url);
      return out;
    }
  }
  const std::optional<TReference> ref = ResolveReference(place.PagePath, href);
  if (!ref) return out;
  const bool absolute = place.Absolute();
  std::string fragment;
  if (ref->HasFragment && !ref->Fragment.empty())
    fragment = "#" + (absolute ? SectionId(ref->Fragment) : ref->Fragment);
  if (QueryPicksPage(*ref)) {
    // The page with this query is a page of its own.
    const std::string path = !ref->Directory     ? ref->Path
                             : ref->Path.empty() ? "index.html"
                                                 : ref->Path + "/index.html";
    const std::string id = PageIdFor(QueryPagePath(path, ref->Query), place.StartPage);
    if (id.empty()) return out;
    out.Kind = TKind::Page;
    out.Target = absolute ? ":" + InNamespace(place.Namespace, id) : RelativePrefix(*ref) + id;
    out.Target += fragment;
    return out;
  }
  if (IsFileName(*ref) && !holdsImage) {
    const std::string id = absolute ? MediaIdFor(ref->Path) : RelativeMediaId(*ref);
    if (id.empty()) return out;
    out.Kind = TKind::Media;
    out.Target = absolute ? ":" + InNamespace(place.Namespace, id) : id;
    return out;
  }
  if (!absolute) {
    out.Target = LocalPageTarget(*ref, place.StartPage);
    if (!out.Target.empty()) out.Kind = TKind::Page;
    return out;
  }
  const std::string id =
      ref->Directory
          ? PageIdFor(ref->Path.empty() ? "index.html" : ref->Path + "/index.html", place.StartPage)
          : PageIdFor(ref->Path, place.StartPage);
  if (id.empty()) return out;
  out.Kind = TKind::Page;
  out.Target = ":" + InNamespace(place.Namespace, id) + fragment;
  return out;
}

TPolicyTarget LocalImageTarget(std::string_view src, const TLinkPlace& place) {
  using TKind = TPolicyTarget::TKind;
  TPolicyTarget out;
  if (!place.BaseUrl.empty()) {
    if (std::string url = ResolveAddress(PageAddress(place), src); !url.empty()) {
      out.Kind = TKind::Url;
      out.Target = std::move(url);
      return out;
    }
  }
  const std::optional<TReference> ref = ResolveReference(place.PagePath, src);
  if (!ref || ref->SamePage || ref->Directory || ref->Path.empty()) return out;
  const std::string id = place.Absolute() ? MediaIdFor(ref->Path) : RelativeMediaId(*ref);
  if (id.empty()) return out;
  out.Kind = TKind::Media;
  out.Target = place.Absolute() ? ":" + InNamespace(place.Namespace, id) : id;
  return out;
}

} // namespace tamsel
