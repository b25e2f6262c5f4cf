// SPDX-License-Identifier: GPL-2.0-or-later
// Tidy set up as TTamsel::ConvertBuffer sets it up.
#pragma once

#include "Tamsel.h"
#include "Tamsel_Internal.h"

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

namespace tamsel::bench {

inline Bool TIDY_CALL DeclineMessage(TidyMessage) {
  return no;
}

inline void SetConverterOptions(TidyDoc doc, int encoding) {
  SetTidyOptions(doc, encoding);
  tidySetMessageCallback(doc, DeclineMessage);
}

} // namespace tamsel::bench
