// SPDX-License-Identifier: GPL-2.0-or-later
// Where a migration's pages and media go.
//
// One code path decides what goes where (ids, links, namespaces, collisions);
// a writer carries each decision out: into DokuWiki's data folders, or into a
// running wiki through its remote API. Writers are called from several
// converting threads at once and must be safe for that.
#pragma once

#include "Cli_Files.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel::cli {

class TSiteWriter {
public:
  virtual ~TSiteWriter() = default;

  // Stores a page's wiki text (UTF-8, LF line ends) under its absolute page
  // id (":ns:page"). Unchanged when the page holds exactly this text already;
  // Exists when it holds other text and the migration was not forced. error
  // says why on Failed and Exists.
  virtual TWriteResult WritePage(std::string_view id, std::string_view text,
                                 std::string& error) = 0;

  // Stores the file source as the media file with absolute id
  // (":ns:image.png"), with the same outcomes as WritePage. An error that
  // lies with the file read starts "cannot read" or "not copied".
  virtual TWriteResult WriteMedia(std::string_view id, const TSourceFile& source,
                                  std::string& error) = 0;

  // Called once before the first write with the absolute ids of every page
  // and every media file the run may write; false with error refuses the
  // whole run (a right the writer lacks) before anything is written.
  virtual bool Prepare(const std::vector<std::string>& /*pages*/,
                       const std::vector<std::string>& /*media*/, std::string& /*error*/) {
    return true;
  }

  // Whether media files can be stored; without, images and linked files keep
  // the converter's form.
  virtual bool TakesMedia() const { return true; }

  // Whether the first write into each namespace must go alone: DokuWiki
  // makes a new namespace's folders without a lock, and of two writes that
  // make the same folder at once one fails (a refused upload, a page saved
  // without its history line).
  virtual bool NewNamespacesOneAtATime() const { return false; }

  // Folders of this machine that the writer writes into: the migration never
  // reads a file from them, and refuses a source that overlaps one.
  virtual std::vector<std::filesystem::path> Folders() const { return {}; }

  // How a message names the place of a page or media file.
  virtual std::string Describe(std::string_view id, bool media) const {
    return std::string(media ? "media " : "page ") + std::string(id);
  }

  // After the last write, before the migration reports its pages written:
  // makes them last (syncs), and gives lines for the user (how to index the
  // new pages). False when what was written may not last.
  virtual bool Finish(std::vector<std::string>& /*lines*/) { return true; }
};

// Into DokuWiki's data folders: pages as PAGES/ns/page.txt, media as
// MEDIA/ns/file.png, file names encoded as DokuWiki encodes them. Writes no
// symbolic link inside either folder, and removes at start the temporary
// files a killed run left there.
class TFileSiteWriter : public TSiteWriter {
public:
  // Null with error when the folders cannot work together (one inside the
  // other: a usage error) or cannot be made (usage false).
  static std::unique_ptr<TFileSiteWriter> Open(const std::filesystem::path& pages,
                                               const std::filesystem::path& media, bool force,
                                               std::string& error, bool& usage);

  TWriteResult WritePage(std::string_view id, std::string_view text, std::string& error) override;
  TWriteResult WriteMedia(std::string_view id, const TSourceFile& source,
                          std::string& error) override;
  bool TakesMedia() const override { return HasMedia; }
  std::vector<std::filesystem::path> Folders() const override;
  std::string Describe(std::string_view id, bool media) const override;
  bool Finish(std::vector<std::string>& lines) override;

  // Temporary files of killed runs removed at Open.
  std::size_t LeftoversRemoved = 0;
  // Whether Finish tells how to index pages written into a data/pages folder.
  bool IndexHint = true;

private:
  TFileSiteWriter() = default;
  // "ns/page.txt" for ":ns:page".
  static std::string RelativePath(std::string_view id, const char* extension);

  TOutputFolder Pages;
  TOutputFolder Media;
  bool HasMedia = false;
  bool Force = false;
};

} // namespace tamsel::cli
