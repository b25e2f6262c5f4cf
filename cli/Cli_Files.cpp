// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Files.h"

#include "Tamsel_ReadFile.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tamsel::cli {

namespace fs = std::filesystem;

namespace {

std::string TooLarge(std::uint64_t limit) {
  return TooLargeText(static_cast<std::size_t>(limit));
}

struct TFd {
  int Fd = -1;
  explicit TFd(int fd) : Fd(fd) {}
  ~TFd() {
    if (Fd >= 0) ::close(Fd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
};

bool WriteAll(int fd, const char* from, std::size_t n, std::string& error) {
  while (n > 0) {
    const ssize_t put = ::write(fd, from, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      return false;
    }
    from += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

// What a write puts into its file: bytes, or a copy of an open file.
struct TContent {
  std::string_view Bytes;
  int Source = -1;
  std::uint64_t Size = 0;

  std::uint64_t Length() const { return Source >= 0 ? Size : Bytes.size(); }

  bool WriteTo(int fd, std::string& error) const {
    if (Source < 0) return WriteAll(fd, Bytes.data(), Bytes.size(), error);
    std::vector<char> buffer(1 << 20);
    std::uint64_t done = 0;
    for (;;) {
      const ssize_t got = ::pread(Source, buffer.data(), buffer.size(), static_cast<off_t>(done));
      if (got < 0) {
        if (errno == EINTR) continue;
        error = std::string("cannot read: ") + std::strerror(errno);
        return false;
      }
      if (got == 0) return true;
      done += static_cast<std::uint64_t>(got);
      if (done > kMaxMediaBytes) {
        error = TooLarge(kMaxMediaBytes) + " for media files";
        return false;
      }
      if (!WriteAll(fd, buffer.data(), static_cast<std::size_t>(got), error)) return false;
    }
  }

  // 1 when the open file fd holds exactly this content, 0 when not, -1 when
  // that cannot be told.
  int SameAs(int fd) const {
    std::vector<char> mine(Source >= 0 ? 65536 : 0), theirs(65536);
    std::uint64_t at = 0;
    for (;;) {
      const ssize_t got = ::pread(fd, theirs.data(), theirs.size(), static_cast<off_t>(at));
      if (got < 0) return errno == EINTR ? SameAs(fd) : -1;
      const auto n = static_cast<std::size_t>(got);
      if (n == 0) return at == Length() ? 1 : 0;
      if (at + n > Length()) return 0;
      const char* expected = nullptr;
      if (Source < 0) {
        expected = Bytes.data() + at;
      } else {
        std::size_t have = 0;
        while (have < n) {
          const ssize_t more =
              ::pread(Source, mine.data() + have, n - have, static_cast<off_t>(at + have));
          if (more <= 0) return more == 0 ? 0 : -1;
          have += static_cast<std::size_t>(more);
        }
        expected = mine.data();
      }
      if (std::memcmp(expected, theirs.data(), n) != 0) return 0;
      at += n;
    }
  }
};

// Temporary files being written, for the signal handler to remove. A slot is
// 0 free, 1 being filled, 2 live; lock-free atomics are safe in a handler.
struct TTempSlot {
  std::atomic<int> State{0};
  int Dir = -1;
  char Name[48] = {};
};
TTempSlot gTempSlots[256];

class TTempRegistration {
public:
  TTempRegistration(int dir, const char* name) {
    for (std::size_t i = 0; i < std::size(gTempSlots); ++i) {
      int expected = 0;
      if (gTempSlots[i].State.compare_exchange_strong(expected, 1)) {
        gTempSlots[i].Dir = dir;
        std::snprintf(gTempSlots[i].Name, sizeof gTempSlots[i].Name, "%s", name);
        gTempSlots[i].State.store(2);
        Slot = static_cast<int>(i);
        return;
      }
    }
    // No slot: a signal now leaves the file behind for the next run to remove.
  }
  ~TTempRegistration() {
    if (Slot >= 0) gTempSlots[Slot].State.store(0);
  }
  TTempRegistration(const TTempRegistration&) = delete;
  TTempRegistration& operator=(const TTempRegistration&) = delete;

private:
  int Slot = -1;
};

extern "C" void RemoveTemporariesAndDie(int signal) {
  const int saved = errno;
  for (TTempSlot& slot : gTempSlots)
    if (slot.State.load() == 2) ::unlinkat(slot.Dir, slot.Name, 0);
  errno = saved;
  // SA_RESETHAND restored the default action: the signal ends the process
  // as soon as this handler returns.
  ::raise(signal);
}

// Short and of bounded length, so that it fits wherever the final name fits;
// the process id tells a later run whether its writer still lives.
constexpr const char* kTempPrefix = ".tamsel-";
constexpr const char* kTempSuffix = ".tmp";

std::string TempName() {
  static std::atomic<unsigned long long> counter{0};
  char name[48];
  std::snprintf(name, sizeof name, "%s%ld-%llx%s", kTempPrefix, static_cast<long>(::getpid()),
                counter++, kTempSuffix);
  return name;
}

// The writer's process id when name is one of our temporary names (of this
// version, or ".NAME.tamsel-PID-N" of earlier ones); 0 when it is none.
long TempOwner(const std::string& name) {
  std::size_t at = std::string::npos;
  if (name.rfind(kTempPrefix, 0) == 0 && name.size() > 12 &&
      name.compare(name.size() - 4, 4, kTempSuffix) == 0)
    at = std::strlen(kTempPrefix);
  else if (name[0] == '.' && name.find(".tamsel-") != std::string::npos)
    at = name.rfind(".tamsel-") + 8;
  if (at == std::string::npos) return 0;
  long pid = 0;
  std::size_t i = at;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && pid < 100000000; ++i)
    pid = pid * 10 + (name[i] - '0');
  if (i == at || i >= name.size() || name[i] != '-') return 0;
  for (++i; i < name.size() && std::isxdigit(static_cast<unsigned char>(name[i])); ++i) {
  }
  return (i == name.size() || name.compare(i, std::string::npos, kTempSuffix) == 0) ? pid : 0;
}

// Writes content as name inside the open folder dir, whole or not at all.
// keepMode, when not 0, gives the new file the permissions of the old.
// Without syncFolder the caller syncs the folder later, before it reports
// the file written (one sync for all files of a folder).
TWriteResult WriteAt(int dir, const std::string& name, const TContent& content, bool force,
                     std::string& error, mode_t keepMode = 0, bool syncFolder = true) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) {
      error = "is a symbolic link; not written through";
      return TWriteResult::Failed;
    }
    if (S_ISDIR(st.st_mode)) {
      error = "is a directory";
      return TWriteResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
      error = "is not a regular file";
      return TWriteResult::Failed;
    }
    TFd existing(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    const int same = existing.Fd < 0 ? -1
                                     : (static_cast<std::uint64_t>(st.st_size) != content.Length()
                                            ? 0
                                            : content.SameAs(existing.Fd));
    if (same == 1) return TWriteResult::Unchanged;
    if (!force) return TWriteResult::Exists;
  } else if (errno != ENOENT) {
    error = std::strerror(errno);
    return TWriteResult::Failed;
  }

  const std::string temporary = TempName();
  TTempRegistration registration(dir, temporary.c_str());
  {
    TFd fd(::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666));
    if (fd.Fd < 0) {
      error = std::strerror(errno);
      return TWriteResult::Failed;
    }
    bool ok = content.WriteTo(fd.Fd, error);
    if (ok && keepMode && ::fchmod(fd.Fd, keepMode) != 0) {
      error = std::strerror(errno);
      ok = false;
    }
    if (ok && ::fsync(fd.Fd) != 0) {
      error = std::strerror(errno);
      ok = false;
    }
    const int closing = ::close(fd.Fd);
    fd.Fd = -1;
    if (ok && closing != 0) {
      error = std::strerror(errno);
      ok = false;
    }
    if (!ok) {
      ::unlinkat(dir, temporary.c_str(), 0);
      return TWriteResult::Failed;
    }
  }
  const auto placed = [&] {
    if (syncFolder) ::fsync(dir);
    return TWriteResult::Written;
  };
  if (force) {
    if (::renameat(dir, temporary.c_str(), dir, name.c_str()) == 0) return placed();
    error = std::strerror(errno);
    ::unlinkat(dir, temporary.c_str(), 0);
    return TWriteResult::Failed;
  }
  // A move that never replaces a file, so a file that appeared meanwhile
  // survives. Where the file system cannot do that, link() can.
  if (::renameat2(dir, temporary.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0)
    return placed();
  int saved = errno;
  if (saved == EINVAL || saved == ENOSYS) {
    if (::linkat(dir, temporary.c_str(), dir, name.c_str(), 0) == 0) {
      ::unlinkat(dir, temporary.c_str(), 0);
      return placed();
    }
    saved = errno;
  }
  if ((saved == EPERM || saved == ENOTSUP || saved == EMLINK) &&
      ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
    // Some file systems have neither; there a plain move has to do.
    if (::renameat(dir, temporary.c_str(), dir, name.c_str()) == 0) return placed();
    saved = errno;
  }
  ::unlinkat(dir, temporary.c_str(), 0);
  if (saved == EEXIST) return WriteAt(dir, name, content, false, error, keepMode, syncFolder);
  error = std::strerror(saved);
  return TWriteResult::Failed;
}

// Opens (and makes) the folder relative below dir, one name at a time and
// following no symbolic link. Returns the descriptor, or -1 with error set.
int OpenFolderBeneath(int dir, const std::string& relative, std::string& error) {
  int current = ::fcntl(dir, F_DUPFD_CLOEXEC, 3);
  if (current < 0) {
    error = std::strerror(errno);
    return -1;
  }
  std::string done;
  for (std::size_t start = 0; start < relative.size();) {
    const std::size_t end = std::min(relative.find('/', start), relative.size());
    const std::string name = relative.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == "." || name == "..") {
      ::close(current);
      error = "'" + relative + "' is no plain folder name";
      return -1;
    }
    done += done.empty() ? name : "/" + name;
    int next = -1;
    for (int attempt = 0; attempt < 2 && next < 0; ++attempt) {
      next = ::openat(current, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0 && errno == ENOENT && ::mkdirat(current, name.c_str(), 0777) != 0 &&
          errno != EEXIST)
        break;
    }
    if (next < 0) {
      const int saved = errno;
      struct stat st {};
      if (::fstatat(current, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        error = done + " is a symbolic link; not followed";
      else
        error = "cannot make folder " + done + ": " + std::strerror(saved);
      ::close(current);
      return -1;
    }
    ::close(current);
    current = next;
  }
  return current;
}

// The folder of relative goes to folder; it wants a sync when the result
// is Written.
TWriteResult WriteBeneath(int root, const std::string& relative, const TContent& content,
                          bool force, std::string& error, std::string& folder) {
  const std::size_t slash = relative.rfind('/');
  folder = slash == std::string::npos ? std::string() : relative.substr(0, slash);
  const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
  TFd dir(OpenFolderBeneath(root, folder, error));
  if (dir.Fd < 0) return TWriteResult::Failed;
  return WriteAt(dir.Fd, name, content, force, error, 0, false);
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string& out, std::string& error, std::size_t limit,
                   bool followLinks) {
  out.clear();
  if (path == "-") return ReadOpenFile(STDIN_FILENO, out, error, limit);
  TFd owned(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | (followLinks ? 0 : O_NOFOLLOW)));
  if (owned.Fd < 0) {
    error = errno == ELOOP && !followLinks ? "is a symbolic link" : std::strerror(errno);
    return false;
  }
  return ReadOpenFile(owned.Fd, out, error, limit);
}

TWriteResult WriteWholeFile(const fs::path& path, std::string_view bytes, bool force,
                            std::string& error) {
  std::error_code ec;
  const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  fs::create_directories(parent, ec);
  if (ec) {
    error = "cannot make folder " + parent.string() + ": " + ec.message();
    return TWriteResult::Failed;
  }
  TFd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Fd < 0) {
    error = std::strerror(errno);
    return TWriteResult::Failed;
  }
  return WriteAt(dir.Fd, path.filename().string(), TContent{bytes}, force, error);
}

bool WriteOutputFile(const std::string& path, std::string_view bytes, std::string& error) {
  fs::path target = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
      if (errno != ENOENT) {
        error = std::strerror(errno);
        return false;
      }
      const TWriteResult result = WriteWholeFile(target, bytes, true, error);
      return result == TWriteResult::Written || result == TWriteResult::Unchanged;
    }
    if (S_ISLNK(st.st_mode)) {
      char link[4096];
      const ssize_t n = ::readlink(target.c_str(), link, sizeof link - 1);
      if (n < 0 || hops >= 40) {
        error = n < 0 ? std::strerror(errno) : "too many levels of symbolic links";
        return false;
      }
      const fs::path to(std::string(link, static_cast<std::size_t>(n)));
      target = to.is_absolute() ? to : target.parent_path() / to;
      continue;
    }
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
      TFd fd(::open(target.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC));
      if (fd.Fd < 0) {
        error = std::strerror(errno);
        return false;
      }
      if (!WriteAll(fd.Fd, bytes.data(), bytes.size(), error)) return false;
      const int closing = ::close(fd.Fd);
      fd.Fd = -1;
      if (closing != 0) error = std::strerror(errno);
      return closing == 0;
    }
    if (S_ISDIR(st.st_mode)) {
      error = "is a directory";
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      error = "is neither a regular file, a character device nor a FIFO";
      return false;
    }
    const fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    TFd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Fd < 0) {
      error = std::strerror(errno);
      return false;
    }
    const TWriteResult result = WriteAt(dir.Fd, target.filename().string(), TContent{bytes}, true,
                                        error, st.st_mode & 07777);
    return result == TWriteResult::Written || result == TWriteResult::Unchanged;
  }
}

TOutputFolder::~TOutputFolder() {
  if (Fd >= 0) ::close(Fd);
}

bool TOutputFolder::Open(const fs::path& root, std::string& error) {
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec) {
    error = "cannot make folder: " + ec.message();
    return false;
  }
  Fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  RootPath = root;
  return true;
}

TWriteResult TOutputFolder::Write(const std::string& relative, std::string_view bytes, bool force,
                                  std::string& error) const {
  std::string folder;
  const TWriteResult result = WriteBeneath(Fd, relative, TContent{bytes}, force, error, folder);
  if (result == TWriteResult::Written) Changed(folder);
  return result;
}

void TOutputFolder::Changed(const std::string& folder) const {
  std::lock_guard guard(Lock);
  // A folder made on the way is a new name in the folder above it.
  for (std::string f = folder;; f.resize(f.rfind('/'))) {
    if (!Unsynced.insert(f).second || f.find('/') == std::string::npos) break;
  }
  Unsynced.insert("");
}

bool TOutputFolder::SyncFolders(std::string& error) const {
  std::lock_guard guard(Lock);
  bool ok = true;
  for (const std::string& folder : Unsynced) {
    TFd dir(OpenFolderBeneath(Fd, folder, error));
    if (dir.Fd < 0 || ::fsync(dir.Fd) != 0) {
      if (dir.Fd >= 0) error = std::strerror(errno);
      error = (folder.empty() ? RootPath.string() : folder) + ": " + error;
      ok = false;
    }
  }
  Unsynced.clear();
  return ok;
}

TWriteResult TOutputFolder::Copy(const std::string& relative, const fs::path& source, bool force,
                                 std::string& error) const {
  TFd in(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (in.Fd < 0) {
    error = std::string("cannot read: ") + std::strerror(errno);
    return TWriteResult::Failed;
  }
  return Copy(relative, in.Fd, force, error);
}

TWriteResult TOutputFolder::Copy(const std::string& relative, int source, bool force,
                                 std::string& error) const {
  struct stat st {};
  if (::fstat(source, &st) != 0) {
    error = std::string("cannot read: ") + std::strerror(errno);
    return TWriteResult::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "cannot read: not a regular file";
    return TWriteResult::Failed;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxMediaBytes) {
    error = "not copied: " + TooLarge(kMaxMediaBytes) + " for media files";
    return TWriteResult::Failed;
  }
  TContent content;
  content.Source = source;
  content.Size = static_cast<std::uint64_t>(st.st_size);
  std::string folder;
  const TWriteResult result = WriteBeneath(Fd, relative, content, force, error, folder);
  if (result == TWriteResult::Written) Changed(folder);
  return result;
}

std::size_t TOutputFolder::RemoveLeftovers() const {
  std::size_t removed = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator
           it(RootPath, fs::directory_options::skip_permission_denied, ec),
       end;
       !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] != '.') continue;
    const long owner = TempOwner(name);
    if (owner <= 0) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError) || it->is_symlink(typeError)) continue;
    // Another run's file while it is still at work stays.
    if (owner != ::getpid() && (::kill(static_cast<pid_t>(owner), 0) == 0 || errno != ESRCH))
      continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

void RemoveTemporariesOnSignals() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal the caller chose to ignore (nohup, a background job) stays so.
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

TSourceTree::~TSourceTree() {
  for (const TFolder& folder : Folders)
    if (folder.Fd >= 0) ::close(folder.Fd);
}

bool TSourceTree::Open(const fs::path& root, std::string& error, std::size_t keep) {
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  if (keep == 0) {
    // A descriptor per folder: a large site needs more than the usual soft
    // limit of 1024, and nothing here uses select(), which could not take
    // descriptors past it. Half stays free for the writers and the network.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
      const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 65536);
      if (limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = wanted;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
      }
      keep = static_cast<std::size_t>(std::min<rlim_t>(limit.rlim_cur, 65536) / 2);
    }
    keep = std::max<std::size_t>(keep, 16);
  }
  Budget = keep;
  Folders.push_back(TFolder{0, "", st.st_dev, st.st_ino, fd});
  Kept = 1;
  return true;
}

std::size_t TSourceTree::KeptDescriptors() const {
  return Kept;
}

std::string TSourceTree::Relative(std::size_t folder) const {
  std::vector<const std::string*> names;
  for (std::size_t f = folder; f != kRoot; f = Folders[f].Parent)
    names.push_back(&Folders[f].Name);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it)
    path += (path.empty() ? "" : "/") + **it;
  return path;
}

int TSourceTree::FolderFd(std::size_t folder, bool& owned, std::string& error) const {
  owned = false;
  std::vector<std::size_t> chain;
  std::size_t kept = folder;
  for (; Folders[kept].Fd < 0; kept = Folders[kept].Parent)
    chain.push_back(kept);
  int current = Folders[kept].Fd;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const TFolder& want = Folders[*it];
    const int next =
        ::openat(current, want.Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int saved = errno;
    struct stat st {};
    const bool same =
        next >= 0 && ::fstat(next, &st) == 0 && st.st_dev == want.Device && st.st_ino == want.Inode;
    if (owned) ::close(current);
    owned = true;
    current = next;
    if (!same) {
      if (next >= 0) ::close(next);
      error = "folder " + Relative(*it) +
              (next >= 0                            ? " was replaced since the scan"
               : saved == ELOOP || saved == ENOTDIR ? " was replaced since the scan, not followed"
                                                    : std::string(": ") + std::strerror(saved));
      return -1;
    }
  }
  return current;
}

bool TSourceTree::List(std::size_t folder, std::vector<std::string>& names,
                       std::string& error) const {
  names.clear();
  bool owned = false;
  const int dir = FolderFd(folder, owned, error);
  if (dir < 0) return false;
  // A folder that may be listed but not entered (mode r--) cannot be opened
  // as "." below itself; a duplicate shares the position, rewound below.
  const int listing = ::fcntl(dir, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  if (owned) ::close(dir);
  DIR* stream = listing >= 0 ? ::fdopendir(listing) : nullptr;
  if (!stream) {
    error = std::strerror(listing >= 0 ? errno : saved);
    if (listing >= 0) ::close(listing);
    return false;
  }
  ::rewinddir(stream);
  bool ok = true;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream);
    if (!entry) {
      if (errno != 0) {
        error = std::strerror(errno);
        ok = false;
      }
      break;
    }
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(stream);
  return ok;
}

bool TSourceTree::Stat(std::size_t folder, const std::string& name, struct stat& st,
                       std::string& error) const {
  bool owned = false;
  const int dir = FolderFd(folder, owned, error);
  if (dir < 0) return false;
  const bool ok = ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!ok) error = std::strerror(errno);
  if (owned) ::close(dir);
  return ok;
}

std::optional<std::size_t> TSourceTree::AddFolder(std::size_t parent, const std::string& name,
                                                  struct stat& st, std::string& error) {
  bool owned = false;
  const int dir = FolderFd(parent, owned, error);
  if (dir < 0) return std::nullopt;
  const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const int saved = errno;
  if (owned) ::close(dir);
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    error = fd >= 0 ? std::strerror(errno)
            : saved == ELOOP || saved == ENOTDIR
                ? "is no longer a folder (replaced since it was listed); not followed"
                : std::strerror(saved);
    if (fd >= 0) ::close(fd);
    return std::nullopt;
  }
  const auto known = Children.find({parent, name});
  if (known != Children.end()) {
    const TFolder& folder = Folders[known->second];
    ::close(fd);
    if (folder.Device != st.st_dev || folder.Inode != st.st_ino) {
      error = "was replaced since it was listed";
      return std::nullopt;
    }
    return known->second;
  }
  const std::size_t number = Folders.size();
  Folders.push_back(TFolder{parent, name, st.st_dev, st.st_ino, -1});
  if (Kept < Budget) {
    Folders.back().Fd = fd;
    ++Kept;
  } else {
    ::close(fd);
  }
  Children.emplace(std::make_pair(parent, name), number);
  return number;
}

std::optional<std::size_t> TSourceTree::FolderAt(const std::string& relative, std::string& error) {
  std::size_t folder = kRoot;
  for (std::size_t start = 0; start < relative.size();) {
    const std::size_t end = std::min(relative.find('/', start), relative.size());
    const std::string name = relative.substr(start, end - start);
    start = end + 1;
    if (name.empty() || name == "." || name == "..") continue;
    struct stat st {};
    const std::optional<std::size_t> next = AddFolder(folder, name, st, error);
    if (!next) return std::nullopt;
    folder = *next;
  }
  return folder;
}

int TSourceTree::OpenFile(std::size_t folder, const std::string& name, std::string& error,
                          struct stat* opened) const {
  bool owned = false;
  const int dir = FolderFd(folder, owned, error);
  if (dir < 0) return -1;
  // Not blocking: a FIFO put in the file's place would wait for a writer.
  int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const int saved = errno;
  if (owned) ::close(dir);
  if (fd < 0) {
    error = saved == ELOOP ? "is a symbolic link; not followed" : std::strerror(saved);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode)
                ? "is a directory"
                : std::string("is not a regular file (") + FileKindText(st.st_mode) + ")";
    ::close(fd);
    fd = -1;
  }
  if (opened) *opened = st;
  return fd;
}

int TSourceFile::Open(std::string& error) const {
  return Tree->OpenFile(Folder, Name, error);
}

bool TSourceFile::Read(std::string& out, std::string& error, std::size_t limit) const {
  out.clear();
  struct stat st {};
  TFd fd(Tree->OpenFile(Folder, Name, error, &st));
  return fd.Fd >= 0 && ReadOpenFile(fd.Fd, out, error, limit, &st);
}

namespace {

// The terminal whose echo a TEchoOff turned off, for the signal handler.
std::atomic<int> gEchoFd{-1};
termios gEchoSaved{};
constexpr int kEchoSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction gEchoPrevious[std::size(kEchoSignals)];
bool gEchoInstalled[std::size(kEchoSignals)] = {};

extern "C" void RestoreEchoAndGoOn(int signal) {
  const int saved = errno;
  const int fd = gEchoFd.exchange(-1);
  if (fd >= 0) ::tcsetattr(fd, TCSANOW, &gEchoSaved);
  // The signal stays blocked while this runs; raised again, it reaches the
  // handler from before (or ends the process) as soon as this returns.
  for (std::size_t i = 0; i < std::size(kEchoSignals); ++i)
    if (kEchoSignals[i] == signal && gEchoInstalled[i])
      ::sigaction(signal, &gEchoPrevious[i], nullptr);
  ::raise(signal);
  errno = saved;
}

} // namespace

TEchoOff::TEchoOff(int fd) {
  termios current{};
  if (::tcgetattr(fd, &current) != 0) return;
  gEchoSaved = current;
  for (std::size_t i = 0; i < std::size(kEchoSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = RestoreEchoAndGoOn;
    sigemptyset(&action.sa_mask);
    gEchoInstalled[i] = ::sigaction(kEchoSignals[i], nullptr, &gEchoPrevious[i]) == 0 &&
                        gEchoPrevious[i].sa_handler != SIG_IGN &&
                        ::sigaction(kEchoSignals[i], &action, nullptr) == 0;
  }
  gEchoFd.store(fd);
  termios silent = current;
  silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  silent.c_lflag |= ECHONL;
  Saved = ::tcsetattr(fd, TCSAFLUSH, &silent) == 0;
}

TEchoOff::~TEchoOff() {
  const int fd = gEchoFd.exchange(-1);
  if (fd >= 0) ::tcsetattr(fd, TCSAFLUSH, &gEchoSaved);
  for (std::size_t i = 0; i < std::size(kEchoSignals); ++i) {
    if (gEchoInstalled[i]) ::sigaction(kEchoSignals[i], &gEchoPrevious[i], nullptr);
    gEchoInstalled[i] = false;
  }
}

namespace {
bool gStandardOutputClosed = false;
}

bool StandardOutputWasClosed() {
  return gStandardOutputClosed;
}

void EnsureStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) gStandardOutputClosed = true;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

bool Inside(const std::filesystem::path& inner, const std::filesystem::path& outer) {
  auto o = outer.begin();
  auto i = inner.begin();
  for (; o != outer.end(); ++o, ++i) {
    if (o->empty()) continue; // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

} // namespace tamsel::cli
