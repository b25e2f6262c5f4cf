// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Site.h"
#include "Cli_Chrome.h"
#include "Cli_DokuId.h"
#include "Cli_Files.h"
#include "Cli_MemoryBudget.h"
#include "Cli_Progress.h"

#include "Tamsel.h"
#include "Tamsel_Anchor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tamsel::cli {

namespace fs = std::filesystem;

namespace {

const char* const kProgram = "tamsel-cli";

void Say(const std::string& line) {
  std::fprintf(stderr, "%s: %s\n", kProgram, line.c_str());
}

// A name as UTF-8; names in another encoding are taken for Windows-1252.
std::string Utf8Name(const std::string& name) {
  if (IsValidUtf8(name)) return name;
  std::string converted;
  return ConvertToUtf8(name, "WINDOWS-1252", converted) ? converted : name;
}

int MigrateSourceMissing(const fs::path& source) {
  struct stat st {};
  Say(Printable(source.string()) + ": cannot read folder: " +
      (::stat(source.c_str(), &st) == 0 ? "not a directory" : std::strerror(errno)));
  return 1;
}

bool OverlapsSource(const fs::path& out, const fs::path& source) {
  if (!Inside(out, source) && !Inside(source, out)) return false;
  Say("the output " + Printable(out.string()) + " and the source " + Printable(source.string()) +
      " overlap; a later run would read the output as source, or the output would land "
      "among the sources. Choose folders apart.");
  return true;
}

struct TScan {
  std::vector<TSiteFile> Files;
  std::vector<std::string> Problems;         // files lost to the migration
  std::vector<std::string> Notes;            // nothing lost, but worth knowing
  std::set<std::pair<dev_t, ino_t>> Seen;    // folders, against symbolic link loops
  fs::path Source;                           // real path
  std::vector<fs::path> Outputs;             // real paths, never read as source
  TSourceTree Tree;                          // the folders found, kept open
  std::map<std::string, TSourceFile> Opened; // by the real path of each file
};

// Every file and folder the scan takes is reached by its real path, and that
// path lies inside the source's: a symbolic link that leads elsewhere (to
// /etc/passwd, to /proc/self/environ, to a folder above) is skipped, so
// nothing outside the source is ever read. Names are looked up relative to
// their folder's descriptor, so that no path grows past PATH_MAX in a deep
// tree; every file or folder that cannot be looked at is reported.
void ScanFolder(std::size_t folder, const fs::path& real, const std::string& prefix, TScan& scan) {
  const auto shown = [&](const std::string& relative) {
    return Printable(relative.empty() ? real.string() : relative);
  };
  std::vector<std::string> names;
  std::string error;
  if (!scan.Tree.List(folder, names, error)) {
    scan.Problems.push_back(shown(prefix) + ": cannot read folder: " + error);
    return;
  }
  struct TEntry {
    bool Link = false;
    std::string Name;
    struct stat Stat {};
    bool operator<(const TEntry& other) const {
      return std::tie(Link, Name) < std::tie(other.Link, other.Name);
    }
  };
  std::vector<TEntry> entries;
  for (std::string& name : names) {
    TEntry entry;
    if (!scan.Tree.Stat(folder, name, entry.Stat, error)) {
      scan.Problems.push_back(shown((prefix.empty() ? "" : prefix + "/") + Utf8Name(name)) +
                              ": cannot read: " + error);
      continue;
    }
    entry.Link = S_ISLNK(entry.Stat.st_mode);
    entry.Name = std::move(name);
    entries.push_back(std::move(entry));
  }
  // Real folders before symbolic links to them, so that a folder seen twice
  // keeps its own name, whatever order the file system lists it in.
  std::sort(entries.begin(), entries.end());
  for (TEntry& entry : entries) {
    const std::string name = Utf8Name(entry.Name);
    const std::string relative = prefix.empty() ? name : prefix + "/" + name;
    fs::path realPath = real / entry.Name;
    std::size_t at = folder;
    std::string onDisk = entry.Name;
    struct stat& st = entry.Stat;
    if (entry.Link) {
      std::error_code linkError;
      realPath = fs::canonical(realPath, linkError);
      if (linkError) {
        // Broken symbolic links (and loops) matter only where a page was
        // meant to be; one that cannot be followed for another reason (a
        // path past PATH_MAX, a folder closed to us) always does.
        const bool broken = linkError == std::errc::no_such_file_or_directory ||
                            linkError == std::errc::too_many_symbolic_link_levels ||
                            linkError == std::errc::not_a_directory;
        if (!broken)
          scan.Problems.push_back(shown(relative) + ": cannot read: symbolic link not followed: " +
                                  linkError.message());
        else if (IsPageName(name))
          scan.Problems.push_back(shown(relative) + ": cannot read: broken symbolic link");
        continue;
      }
      if (!Inside(realPath, scan.Source)) {
        scan.Notes.push_back(shown(relative) + ": skipped, a symbolic link to " +
                             Printable(realPath.string()) + ", outside the source");
        continue;
      }
      // Reached again from the source's folder, name by name, never through
      // a link: whatever the link leads to by the time it is read.
      const fs::path inside = realPath.lexically_relative(scan.Source);
      if (inside.empty() || inside == ".") {
        scan.Notes.push_back(shown(relative) + ": skipped, the same folder as one read before "
                                               "(a symbolic link loop?)");
        continue;
      }
      const std::optional<std::size_t> parent =
          scan.Tree.FolderAt(inside.parent_path().string(), error);
      onDisk = inside.filename().string();
      if (!parent || !scan.Tree.Stat(*parent, onDisk, st, error)) {
        scan.Problems.push_back(shown(relative) + ": cannot read: " + error);
        continue;
      }
      at = *parent;
    }
    if (S_ISDIR(st.st_mode)) {
      bool output = false;
      for (const fs::path& out : scan.Outputs)
        output = output || Inside(realPath, out) || Inside(out, realPath);
      if (output) {
        scan.Notes.push_back(shown(relative) + ": skipped, it holds the output");
        continue;
      }
      const std::optional<std::size_t> sub = scan.Tree.AddFolder(at, onDisk, st, error);
      if (!sub) {
        scan.Problems.push_back(shown(relative) + ": cannot read folder: " + error);
        continue;
      }
      if (!scan.Seen.insert({st.st_dev, st.st_ino}).second) {
        scan.Notes.push_back(shown(relative) + ": skipped, the same folder as one read before "
                                               "(a symbolic link loop?)");
        continue;
      }
      ScanFolder(*sub, realPath, relative, scan);
    } else if (S_ISREG(st.st_mode)) {
      scan.Opened.emplace(realPath.string(), TSourceFile{&scan.Tree, at, onDisk});
      scan.Files.push_back(TSiteFile{
          std::move(realPath), relative, false, {}, {}, static_cast<std::uint64_t>(st.st_size)});
    } else if (S_ISLNK(st.st_mode)) {
      // Resolved a moment ago, a link now: changed meanwhile.
      scan.Problems.push_back(shown(relative) + ": cannot read: changed while it was read");
    } else if (IsPageName(name)) {
      scan.Notes.push_back(shown(relative) + ": skipped, not a regular file");
    }
  }
}

// Runs work(i) for i below count on jobs threads (this one among them).
void RunParallel(unsigned jobs, std::size_t count, const std::function<void(std::size_t)>& work) {
  std::atomic<std::size_t> next{0};
  const auto worker = [&] {
    for (std::size_t i; (i = next++) < count;)
      work(i);
  };
  const auto threads =
      static_cast<unsigned>(std::clamp<std::size_t>(jobs, 1, std::max<std::size_t>(count, 1)));
  std::vector<std::thread> workers;
  for (unsigned j = 1; j < threads; ++j)
    workers.emplace_back(worker);
  worker();
  for (std::thread& thread : workers)
    thread.join();
}

class TMigration {
public:
  TMigration(const TSiteOptions& options, TSiteIndex& index,
             const std::map<std::string, TSourceFile>& sources, TSiteWriter& writer,
             TProgress& progress, TChromeFinder& chrome, std::size_t heldBytes)
      : Options(options), Index(index), Sources(sources), Writer(writer), Progress(progress),
        Chrome(chrome), Memory(TMemoryBudget::kSiteBytes - heldBytes), HeldMemory(heldBytes),
        Held(index.Files().size()), Refusals(index.Files().size()) {}

  // Records a page's blocks, before any page's chrome is chosen.
  void SurveyChrome(std::size_t file) {
    std::string buffer, error;
    std::string_view bytes;
    try {
      if (ReadPage(file, true, buffer, bytes, error)) {
        const auto lease = Memory.Take(MemoryBoundFor(bytes.size()));
        const TPreparedInput input = PrepareInput(bytes, Options.Document.Encoding);
        Chrome.Survey(OutlineDocument(input.Bytes, input.TidyEncoding), Index.Files()[file].Path);
      }
    } catch (const std::exception&) {
      // The conversion meets the same trouble and reports it.
    }
    Progress.Step();
  }

  // What of the page converts; report, when given, learns what goes.
  TRegionChooser ChromeChooser(const TSiteFile& page, TChromeReport* report) {
    if (!Chrome.Active()) return nullptr;
    return [this, &page, report](const TOutline& outline) {
      TChromeReport ignored;
      return Chrome.Choose(outline, page.Path, report ? *report : ignored);
    };
  }

  // A page's anchors, as its conversion writes its headings, before any
  // page's links are resolved.
  void FindPageAnchors(std::size_t file) {
    std::string buffer, error;
    std::string_view bytes;
    try {
      if (ReadPage(file, true, buffer, bytes, error)) {
        const auto lease = Memory.Take(MemoryBoundFor(bytes.size()));
        thread_local TTamsel converter;
        struct TReport {
          TTamsel& Converter;
          ~TReport() {
            Converter.Options.ReportAnchors = false;
            Converter.ChooseRegion = nullptr;
          }
        } report{converter};
        converter.Options.ReportAnchors = true;
        // The anchors of what converts: chrome left out takes its headings along.
        converter.ChooseRegion = ChromeChooser(Index.Files()[file], nullptr);
        ConvertDocument(converter, bytes, PageOptions());
        Index.SetAnchors(file, converter.Anchors());
      }
    } catch (const std::runtime_error& e) {
      // The converter's refusal, reported by the conversion, which does not
      // parse the page again: a page takes one parse's bounded time to be
      // refused, not two.
      Refusals[file] = e.what();
    } catch (const std::length_error& e) {
      Refusals[file] = e.what();
    } catch (const std::exception&) {
      // Out of memory, most likely: the conversion may fit.
    }
    Progress.Step();
  }

  void Convert(std::size_t file) {
    const TSiteFile& page = Index.Files()[file];
    if (!Refusals[file].empty()) {
      Held[file].Lease.reset();
      Held[file].Bytes = {};
      Report(page.Path, "cannot convert: " + Refusals[file]);
      Count([](TSiteSummary& s) { ++s.Failed; });
      Progress.Step();
      return;
    }
    try {
      ConvertPage(file);
    } catch (const std::exception& e) { // out of memory, most likely: the next may fit
      Report(page.Path, std::string("failed: ") + e.what());
      Count([](TSiteSummary& s) { ++s.Failed; });
    }
    Progress.Step();
  }

  void CopyMedia(std::size_t file) {
    const TSiteFile& media = Index.Files()[file];
    std::string error;
    const std::string id = ":" + media.Id;
    switch (Writer.WriteMedia(id, SourceOf(media), error)) {
    case TWriteResult::Written:
      Count([](TSiteSummary& s) { ++s.MediaCopied; });
      break;
    case TWriteResult::Unchanged:
      Count([](TSiteSummary& s) {
        ++s.MediaCopied;
        ++s.MediaUnchanged;
      });
      break;
    case TWriteResult::Exists:
      Report(media.Path, Printable(Writer.Describe(id, true)) +
                             " exists with other content; not overwritten (--force overwrites)");
      Count([](TSiteSummary& s) { ++s.Failed; });
      break;
    case TWriteResult::Failed:
      // The trouble may lie with the file read, not the one written.
      if (error.starts_with("cannot read") || error.starts_with("not copied"))
        Report(media.Path, error);
      else
        Report(media.Path, "cannot write " + Printable(Writer.Describe(id, true)) + ": " + error);
      Count([](TSiteSummary& s) { ++s.Failed; });
      break;
    }
  }

  void Report(const std::string& path, const std::string& message) {
    Progress.Message(std::string(kProgram) + ": " + Printable(path) + ": " + message);
  }

  std::vector<std::size_t> MediaUsed() {
    std::lock_guard guard(Lock);
    return {Media.begin(), Media.end()};
  }

  TSiteSummary Summary;

private:
  const TSourceFile& SourceOf(const TSiteFile& file) const {
    return Sources.at(file.Source.string());
  }

  void Count(const std::function<void(TSiteSummary&)>& change) {
    std::lock_guard guard(Lock);
    change(Summary);
  }

  // How every page of the site converts.
  TDocumentOptions PageOptions() const {
    TDocumentOptions options = Options.Document;
    options.Namespace = Index.Options().Namespace;
    options.StartPage = Index.Options().StartPage;
    return options;
  }

  // A page's bytes, from its file the first time, into buffer or, when a
  // later pass needs them again (keep) and they fit, into the page's hold;
  // bytes shows them where they are. The last pass takes them out of the hold.
  bool ReadPage(std::size_t file, bool keep, std::string& buffer, std::string_view& bytes,
                std::string& error) {
    THeldPage& held = Held[file];
    if (held.Lease) {
      if (!keep) {
        buffer = std::move(held.Bytes);
        held.Lease.reset();
      }
      bytes = keep ? std::string_view(held.Bytes) : std::string_view(buffer);
      return true;
    }
    if (!SourceOf(Index.Files()[file]).Read(buffer, error, kMaxInputBytes)) return false;
    bytes = buffer;
    if (keep) {
      if (std::optional<TMemoryBudget::TLease> lease = HeldMemory.TryTake(buffer.size())) {
        held.Bytes = std::move(buffer);
        held.Lease.emplace(std::move(*lease));
        bytes = held.Bytes;
      }
    }
    return true;
  }

  void ConvertPage(std::size_t file) {
    const TSiteFile& page = Index.Files()[file];
    std::string buffer, error;
    std::string_view bytes;
    if (!ReadPage(file, false, buffer, bytes, error)) {
      Report(page.Path, "cannot read: " + error);
      Count([](TSiteSummary& s) { ++s.Failed; });
      return;
    }
    Count([&](TSiteSummary& s) { s.PageBytes += bytes.size(); });
    // Held until the page is written: its text is part of what it takes.
    const auto lease = Memory.Take(MemoryBoundFor(bytes.size()));
    TLinkCounts counts;
    std::vector<std::string> notes;
    std::vector<std::size_t> media;
    // One converter per thread: it compiles its escaping pattern once.
    thread_local TTamsel converter;
    // The resolvers below refer to this call's locals; none may outlive it.
    struct TResetResolvers {
      TTamsel& Converter;
      ~TResetResolvers() {
        Converter.ResolveLocalLink = nullptr;
        Converter.ResolveLocalImage = nullptr;
        Converter.ChooseRegion = nullptr;
        Converter.Options.PagePath.clear();
      }
    } reset{converter};
    TChromeReport chrome;
    converter.ChooseRegion = ChromeChooser(page, &chrome);
    // What leads to no file of the site, the converter's link policy decides
    // for a page at this place.
    converter.Options.PagePath = page.Path;
    const TDocumentOptions documentOptions = PageOptions();
    converter.ResolveLocalLink = [&](std::string_view href, TLinkTarget& result) {
      std::string note;
      TResolvedLink link;
      const bool resolved = Index.ResolveLink(page.Path, href, link, counts, note);
      if (!note.empty()) notes.push_back(std::move(note));
      if (!resolved) return false;
      if (link.Media) media.push_back(link.File);
      result.Target = std::move(link.Target);
      result.Media = link.Media;
      return true;
    };
    converter.ResolveLocalImage = [&](std::string_view src, std::string& result) {
      if (!Writer.TakesMedia()) return false;
      std::string note;
      std::size_t image = 0;
      const bool resolved = Index.ResolveImage(page.Path, src, result, image, counts, note);
      if (resolved) media.push_back(image);
      if (!note.empty()) notes.push_back(std::move(note));
      return resolved;
    };
    TDocumentResult document;
    try {
      document = ConvertDocument(converter, bytes, documentOptions);
    } catch (const std::exception& e) {
      Report(page.Path, std::string("cannot convert: ") + e.what());
      Count([](TSiteSummary& s) { ++s.Failed; });
      return;
    }
    if (!Options.Quiet)
      for (const std::string& warning : document.Warnings)
        Report(page.Path, warning);
    if (Options.Verbose) {
      Report(page.Path, "read as " + document.EncodingDescription);
      for (const std::string& note : document.Notes)
        Report(page.Path, note);
      for (const std::string& note : notes)
        Report(page.Path, Printable(note));
      for (const std::string& out : chrome.LeftOut)
        Report(page.Path, "left out " + Printable(out));
    }
    if (!chrome.Whole.empty() && !Options.Quiet) Report(page.Path, chrome.Whole);

    const std::string id = ":" + page.Id;
    const TWriteResult result = Writer.WritePage(id, document.Text, error);
    {
      std::lock_guard guard(Lock);
      if (result == TWriteResult::Written || result == TWriteResult::Unchanged) {
        ++Summary.Pages;
        if (result == TWriteResult::Unchanged) ++Summary.Unchanged;
        Summary.Links.Add(counts);
        if (!chrome.LeftOut.empty()) ++Summary.ChromePages;
        Media.insert(media.begin(), media.end());
      } else {
        ++Summary.Failed;
      }
    }
    if (result == TWriteResult::Exists)
      Report(page.Path, Printable(Writer.Describe(id, false)) +
                            " exists with other content; not overwritten (--force overwrites)");
    else if (result == TWriteResult::Failed)
      Report(page.Path, "cannot write " + Printable(Writer.Describe(id, false)) + ": " + error);
  }

  const TSiteOptions& Options;
  TSiteIndex& Index;
  const std::map<std::string, TSourceFile>& Sources;
  TSiteWriter& Writer;
  TProgress& Progress;
  TChromeFinder& Chrome;
  // What the pages converted at the same time may take together, and what
  // the pages held between passes may take: the site's budget between them.
  TMemoryBudget Memory;
  TMemoryBudget HeldMemory;
  struct THeldPage {
    std::string Bytes;
    std::optional<TMemoryBudget::TLease> Lease; // none: not held
  };
  // By file; each pass gives a file to one worker.
  std::vector<THeldPage> Held;
  // Why the parse for its anchors refused a page, by file.
  std::vector<std::string> Refusals;
  std::mutex Lock;
  std::set<std::size_t> Media; // files of pages written
};

// Whether dir holds a DokuWiki: its indexer is run with PHP, so a folder
// that merely has a bin/indexer.php is not enough.
bool IsDokuWiki(const fs::path& dir, std::string& missing) {
  for (const char* file : {"doku.php", "inc/init.php", "bin/indexer.php"}) {
    struct stat st {};
    if (::stat((dir / file).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      missing = file;
      return false;
    }
  }
  return true;
}

// The environment of a program run for the user: the locale and where to
// find programs, nothing else (not the wiki's password).
std::vector<std::string> CleanEnvironment() {
  std::vector<std::string> kept;
  for (char** variable = environ; *variable; ++variable) {
    const std::string_view entry = *variable;
    const std::string_view name = entry.substr(0, entry.find('='));
    if (name == "PATH" || name == "LANG" || name == "LANGUAGE" || name == "TZ" ||
        name.starts_with("LC_"))
      kept.emplace_back(entry);
  }
  return kept;
}

// DokuWiki's indexer over the wiki at dir, as its administrator would run it.
bool RunIndexer(const std::string& dir) {
  const std::string script = (fs::path(dir) / "bin" / "indexer.php").string();
  std::string missing;
  if (!IsDokuWiki(dir, missing)) {
    Say("--index: " + Printable(dir) + " is not a DokuWiki (it has no " + missing + "); not run");
    return false;
  }
  std::vector<std::string> args{"php", script, "--quiet"};
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = CleanEnvironment();
  std::vector<char*> envp;
  for (std::string& variable : environment)
    envp.push_back(variable.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (const int error = ::posix_spawnp(&pid, "php", nullptr, nullptr, argv.data(), envp.data())) {
    Say(std::string("--index: cannot run php: ") + std::strerror(error));
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  Say("--index: DokuWiki's indexer failed (" +
      (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                         : "signal " + std::to_string(WTERMSIG(status))) +
      ")");
  return false;
}

} // namespace

std::string FormatSummary(const TSiteSummary& s) {
  const auto n = [](std::uint64_t v) { return std::to_string(v); };
  const std::uint64_t unresolved = s.Links.MissingPages + s.Links.Kept;
  std::string line = n(s.Pages) + " pages written (" + n(s.Unchanged) + " unchanged)";
  if (s.Renamed) line += ", " + n(s.Renamed) + " renamed";
  line += ", " + n(s.Links.Resolved) + " links resolved, " + n(unresolved) + " unresolved";
  if (unresolved)
    line += " (" + n(s.Links.MissingPages) + " to missing pages, " + n(s.Links.Kept) +
            " left as written)";
  const std::uint64_t fragments =
      s.Links.FragmentsOnHeading + s.Links.FragmentsInSection + s.Links.FragmentsKept;
  if (fragments) {
    line +=
        ", " + n(s.Links.FragmentsOnHeading) + " of " + n(fragments) + " fragments to a heading";
    if (s.Links.FragmentsInSection)
      line += " (" + n(s.Links.FragmentsInSection) + " more to the section around theirs)";
  }
  if (s.ChromePages) line += ", " + n(s.ChromePages) + " pages without the site's chrome";
  line += ", " + n(s.MediaCopied) + " media files " + (s.MediaUploaded ? "uploaded" : "copied") +
          " (" + n(s.MediaUnchanged) + " unchanged)";
  if (s.Links.MissingImages) line += ", " + n(s.Links.MissingImages) + " images not found";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", s.Seconds);
  return line + ", " + n(s.Failed) + " files failed, " + seconds;
}

namespace {

// The writer the options ask for. A writer of another kind plugs in here:
// a field of TSiteOptions that selects it, and a branch that opens it.
std::unique_ptr<TSiteWriter> OpenWriter(const TSiteOptions& options, int& status) {
  if (!options.Wiki.Url.empty()) {
    std::unique_ptr<TWikiWriter> writer =
        OpenWikiWriter(options.Wiki, options.Force, options.Verbose,
                       [](const std::string& line) { Say(Printable(line)); });
    status = 1;
    return writer;
  }
  std::string error;
  bool usage = false;
  std::unique_ptr<TFileSiteWriter> files =
      TFileSiteWriter::Open(options.Pages, options.Media, options.Force, error, usage);
  if (!files) {
    Say(Printable(error));
    status = usage ? 2 : 1;
    return nullptr;
  }
  files->IndexHint = options.IndexDir.empty();
  if (files->LeftoversRemoved && !options.Quiet)
    Say("removed " + std::to_string(files->LeftoversRemoved) +
        " temporary files that an interrupted run had left");
  return files;
}

} // namespace

int MigrateSite(const TSiteOptions& options, TSiteSummary& summary) {
  summary = TSiteSummary{};
  // Refused before the writer makes any folder.
  std::error_code ec;
  if (!fs::is_directory(options.Source, ec)) return MigrateSourceMissing(options.Source);
  const fs::path source = fs::canonical(options.Source, ec);
  for (const fs::path& out : {options.Pages, options.Media})
    if (!ec && !out.empty() && OverlapsSource(fs::weakly_canonical(fs::absolute(out), ec), source))
      return 2;
  int status = 0;
  const std::unique_ptr<TSiteWriter> writer = OpenWriter(options, status);
  if (!writer) return status;
  status = MigrateSite(options, *writer, summary);
  summary.MediaUploaded = !options.Wiki.Url.empty();
  return status;
}

int MigrateSite(const TSiteOptions& options, TSiteWriter& writer, TSiteSummary& summary) {
  summary = TSiteSummary{};
  std::error_code ec;
  if (!fs::is_directory(options.Source, ec)) return MigrateSourceMissing(options.Source);
  TIndexOptions indexOptions;
  indexOptions.Namespace = CleanId(options.Document.Namespace);
  indexOptions.StartPage = CleanId(options.Document.StartPage);
  indexOptions.MediaLinks = writer.TakesMedia();
  if ((!options.Document.Namespace.empty() && indexOptions.Namespace.empty()) ||
      indexOptions.StartPage.empty() || indexOptions.StartPage.find(':') != std::string::npos) {
    Say("--namespace or --start-page leaves no DokuWiki id");
    return 2;
  }

  const fs::path source = fs::canonical(options.Source, ec);
  summary.Ran = true;
  TScan scan;
  scan.Source = source;
  for (const fs::path& out : writer.Folders()) {
    if (OverlapsSource(out, source)) return 2;
    scan.Outputs.push_back(out);
  }
  std::string error;
  struct stat st {};
  if (!scan.Tree.Open(source, error) || !scan.Tree.Stat(TSourceTree::kRoot, ".", st, error)) {
    Say(Printable(source.string()) + ": cannot read folder: " + error);
    return 1;
  }
  scan.Seen.insert({st.st_dev, st.st_ino});
  ScanFolder(TSourceTree::kRoot, source, "", scan);
  // Tests change the tree here, between the scan and the reading, to show
  // that nothing changed then is followed.
  if (std::getenv("TAMSEL_TEST_STOP_AFTER_SCAN")) ::raise(SIGSTOP);
  for (const std::string& problem : scan.Problems)
    Say(problem);
  if (!options.Quiet)
    for (const std::string& note : scan.Notes)
      Say(note);
  summary.Failed += scan.Problems.size();

  TSiteIndex index(std::move(scan.Files), indexOptions);
  std::vector<std::size_t> pages;
  std::map<std::string, const TSiteFile*> keepers;
  for (const TSiteFile& file : index.Files())
    if (file.Wanted.empty()) keepers.emplace((file.Page ? "p" : "m") + file.Id, &file);
  for (std::size_t i = 0; i < index.Files().size(); ++i) {
    const TSiteFile& file = index.Files()[i];
    if (file.Page) pages.push_back(i);
    if (file.Wanted.empty()) continue;
    ++summary.Renamed;
    if (options.Quiet) continue;
    const auto keeper = keepers.find((file.Page ? "p" : "m") + file.Wanted);
    Say(Printable(file.Path) + ": " + (file.Page ? "page" : "media") + " id '" +
        Printable(file.Wanted) + "' belongs to " +
        (keeper != keepers.end() ? Printable(keeper->second->Path) : std::string("another file")) +
        "; this one becomes '" + Printable(file.Id) + "'");
  }

  TSelector selector;
  std::string selectorError;
  if (!selector.Parse(options.Content, selectorError) && !options.Content.empty()) {
    Say(selectorError);
    return 2;
  }

  // Which media files the pages use shows only as they convert: every file
  // that could be one counts, so that a right missing anywhere refuses the
  // run before its first page is written.
  {
    std::vector<std::string> pageIds, mediaIds;
    for (const TSiteFile& file : index.Files())
      if (!file.Id.empty() && (file.Page || writer.TakesMedia()))
        (file.Page ? pageIds : mediaIds).push_back(":" + file.Id);
    std::string refusal;
    if (!writer.Prepare(pageIds, mediaIds, refusal)) {
      Say(Printable(refusal));
      summary.Ran = false; // no figures: nothing was tried
      return 1;
    }
  }

  const unsigned jobs =
      options.Jobs ? options.Jobs : std::max(1u, std::thread::hardware_concurrency());
  TChromeFinder chrome(true, options.KeepChrome, std::move(selector));
  TProgress progress((chrome.WantsSurvey() ? 3 : 2) * pages.size(),
                     options.ProgressBar && !options.Quiet);
  std::uint64_t largestPage = 0;
  for (std::size_t page : pages)
    largestPage = std::max(largestPage, index.Files()[page].Size);
  TMigration migration(
      options, index, scan.Opened, writer, progress, chrome,
      HeldShare(largestPage, static_cast<unsigned>(std::min<std::size_t>(jobs, pages.size()))));
  // Every page's blocks first: chrome is what most pages share.
  if (chrome.WantsSurvey())
    RunParallel(jobs, pages.size(), [&](std::size_t n) { migration.SurveyChrome(pages[n]); });
  // Every page's anchors first: a link to "page.html#x" needs them.
  RunParallel(jobs, pages.size(), [&](std::size_t n) { migration.FindPageAnchors(pages[n]); });
  // The first file of each namespace alone, where the writer needs it, then
  // the others side by side.
  const auto inTurn = [&](const std::vector<std::size_t>& files,
                          const std::function<void(std::size_t)>& write) {
    std::vector<std::size_t> first, rest;
    std::set<std::string> seen;
    for (std::size_t file : files) {
      const std::string& id = index.Files()[file].Id;
      const std::size_t colon = id.rfind(':');
      const bool opens = writer.NewNamespacesOneAtATime() &&
                         seen.insert(colon == std::string::npos ? "" : id.substr(0, colon)).second;
      (opens ? first : rest).push_back(file);
    }
    RunParallel(1, first.size(), [&](std::size_t n) { write(first[n]); });
    RunParallel(jobs, rest.size(), [&](std::size_t n) { write(rest[n]); });
  };
  inTurn(pages, [&](std::size_t file) { migration.Convert(file); });
  inTurn(migration.MediaUsed(), [&](std::size_t file) { migration.CopyMedia(file); });
  progress.Finish();

  const TSiteSummary& done = migration.Summary;
  summary.Pages = done.Pages;
  summary.Unchanged = done.Unchanged;
  summary.Failed += done.Failed;
  summary.MediaCopied = done.MediaCopied;
  summary.MediaUnchanged = done.MediaUnchanged;
  summary.Links = done.Links;
  summary.PageBytes = done.PageBytes;
  summary.ChromePages = done.ChromePages;
  summary.Seconds = progress.Seconds();

  std::vector<std::string> lines;
  if (!writer.Finish(lines)) ++summary.Failed;
  for (const std::string& line : lines)
    if (!options.Quiet || summary.Failed) Say(Printable(line));
  if (!options.IndexDir.empty() && !RunIndexer(options.IndexDir)) ++summary.Failed;
  return summary.Failed ? 1 : 0;
}

} // namespace tamsel::cli
