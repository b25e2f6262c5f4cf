// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_MemoryBudget.h"

#include "Tamsel.h"

#include <algorithm>

namespace tamsel::cli {

TMemoryBudget::TLease TMemoryBudget::Take(std::size_t bytes) {
  bytes = std::min(bytes, Capacity);
  std::unique_lock<std::mutex> hold(Lock);
  Freed.wait(hold, [&] { return InUse + bytes <= Capacity; });
  InUse += bytes;
  return TLease(this, bytes);
}

std::optional<TMemoryBudget::TLease> TMemoryBudget::TryTake(std::size_t bytes) {
  const std::lock_guard<std::mutex> hold(Lock);
  if (bytes > Capacity - InUse) return std::nullopt;
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

std::size_t HeldShare(std::uint64_t largestPage, unsigned jobs) {
  constexpr std::size_t budget = TMemoryBudget::kSiteBytes;
  const std::size_t converting = MemoryBoundFor(
      static_cast<std::size_t>(std::min<std::uint64_t>(largestPage, kMaxInputBytes)));
  const std::size_t workers =
      std::clamp<std::size_t>(jobs, 1, std::max<std::size_t>(1, budget / converting));
  return std::min(budget / 4, budget - std::min(budget, workers * converting));
}

} // namespace tamsel::cli
