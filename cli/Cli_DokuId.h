// SPDX-License-Identifier: GPL-2.0-or-later
// Page and media ids the way DokuWiki makes them, and the file names it keeps
// them under. The id cleaning itself lives in the engine (Tamsel_Anchor.h),
// which needs it for section anchors.
#pragma once

#include "Tamsel_Anchor.h"

#include <string>
#include <string_view>

namespace tamsel::cli {

using tamsel::AppendUtf8;
using tamsel::CleanId;
using tamsel::DecodeUtf8;
using tamsel::IsValidUtf8;
using tamsel::SectionId;

// The file name DokuWiki keeps a cleaned id path under ("ns/page" for the id
// ns:page): kept when it is plain ASCII, else URL-encoded with '/' kept.
std::string EncodeFileName(std::string_view path);

} // namespace tamsel::cli
