#include "Cli_Site.h"
#include "Cli_DokuId.h"
#include "Cli_Files.h"
#include "Cli_Progress.h"

#include "Tamsel.h"
#include "Tamsel_Stack.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

#include <sys/stat.h>

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

bool Inside(const fs::path& inner, const fs::path& outer) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue; // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

struct TScan {
  std::vector<TSiteFile> Files;
  std::vector<std::string> Problems;      // files lost to the migration
  std::vector<std::string> Notes;         // nothing lost, but worth knowing
  std::set<std::pair<dev_t, ino_t>> Seen; // folders, against symbolic link loops
  fs::path Source;                        // canonical
  std::vector<fs::path> Outputs;          // canonical, never read as source
};

void ScanFolder(const fs::path& folder, const std::string& prefix, TScan& scan) {
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  if (ec) {
    scan.Problems.push_back((prefix.empty() ? folder.string() : prefix) +
                            ": cannot read folder: " + ec.message());
    return;
  }
  // Real folders before symbolic links to them, so that a folder seen twice
  // keeps its own name, whatever order the file system lists it in.
  std::vector<std::pair<bool, fs::path>> entries;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    std::error_code linkError;
    entries.emplace_back(it->is_symlink(linkError), it->path());
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& [isLink, path] : entries) {
    const std::string name = Utf8Name(path.filename().string());
    const std::string relative = prefix.empty() ? name : prefix + "/" + name;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      // Broken symbolic links matter only where a page was meant to be.
      if (IsPageName(name)) scan.Problems.push_back(relative + ": cannot read: broken link");
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      // A link to a folder above the source, or to the output, would bring
      // in files that are not the site's.
      if (isLink) {
        std::error_code linkError;
        const fs::path target = fs::canonical(path, linkError);
        bool outside = !linkError && Inside(scan.Source, target);
        for (const fs::path& output : scan.Outputs)
          outside = outside || Inside(target, output) || Inside(output, target);
        if (outside) {
          scan.Notes.push_back(relative + ": skipped, a symbolic link to " + target.string() +
                               ", which holds the source or the output");
          continue;
        }
      }
      if (!scan.Seen.insert({st.st_dev, st.st_ino}).second) {
        scan.Notes.push_back(relative + ": skipped, the same folder as one read before "
                                        "(a symbolic link loop?)");
        continue;
      }
      ScanFolder(path, relative, scan);
    } else if (S_ISREG(st.st_mode)) {
      scan.Files.push_back(TSiteFile{path, relative, false, {}, {}});
    }
  }
  if (ec)
    scan.Problems.push_back((prefix.empty() ? folder.string() : prefix) +
                            ": cannot read folder: " + ec.message());
}

fs::path FileFor(const fs::path& root, const std::string& id, const char* extension) {
  std::string path = id;
  std::replace(path.begin(), path.end(), ':', '/');
  return root / (EncodeFileName(path) + extension);
}

struct TWorkerResult {
  TSiteSummary Summary;
  std::vector<std::size_t> Images; // indexes of image files referenced
};

class TMigration {
public:
  TMigration(const TSiteOptions& options, const TSiteIndex& index, TProgress& progress)
      : Options(options), Index(index), Progress(progress) {}

  void Work(TWorkerResult& out, const std::vector<std::size_t>& pages,
            std::atomic<std::size_t>& next) {
    TTamsel converter;
    for (std::size_t n; (n = next++) < pages.size();) {
      const TSiteFile& page = Index.Files()[pages[n]];
      try {
        ConvertPage(converter, page, out);
      } catch (const std::exception& e) { // out of memory, most likely: the next may fit
        Report(page.Path, std::string("failed: ") + e.what());
        ++out.Summary.Failed;
      }
      Progress.Step();
    }
  }

  void Report(const std::string& path, const std::string& message) {
    Progress.Message(std::string(kProgram) + ": " + path + ": " + message);
  }

private:
  void ConvertPage(TTamsel& converter, const TSiteFile& page, TWorkerResult& out) {
    std::string bytes, error;
    if (!ReadWholeFile(page.Source.string(), bytes, error)) {
      Report(page.Path, "cannot read: " + error);
      ++out.Summary.Failed;
      return;
    }
    TLinkCounts counts;
    std::vector<std::string> notes;
    // The resolvers below refer to this call's locals; none may outlive it.
    struct TResetResolvers {
      TTamsel& Converter;
      ~TResetResolvers() {
        Converter.ResolveLocalLink = nullptr;
        Converter.ResolveLocalImage = nullptr;
      }
    } reset{converter};
    converter.ResolveLocalLink = [&](std::string_view href, std::string& result) {
      std::string note;
      const bool resolved = Index.ResolveLink(page.Path, href, result, counts, note);
      if (!note.empty()) notes.push_back(std::move(note));
      return resolved;
    };
    converter.ResolveLocalImage = [&](std::string_view src, std::string& result) {
      if (Options.Media.empty() && !Options.Writer) return false;
      std::string note;
      std::size_t file = 0;
      const bool resolved = Index.ResolveImage(page.Path, src, result, file, counts, note);
      if (resolved) out.Images.push_back(file);
      if (!note.empty()) notes.push_back(std::move(note));
      return resolved;
    };
    TDocumentResult document;
    try {
      document = ConvertDocumentOnThisStack(converter, bytes, Options.Document);
    } catch (const std::exception& e) {
      Report(page.Path, std::string("cannot convert: ") + e.what());
      ++out.Summary.Failed;
      return;
    }
    if (!Options.Quiet)
      for (const std::string& warning : document.Warnings)
        Report(page.Path, warning);
    if (Options.Verbose) {
      Report(page.Path, "read as " + document.EncodingDescription);
      for (const std::string& note : notes)
        Report(page.Path, note);
    }

    const fs::path target = Options.Writer ? fs::path() : FileFor(Options.Pages, page.Id, ".txt");
    const std::string where = Options.Writer ? "page :" + page.Id : target.string();
    const TWriteResult written =
        Options.Writer ? Options.Writer->WritePage(":" + page.Id, document.Text, error)
                       : WriteWholeFile(target, document.Text, Options.Force, error);
    switch (written) {
    case TWriteResult::Unchanged:
      ++out.Summary.Unchanged;
      [[fallthrough]];
    case TWriteResult::Written:
      ++out.Summary.Pages;
      out.Summary.Links.Add(counts);
      break;
    case TWriteResult::Exists:
      Report(page.Path, where + " exists with other content; not overwritten "
                                "(--force overwrites)");
      ++out.Summary.Failed;
      break;
    case TWriteResult::Failed:
      Report(page.Path, "cannot write " + where + ": " + error);
      ++out.Summary.Failed;
      break;
    }
  }

  const TSiteOptions& Options;
  const TSiteIndex& Index;
  TProgress& Progress;
};

} // namespace

std::string FormatSummary(const TSiteSummary& s) {
  const auto n = [](std::uint64_t v) { return std::to_string(v); };
  const std::uint64_t unresolved = s.Links.MissingPages + s.Links.Kept;
  std::string line = n(s.Pages) + " pages written (" + n(s.Unchanged) + " unchanged), " +
                     n(s.Links.Resolved) + " links resolved, " + n(unresolved) + " unresolved";
  if (unresolved)
    line += " (" + n(s.Links.MissingPages) + " to missing pages, " + n(s.Links.Kept) +
            " left as written)";
  line += ", " + n(s.MediaCopied) + " images copied";
  if (s.Links.MissingImages) line += ", " + n(s.Links.MissingImages) + " images not found";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", s.Seconds);
  return line + ", " + n(s.Failed) + " files failed, " + seconds;
}

int MigrateSite(const TSiteOptions& options, TSiteSummary& summary) {
  summary = TSiteSummary{};
  std::error_code ec;
  if (!fs::is_directory(options.Source, ec)) {
    Say(options.Source.string() + ": cannot read folder: " +
        (fs::exists(options.Source, ec) ? "not a directory" : "No such file or directory"));
    return 1;
  }
  const fs::path source = fs::canonical(options.Source, ec);
  const bool files = !options.Writer;
  const fs::path pages = files ? fs::weakly_canonical(fs::absolute(options.Pages), ec) : fs::path();
  const fs::path media = options.Media.empty() || !files
                             ? fs::path()
                             : fs::weakly_canonical(fs::absolute(options.Media), ec);
  const auto overlaps = [&](const fs::path& out, const char* what) {
    if (Inside(out, source) || Inside(source, out)) {
      Say(std::string(what) + " " + out.string() + " and the source " + source.string() +
          " overlap; a later run would read the output as source, or the output would land "
          "among the sources. Choose folders apart.");
      return true;
    }
    return false;
  };
  if (files && overlaps(pages, "--out")) return 2;
  if (!media.empty() && overlaps(media, "--media")) return 2;
  if (!media.empty() && media == pages) {
    Say("--out and --media must be different folders");
    return 2;
  }

  TScan scan;
  scan.Source = source;
  if (files) scan.Outputs.push_back(pages);
  if (!media.empty()) scan.Outputs.push_back(media);
  struct stat st {};
  if (::stat(source.c_str(), &st) == 0) scan.Seen.insert({st.st_dev, st.st_ino});
  ScanFolder(source, "", scan);
  for (const std::string& problem : scan.Problems)
    Say(problem);
  if (!options.Quiet)
    for (const std::string& note : scan.Notes)
      Say(note);
  summary.Failed += scan.Problems.size();

  const TSiteIndex index(std::move(scan.Files));
  std::vector<std::size_t> pageFiles;
  for (std::size_t i = 0; i < index.Files().size(); ++i) {
    const TSiteFile& file = index.Files()[i];
    if (!file.Page) continue;
    if (file.Id.empty()) {
      Say(file.Path + ": skipped: " + file.Problem);
      ++summary.Failed;
    } else {
      pageFiles.push_back(i);
    }
  }

  if (files) fs::create_directories(options.Pages, ec);
  if (ec) {
    Say(options.Pages.string() + ": cannot make folder: " + ec.message());
    return 1;
  }

  TProgress progress(pageFiles.size(), options.ProgressBar && !options.Quiet);
  TMigration migration(options, index, progress);
  const unsigned jobs = static_cast<unsigned>(
      std::clamp<std::size_t>(options.Jobs, 1, std::max<std::size_t>(pageFiles.size(), 1)));
  std::vector<TWorkerResult> results(jobs);
  std::atomic<std::size_t> next{0};
  {
    std::vector<std::thread> workers;
    for (unsigned j = 1; j < jobs; ++j)
      workers.emplace_back([&, j] { migration.Work(results[j], pageFiles, next); });
    migration.Work(results[0], pageFiles, next);
    for (std::thread& worker : workers)
      worker.join();
  }

  std::set<std::size_t> images;
  for (const TWorkerResult& result : results) {
    summary.Pages += result.Summary.Pages;
    summary.Unchanged += result.Summary.Unchanged;
    summary.Failed += result.Summary.Failed;
    summary.Links.Add(result.Summary.Links);
    images.insert(result.Images.begin(), result.Images.end());
  }

  for (std::size_t i : images) {
    const TSiteFile& image = index.Files()[i];
    std::string bytes, error;
    if (files && !ReadWholeFile(image.Source.string(), bytes, error)) {
      migration.Report(image.Path, "cannot read: " + error);
      ++summary.Failed;
      continue;
    }
    const fs::path target = files ? FileFor(options.Media, image.Id, "") : fs::path();
    const std::string where = files ? target.string() : "media :" + image.Id;
    const TWriteResult written =
        files ? WriteWholeFile(target, bytes, options.Force, error)
              : options.Writer->WriteMedia(":" + image.Id, image.Source, error);
    switch (written) {
    case TWriteResult::Written:
    case TWriteResult::Unchanged:
      ++summary.MediaCopied;
      break;
    case TWriteResult::Exists:
      migration.Report(image.Path, where + " exists with other content; not overwritten "
                                           "(--force overwrites)");
      ++summary.Failed;
      break;
    case TWriteResult::Failed:
      migration.Report(image.Path, "cannot write " + where + ": " + error);
      ++summary.Failed;
      break;
    }
  }
  progress.Finish();
  summary.Seconds = progress.Seconds();
  return summary.Failed ? 1 : 0;
}

} // namespace tamsel::cli
