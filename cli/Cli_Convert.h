// SPDX-License-Identifier: GPL-2.0-or-later
// One document through the converter, from file bytes to the text written.
#pragma once

#include "Tamsel_Encoding.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {
class TTamsel;
}

namespace tamsel::cli {

enum class TNewline { Lf, CrLf };

struct TDocumentOptions {
  std::optional<TEncoding> Encoding; // nullopt: detect
  // Links become wiki links; off, only their texts are written.
  bool Links = true;
  // em, cite, var, dfn, ins, kbd, samp and q with DokuWiki's formatting.
  bool Emphasis = true;
  TNewline Newline = TNewline::Lf;
  // For one document (a site's pages resolve through the site's index):
  // local links and images become absolute ids below this namespace, the
  // document taken to lie at its root. Cleaned; empty: the converter's form.
  std::string Namespace;
  std::string StartPage = "start";
  // The address the HTML was published at: links that lead to no page
  // become absolute addresses below it.
  std::string BaseUrl;
};

struct TDocumentResult {
  std::string Text;
  std::string EncodingDescription;
  std::vector<std::string> Warnings;
  // What the converter changed to stay within its bounds (for -v).
  std::vector<std::string> Notes;
};

// Decodes bytes and converts them with converter, whose link resolvers the
// caller has set. Deep nesting needs no stack from the caller: the converter
// moves such input onto a stack of its own. Exceptions of the converter pass
// to the caller.
TDocumentResult ConvertDocument(TTamsel& converter, std::string_view bytes,
                                const TDocumentOptions& options);

} // namespace tamsel::cli
