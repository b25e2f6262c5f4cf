// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Progress.h"
#include "Cli_DokuId.h"

#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace tamsel::cli {

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}

TProgress::TProgress(std::uint64_t total, bool bar)
    : Total(total), Bar(bar), Start(std::chrono::steady_clock::now()) {
  winsize size{};
  if (Bar && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) Width = size.ws_col;
  if (Bar) {
    std::lock_guard guard(Lock);
    DrawLocked();
  }
}

TProgress::~TProgress() {
  Finish();
}

double TProgress::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

void TProgress::Step() {
  std::lock_guard guard(Lock);
  ++Done;
  if (Bar && (Done == Total || std::chrono::steady_clock::now() - LastDraw >= kRedrawInterval))
    DrawLocked();
}

void TProgress::Message(const std::string& line) {
  std::lock_guard guard(Lock);
  ClearLocked();
  std::fprintf(stderr, "%s\n", line.c_str());
  if (Bar) DrawLocked();
}

void TProgress::Finish() {
  std::lock_guard guard(Lock);
  ClearLocked();
  Bar = false;
}

void TProgress::ClearLocked() {
  if (!Drawn) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  Drawn = false;
}

void TProgress::DrawLocked() {
  LastDraw = std::chrono::steady_clock::now();
  const std::string bar = FormatBar(Done, Total, Seconds(), Width - 1);
  std::fprintf(stderr, "\r%s\033[K", bar.c_str());
  std::fflush(stderr);
  Drawn = true;
}

std::string Printable(std::string_view name) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t at = i;
    const char32_t c = DecodeUtf8(name, i);
    if ((c == 0xFFFD && i == at + 1) || c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      const char* named = c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
      if (named) {
        out += named;
      } else {
        for (std::size_t b = at; b < i; ++b) {
          const auto v = static_cast<unsigned char>(name[b]);
          out += "\\x";
          out += kHex[v >> 4];
          out += kHex[v & 15];
        }
      }
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out.append(name, at, i - at);
    }
  }
  return out;
}

std::string TProgress::FormatBar(std::uint64_t done, std::uint64_t total, double seconds,
                                 unsigned width) {
  char figures[96];
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  std::snprintf(figures, sizeof figures, " %llu/%llu  %.1f s  %.1f files/s",
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                seconds, rate);
  const std::string tail = figures;
  if (width < tail.size() + 4) return tail.substr(0, width);
  const std::size_t inner = std::min<std::size_t>(width - tail.size() - 2, 50);
  const std::size_t filled = total ? static_cast<std::size_t>(inner * done / total) : inner;
  std::string bar = "[";
  bar.append(filled, '=');
  if (filled < inner) {
    bar += '>';
    bar.append(inner - filled - 1, ' ');
  }
  bar += ']';
  return bar + tail;
}

} // namespace tamsel::cli
