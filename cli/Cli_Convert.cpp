#include "Cli_Convert.h"

#include "Tamsel.h"
#include "Tamsel_Stack.h"

namespace tamsel::cli {

std::string FinishText(std::string_view converted, TNewline newline) {
  const std::string_view lineEnd = newline == TNewline::CrLf ? "\r\n" : "\n";
  std::string out;
  out.reserve(converted.size() + 2);
  for (std::size_t i = 0; i < converted.size(); ++i) {
    const char c = converted[i];
    if (c == '\r' && i + 1 < converted.size() && converted[i + 1] == '\n') {
      out += lineEnd;
      ++i;
    } else if (c == '\n') {
      out += lineEnd;
    } else if (c == '\r') {
      out += ' ';
    } else {
      out += c;
    }
  }
  if (!out.empty()) out += lineEnd;
  return out;
}

TDocumentResult ConvertDocumentOnThisStack(TTamsel& converter, std::string_view bytes,
                                           const TDocumentOptions& options) {
  TDocumentResult result;
  TPreparedInput input = PrepareInput(bytes, options.Encoding);
  result.EncodingDescription = std::move(input.Description);
  result.Warnings = std::move(input.Warnings);
  converter.Options.SetLinks(options.LinkOptions != 0);
  result.Text = FinishText(converter.ConvertAnsi(input.Bytes, input.TidyEncoding), options.Newline);
  return result;
}

TDocumentResult ConvertDocument(TTamsel& converter, std::string_view bytes,
                                const TDocumentOptions& options) {
  TDocumentResult result;
  RunWithLargeStack([&] { result = ConvertDocumentOnThisStack(converter, bytes, options); });
  return result;
}

} // namespace tamsel::cli
