// The files of a site and where their links lead.
//
// Built once before any page converts and only read afterwards, so the
// converting threads share it without locks.
#pragma once

#include "Tamsel_Url.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel::cli {

struct TSiteFile {
  std::filesystem::path Source; // the file on disk
  std::string Path;             // below the root, UTF-8, '/' between folders
  bool Page = false;            // *.html or *.htm
  std::string Id;               // page id or media id; empty when it has none
  std::string Problem;          // why it has no id
};

// How the links of one page came out.
struct TLinkCounts {
  std::uint64_t Resolved = 0;     // to a page of the site
  std::uint64_t MissingPages = 0; // to a page that does not exist
  std::uint64_t Kept = 0;         // left as the converter writes it
  std::uint64_t Images = 0;       // images found in the site
  std::uint64_t MissingImages = 0;
  void Add(const TLinkCounts& other);
};

class TSiteIndex {
public:
  // files in any order; ids are given in the order of their paths, so the
  // first of two files that clean to the same id keeps it, whatever order
  // the folders were read in.
  explicit TSiteIndex(std::vector<TSiteFile> files);

  const std::vector<TSiteFile>& Files() const { return AllFiles; }

  // The target of a local link on the page at pagePath, as an absolute page
  // id (":ns:page#section"). False to keep the converter's own form: links to
  // files that are not pages, and to places outside the site. A link to a
  // *.html file that does not exist still gets the id that page would have.
  // note receives a message for the user when the link does not resolve.
  bool ResolveLink(std::string_view pagePath, std::string_view href, std::string& result,
                   TLinkCounts& counts, std::string& note) const;

  // The media id (":ns:image.png") of an image of the site; fileIndex is the
  // index into Files() of the image file.
  bool ResolveImage(std::string_view pagePath, std::string_view src, std::string& result,
                    std::size_t& fileIndex, TLinkCounts& counts, std::string& note) const;

private:
  // The file at path, exactly or else in another letter case.
  std::optional<std::size_t> Find(const std::string& path) const;
  std::optional<std::size_t> FindPage(const TReference& ref) const;

  std::vector<TSiteFile> AllFiles;
  std::map<std::string, std::size_t, std::less<>> ByPath;
  std::map<std::string, std::size_t, std::less<>> ByLowerPath;
};

// Page id of the file at path ("Docs/My Page.html" gives "docs:my_page").
std::string PageIdFor(std::string_view path);
// Media id of the file at path ("img/Logo.PNG" gives "img:logo.png").
std::string MediaIdFor(std::string_view path);
// True for *.html and *.htm in any letter case.
bool IsPageName(std::string_view path);

} // namespace tamsel::cli
