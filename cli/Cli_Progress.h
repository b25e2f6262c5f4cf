// SPDX-License-Identifier: GPL-2.0-or-later
// Messages and a progress bar on standard error, shared by worker threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace tamsel::cli {

// name as it may be shown in a message: control characters as "\n", "\t",
// "\x1b", bytes that are not UTF-8 as "\xe9", a backslash as "\\", so that no
// name can fake a line of its own or steer the terminal.
std::string Printable(std::string_view name);

class TProgress {
public:
  // The bar shows only when bar is true (standard error is a terminal).
  TProgress(std::uint64_t total, bool bar);
  ~TProgress();

  // One more file done.
  void Step();
  // A line of its own, above the bar.
  void Message(const std::string& line);
  // Removes the bar; later messages go out plainly.
  void Finish();

  double Seconds() const;

  // "[=====>    ]  12/40  3.1 s  3.9 files/s", at most width columns.
  static std::string FormatBar(std::uint64_t done, std::uint64_t total, double seconds,
                               unsigned width);

private:
  void DrawLocked();
  void ClearLocked();

  std::mutex Lock;
  std::uint64_t Total;
  std::uint64_t Done = 0;
  bool Bar;
  bool Drawn = false;
  unsigned Width = 80;
  std::chrono::steady_clock::time_point Start;
  std::chrono::steady_clock::time_point LastDraw;
};

} // namespace tamsel::cli
