// SPDX-License-Identifier: GPL-2.0-or-later
// libFuzzer target: any bytes, any options, any entry; see Tamsel_FuzzDriver.h.
#include "Tamsel_FuzzDriver.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!tamsel::fuzz::RunOne(data, size)) {
    std::fputs("tamsel_fuzz: two runs of one input gave different results\n", stderr);
    std::abort();
  }
  return 0;
}
