// SPDX-License-Identifier: GPL-2.0-or-later
// Migrating a whole tree of HTML files into a DokuWiki.
//
// One code path decides what goes where: which files belong to the site
// (nothing outside the source is read), the id of every page and media file
// (namespace, start pages, collisions), and where every link, image and
// fragment leads. A TSiteWriter carries the decisions out.
#pragma once

#include "Cli_Convert.h"
#include "Cli_SiteIndex.h"
#include "Cli_SiteWriter.h"
#include "Cli_Wiki.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tamsel::cli {

struct TSiteOptions {
  std::filesystem::path Source;
  // For the file writer.
  std::filesystem::path Pages;
  std::filesystem::path Media; // empty: images and files keep the converter's form
  std::string IndexDir;        // a DokuWiki whose indexer runs after the migration
  // Pages and media files whose content differs are replaced, by either writer.
  bool Force = false;
  unsigned Jobs = 0; // 0: one per core
  // How every page converts. Its Namespace and StartPage, as given (cleaned
  // as DokuWiki cleans ids), place the site's pages; its Encoding applies to
  // every page.
  TDocumentOptions Document;
  bool Verbose = false;
  bool Quiet = false;
  bool ProgressBar = false;
  // A running wiki instead of the folders, when Wiki.Url is given.
  TWikiOptions Wiki;
  // What of each page converts (see TChromeFinder): --content and
  // --keep-chrome.
  std::string Content;
  bool KeepChrome = false;
};

struct TSiteSummary {
  std::uint64_t Pages = 0;          // pages written, or found unchanged
  std::uint64_t Unchanged = 0;      // of those, pages that were there already
  std::uint64_t Renamed = 0;        // pages and media files that got another id than their name's
  std::uint64_t Failed = 0;         // files skipped for an error
  std::uint64_t MediaCopied = 0;    // media files written, or found unchanged
  std::uint64_t MediaUnchanged = 0; // of those, files that were there already
  bool MediaUploaded = false;       // into a wiki: the summary says "uploaded"
  TLinkCounts Links;
  std::uint64_t PageBytes = 0;   // HTML read for the pages converted
  std::uint64_t ChromePages = 0; // pages written without the site's chrome
  double Seconds = 0;
  bool Ran = false; // false: refused before reading the site (no summary to give)
};

// Runs the migration with the writer the options name: the wiki's when
// Wiki.Url is given, else the folders'. Returns the exit code: 0, 1 when any
// file failed or the wiki refused the login, 2 when the folders given cannot
// work together (output inside the source, pages inside media).
int MigrateSite(const TSiteOptions& options, TSiteSummary& summary);

// The same with any writer (the options' Pages, Media and Force are unused).
int MigrateSite(const TSiteOptions& options, TSiteWriter& writer, TSiteSummary& summary);

// "12 pages written, 30 links resolved, ..." for the last line.
std::string FormatSummary(const TSiteSummary& summary);

} // namespace tamsel::cli
