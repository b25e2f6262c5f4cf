// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Options.h"
#include "Cli_Chrome.h"
#include "Cli_DokuId.h"
#include "Cli_Wiki.h"
#include "Tamsel_Ascii.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace tamsel::cli {

namespace {

// What an option works only with; the first option given without it is named
// in the refusal.
enum class TNeeds { Nothing, Site, Wiki };

struct TOption {
  const char* Long;
  const char* Short; // nullptr: none
  const char* Value; // the value's name in --help; nullptr: a flag
  TNeeds Needs;
  void (*Set)(TCommandLine& line, const std::string& value);
  const char* Help; // its lines in --help
};

// A folder or file name that must not be empty.
template <auto Field>
void SetPath(TCommandLine& line, const std::string& value, const char* refusal) {
  if (value.empty()) throw TUsageError{refusal};
  line.Site.*Field = value;
}

// A whole number from 1 to most, or the refusal with the value appended.
template <typename T> T Number(const std::string& value, T most, const std::string& refusal) {
  T number = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (ec != std::errc() || end != value.data() + value.size() || number < 1 || number > most)
    throw TUsageError{refusal + ", not '" + value + "'"};
  return number;
}

void SetEncoding(TCommandLine& line, const std::string& value) {
  const std::string lower = LowerAscii(value);
  if (lower == "auto") {
    line.Site.Document.Encoding.reset();
  } else if (auto encoding = ParseEncodingName(value)) {
    line.Site.Document.Encoding = std::move(encoding);
  } else {
    throw TUsageError{"unknown encoding '" + value + "'"};
  }
}

void SetNewline(TCommandLine& line, const std::string& value) {
  if (value == "lf")
    line.Site.Document.Newline = TNewline::Lf;
  else if (value == "crlf")
    line.Site.Document.Newline = TNewline::CrLf;
  else
    throw TUsageError{"--newline takes lf or crlf, not '" + value + "'"};
}

void SetNamespace(TCommandLine& line, const std::string& value) {
  line.Site.Document.Namespace = CleanId(value);
  if (line.Site.Document.Namespace.empty())
    throw TUsageError{"--namespace '" + value + "' leaves no DokuWiki id"};
}

void SetStartPage(TCommandLine& line, const std::string& value) {
  std::string& page = line.Site.Document.StartPage;
  page = CleanId(value);
  if (page.empty() || page.find(':') != std::string::npos)
    throw TUsageError{"--start-page takes a page name, not '" + value + "'"};
}

void SetBaseUrl(TCommandLine& line, const std::string& url) {
  const std::size_t colon = url.find("://");
  if (colon == std::string::npos || colon == 0 || url.size() == colon + 3 ||
      url.find_first_of(" \t\r\n") != std::string::npos)
    throw TUsageError{"--base-url takes an absolute address (https://host/path/), not '" + url +
                      "'"};
  line.Site.Document.BaseUrl = url;
}

void SetWiki(TCommandLine& line, const std::string& url) {
  if (url.empty()) throw TUsageError{"--wiki needs the wiki's address"};
  // A password inside the address would show in the process list and in
  // every message that names the address; it is not repeated here either.
  const std::size_t scheme = url.find("://");
  const std::size_t host = scheme == std::string::npos ? 0 : scheme + 3;
  const std::size_t at = url.find('@', host);
  if (at != std::string::npos && at < url.find_first_of("/?#", host))
    throw TUsageError{"--wiki takes the address without a user or password in it; give "
                      "--user NAME, and the password in TAMSEL_WIKI_PASSWORD"};
  if (XmlRpcEndpoint(url).empty())
    throw TUsageError{"--wiki takes the wiki's http:// or https:// address, not '" + url + "'"};
  line.Site.Wiki.Url = url;
}

void SetPage(TCommandLine& line, const std::string& value) {
  line.WikiPage = CleanId(value);
  if (line.WikiPage.empty()) throw TUsageError{"--page '" + value + "' gives no page id"};
}

void SetContent(TCommandLine& line, const std::string& value) {
  TSelector selector;
  std::string error;
  if (!selector.Parse(value, error)) throw TUsageError{error};
  line.Site.Content = value;
}

// Parsing and --help both come from this table, and the man page and the
// shell completion are checked against --help: an option is added here only.
// --help shows the options in this order.
const TOption kOptions[] = {
    {"--encoding", nullptr, "NAME", TNeeds::Nothing, SetEncoding,
     "how to read the HTML: auto (default) or an encoding, see below"},
    {"--newline", nullptr, "lf|crlf", TNeeds::Nothing, SetNewline,
     "line ends written (default lf, as DokuWiki stores pages)"},
    {"--no-links", nullptr, nullptr, TNeeds::Nothing,
     [](TCommandLine& line, const std::string&) { line.Site.Document.Links = false; },
     "write link texts without wiki links"},
    {"--no-emphasis", nullptr, nullptr, TNeeds::Nothing,
     [](TCommandLine& line, const std::string&) { line.Site.Document.Emphasis = false; },
     "write em, cite, var, dfn, ins, kbd, samp and q as plain\n"
     "text, as the window does (by default they become\n"
     "//italic//, __underlined__, ''monospace'' and \"quoted\")"},
    {"--output", "-o", "FILE", TNeeds::Nothing,
     [](TCommandLine& line, const std::string& value) {
       if (value.empty()) throw TUsageError{"--output needs a file name"};
       line.Output = value;
     },
     "write to FILE instead of standard output"},
    {"--site", nullptr, "SRC_DIR", TNeeds::Nothing,
     [](TCommandLine& line, const std::string& value) {
       SetPath<&TSiteOptions::Source>(line, value, "--site needs a folder");
     },
     "migrate every *.html and *.htm file below SRC_DIR; nothing\n"
     "outside it is read, symbolic links to elsewhere are skipped"},
    {"--out", nullptr, "PAGES_DIR", TNeeds::Site,
     [](TCommandLine& line, const std::string& value) {
       SetPath<&TSiteOptions::Pages>(line, value, "--out needs a folder");
     },
     "where the pages go (a wiki's data/pages)"},
    {"--media", nullptr, "MEDIA_DIR", TNeeds::Site,
     [](TCommandLine& line, const std::string& value) {
       SetPath<&TSiteOptions::Media>(line, value, "--media needs a folder");
     },
     "where the site's images and linked files (PDF, archives)\n"
     "go (a wiki's data/media); media files up to 1 GiB"},
    {"--jobs", "-j", "N", TNeeds::Site,
     [](TCommandLine& line, const std::string& value) {
       line.Site.Jobs = Number(value, 1024u, "--jobs takes a number from 1 to 1024");
     },
     "pages converted at once (default: one per core)"},
    {"--force", nullptr, nullptr, TNeeds::Nothing,
     [](TCommandLine& line, const std::string&) { line.Site.Force = true; },
     "overwrite existing pages and media files"},
    {"--namespace", nullptr, "NS", TNeeds::Nothing, SetNamespace,
     "put every page and media file under the namespace NS (a:b),\n"
     "with links and images to match; for one FILE too"},
    {"--start-page", nullptr, "NAME", TNeeds::Nothing, SetStartPage,
     "what a folder's index.html becomes (default start, as in\n"
     "DokuWiki)"},
    {"--base-url", nullptr, "URL", TNeeds::Nothing, SetBaseUrl,
     "the address the HTML was published at (with --site, that\n"
     "of SRC_DIR): links that lead to no page of the site, and\n"
     "such images, become absolute addresses below it"},
    {"--index", nullptr, "DOKUWIKI_DIR", TNeeds::Site,
     [](TCommandLine& line, const std::string& value) {
       SetPath<&TSiteOptions::IndexDir>(line, value, "--index needs a folder");
     },
     "run DokuWiki's indexer (DOKUWIKI_DIR/bin/indexer.php)\n"
     "after the migration, so that its search finds the pages"},
    {"--wiki", nullptr, "URL", TNeeds::Nothing, SetWiki,
     "write into the DokuWiki at URL (its base address) through\n"
     "its XML-RPC API; the password comes from the environment\n"
     "variable TAMSEL_WIKI_PASSWORD, or is asked for on a terminal"},
    {"--user", nullptr, "NAME", TNeeds::Wiki,
     [](TCommandLine& line, const std::string& value) {
       if (value.empty()) throw TUsageError{"--user needs a name"};
       line.Site.Wiki.User = value;
     },
     "the wiki user to log in as (with --wiki)"},
    {"--page", nullptr, "ID", TNeeds::Wiki, SetPage,
     "the page a single FILE goes to (with --wiki; under\n"
     "--namespace NS when given)"},
    {"--summary", nullptr, "TEXT", TNeeds::Wiki,
     [](TCommandLine& line, const std::string& value) { line.Site.Wiki.Summary = value; },
     "the change summary (default \"Imported with tamsel\")"},
    {"--dry-run", nullptr, nullptr, TNeeds::Wiki,
     [](TCommandLine& line, const std::string&) { line.Site.Wiki.DryRun = true; },
     "list what would be written into the wiki, write nothing"},
    {"--insecure", nullptr, nullptr, TNeeds::Wiki,
     [](TCommandLine& line, const std::string&) { line.Site.Wiki.Insecure = true; },
     "do not verify the wiki's TLS certificate"},
    {"--cacert", nullptr, "FILE", TNeeds::Wiki,
     [](TCommandLine& line, const std::string& value) {
       if (value.empty()) throw TUsageError{"--cacert takes a file of PEM certificates"};
       line.Site.Wiki.CaCert = value;
     },
     "trust the CA certificates in FILE (PEM) for the wiki's\n"
     "certificate, besides the system's"},
    {"--timeout", nullptr, "SECONDS", TNeeds::Wiki,
     [](TCommandLine& line, const std::string& value) {
       line.Site.Wiki.TimeoutSeconds =
           Number(value, 86400L, "--timeout takes seconds from 1 to 86400");
     },
     "give up on a wiki request that moves no byte this long\n"
     "(default 60)"},
    {"--content", nullptr, "SELECTOR", TNeeds::Nothing, SetContent,
     "convert only the elements SELECTOR names (tag, #id, .class,\n"
     "[attr=value], descendants, ','); a page where it matches\n"
     "nothing converts whole. Without it a site's pages lose their\n"
     "navigation, sidebars, headers, footers and generated tables\n"
     "of contents, and a document converts whole"},
    {"--keep-chrome", nullptr, nullptr, TNeeds::Site,
     [](TCommandLine& line, const std::string&) { line.Site.KeepChrome = true; },
     "convert a site's pages whole, navigation and all"},
    {"--verbose", "-v", nullptr, TNeeds::Nothing,
     [](TCommandLine& line, const std::string&) { line.Site.Verbose = true; },
     "tell the encoding chosen, every link left unresolved, and\n"
     "what of each page was left out as the site's chrome"},
    {"--quiet", "-q", nullptr, TNeeds::Nothing,
     [](TCommandLine& line, const std::string&) { line.Site.Quiet = true; },
     "no progress bar and no summary, only errors"},
    {"--help", "-h", nullptr, TNeeds::Nothing,
     [](TCommandLine& line, const std::string&) { line.Mode = TMode::Help; },
     "show this help and exit"},
    {"--version", nullptr, nullptr, TNeeds::Nothing,
     [](TCommandLine& line, const std::string&) { line.Mode = TMode::Version; },
     "show the version and exit"},
};

const char* const kUsageHead =
    "Usage: tamsel-cli [OPTIONS] [FILE | -]\n"
    "       tamsel-cli --site SRC_DIR --out PAGES_DIR [--media MEDIA_DIR] [OPTIONS]\n"
    "       tamsel-cli --site SRC_DIR --wiki URL --user NAME [OPTIONS]\n"
    "       tamsel-cli FILE --wiki URL --user NAME --page ID [OPTIONS]\n"
    "Converts an HTML document to DokuWiki markup on standard output, or a whole\n"
    "tree of HTML files into DokuWiki's page and media folders, or either into a\n"
    "running DokuWiki through its remote API.\n"
    "With no FILE, or when FILE is -, reads standard input.\n"
    "\n";

const char* const kUsageTail =
    "\n"
    "Encodings: utf8, win1252, latin1, latin0, ascii, mac, ibm858, utf16le, utf16be,\n"
    "utf16, big5, shiftjis, iso2022, raw, or any name iconv knows (koi8-r, cp1251).\n"
    "auto reads a byte order mark, else a <meta> charset declaration in the first\n"
    "4 KB, else takes valid UTF-8 as UTF-8 and anything else as Windows-1252.\n"
    "The output is UTF-8 and ends with a line end unless it is empty. A &#13;\n"
    "reference, which browsers show as a space, is written as a space.\n"
    "\n"
    "Input larger than 64 MiB is refused, as is a media file above 1 GiB.\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read, converted or written (or\n"
    "the wiki refused), 2 bad usage.\n";

// Where the descriptions in --help begin.
constexpr std::size_t kHelpColumn = 20;

std::string MakeUsage() {
  std::string text = kUsageHead;
  for (const TOption& option : kOptions) {
    std::string names = "  ";
    if (option.Short) names += std::string(option.Short) + ", ";
    names += option.Long;
    if (option.Value) names += std::string(" ") + option.Value;
    names.resize(std::max(names.size() + 1, kHelpColumn), ' ');
    text += names;
    for (const char* help = option.Help; *help; ++help) {
      text += *help;
      if (*help == '\n') text.append(kHelpColumn, ' ');
    }
    text += '\n';
  }
  return text + kUsageTail;
}

const TOption* FindOption(const std::string& name) {
  for (const TOption& option : kOptions)
    if (name == option.Long || (option.Short && name == option.Short)) return &option;
  return nullptr;
}

bool IsOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

// The mode the options given add up to, and the refusals of those that do
// not go together. siteOnly and wikiOnly name the first option given that
// needs --site or --wiki.
void ChooseMode(TCommandLine& line, const std::vector<std::string>& inputs,
                const std::string& siteOnly, const std::string& wikiOnly) {
  const TSiteOptions& site = line.Site;
  const bool wiki = !site.Wiki.Url.empty();
  if (!wiki && !wikiOnly.empty()) throw TUsageError{wikiOnly + " works only with --wiki"};
  if (wiki && site.Wiki.User.empty()) throw TUsageError{"--wiki needs --user NAME"};
  if (wiki && site.Document.Newline == TNewline::CrLf)
    throw TUsageError{"--newline crlf does not go with --wiki: DokuWiki keeps LF line ends"};
  if (!site.Source.empty() && wiki) {
    line.Mode = TMode::Site;
    if (!site.Pages.empty() || !site.Media.empty())
      throw TUsageError{"--wiki writes into the wiki, not into --out or --media folders"};
    if (!site.IndexDir.empty())
      throw TUsageError{"--index is for pages written into a data folder; the wiki indexes "
                        "what its API saves"};
    if (!line.WikiPage.empty())
      throw TUsageError{"--page is for one FILE; --site takes page ids from file names"};
    if (!inputs.empty()) throw TUsageError{"--site takes no FILE ('" + inputs.front() + "')"};
    if (!line.Output.empty()) throw TUsageError{"--wiki writes into the wiki, not to --output"};
  } else if (wiki) {
    if (!siteOnly.empty()) throw TUsageError{siteOnly + " works only with --site"};
    if (line.WikiPage.empty()) throw TUsageError{"--wiki with a FILE needs --page ID"};
    if (!line.Output.empty()) throw TUsageError{"--wiki writes into the wiki, not to --output"};
    if (inputs.size() > 1)
      throw TUsageError{"one FILE at a time ('" + inputs[1] + "' is one too many)"};
    if (!inputs.empty()) line.Input = inputs.front();
  } else if (!site.Source.empty()) {
    line.Mode = TMode::Site;
    if (site.Pages.empty()) throw TUsageError{"--site needs --out PAGES_DIR"};
    if (!inputs.empty()) throw TUsageError{"--site takes no FILE ('" + inputs.front() + "')"};
    if (!line.Output.empty()) throw TUsageError{"--site writes to --out, not to --output"};
  } else {
    if (!siteOnly.empty()) throw TUsageError{siteOnly + " works only with --site"};
    if (site.Force) throw TUsageError{"--force works only with --site or --wiki"};
    if (inputs.size() > 1)
      throw TUsageError{"one FILE at a time ('" + inputs[1] +
                        "' is one too many); --site converts many"};
    if (!inputs.empty()) line.Input = inputs.front();
  }
}

} // namespace

const std::string& UsageText() {
  static const std::string text = MakeUsage();
  return text;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine line;
  std::vector<std::string> inputs;
  bool onlyFiles = false;
  std::string siteOnly, wikiOnly;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (onlyFiles || !IsOption(arg)) {
      inputs.push_back(arg);
      continue;
    }
    // --name=value; a short option takes its value from the next argument.
    std::optional<std::string> value;
    if (arg.starts_with("--"))
      if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
      }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    const TOption* option = FindOption(arg);
    if (!option) throw TUsageError{"unknown option '" + arg + "'"};
    if (!option->Value && value) throw TUsageError{"option '" + arg + "' takes no value"};
    if (option->Value && !value) {
      if (i + 1 >= args.size()) throw TUsageError{"option '" + arg + "' needs a value"};
      value = args[++i];
    }
    option->Set(line, value.value_or(""));
    if (line.Mode == TMode::Help || line.Mode == TMode::Version) return line;
    std::string* needing = option->Needs == TNeeds::Site   ? &siteOnly
                           : option->Needs == TNeeds::Wiki ? &wikiOnly
                                                           : nullptr;
    if (needing && needing->empty()) *needing = option->Long;
  }
  ChooseMode(line, inputs, siteOnly, wikiOnly);
  return line;
}

} // namespace tamsel::cli
