// SPDX-License-Identifier: GPL-2.0-or-later
// Reading and writing whole files, with messages fit for the user.
//
// Reading is bounded: no file is read past its limit, whatever it claims to
// be. Writing puts a file in place whole or not at all, and never replaces or
// writes through what it was not asked to write.
#pragma once

#include "Tamsel.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace tamsel::cli {

// The largest media file (image, PDF, archive) a migration copies.
inline constexpr std::uint64_t kMaxMediaBytes = std::uint64_t{1} << 30;

// Reads all of path (or standard input for "-"), at most limit bytes. A
// regular file's size is checked before anything is read, and it is read into
// one allocation; a stream (pipe, device) is read up to limit + 1 bytes. With
// followLinks false, a symbolic link at path is not opened. On failure, error
// tells why ("No such file or directory", "is a directory", "larger than the
// 64 MiB limit").
bool ReadWholeFile(const std::string& path, std::string& out, std::string& error,
                   std::size_t limit = kMaxInputBytes, bool followLinks = true);

enum class TWriteResult {
  Written,   // the file holds bytes now
  Unchanged, // it held exactly these bytes already
  Exists,    // it holds something else and force was not given
  Failed,    // error tells why
};

// Writes bytes to path, making its folders. The file appears whole or not at
// all (written beside it under a short temporary name, synced, then moved into
// place, and the folder synced), and an existing file with other content is
// replaced only when force is set.
TWriteResult WriteWholeFile(const std::filesystem::path& path, std::string_view bytes, bool force,
                            std::string& error);

// The output of one document (-o FILE): a regular file is replaced whole
// (keeping its permissions), a character device or FIFO is written to as
// "cat >" would, a symbolic link is written through to its target. Never
// replaces a device, a FIFO or a link.
bool WriteOutputFile(const std::string& path, std::string_view bytes, std::string& error);

// A folder below which files are written without following any symbolic link
// (the folder itself may be one: the user named it).
class TOutputFolder {
public:
  TOutputFolder() = default;
  ~TOutputFolder();
  TOutputFolder(const TOutputFolder&) = delete;
  TOutputFolder& operator=(const TOutputFolder&) = delete;

  // Makes the folder when missing and opens it.
  bool Open(const std::filesystem::path& root, std::string& error);
  const std::filesystem::path& Root() const { return RootPath; }

  // Writes bytes as relative ("ns/page.txt"), making the folders on the way.
  // A symbolic link on the way or at the place is refused, not followed.
  TWriteResult Write(const std::string& relative, std::string_view bytes, bool force,
                     std::string& error) const;
  // Copies the regular file source (opened without following a link at it),
  // streamed, at most kMaxMediaBytes.
  TWriteResult Copy(const std::string& relative, const std::filesystem::path& source, bool force,
                    std::string& error) const;

  // Syncs the folders that files were moved into since the last call, so
  // that the files written are there after a crash. Call before reporting
  // them written.
  bool SyncFolders(std::string& error) const;

  // Removes temporary files that a killed run left below the folder.
  // Returns how many.
  std::size_t RemoveLeftovers() const;

private:
  void Changed(const std::string& folder) const;

  int Fd = -1;
  std::filesystem::path RootPath;
  mutable std::mutex Lock;
  mutable std::set<std::string> Unsynced; // below RootPath, "" for itself
};

// Removes the temporary files being written when SIGINT, SIGTERM or SIGHUP
// arrives, then ends the process by that signal.
void RemoveTemporariesOnSignals();

// Opens /dev/null on any of the descriptors 0, 1 and 2 that is closed, so
// that no file opened later takes its number and receives messages.
void EnsureStandardStreams();
// Whether standard output was closed then: output meant for it cannot arrive.
bool StandardOutputWasClosed();

// Whether inner is outer or lies below it, comparing the paths as given
// (callers pass real paths).
bool Inside(const std::filesystem::path& inner, const std::filesystem::path& outer);

} // namespace tamsel::cli
