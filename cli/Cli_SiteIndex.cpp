#include "Cli_SiteIndex.h"
#include "Cli_DokuId.h"
#include "Cli_Encoding.h"

#include <algorithm>

namespace tamsel::cli {

namespace {

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

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

bool HasExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  return dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
}

std::string WithFragment(std::string target, const TReference& ref) {
  if (ref.HasFragment && !ref.Fragment.empty()) target += "#" + SectionId(ref.Fragment);
  return target;
}

} // namespace

void TLinkCounts::Add(const TLinkCounts& other) {
  Resolved += other.Resolved;
  MissingPages += other.MissingPages;
  Kept += other.Kept;
  Images += other.Images;
  MissingImages += other.MissingImages;
}

bool IsPageName(std::string_view path) {
  const std::string lower = LowerAscii(path);
  const auto ends = [&](std::string_view suffix) {
    return lower.size() > suffix.size() &&
           lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  return ends(".html") || ends(".htm");
}

std::string PageIdFor(std::string_view path) {
  return CleanId(ColonPath(WithoutExtension(path)));
}

std::string MediaIdFor(std::string_view path) {
  return CleanId(ColonPath(path));
}

TSiteIndex::TSiteIndex(std::vector<TSiteFile> files) : AllFiles(std::move(files)) {
  std::sort(AllFiles.begin(), AllFiles.end(),
            [](const TSiteFile& a, const TSiteFile& b) { return a.Path < b.Path; });
  std::map<std::string, std::size_t> pageIds, mediaIds;
  for (std::size_t i = 0; i < AllFiles.size(); ++i) {
    TSiteFile& file = AllFiles[i];
    ByPath.emplace(file.Path, i);
    ByLowerPath.emplace(LowerAscii(file.Path), i);
    file.Page = IsPageName(file.Path);
    file.Id = file.Page ? PageIdFor(file.Path) : MediaIdFor(file.Path);
    if (file.Id.empty()) {
      file.Problem = "its name leaves no DokuWiki id";
      continue;
    }
    auto& taken = file.Page ? pageIds : mediaIds;
    if (auto [it, added] = taken.emplace(file.Id, i); !added) {
      file.Problem = std::string(file.Page ? "page" : "media") + " id '" + file.Id +
                     "' is taken by " + AllFiles[it->second].Path;
      file.Id.clear();
    }
  }
}

std::optional<std::size_t> TSiteIndex::Find(const std::string& path) const {
  // A percent-encoded name in a legacy encoding: the index holds names in
  // UTF-8, taking legacy names for Windows-1252 as the folder scan does.
  if (std::string converted; !IsValidUtf8(path) && ConvertToUtf8(path, "WINDOWS-1252", converted))
    return Find(converted);
  if (auto it = ByPath.find(path); it != ByPath.end()) return it->second;
  if (auto it = ByLowerPath.find(LowerAscii(path)); it != ByLowerPath.end()) return it->second;
  return std::nullopt;
}

std::optional<std::size_t> TSiteIndex::FindPage(const TReference& ref) const {
  const std::string prefix = ref.Path.empty() ? std::string() : ref.Path + "/";
  if (!ref.Directory)
    if (auto found = Find(ref.Path)) return found;
  for (const char* index : {"index.html", "index.htm"})
    if (auto found = Find(prefix + index); found && AllFiles[*found].Page) return found;
  // Servers often leave the extension out of their links.
  if (!ref.Directory && !HasExtension(ref.Path))
    for (const char* extension : {".html", ".htm"})
      if (auto found = Find(ref.Path + extension)) return found;
  return std::nullopt;
}

bool TSiteIndex::ResolveLink(std::string_view pagePath, std::string_view href, std::string& result,
                             TLinkCounts& counts, std::string& note) const {
  const std::optional<TReference> ref = ResolveReference(pagePath, href);
  if (!ref) {
    ++counts.Kept;
    return false;
  }
  if (ref->SamePage && ref->HasFragment) {
    if (ref->Fragment.empty()) {
      ++counts.Kept;
      return false;
    }
    result = WithFragment("", *ref);
    ++counts.Resolved;
    return true;
  }
  if (const auto found = FindPage(*ref)) {
    const TSiteFile& file = AllFiles[*found];
    if (file.Page && !file.Id.empty()) {
      result = WithFragment(":" + file.Id, *ref);
      ++counts.Resolved;
      return true;
    }
    ++counts.Kept;
    if (file.Page)
      note = "link '" + std::string(href) + "' leads to " + file.Path + ", which has no page";
    return false;
  }
  if (!ref->Directory && IsPageName(ref->Path)) {
    if (const std::string id = PageIdFor(ref->Path); !id.empty()) {
      result = WithFragment(":" + id, *ref);
      ++counts.MissingPages;
      note = "link '" + std::string(href) + "' leads to " + ref->Path + ", which does not exist";
      return true;
    }
  }
  ++counts.Kept;
  note = "link '" + std::string(href) + "' leads to nothing in the site";
  return false;
}

bool TSiteIndex::ResolveImage(std::string_view pagePath, std::string_view src, std::string& result,
                              std::size_t& fileIndex, TLinkCounts& counts,
                              std::string& note) const {
  const std::optional<TReference> ref = ResolveReference(pagePath, src);
  if (!ref || ref->SamePage || ref->Directory) return false;
  const auto found = Find(ref->Path);
  if (!found || AllFiles[*found].Page) {
    ++counts.MissingImages;
    note = "image '" + std::string(src) + "' is not in the site";
    return false;
  }
  const TSiteFile& file = AllFiles[*found];
  if (file.Id.empty()) {
    ++counts.MissingImages;
    note = "image '" + std::string(src) + "' has no media id: " + file.Problem;
    return false;
  }
  ++counts.Images;
  fileIndex = *found;
  result = ":" + file.Id;
  return true;
}

} // namespace tamsel::cli
