// SPDX-License-Identifier: GPL-2.0-or-later
// The memory that a site's workers share.
#include "Cli_MemoryBudget.h"

#include "Tamsel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace tamsel::cli {
namespace {

// Site workers share one memory budget: a page that does not fit beside the
// others waits, and one larger than the whole budget runs alone.
TEST(MemoryBudget, PagesWaitForRoomAndTheLargestRunsAlone) {
  TMemoryBudget budget(100);
  std::atomic<int> stage{0};
  std::optional<TMemoryBudget::TLease> first(budget.Take(60));
  std::thread second([&] {
    const auto lease = budget.Take(60);
    stage = 1;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(stage.load(), 0);
  EXPECT_EQ(budget.Held(), 60u);
  first.reset();
  second.join();
  EXPECT_EQ(stage.load(), 1);
  EXPECT_EQ(budget.Held(), 0u);
  std::optional<TMemoryBudget::TLease> small(budget.Take(10));
  std::thread huge([&] {
    const auto lease = budget.Take(1000);
    EXPECT_EQ(budget.Held(), 100u);
    stage = 2;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(stage.load(), 1);
  small.reset();
  huge.join();
  EXPECT_EQ(stage.load(), 2);
  // The bound a page is leased by grows with its size and stays below the
  // budget for the largest input.
  EXPECT_LT(MemoryBoundFor(1000), MemoryBoundFor(10'000'000));
  EXPECT_LE(MemoryBoundFor(kMaxInputBytes), TMemoryBudget::kSiteBytes);
}

// Pages held between a site's passes take only what is free, and never the
// room the workers' conversions need.
TEST(MemoryBudget, HeldPagesLeaveRoomForTheConversions) {
  TMemoryBudget held(100);
  std::optional<TMemoryBudget::TLease> first = held.TryTake(70);
  ASSERT_TRUE(first);
  EXPECT_FALSE(held.TryTake(31));
  EXPECT_TRUE(held.TryTake(30));
  first.reset();
  EXPECT_TRUE(held.TryTake(100));
  EXPECT_EQ(held.Held(), 0u);

  constexpr std::size_t budget = TMemoryBudget::kSiteBytes;
  for (const std::uint64_t largest :
       {std::uint64_t{3000}, std::uint64_t{1} << 20, std::uint64_t{16} << 20,
        std::uint64_t{kMaxInputBytes}, std::uint64_t{kMaxInputBytes} * 4})
    for (const unsigned jobs : {1u, 2u, 8u, 64u}) {
      const std::size_t share = HeldShare(largest, jobs);
      const std::size_t converting =
          MemoryBoundFor(std::min<std::uint64_t>(largest, kMaxInputBytes));
      EXPECT_LE(share, budget / 4) << largest << " " << jobs;
      EXPECT_LE(share + converting, budget) << largest << " " << jobs;
      if (jobs * converting <= budget) {
        EXPECT_LE(share + jobs * converting, budget) << largest << " " << jobs;
      }
    }
  // A site of small pages is held whole up to the quarter.
  EXPECT_EQ(HeldShare(3000, 8), budget / 4);
}

} // namespace
} // namespace tamsel::cli
