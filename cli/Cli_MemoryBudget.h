// SPDX-License-Identifier: GPL-2.0-or-later
// One budget of memory shared by the workers of a site's migration.
//
// A conversion may take several hundred times its input in the worst case
// (MemoryBoundFor): four workers on four large pages would together take
// gigabytes. Each worker takes a lease on what its page may need before it
// converts; a page that does not fit beside the others waits, and one that
// would need more than the whole budget waits until nothing else is held
// and is then converted alone.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>

namespace tamsel::cli {

class TMemoryBudget {
public:
  // Shared by all workers of a run: a little over what one conversion of
  // the largest input may take.
  static constexpr std::size_t kSiteBytes = std::size_t{1} << 30;

  explicit TMemoryBudget(std::size_t capacity = kSiteBytes) : Capacity(capacity) {}
  TMemoryBudget(const TMemoryBudget&) = delete;
  TMemoryBudget& operator=(const TMemoryBudget&) = delete;

  class TLease {
  public:
    TLease(TLease&& other) noexcept : Budget(other.Budget), Bytes(other.Bytes) {
      other.Budget = nullptr;
    }
    TLease(const TLease&) = delete;
    TLease& operator=(const TLease&) = delete;
    TLease& operator=(TLease&&) = delete;
    ~TLease() {
      if (Budget) Budget->Release(Bytes);
    }

  private:
    friend class TMemoryBudget;
    TLease(TMemoryBudget* budget, std::size_t bytes) : Budget(budget), Bytes(bytes) {}
    TMemoryBudget* Budget;
    std::size_t Bytes;
  };

  // Waits until bytes fit beside what the other leases hold (all of the
  // budget, when bytes exceed it).
  TLease Take(std::size_t bytes);
  // A lease on bytes when they fit now; never waits.
  std::optional<TLease> TryTake(std::size_t bytes);

  // Held by leases now, for tests.
  std::size_t Held() const;

private:
  void Release(std::size_t bytes);

  const std::size_t Capacity;
  mutable std::mutex Lock;
  std::condition_variable Freed;
  std::size_t InUse = 0;
};

// What of the site's budget may hold pages read for the passes after the
// first, when jobs workers convert pages of up to largestPage bytes side by
// side: what their conversions leave, up to a quarter. The pages converted
// share the rest; a page past the share is read again.
std::size_t HeldShare(std::uint64_t largestPage, unsigned jobs);

} // namespace tamsel::cli
