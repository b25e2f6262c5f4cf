// SPDX-License-Identifier: GPL-2.0-or-later
// The command line of tamsel-cli.
#pragma once

#include "Cli_Convert.h"

#include <optional>
#include <string>
#include <vector>

namespace tamsel::cli {

enum class TMode { Document, Site, Help, Version };

struct TOptions {
  TMode Mode = TMode::Document;
  std::string Input = "-"; // a file, or "-" for standard input
  std::string Output;      // empty: standard output
  TDocumentOptions Document;
  std::string EncodingName = "auto";
  // Whole sites.
  std::string SiteDir;
  std::string PagesDir;
  std::string MediaDir; // empty: images are not copied
  unsigned Jobs = 0;    // 0: one per core
  bool Force = false;
  std::string IndexDir; // run DokuWiki's indexer there afterwards
  // A running wiki instead of files.
  std::string WikiUrl; // empty: files
  std::string WikiUser;
  std::string WikiPage; // one document's page id, cleaned
  std::string Summary = "Imported with tamsel";
  bool DryRun = false;
  bool Insecure = false;
  std::string CaCert; // PEM certificates trusted besides the system's
  long TimeoutSeconds = 60;
  // Messages.
  bool Verbose = false;
  bool Quiet = false;
  // What of a page converts: the elements --content names (empty: found for
  // a site, all of a document); --keep-chrome converts sites' pages whole.
  std::string Content;
  bool KeepChrome = false;
};

// Thrown for a bad command line; main reports it with exit code 2.
struct TUsageError {
  std::string Message;
};

// Reads argv. Throws TUsageError.
TOptions ParseOptions(const std::vector<std::string>& args);

// The text of --help.
const char* UsageText();

} // namespace tamsel::cli
