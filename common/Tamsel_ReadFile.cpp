// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_ReadFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tamsel {

namespace {

ssize_t ReadSome(int fd, char* to, std::size_t n) {
  ssize_t got;
  do {
    got = ::read(fd, to, n);
  } while (got < 0 && errno == EINTR);
  return got;
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
    error = TooLargeText(limit);
    return false;
  }
  return true;
}

} // namespace

std::string TooLargeText(std::size_t limit) {
  const auto value = static_cast<std::uint64_t>(limit);
  std::string text;
  if (value >= (std::uint64_t{1} << 30) && value % (std::uint64_t{1} << 30) == 0)
    text = std::to_string(value >> 30) + " GiB";
  else if (value >= (std::uint64_t{1} << 20) && value % (std::uint64_t{1} << 20) == 0)
    text = std::to_string(value >> 20) + " MiB";
  else
    text = std::to_string(value) + " bytes";
  return "larger than the " + text + " limit";
}

const char* FileKindText(unsigned mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISDIR(mode)) return "a directory";
  return "not a regular file";
}

bool ReadOpenFile(int fd, std::string& out, std::string& error, std::size_t limit,
                  const struct stat* known) {
  out.clear();
  struct stat st {};
  if (known) {
    st = *known;
  } else if (::fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "is a directory";
    return false;
  }
  if (!S_ISREG(st.st_mode)) return ReadStream(fd, out, limit, error);

  off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position < 0) position = 0;
  const auto size = static_cast<std::uint64_t>(st.st_size > position ? st.st_size - position : 0);
  if (size > limit) {
    error = TooLargeText(limit);
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

bool ReadRegularFile(const std::string& path, std::string& out, std::string& error,
                     std::size_t limit) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    error = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    error = "is a directory";
    ok = false;
  } else if (!S_ISREG(st.st_mode)) {
    error = std::string("is not a regular file (") + FileKindText(st.st_mode) + ")";
    ok = false;
  } else {
    ok = ReadOpenFile(fd, out, error, limit, &st);
  }
  ::close(fd);
  return ok;
}

} // namespace tamsel
