// SPDX-License-Identifier: GPL-2.0-or-later
// tamsel-cli: HTML in, DokuWiki markup out; one document, or a whole site.
#include "Cli_Chrome.h"
#include "Cli_Convert.h"
#include "Cli_Files.h"
#include "Cli_Options.h"
#include "Cli_Progress.h"
#include "Cli_Site.h"
#include "Cli_Wiki.h"

#include "Tamsel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace tamsel::cli;

const char* const kProgram = "tamsel-cli";

void Say(const std::string& line) {
  std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

// One document into the wiki; logs in only after it converted, and writes
// nothing when the login fails.
int WriteToWiki(const TCommandLine& line, const std::string& text) {
  const TSiteOptions& options = line.Site;
  const auto wiki = OpenWikiWriter(options.Wiki, options.Force, options.Verbose, Say);
  if (!wiki) return 1;
  // The page lies under --namespace, as the document's links do.
  const std::string& ns = options.Document.Namespace;
  const std::string id = ":" + (ns.empty() ? "" : ns + ":") + line.WikiPage;
  const std::string page = wiki->Describe(id, false);
  std::string error;
  switch (wiki->WritePage(id, text, error)) {
  case TWriteResult::Written:
    if (!options.Quiet) Say((options.Wiki.DryRun ? "would write " : "wrote ") + page);
    return 0;
  case TWriteResult::Unchanged:
    if (!options.Quiet) Say(page + " unchanged: the wiki holds this text already");
    return 0;
  case TWriteResult::Exists:
    Say(page + " exists with other content; not overwritten (--force overwrites)");
    return 1;
  case TWriteResult::Failed:
    break;
  }
  Say("cannot write " + page + ": " + error);
  return 1;
}

int ConvertOne(const TCommandLine& line) {
  const TSiteOptions& options = line.Site;
  const std::string shownName = line.Input == "-" ? "standard input" : Printable(line.Input);
  std::string bytes, error;
  if (!ReadWholeFile(line.Input, bytes, error)) {
    Say("cannot read " + shownName + ": " + error);
    return 1;
  }
  TDocumentResult document;
  try {
    tamsel::TTamsel converter;
    if (!options.Content.empty()) {
      // Parsed once already, when the command line was read.
      TSelector selector;
      selector.Parse(options.Content, error);
      converter.ChooseRegion =
          [&, finder = std::make_shared<TChromeFinder>(false, false, std::move(selector))](
              const tamsel::TOutline& outline) {
            TChromeReport report;
            tamsel::TRegion region = finder->Choose(outline, line.Input, report);
            if (!report.Whole.empty() && !options.Quiet) Say(shownName + ": " + report.Whole);
            return region;
          };
    }
    // The converter finds a large enough stack itself; on this thread, whose
    // stack main lets grow, nearly every page converts without a thread.
    document = ConvertDocument(converter, bytes, options.Document);
  } catch (const std::exception& e) {
    Say("cannot convert " + shownName + ": " + e.what());
    return 1;
  }
  if (!options.Quiet)
    for (const std::string& warning : document.Warnings)
      Say(shownName + ": " + warning);
  if (options.Verbose) Say(shownName + ": read as " + document.EncodingDescription);
  if (options.Verbose)
    for (const std::string& note : document.Notes)
      Say(shownName + ": " + note);
  if (!options.Wiki.Url.empty()) return WriteToWiki(line, document.Text);

  if (!line.Output.empty()) {
    if (WriteOutputFile(line.Output, document.Text, error)) return 0;
    Say("cannot write " + Printable(line.Output) + ": " + error);
    return 1;
  }
  if (StandardOutputWasClosed()) {
    Say("cannot write standard output: it is closed");
    return 1;
  }
  // Straight to the descriptor, in as few writes as it takes: no stdio
  // buffer to copy through.
  const char* data = document.Text.data();
  std::size_t left = document.Text.size();
  while (left > 0) {
    const ssize_t n = write(STDOUT_FILENO, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Say(std::string("cannot write standard output: ") + std::strerror(n < 0 ? errno : EIO));
      return 1;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return 0;
}

// The site's throughput: pages and HTML megabytes (10^6 bytes) a second
// over the whole run, reading and writing included.
std::string FormatRate(const TSiteSummary& summary) {
  const double seconds = std::max(summary.Seconds, 1e-6);
  char line[160];
  std::snprintf(line, sizeof line, "%llu pages, %.1f MB of HTML in %.2f s: %.0f pages/s, %.1f MB/s",
                static_cast<unsigned long long>(summary.Pages), summary.PageBytes / 1e6,
                summary.Seconds, summary.Pages / seconds, summary.PageBytes / 1e6 / seconds);
  return line;
}

int MigrateSiteCommand(const TSiteOptions& options) {
  TSiteSummary summary;
  const int status = MigrateSite(options, summary);
  if (summary.Ran && status != 2 && !options.Quiet) {
    Say(FormatSummary(summary));
    if (options.Verbose) Say(FormatRate(summary));
    if (options.Wiki.DryRun)
      Say("dry run: nothing was written into the wiki; the figures tell what would have been");
    const auto& links = summary.Links;
    if (!options.Verbose && links.MissingPages + links.Kept + links.MissingImages > 0)
      Say("--verbose lists the links and images left unresolved");
  }
  return status;
}

// Lets the main thread's stack grow to 1 GiB (or the hard limit): only the
// pages a deep document touches take memory, and the converter then runs
// pages of some hundred thousand tags on this thread instead of starting one
// with a stack of its own, and a malloc arena of its own, for every run.
void GrowStackLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) != 0) return;
  rlim_t want = rlim_t{1} << 30;
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < want) want = limit.rlim_max;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < want) {
    limit.rlim_cur = want;
    setrlimit(RLIMIT_STACK, &limit);
  }
}

} // namespace

int main(int argc, char** argv) {
  // A closed standard stream would hand its number to the next file opened,
  // and messages meant for it would land in a page.
  EnsureStandardStreams();
  RemoveTemporariesOnSignals();
  GrowStackLimit();
  TCommandLine line;
  try {
    line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const TUsageError& e) {
    Say(e.Message);
    std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
    return 2;
  }
  line.Site.ProgressBar = isatty(STDERR_FILENO) != 0;
  switch (line.Mode) {
  case TMode::Help:
    std::fputs(UsageText().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  case TMode::Version:
    std::printf("%s %s\n", kProgram, tamsel::kVersion);
    return std::fflush(stdout) == 0 ? 0 : 1;
  case TMode::Site:
    return MigrateSiteCommand(line.Site);
  case TMode::Document:
    break;
  }
  return ConvertOne(line);
}
