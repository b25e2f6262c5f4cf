// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Files.h"

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

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsel::cli {

namespace fs = std::filesystem;

namespace {

std::string LimitText(std::uint64_t limit) {
  if (limit >= (std::uint64_t{1} << 30) && limit % (std::uint64_t{1} << 30) == 0)
    return std::to_string(limit >> 30) + " GiB";
  if (limit >= (std::uint64_t{1} << 20) && limit % (std::uint64_t{1} << 20) == 0)
    return std::to_string(limit >> 20) + " MiB";
  return std::to_string(limit) + " bytes";
}

std::string TooLarge(std::uint64_t limit) {
  return "larger than the " + LimitText(limit) + " limit";
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

ssize_t ReadSome(int fd, char* to, std::size_t n) {
  ssize_t got;
  do {
    got = ::read(fd, to, n);
  } while (got < 0 && errno == EINTR);
  return got;
}

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

// Appends what is left of fd to out, at most up to limit + 1 bytes in all.
bool ReadStream(int fd, std::string& out, std::size_t limit, std::string& error) {
  char buffer[65536];
  for (;;) {
    const std::size_t room = limit + 1 - std::min(out.size(), limit + 1);
    if (room == 0) break;
    const ssize_t got = ReadSome(fd, buffer, std::min(room, sizeof buffer));
    if (got < 0) {
      error = std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  if (out.size() > limit) {
    error = TooLarge(limit);
    return false;
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
  const bool standardInput = path == "-";
  TFd owned(standardInput ? -1
                          : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY |
                                                     (followLinks ? 0 : O_NOFOLLOW)));
  const int fd = standardInput ? STDIN_FILENO : owned.Fd;
  if (fd < 0) {
    error = errno == ELOOP && !followLinks ? "is a symbolic link" : std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "is a directory";
    return false;
  }
  if (!S_ISREG(st.st_mode)) return ReadStream(fd, out, limit, error);

  off_t position = standardInput ? ::lseek(fd, 0, SEEK_CUR) : 0;
  if (position < 0) position = 0;
  const auto size = static_cast<std::uint64_t>(st.st_size > position ? st.st_size - position : 0);
  if (size > limit) {
    error = TooLarge(limit);
    return false;
  }
  out.resize(static_cast<std::size_t>(size));
  std::size_t have = 0;
  while (have < out.size()) {
    const ssize_t got = ReadSome(fd, out.data() + have, out.size() - have);
    if (got < 0) {
      error = std::strerror(errno);
      return false;
    }
    if (got == 0) break; // the file shrank meanwhile
    have += static_cast<std::size_t>(got);
  }
  out.resize(have);
  if (have < size) return true;
  // It may have grown since fstat: only then does reading go on, as a stream.
  return ReadStream(fd, out, limit, error);
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
  struct stat st {};
  if (in.Fd < 0 || ::fstat(in.Fd, &st) != 0) {
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
  content.Source = in.Fd;
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
