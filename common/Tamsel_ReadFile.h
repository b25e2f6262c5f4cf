// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a whole file within a bound, for the command line and the window.
//
// A regular file's size is known before anything is read, so a file over
// the bound is refused unread and a file within it is read into one
// allocation; a stream (pipe, device) is read up to one byte past the bound.
#pragma once

#include <cstddef>
#include <string>

struct stat;

namespace tamsel {

// "larger than the 64 MiB limit".
std::string TooLargeText(std::size_t limit);

// Reads what is left of the open file fd into out, at most limit bytes. On
// failure error tells why (strerror's text, or TooLargeText). known, when
// given, is what fstat said of fd already.
bool ReadOpenFile(int fd, std::string& out, std::string& error, std::size_t limit,
                  const struct stat* known = nullptr);

// Reads the regular file at path (symbolic links followed: the user named
// it). A FIFO, device or socket is refused without blocking: opening a FIFO
// nobody writes to would wait forever. error tells why ("is a directory",
// "is not a regular file (a FIFO)", strerror's text).
bool ReadRegularFile(const std::string& path, std::string& out, std::string& error,
                     std::size_t limit);

// What a file of this mode is, for a refusal: "a FIFO", "a socket",
// "a device".
const char* FileKindText(unsigned mode);

} // namespace tamsel
