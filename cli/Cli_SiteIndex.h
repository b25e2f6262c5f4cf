// SPDX-License-Identifier: GPL-2.0-or-later
// The files of a site and where their links lead.
//
// Built once before any page converts and only read afterwards, so the
// converting threads share it without locks.
#pragma once

#include "Tamsel_Anchor.h"
#include "Tamsel_Url.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tamsel::cli {

struct TSiteFile {
  std::filesystem::path Source; // the file on disk, its real path
  std::string Path;             // below the root, UTF-8, '/' between folders
  bool Page = false;            // *.html or *.htm
  std::string Id;               // page id or media id, with the namespace; empty when none
  std::string Wanted;           // the id another file kept, when this one was renamed
  std::uint64_t Size = 0;       // bytes, when the scan saw it
};

// How the links of one page came out.
struct TLinkCounts {
  std::uint64_t Resolved = 0;     // to a page of the site
  std::uint64_t MissingPages = 0; // to a page that does not exist
  std::uint64_t Kept = 0;         // left as the converter writes it
  std::uint64_t Images = 0;       // images found in the site
  std::uint64_t MissingImages = 0;
  std::uint64_t Files = 0;              // other files of the site, linked as media
  std::uint64_t FragmentsOnHeading = 0; // "#x" on a heading, or just before one
  std::uint64_t FragmentsInSection = 0; // "#x" elsewhere in a page: to its section
  std::uint64_t FragmentsKept = 0;      // "#x" found in no page: as written
  void Add(const TLinkCounts& other);
};

struct TIndexOptions {
  std::string Namespace;           // cleaned; empty: the wiki's root
  std::string StartPage = "start"; // what a folder's index.html becomes
  bool MediaLinks = false;         // links to other files become media links
};

// Where a link leads.
struct TResolvedLink {
  std::string Target; // ":ns:page#section", or ":ns:file.pdf" for a media link
  bool Media = false;
  std::size_t File = 0; // with Media: the index into Files() of the file
};

class TSiteIndex {
public:
  // files in any order. Files that clean to the same id all keep a page: the
  // one whose path is its id (or else the first in path order) keeps the
  // id, the others get "_2", "_3", ... (before the extension for media).
  explicit TSiteIndex(std::vector<TSiteFile> files, TIndexOptions options = {});

  const std::vector<TSiteFile>& Files() const { return AllFiles; }
  const TIndexOptions& Options() const { return Settings; }

  // The anchors of the page Files()[file]. Set for every page before links
  // resolve; one thread per page.
  void SetAnchors(std::size_t file, TDocumentAnchors anchors);

  // The target of a local link on the page at pagePath. False when it leads
  // to no file of the site (or to another file without MediaLinks): the
  // converter's link policy then decides, as for any page (the id a missing
  // page would have, or the address below --base-url). A link with a query
  // leads to the page saved under that query ("show.php?id=12.html"). A
  // fragment becomes the anchor of the heading it is on or before, or else
  // of the section that holds it, or the top of the page.
  // note receives a message for the user when the link does not resolve.
  bool ResolveLink(std::string_view pagePath, std::string_view href, TResolvedLink& result,
                   TLinkCounts& counts, std::string& note) const;

  // The media id (":ns:image.png") of an image of the site; fileIndex is the
  // index into Files() of the image file.
  bool ResolveImage(std::string_view pagePath, std::string_view src, std::string& result,
                    std::size_t& fileIndex, TLinkCounts& counts, std::string& note) const;

  // The page id a page at path has or would have, with the namespace.
  std::string PageId(std::string_view path) const;

private:
  // The file at path, exactly or else in another letter case.
  std::optional<std::size_t> Find(const std::string& path) const;
  std::optional<std::size_t> FindPage(const TReference& ref) const;
  std::string Fragment(std::optional<std::size_t> page, const TReference& ref,
                       TLinkCounts& counts) const;

  std::vector<TSiteFile> AllFiles;
  TIndexOptions Settings;
  std::vector<TDocumentAnchors> Anchors;
  std::vector<char> HasAnchors; // not vector<bool>: threads set neighbours at once
  std::map<std::string, std::size_t, std::less<>> ByPath;
  std::map<std::string, std::size_t, std::less<>> ByLowerPath;
};

// PageIdFor, MediaIdFor, IsPageName and InNamespace: the engine's link
// policy (Tamsel_Url.h), which the index shares with every other mode.

} // namespace tamsel::cli
