#include "Cli_Options.h"
#include "Cli_DokuId.h"

#include <charconv>

namespace tamsel::cli {

namespace {

const char* const kUsage =
    "Usage: tamsel-cli [OPTIONS] [FILE | -]\n"
    "       tamsel-cli --site SRC_DIR --out PAGES_DIR [--media MEDIA_DIR] [OPTIONS]\n"
    "Converts an HTML document to DokuWiki markup on standard output, or a whole\n"
    "tree of HTML files into DokuWiki's page and media folders.\n"
    "With no FILE, or when FILE is -, reads standard input.\n"
    "\n"
    "  --encoding NAME   how to read the HTML: auto (default) or an encoding, see below\n"
    "  --newline lf|crlf line ends written (default lf, as DokuWiki stores pages)\n"
    "  --no-links        write link texts without wiki links\n"
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
    "  --index DOKUWIKI_DIR  run DokuWiki's indexer (DOKUWIKI_DIR/bin/indexer.php)\n"
    "                    after the migration, so that its search finds the pages\n"
    "  -v, --verbose     tell the encoding chosen, and every link left unresolved\n"
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
    "Exit status: 0 success, 1 a file could not be read, converted or written,\n"
    "2 bad usage.\n";

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
      if (siteOnly.empty()) siteOnly = arg;
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
    } else if (arg == "--index") {
      options.IndexDir = value();
      if (siteOnly.empty()) siteOnly = arg;
      if (options.IndexDir.empty()) throw TUsageError{"--index needs a folder"};
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

  if (sawSiteOption) {
    options.Mode = TMode::Site;
    if (options.PagesDir.empty()) throw TUsageError{"--site needs --out PAGES_DIR"};
    if (!inputs.empty()) throw TUsageError{"--site takes no FILE ('" + inputs.front() + "')"};
    if (!options.Output.empty()) throw TUsageError{"--site writes to --out, not to --output"};
  } else {
    if (!siteOnly.empty()) throw TUsageError{siteOnly + " works only with --site"};
    if (inputs.size() > 1)
      throw TUsageError{"one FILE at a time ('" + inputs[1] +
                        "' is one too many); --site "
                        "converts many"};
    if (!inputs.empty()) options.Input = inputs.front();
  }
  return options;
}

} // namespace tamsel::cli
