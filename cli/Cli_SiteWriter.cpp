// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_SiteWriter.h"
#include "Cli_DokuId.h"

#include <algorithm>

#include <unistd.h>

namespace tamsel::cli {

namespace fs = std::filesystem;

namespace {

fs::path RealPath(const fs::path& path) {
  std::error_code ec;
  fs::path real = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? fs::absolute(path) : real;
}

} // namespace

std::unique_ptr<TFileSiteWriter> TFileSiteWriter::Open(const fs::path& pages, const fs::path& media,
                                                       bool force, std::string& error,
                                                       bool& usage) {
  usage = false;
  if (!media.empty()) {
    const fs::path realPages = RealPath(pages), realMedia = RealPath(media);
    if (realPages == realMedia) {
      error = "--out and --media must be different folders";
      usage = true;
      return nullptr;
    }
    if (Inside(realPages, realMedia) || Inside(realMedia, realPages)) {
      error = "--out " + realPages.string() + " and --media " + realMedia.string() +
              " lie one inside the other; a media file could replace a page, or a page a media "
              "file. Choose folders apart.";
      usage = true;
      return nullptr;
    }
  }
  std::unique_ptr<TFileSiteWriter> writer(new TFileSiteWriter);
  writer->Force = force;
  if (!writer->Pages.Open(pages, error)) {
    error = pages.string() + ": " + error;
    return nullptr;
  }
  writer->LeftoversRemoved = writer->Pages.RemoveLeftovers();
  if (!media.empty()) {
    if (!writer->Media.Open(media, error)) {
      error = media.string() + ": " + error;
      return nullptr;
    }
    writer->HasMedia = true;
    writer->LeftoversRemoved += writer->Media.RemoveLeftovers();
  }
  return writer;
}

std::string TFileSiteWriter::RelativePath(std::string_view id, const char* extension) {
  std::string path(id.substr(id.starts_with(':') ? 1 : 0));
  std::replace(path.begin(), path.end(), ':', '/');
  return EncodeFileName(path) + extension;
}

TWriteResult TFileSiteWriter::WritePage(std::string_view id, std::string_view text,
                                        std::string& error) {
  return Pages.Write(RelativePath(id, ".txt"), text, Force, error);
}

TWriteResult TFileSiteWriter::WriteMedia(std::string_view id, const TSourceFile& source,
                                         std::string& error) {
  if (!HasMedia) {
    error = "no media folder";
    return TWriteResult::Failed;
  }
  const int fd = source.Open(error);
  if (fd < 0) {
    error = "cannot read: " + error;
    return TWriteResult::Failed;
  }
  const TWriteResult result = Media.Copy(RelativePath(id, ""), fd, Force, error);
  ::close(fd);
  return result;
}

std::vector<fs::path> TFileSiteWriter::Folders() const {
  std::vector<fs::path> folders{RealPath(Pages.Root())};
  if (HasMedia) folders.push_back(RealPath(Media.Root()));
  return folders;
}

std::string TFileSiteWriter::Describe(std::string_view id, bool media) const {
  return ((media ? Media : Pages).Root() / RelativePath(id, media ? "" : ".txt")).string();
}

bool TFileSiteWriter::Finish(std::vector<std::string>& lines) {
  std::string error;
  const bool synced = Pages.SyncFolders(error) && (!HasMedia || Media.SyncFolders(error));
  if (!synced) lines.push_back("cannot sync " + error);
  // DokuWiki's search and backlinks know a page only once its indexer has
  // seen it, which happens when a page is viewed, or all at once:
  if (IndexHint && RealPath(Pages.Root()).filename() == "pages")
    lines.push_back("DokuWiki's search lists the new pages once they are indexed: run "
                    "'php DOKUWIKI_DIR/bin/indexer.php' (or give --index DOKUWIKI_DIR)");
  return synced;
}

} // namespace tamsel::cli
