// Migrating a whole tree of HTML files into DokuWiki's pages and media.
#pragma once

#include "Cli_Convert.h"
#include "Cli_SiteIndex.h"
#include "Cli_SiteWriter.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace tamsel::cli {

struct TSiteOptions {
  std::filesystem::path Source;
  std::filesystem::path Pages;
  std::filesystem::path Media; // empty: images keep the converter's form
  unsigned Jobs = 1;
  bool Force = false;
  TDocumentOptions Document;
  bool Verbose = false;
  bool Quiet = false;
  bool ProgressBar = false;
  // Where pages and media go instead of Pages and Media (a running wiki);
  // null for the folders.
  TSiteWriter* Writer = nullptr;
};

struct TSiteSummary {
  std::uint64_t Pages = 0;     // pages written, or found unchanged
  std::uint64_t Unchanged = 0; // of those, pages that were there already
  std::uint64_t Failed = 0;    // files skipped for an error
  std::uint64_t MediaCopied = 0;
  TLinkCounts Links;
  double Seconds = 0;
};

// Runs the migration. Returns the exit code: 0, 1 when any file failed, 2
// when the folders given cannot work together (output inside the source).
int MigrateSite(const TSiteOptions& options, TSiteSummary& summary);

// "12 pages written, 30 links resolved, ..." for the last line.
std::string FormatSummary(const TSiteSummary& summary);

} // namespace tamsel::cli
