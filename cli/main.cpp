// tamsel-cli: HTML in, DokuWiki markup out; one document, or a whole site.
#include "Cli_Convert.h"
#include "Cli_Files.h"
#include "Cli_Options.h"
#include "Cli_Site.h"
#include "Cli_Wiki.h"

#include "Tamsel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include <unistd.h>

namespace {

using namespace tamsel::cli;

const char* const kProgram = "tamsel-cli";

void Say(const std::string& line) {
  std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

bool ConvertInput(const TOptions& options, TDocumentResult& document) {
  const std::string shownName = options.Input == "-" ? "standard input" : options.Input;
  std::string bytes, error;
  if (!ReadWholeFile(options.Input, bytes, error)) {
    Say("cannot read " + shownName + ": " + error);
    return false;
  }
  try {
    tamsel::TTamsel converter;
    document = ConvertDocument(converter, bytes, options.Document);
  } catch (const std::exception& e) {
    Say("cannot convert " + shownName + ": " + e.what());
    return false;
  }
  if (!options.Quiet)
    for (const std::string& warning : document.Warnings)
      Say(shownName + ": " + warning);
  if (options.Verbose) Say(shownName + ": read as " + document.EncodingDescription);
  return true;
}

// http:// to another machine shows the password to everyone in between.
bool IsPlainHttpElsewhere(const std::string& url) {
  if (url.rfind("http://", 0) != 0) return false;
  const std::string rest = url.substr(7);
  const std::string host = rest.substr(0, rest.find_first_of("/?#"));
  for (const char* local : {"localhost", "127.0.0.1", "[::1]"})
    if (host == local || host.rfind(std::string(local) + ":", 0) == 0) return false;
  return true;
}

// Logs in before anything is converted or written, so that a wrong password
// or a wiki that refuses costs nothing.
std::unique_ptr<TWikiWriter> OpenWiki(const TOptions& options) {
  TWikiOptions wiki;
  wiki.Url = options.WikiUrl;
  wiki.User = options.WikiUser;
  wiki.Summary = options.Summary;
  wiki.Force = options.Force;
  wiki.DryRun = options.DryRun;
  wiki.Insecure = options.Insecure;
  wiki.TimeoutSeconds = options.TimeoutSeconds;
  std::string error;
  if (!ObtainPassword(options.WikiUser, wiki.Password, error)) {
    Say(error);
    return nullptr;
  }
  if (options.Insecure && options.WikiUrl.rfind("https://", 0) == 0)
    Say("warning: --insecure: the wiki's certificate is not checked; whoever sits in between "
        "can read the password and change what is written");
  if (IsPlainHttpElsewhere(options.WikiUrl))
    Say("warning: the password travels unencrypted over http:// ; prefer https://");
  auto writer = std::make_unique<TWikiWriter>(std::move(wiki));
  if (!writer->Connect(error)) {
    Say(error);
    return nullptr;
  }
  if (options.Verbose) Say("logged in as " + options.WikiUser + ", " + writer->WikiVersion());
  if (options.DryRun)
    writer->Listing = [](const std::string& line) {
      std::printf("%s\n", line.c_str());
      std::fflush(stdout);
    };
  return writer;
}

int ConvertToWiki(const TOptions& options) {
  TDocumentResult document;
  if (!ConvertInput(options, document)) return 1;
  const auto wiki = OpenWiki(options);
  if (!wiki) return 1;
  std::string error;
  const std::string page = "page :" + options.WikiPage;
  switch (wiki->WritePage(":" + options.WikiPage, document.Text, error)) {
  case TWriteResult::Written:
    if (!options.Quiet) Say((options.DryRun ? "would write " : "wrote ") + page);
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

int ConvertOne(const TOptions& options) {
  if (!options.WikiUrl.empty()) return ConvertToWiki(options);
  TDocumentResult document;
  if (!ConvertInput(options, document)) return 1;
  std::string error;

  if (!options.Output.empty()) {
    switch (WriteWholeFile(options.Output, document.Text, true, error)) {
    case TWriteResult::Written:
    case TWriteResult::Unchanged:
      return 0;
    default:
      Say("cannot write " + options.Output + ": " + error);
      return 1;
    }
  }
  const std::size_t written = std::fwrite(document.Text.data(), 1, document.Text.size(), stdout);
  if (written != document.Text.size() || std::fflush(stdout) != 0) {
    Say(std::string("cannot write standard output: ") + std::strerror(errno));
    return 1;
  }
  return 0;
}

int MigrateSiteCommand(const TOptions& options) {
  TSiteOptions site;
  site.Source = options.SiteDir;
  site.Pages = options.PagesDir;
  site.Media = options.MediaDir;
  site.Jobs = options.Jobs ? options.Jobs : std::max(1u, std::thread::hardware_concurrency());
  site.Force = options.Force;
  site.Document = options.Document;
  site.Verbose = options.Verbose;
  site.Quiet = options.Quiet;
  site.ProgressBar = isatty(STDERR_FILENO) != 0;
  std::unique_ptr<TWikiWriter> wiki;
  if (!options.WikiUrl.empty()) {
    wiki = OpenWiki(options);
    if (!wiki) return 1;
    site.Writer = wiki.get();
  }
  TSiteSummary summary;
  const int status = MigrateSite(site, summary);
  if (status != 2 && !options.Quiet) {
    Say(FormatSummary(summary));
    if (options.DryRun)
      Say("dry run: nothing was written into the wiki; the figures tell what would have been");
    const auto& links = summary.Links;
    if (!options.Verbose && links.MissingPages + links.Kept + links.MissingImages > 0)
      Say("--verbose lists the links and images left unresolved");
  }
  return status;
}

} // namespace

int main(int argc, char** argv) {
  TOptions options;
  try {
    options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const TUsageError& e) {
    Say(e.Message);
    std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
    return 2;
  }
  switch (options.Mode) {
  case TMode::Help:
    std::fputs(UsageText(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  case TMode::Version:
    std::printf("%s %s\n", kProgram, tamsel::kVersion);
    return std::fflush(stdout) == 0 ? 0 : 1;
  case TMode::Site:
    return MigrateSiteCommand(options);
  case TMode::Document:
    break;
  }
  return ConvertOne(options);
}
