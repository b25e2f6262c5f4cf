// Where a migration's pages and media go.
//
// One code path decides what goes where (ids, links, namespaces, collisions);
// a writer carries each decision out: into DokuWiki's data folders, or into a
// running wiki through its remote API. Writers are called from several
// converting threads at once and must be safe for that.
#pragma once

#include "Cli_Files.h"

#include <filesystem>
#include <string>
#include <string_view>

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

  // Stores the file at source as the media file with absolute id
  // (":ns:image.png"), with the same outcomes as WritePage.
  virtual TWriteResult WriteMedia(std::string_view id, const std::filesystem::path& source,
                                  std::string& error) = 0;
};

} // namespace tamsel::cli
