// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Convert.h"
#include "Cli_DokuId.h"

#include "Tamsel.h"

namespace tamsel::cli {

TDocumentResult ConvertDocument(TTamsel& converter, std::string_view bytes,
                                const TDocumentOptions& options) {
  TDocumentResult result;
  TPreparedInput input = PrepareInput(bytes, options.Encoding);
  result.EncodingDescription = std::move(input.Description);
  result.Warnings = std::move(input.Warnings);
  converter.Options.SetLinks(options.Links);
  converter.Options.Emphasis = options.Emphasis;
  // The site sets the page's own place; one document lies at the root of
  // its namespace.
  converter.Options.Namespace = options.Namespace;
  converter.Options.StartPage = options.StartPage;
  converter.Options.BaseUrl = options.BaseUrl;
  converter.Options.LineBreak = options.Newline == TNewline::CrLf ? "\r\n" : "\n";
  result.Text = converter.ConvertAnsi(input.Bytes, input.TidyEncoding);
  // A text file ends with a line end.
  if (!result.Text.empty()) result.Text += converter.Options.LineBreak;
  result.Notes = std::move(converter.Notes);
  return result;
}

} // namespace tamsel::cli
