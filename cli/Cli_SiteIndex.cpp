// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_SiteIndex.h"
#include "Cli_DokuId.h"
#include "Tamsel_Encoding.h"

#include <algorithm>
#include <set>

namespace tamsel::cli {

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

bool HasExtension(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  return dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
}

} // namespace

void TLinkCounts::Add(const TLinkCounts& other) {
  Resolved += other.Resolved;
  MissingPages += other.MissingPages;
  Kept += other.Kept;
  Images += other.Images;
  MissingImages += other.MissingImages;
  Files += other.Files;
  FragmentsOnHeading += other.FragmentsOnHeading;
  FragmentsInSection += other.FragmentsInSection;
  FragmentsKept += other.FragmentsKept;
}

namespace {

// "faq" with n gives "faq_2"; "img:logo.png" gives "img:logo_2.png".
std::string Numbered(const std::string& id, bool media, unsigned n) {
  const std::size_t colon = id.rfind(':');
  const std::size_t dot = media ? id.rfind('.') : std::string::npos;
  const std::string suffix = "_" + std::to_string(n);
  if (dot != std::string::npos && (colon == std::string::npos || dot > colon + 1))
    return id.substr(0, dot) + suffix + id.substr(dot);
  return id + suffix;
}

// Whether the file's path spells its id: "faq.html" for "faq", not "FAQ.html".
bool SpellsId(const TSiteFile& file, const std::string& id) {
  const std::string own = ColonPath(file.Page ? WithoutExtension(file.Path) : file.Path);
  return own == id;
}

} // namespace

TSiteIndex::TSiteIndex(std::vector<TSiteFile> files, TIndexOptions options)
    : AllFiles(std::move(files)), Settings(std::move(options)) {
  std::sort(AllFiles.begin(), AllFiles.end(),
            [](const TSiteFile& a, const TSiteFile& b) { return a.Path < b.Path; });
  Anchors.resize(AllFiles.size());
  HasAnchors.assign(AllFiles.size(), 0);
  // Ids without namespace first: a collision is one there.
  std::map<std::pair<bool, std::string>, std::vector<std::size_t>> claims;
  for (std::size_t i = 0; i < AllFiles.size(); ++i) {
    TSiteFile& file = AllFiles[i];
    ByPath.emplace(file.Path, i);
    ByLowerPath.emplace(LowerAscii(file.Path), i);
    file.Page = IsPageName(file.Path);
    std::string id = file.Page ? PageIdFor(file.Path, Settings.StartPage) : MediaIdFor(file.Path);
    // A name of punctuation only leaves no id; the file still arrives.
    if (id.empty()) id = file.Page ? "page" : "file";
    claims[{file.Page, id}].push_back(i);
  }
  std::set<std::pair<bool, std::string>> taken;
  for (const auto& [key, owners] : claims)
    taken.insert(key);
  for (const auto& [key, owners] : claims) {
    const auto& [page, id] = key;
    std::size_t keeper = owners.front();
    for (std::size_t i : owners)
      if (SpellsId(AllFiles[i], id)) {
        keeper = i;
        break;
      }
    AllFiles[keeper].Id = InNamespace(Settings.Namespace, id);
    unsigned n = 2;
    for (std::size_t i : owners) {
      if (i == keeper) continue;
      std::string renamed;
      while (taken.count({page, renamed = Numbered(id, !page, n)}))
        ++n;
      taken.insert({page, renamed});
      AllFiles[i].Id = InNamespace(Settings.Namespace, renamed);
      AllFiles[i].Wanted = AllFiles[keeper].Id;
    }
  }
}

void TSiteIndex::SetAnchors(std::size_t file, TDocumentAnchors anchors) {
  Anchors[file] = std::move(anchors);
  HasAnchors[file] = 1;
}

std::string TSiteIndex::PageId(std::string_view path) const {
  std::string id = PageIdFor(path, Settings.StartPage);
  return id.empty() ? std::string() : InNamespace(Settings.Namespace, id);
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
  if (QueryPicksPage(ref)) {
    // A query picks a page of its own: the one a mirroring tool saved under
    // it (wget names it "show.php?id=12.html", "%3F" or '@' for the '?' on
    // file systems that refuse it). A file that is no page is the same file
    // whatever the query.
    const std::string path = ref.Directory ? prefix + "index.html" : ref.Path;
    const std::string saved = QueryPagePath(path, ref.Query);
    const std::string rest = saved.substr(path.size() + 1);
    for (const std::string& name : {saved, path + "%3F" + rest, path + "@" + rest})
      if (auto found = Find(name); found && AllFiles[*found].Page) return found;
    if (auto found = Find(ref.Path); found && !AllFiles[*found].Page && !ref.Directory)
      return found;
    return std::nullopt;
  }
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

std::string TSiteIndex::Fragment(std::optional<std::size_t> page, const TReference& ref,
                                 TLinkCounts& counts) const {
  if (!ref.HasFragment || ref.Fragment.empty()) return {};
  if (page && HasAnchors[*page]) {
    const TDocumentAnchors& anchors = Anchors[*page];
    auto it = anchors.Targets.find(ref.Fragment);
    // "config#omit.html" for "config.html#omit": a slip common enough in
    // generated documentation (npm's) that a browser's guess would not help.
    if (it == anchors.Targets.end() && IsPageName(ref.Fragment))
      it = anchors.Targets.find(WithoutExtension(ref.Fragment));
    if (it != anchors.Targets.end()) {
      ++(it->second.OnHeading ? counts.FragmentsOnHeading : counts.FragmentsInSection);
      // Before the first heading: the top of the page is the place.
      return it->second.Section.empty() ? std::string() : "#" + it->second.Section;
    }
    // An id no element has may still be a heading's anchor as DokuWiki
    // spells it; else the page has no such place, and its top stands for it.
    if (const std::string anchor = SectionId(ref.Fragment); Contains(anchors.Headings, anchor)) {
      ++counts.FragmentsOnHeading;
      return "#" + anchor;
    }
    ++counts.FragmentsKept;
    return {};
  }
  // Browsers take a "#top" that names no element for the top of the page.
  if (page && LowerAscii(ref.Fragment) == "top") {
    ++counts.FragmentsInSection;
    return {};
  }
  ++counts.FragmentsKept;
  return "#" + SectionId(ref.Fragment);
}

bool TSiteIndex::ResolveLink(std::string_view pagePath, std::string_view href,
                             TResolvedLink& result, TLinkCounts& counts, std::string& note) const {
  result = TResolvedLink{};
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
    const std::optional<std::size_t> page = Find(ref->Path);
    result.Target = Fragment(page, *ref, counts);
    // A place above the first heading: the page itself.
    if (result.Target.empty() && page) result.Target = ":" + AllFiles[*page].Id;
    ++counts.Resolved;
    return true;
  }
  if (const auto found = FindPage(*ref)) {
    const TSiteFile& file = AllFiles[*found];
    if (file.Page) {
      result.Target = ":" + file.Id + Fragment(found, *ref, counts);
      ++counts.Resolved;
      return true;
    }
    if (Settings.MediaLinks) {
      result.Target = ":" + file.Id;
      result.Media = true;
      result.File = *found;
      ++counts.Files;
      return true;
    }
    ++counts.Kept;
    return false;
  }
  // A missing page, also one linked without its extension, still gets the id
  // it would have (DokuWiki shows it red, and it works once written): the
  // converter's policy gives it, as it gives every link that leads to no
  // file of the site.
  if (!ref->Directory &&
      (IsPageName(ref->Path) || !HasExtension(ref->Path) || QueryPicksPage(*ref))) {
    ++counts.MissingPages;
    note = "link '" + std::string(href) + "' leads to " + ref->Path + ", which does not exist";
    return false;
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
  ++counts.Images;
  fileIndex = *found;
  result = ":" + AllFiles[*found].Id;
  return true;
}

} // namespace tamsel::cli
