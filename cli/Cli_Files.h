// Reading and writing whole files, with messages fit for the user.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tamsel::cli {

// Reads all of path (or standard input for "-"). On failure, error tells why
// ("No such file or directory", "is a directory").
bool ReadWholeFile(const std::string& path, std::string& out, std::string& error);

enum class TWriteResult {
  Written,   // the file holds bytes now
  Unchanged, // it held exactly these bytes already
  Exists,    // it holds something else and force was not given
  Failed,    // error tells why
};

// Writes bytes to path, making its folders. The file appears whole or not at
// all (written beside it, then moved into place), and an existing file with
// other content is replaced only when force is set.
TWriteResult WriteWholeFile(const std::filesystem::path& path, std::string_view bytes, bool force,
                            std::string& error);

} // namespace tamsel::cli
