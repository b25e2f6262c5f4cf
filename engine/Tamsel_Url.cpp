// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Url.h"

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

} // namespace

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
  if (const std::size_t query = s.find('?'); query != std::string::npos) s.resize(query);
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

std::string LocalPageTarget(const TReference& ref) {
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
    if (dot != std::string_view::npos && dot > (slash == std::string_view::npos ? 0 : slash + 1))
      path = path.substr(0, dot);
    for (char c : path)
      out += c == '/' ? ':' : c;
    // A folder's link leads to the namespace's start page ("dir:").
    if (ref.Directory && !path.empty()) out += ':';
    if (!ref.Above && !ref.Absolute && path.empty()) out.clear();
  }
  if (ref.HasFragment && !ref.Fragment.empty()) out += "#" + ref.Fragment;
  return out;
}

} // namespace tamsel
