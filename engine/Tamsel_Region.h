// SPDX-License-Identifier: GPL-2.0-or-later
// The anchors of the part of a page a conversion keeps.
#pragma once

#include "Tamsel.h"
#include "Tamsel_Anchor.h"

#include <string_view>

namespace tamsel {

// FindAnchors of what remains of the document once chooser's region is
// kept (see TTamsel::ChooseRegion); chooser unset: of the whole document.
// Throws as FindAnchors does.
TDocumentAnchors FindRegionAnchors(std::string_view bytes, int encoding,
                                   const TRegionChooser& chooser);

} // namespace tamsel
