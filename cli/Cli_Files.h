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
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

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
  // The same from a file open for reading (it must be a regular file).
  TWriteResult Copy(const std::string& relative, int source, bool force, std::string& error) const;

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

class TSourceTree;

// A file that a scan of a source tree found, to be opened later.
struct TSourceFile {
  const TSourceTree* Tree = nullptr;
  std::size_t Folder = 0;
  std::string Name;

  // Opens it for reading, as TSourceTree::OpenFile does; the caller closes it.
  int Open(std::string& error) const;
  // Reads it whole, at most limit bytes; error tells why not.
  bool Read(std::string& out, std::string& error, std::size_t limit) const;
};

// The folders of a source tree as a scan finds them, and the files in them
// opened later without ever leaving the tree. Every name is opened relative
// to the descriptor of its folder (openat) without following a symbolic link
// (O_NOFOLLOW, O_DIRECTORY for folders); descriptors of the folders scanned
// are kept, so a folder swapped for a symbolic link, or another folder moved
// into its place, after the scan leads nowhere. Past the budget of
// descriptors a folder is reached from the nearest kept one, name by name,
// and must still have the device and inode the scan saw. A file must be a
// regular file: it is opened without blocking, so that a FIFO put in its
// place cannot stop the run. Opening and reading are safe from several
// threads at once; adding folders is not.
class TSourceTree {
public:
  static constexpr std::size_t kRoot = 0;

  TSourceTree() = default;
  ~TSourceTree();
  TSourceTree(const TSourceTree&) = delete;
  TSourceTree& operator=(const TSourceTree&) = delete;

  // Opens the root folder (it may be a symbolic link: the user named it).
  // keep bounds the descriptors kept; 0 chooses from the process's limit.
  bool Open(const std::filesystem::path& root, std::string& error, std::size_t keep = 0);

  // The names in folder, "." and ".." left out.
  bool List(std::size_t folder, std::vector<std::string>& names, std::string& error) const;
  // What name in folder is, a symbolic link not followed.
  bool Stat(std::size_t folder, const std::string& name, struct stat& st, std::string& error) const;
  // Opens the folder name of parent (not through a symbolic link) and returns
  // its number; st receives what it is. The same folder added twice has one
  // number.
  std::optional<std::size_t> AddFolder(std::size_t parent, const std::string& name, struct stat& st,
                                       std::string& error);
  // The folder at relative ("a/b", "" for the root), added on the way.
  std::optional<std::size_t> FolderAt(const std::string& relative, std::string& error);

  // Opens the regular file name in folder for reading; -1 with error (the
  // reason: "is a symbolic link; not followed", "is not a regular file (a
  // FIFO)", "folder a/b was replaced since the scan", strerror's text).
  // opened, when given, receives what the file is.
  int OpenFile(std::size_t folder, const std::string& name, std::string& error,
               struct stat* opened = nullptr) const;

  // Descriptors kept open, for tests.
  std::size_t KeptDescriptors() const;
  // The folder's path below the root, for messages.
  std::string Relative(std::size_t folder) const;

private:
  struct TFolder {
    std::size_t Parent = 0;
    std::string Name;
    dev_t Device = 0;
    ino_t Inode = 0;
    int Fd = -1; // -1: not kept
  };
  // A descriptor of folder: its kept one (owned false), or one opened now.
  int FolderFd(std::size_t folder, bool& owned, std::string& error) const;

  std::vector<TFolder> Folders;
  std::map<std::pair<std::size_t, std::string>, std::size_t> Children;
  std::size_t Budget = 0;
  std::size_t Kept = 0;
};

// Turns the terminal's echo off for a password and back on when it ends,
// also when SIGINT, SIGTERM, SIGHUP or SIGQUIT ends the process meanwhile
// (the signal then goes on to whatever handled it before).
class TEchoOff {
public:
  explicit TEchoOff(int fd);
  ~TEchoOff();
  TEchoOff(const TEchoOff&) = delete;
  TEchoOff& operator=(const TEchoOff&) = delete;
  bool Active() const { return Saved; }

private:
  bool Saved = false;
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
