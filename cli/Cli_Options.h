// SPDX-License-Identifier: GPL-2.0-or-later
// The command line of tamsel-cli.
#pragma once

#include "Cli_Site.h"

#include <string>
#include <vector>

namespace tamsel::cli {

enum class TMode { Document, Site, Help, Version };

struct TCommandLine {
  TMode Mode = TMode::Document;
  std::string Input = "-"; // a file, or "-" for standard input
  std::string Output;      // empty: standard output
  std::string WikiPage;    // one document's page id in the wiki, cleaned
  // The rest serves one document as well as a site: how pages convert
  // (Site.Document), the wiki (Site.Wiki), --force, --content, the messages.
  TSiteOptions Site;
};

// Thrown for a bad command line; main reports it with exit code 2.
struct TUsageError {
  std::string Message;
};

// Reads argv. Throws TUsageError.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The text of --help, with a line for every option ParseCommandLine reads.
const std::string& UsageText();

} // namespace tamsel::cli
