// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Options.h"
#include "Cli_Chrome.h"
#include "Cli_DokuId.h"
#include "Cli_Wiki.h"

#include <charconv>

namespace tamsel::cli {

namespace {

const char* const kUsage =
    "Usage: tamsel-cli [OPTIONS] [FILE | -]\n"
    "       tamsel-cli --site SRC_DIR --out PAGES_DIR [--media MEDIA_DIR] [OPTIONS]\n"
    "       tamsel-cli --site SRC_DIR --wiki URL --user NAME [OPTIONS]\n"
    "       tamsel-cli FILE --wiki URL --user NAME --page ID [OPTIONS]\n"
    "Converts an HTML document to DokuWiki markup on standard output, or a whole\n"
    "tree of HTML files into DokuWiki's page and media folders, or either into a\n"
    "running DokuWiki through its remote API.\n"
    "With no FILE, or when FILE is -, reads standard input.\n"
    "\n"
    "  --encoding NAME   how to read the HTML: auto (default) or an encoding, see below\n"
    "  --newline lf|crlf line ends written (default lf, as DokuWiki stores pages)\n"
    "  --no-links        write link texts without wiki links\n"
    "  --no-emphasis     write em, cite, var, dfn, ins, kbd, samp and q as plain\n"
    "                    text, as the window does (by default they become\n"
    "                    //italic//, __underlined__, ''monospace'' and \"quoted\")\n"
    "  -o, --output FILE write to FILE instead of standard output\n"
    "  --site SRC_DIR    migrate every *.html and *.htm file below SRC_DIR; nothing\n"
    "                    outside it is read, symbolic links to elsewhere are skipped\n"
    "  --out PAGES_DIR   where the pages go (a wiki's data/pages)\n"
    "  --media MEDIA_DIR where the site's images and linked files (PDF, archives)\n"
    "                    go (a wiki's data/media); media files up to 1 GiB\n"
    "  --jobs N          pages converted at once (default: one per core)\n"
    "  --force           overwrite existing pages and media files\n"
    "  --namespace NS    put every page and media file under the namespace NS (a:b),\n"
    "                    with links and images to match; for one FILE too\n"
    "  --start-page NAME what a folder's index.html becomes (default start, as in\n"
    "                    DokuWiki)\n"
    "  --base-url URL    the address the HTML was published at (with --site, that\n"
    "                    of SRC_DIR): links that lead to no page of the site, and\n"
    "                    such images, become absolute addresses below it\n"
    "  --index DOKUWIKI_DIR  run DokuWiki's indexer (DOKUWIKI_DIR/bin/indexer.php)\n"
    "                    after the migration, so that its search finds the pages\n"
    "  --wiki URL        write into the DokuWiki at URL (its base address) through\n"
    "                    its XML-RPC API; the password comes from the environment\n"
    "                    variable TAMSEL_WIKI_PASSWORD, or is asked for on a terminal\n"
    "  --user NAME       the wiki user to log in as (with --wiki)\n"
    "  --page ID         the page a single FILE goes to (with --wiki; under\n"
    "                    --namespace NS when given)\n"
    "  --summary TEXT    the change summary (default \"Imported with tamsel\")\n"
    "  --dry-run         list what would be written into the wiki, write nothing\n"
    "  --insecure        do not verify the wiki's TLS certificate\n"
    "  --cacert FILE     trust the CA certificates in FILE (PEM) for the wiki's\n"
    "                    certificate, besides the system's\n"
    "  --timeout SECONDS give up on a wiki request that moves no byte this long\n"
    "                    (default 60)\n"
    "  --content SELECTOR convert only the elements SELECTOR names (tag, #id, .class,\n"
    "                    [attr=value], descendants, ','); a page where it matches\n"
    "                    nothing converts whole. Without it a site's pages lose their\n"
    "                    navigation, sidebars, headers, footers and generated tables\n"
    "                    of contents, and a document converts whole\n"
    "  --keep-chrome     convert a site's pages whole, navigation and all\n"
    "  -v, --verbose     tell the encoding chosen, every link left unresolved, and\n"
    "                    what of each page was left out as the site's chrome\n"
    "  -q, --quiet       no progress bar and no summary, only errors\n"
    "  -h, --help        show this help and exit\n"
    "  --version         show the version and exit\n"
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

bool IsOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

} // namespace

const char* UsageText() {
  return kUsage;
}

TOptions ParseOptions(const std::vector<std::string>& args) {
  TOptions options;
  std::vector<std::string> inputs;
  bool onlyFiles = false;
  bool sawSiteOption = false;
  std::string siteOnly; // the first option that needs --site
  std::string wikiOnly; // the first option that needs --wiki

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (onlyFiles || !IsOption(arg)) {
      inputs.push_back(arg);
      continue;
    }
    std::string inlineValue;
    bool hasInline = false;
    if (arg.rfind("--", 0) == 0) {
      if (auto eq = arg.find('='); eq != std::string::npos) {
        inlineValue = arg.substr(eq + 1);
        arg.resize(eq);
        hasInline = true;
      }
    }
    const auto value = [&]() -> std::string {
      if (hasInline) return inlineValue;
      if (i + 1 >= args.size()) throw TUsageError{"option '" + arg + "' needs a value"};
      return args[++i];
    };
    const auto flag = [&] {
      if (hasInline) throw TUsageError{"option '" + arg + "' takes no value"};
    };

    if (arg == "--") {
      onlyFiles = true;
    } else if (arg == "--help" || arg == "-h") {
      flag();
      options.Mode = TMode::Help;
      return options;
    } else if (arg == "--version") {
      flag();
      options.Mode = TMode::Version;
      return options;
    } else if (arg == "--no-links") {
      flag();
      options.Document.LinkOptions = 0;
    } else if (arg == "--no-emphasis") {
      flag();
      options.Document.Emphasis = false;
    } else if (arg == "--encoding") {
      options.EncodingName = value();
      std::string lower = options.EncodingName;
      for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      if (lower == "auto") {
        options.Document.Encoding.reset();
      } else if (auto encoding = ParseEncodingName(options.EncodingName)) {
        options.Document.Encoding = std::move(encoding);
      } else {
        throw TUsageError{"unknown encoding '" + options.EncodingName + "'"};
      }
    } else if (arg == "--newline") {
      const std::string v = value();
      if (v == "lf") {
        options.Document.Newline = TNewline::Lf;
      } else if (v == "crlf") {
        options.Document.Newline = TNewline::CrLf;
      } else {
        throw TUsageError{"--newline takes lf or crlf, not '" + v + "'"};
      }
    } else if (arg == "--output" || arg == "-o") {
      options.Output = value();
      if (options.Output.empty()) throw TUsageError{"--output needs a file name"};
    } else if (arg == "--site") {
      options.SiteDir = value();
      sawSiteOption = true;
      if (options.SiteDir.empty()) throw TUsageError{"--site needs a folder"};
    } else if (arg == "--out") {
      options.PagesDir = value();
      if (siteOnly.empty()) siteOnly = arg;
      if (options.PagesDir.empty()) throw TUsageError{"--out needs a folder"};
    } else if (arg == "--media") {
      options.MediaDir = value();
      if (siteOnly.empty()) siteOnly = arg;
      if (options.MediaDir.empty()) throw TUsageError{"--media needs a folder"};
    } else if (arg == "--jobs" || arg == "-j") {
      const std::string v = value();
      unsigned jobs = 0;
      auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), jobs);
      if (ec != std::errc() || end != v.data() + v.size() || jobs == 0 || jobs > 1024)
        throw TUsageError{"--jobs takes a number from 1 to 1024, not '" + v + "'"};
      options.Jobs = jobs;
      if (siteOnly.empty()) siteOnly = "--jobs";
    } else if (arg == "--force") {
      flag();
      options.Force = true;
    } else if (arg == "--namespace") {
      const std::string ns = value();
      options.Document.Namespace = CleanId(ns);
      if (options.Document.Namespace.empty())
        throw TUsageError{"--namespace '" + ns + "' leaves no DokuWiki id"};
    } else if (arg == "--start-page") {
      const std::string name = value();
      options.Document.StartPage = CleanId(name);
      if (options.Document.StartPage.empty() ||
          options.Document.StartPage.find(':') != std::string::npos)
        throw TUsageError{"--start-page takes a page name, not '" + name + "'"};
    } else if (arg == "--base-url") {
      options.Document.BaseUrl = value();
      const std::string& url = options.Document.BaseUrl;
      const std::size_t colon = url.find("://");
      if (colon == std::string::npos || colon == 0 || url.size() == colon + 3 ||
          url.find_first_of(" \t\r\n") != std::string::npos)
        throw TUsageError{"--base-url takes an absolute address (https://host/path/), not '" + url +
                          "'"};
    } else if (arg == "--index") {
      options.IndexDir = value();
      if (siteOnly.empty()) siteOnly = arg;
      if (options.IndexDir.empty()) throw TUsageError{"--index needs a folder"};
    } else if (arg == "--wiki") {
      options.WikiUrl = value();
      if (options.WikiUrl.empty()) throw TUsageError{"--wiki needs the wiki's address"};
      // A password inside the address would show in the process list and in
      // every message that names the address; it is not repeated here either.
      const std::size_t scheme = options.WikiUrl.find("://");
      const std::size_t host = scheme == std::string::npos ? 0 : scheme + 3;
      const std::size_t at = options.WikiUrl.find('@', host);
      if (at != std::string::npos && at < options.WikiUrl.find_first_of("/?#", host))
        throw TUsageError{"--wiki takes the address without a user or password in it; give "
                          "--user NAME, and the password in TAMSEL_WIKI_PASSWORD"};
      if (XmlRpcEndpoint(options.WikiUrl).empty())
        throw TUsageError{"--wiki takes the wiki's http:// or https:// address, not '" +
                          options.WikiUrl + "'"};
    } else if (arg == "--user") {
      options.WikiUser = value();
      if (options.WikiUser.empty()) throw TUsageError{"--user needs a name"};
      if (wikiOnly.empty()) wikiOnly = arg;
    } else if (arg == "--page") {
      const std::string raw = value();
      options.WikiPage = CleanId(raw);
      if (options.WikiPage.empty()) throw TUsageError{"--page '" + raw + "' gives no page id"};
      if (wikiOnly.empty()) wikiOnly = arg;
    } else if (arg == "--summary") {
      options.Summary = value();
      if (wikiOnly.empty()) wikiOnly = arg;
    } else if (arg == "--dry-run") {
      flag();
      options.DryRun = true;
      if (wikiOnly.empty()) wikiOnly = arg;
    } else if (arg == "--insecure") {
      flag();
      options.Insecure = true;
      if (wikiOnly.empty()) wikiOnly = arg;
    } else if (arg == "--cacert") {
      options.CaCert = value();
      if (options.CaCert.empty()) throw TUsageError{"--cacert takes a file of PEM certificates"};
      if (wikiOnly.empty()) wikiOnly = arg;
    } else if (arg == "--timeout") {
      const std::string v = value();
      long seconds = 0;
      auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seconds);
      if (ec != std::errc() || end != v.data() + v.size() || seconds < 1 || seconds > 86400)
        throw TUsageError{"--timeout takes seconds from 1 to 86400, not '" + v + "'"};
      options.TimeoutSeconds = seconds;
      if (wikiOnly.empty()) wikiOnly = arg;
    } else if (arg == "--content") {
      options.Content = value();
      TSelector selector;
      std::string error;
      if (!selector.Parse(options.Content, error)) throw TUsageError{error};
    } else if (arg == "--keep-chrome") {
      flag();
      options.KeepChrome = true;
      if (siteOnly.empty()) siteOnly = arg;
    } else if (arg == "--verbose" || arg == "-v") {
      flag();
      options.Verbose = true;
    } else if (arg == "--quiet" || arg == "-q") {
      flag();
      options.Quiet = true;
    } else {
      throw TUsageError{"unknown option '" + arg + "'"};
    }
  }

  const bool wiki = !options.WikiUrl.empty();
  if (!wiki && !wikiOnly.empty()) throw TUsageError{wikiOnly + " works only with --wiki"};
  if (wiki && options.WikiUser.empty()) throw TUsageError{"--wiki needs --user NAME"};
  if (wiki && options.Document.Newline == TNewline::CrLf)
    throw TUsageError{"--newline crlf does not go with --wiki: DokuWiki keeps LF line ends"};
  if (sawSiteOption && wiki) {
    options.Mode = TMode::Site;
    if (!options.PagesDir.empty() || !options.MediaDir.empty())
      throw TUsageError{"--wiki writes into the wiki, not into --out or --media folders"};
    if (!options.IndexDir.empty())
      throw TUsageError{"--index is for pages written into a data folder; the wiki indexes "
                        "what its API saves"};
    if (!options.WikiPage.empty())
      throw TUsageError{"--page is for one FILE; --site takes page ids from file names"};
    if (!inputs.empty()) throw TUsageError{"--site takes no FILE ('" + inputs.front() + "')"};
    if (!options.Output.empty()) throw TUsageError{"--wiki writes into the wiki, not to --output"};
  } else if (wiki) {
    if (!siteOnly.empty()) throw TUsageError{siteOnly + " works only with --site"};
    if (options.WikiPage.empty()) throw TUsageError{"--wiki with a FILE needs --page ID"};
    if (!options.Output.empty()) throw TUsageError{"--wiki writes into the wiki, not to --output"};
    if (inputs.size() > 1)
      throw TUsageError{"one FILE at a time ('" + inputs[1] + "' is one too many)"};
    if (!inputs.empty()) options.Input = inputs.front();
  } else if (sawSiteOption) {
    options.Mode = TMode::Site;
    if (options.PagesDir.empty()) throw TUsageError{"--site needs --out PAGES_DIR"};
    if (!inputs.empty()) throw TUsageError{"--site takes no FILE ('" + inputs.front() + "')"};
    if (!options.Output.empty()) throw TUsageError{"--site writes to --out, not to --output"};
  } else {
    if (!siteOnly.empty()) throw TUsageError{siteOnly + " works only with --site"};
    if (options.Force) throw TUsageError{"--force works only with --site or --wiki"};
    if (inputs.size() > 1)
      throw TUsageError{"one FILE at a time ('" + inputs[1] +
                        "' is one too many); --site "
                        "converts many"};
    if (!inputs.empty()) options.Input = inputs.front();
  }
  return options;
}

} // namespace tamsel::cli
