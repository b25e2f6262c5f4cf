// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_MemoryBudget.h"

#include <algorithm>

namespace tamsel::cli {

TMemoryBudget::TLease TMemoryBudget::Take(std::size_t bytes) {
  bytes = std::min(bytes, Capacity);
  std::unique_lock<std::mutex> hold(Lock);
  Freed.wait(hold, [&] { return InUse + bytes <= Capacity; });
  InUse += bytes;
  return TLease(this, bytes);
}

void TMemoryBudget::Release(std::size_t bytes) {
  {
    const std::lock_guard<std::mutex> hold(Lock);
    InUse -= bytes;
  }
  Freed.notify_all();
}

std::size_t TMemoryBudget::Held() const {
  const std::lock_guard<std::mutex> hold(Lock);
  return InUse;
}

} // namespace tamsel::cli
