#include "Cli_Files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsel::cli {

namespace fs = std::filesystem;

namespace {

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

bool ReadStream(std::FILE* f, std::string& out) {
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    out.append(buffer, n);
  return !std::ferror(f);
}

// 1 same bytes, 0 other bytes, -1 cannot tell.
int SameContent(const fs::path& path, std::string_view bytes) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) return -1;
  if (size != bytes.size()) return 0;
  std::string existing, error;
  if (!ReadWholeFile(path.string(), existing, error)) return -1;
  return existing == bytes ? 1 : 0;
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string& out, std::string& error) {
  out.clear();
  if (path == "-") {
    if (ReadStream(stdin, out)) return true;
    error = std::strerror(errno);
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    error = "is a directory";
    return false;
  }
  TFile f(::fdopen(fd, "rb"));
  if (!f) {
    error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  if (st.st_size > 0) out.reserve(static_cast<std::size_t>(st.st_size));
  errno = 0;
  if (!ReadStream(f.get(), out)) {
    error = errno ? std::strerror(errno) : "read error";
    return false;
  }
  return true;
}

TWriteResult WriteWholeFile(const fs::path& path, std::string_view bytes, bool force,
                            std::string& error) {
  std::error_code ec;
  const fs::path parent = path.parent_path();
  if (!parent.empty()) {
    fs::create_directories(parent, ec);
    if (ec) {
      error = "cannot make folder " + parent.string() + ": " + ec.message();
      return TWriteResult::Failed;
    }
  }
  if (fs::is_directory(path, ec)) {
    error = "is a directory";
    return TWriteResult::Failed;
  }
  if (fs::exists(path, ec)) {
    const int same = SameContent(path, bytes);
    if (same == 1) return TWriteResult::Unchanged;
    if (!force) return TWriteResult::Exists;
  }

  static std::atomic<unsigned> counter{0};
  const fs::path temporary =
      parent / ("." + path.filename().string() + ".tamsel-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter++));
  {
    TFile f(std::fopen(temporary.c_str(), "wbx"));
    if (!f) {
      error = std::strerror(errno);
      return TWriteResult::Failed;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size() &&
                    std::fflush(f.get()) == 0;
    const int saved = errno;
    if (!ok || std::fclose(f.release()) != 0) {
      error = std::strerror(ok ? errno : saved);
      ::unlink(temporary.c_str());
      return TWriteResult::Failed;
    }
  }
  if (force) {
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
      error = std::strerror(errno);
      ::unlink(temporary.c_str());
      return TWriteResult::Failed;
    }
    return TWriteResult::Written;
  }
  // A move that never replaces a file, so a file that appeared meanwhile
  // survives. Where the file system cannot do that, link() can.
  int saved = 0;
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0)
    return TWriteResult::Written;
  saved = errno;
  if (saved == EINVAL || saved == ENOSYS) {
    if (::link(temporary.c_str(), path.c_str()) == 0) {
      ::unlink(temporary.c_str());
      return TWriteResult::Written;
    }
    saved = errno;
  }
  ::unlink(temporary.c_str());
  if (saved == EEXIST)
    return SameContent(path, bytes) == 1 ? TWriteResult::Unchanged : TWriteResult::Exists;
  // Some file systems have neither; there a plain move has to do.
  if ((saved == EPERM || saved == ENOTSUP || saved == EMLINK) && !fs::exists(path, ec))
    return WriteWholeFile(path, bytes, true, error);
  error = std::strerror(saved);
  return TWriteResult::Failed;
}

} // namespace tamsel::cli
