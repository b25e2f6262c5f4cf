#include "Cli_Convert.h"

#include "Tamsel.h"
#include "Tamsel_Stack.h"

namespace tamsel::cli {

std::string FinishText(std::string_view converted, TNewline newline) {
  const std::string_view lineEnd = newline == TNewline::CrLf ? "\r\n" : "\n";
  std::string out;
  out.reserve(converted.size() + 2);
  const char* p = converted.data();
  const char* const end = p + converted.size();
  while (p < end) {
    // Everything up to the next line end in one piece.
    const char* stop = p;
    while (stop < end && *stop != '\r' && *stop != '\n')
      ++stop;
    out.append(p, stop);
    if (stop == end) break;
    if (*stop == '\r' && stop + 1 < end && stop[1] == '\n') {
      out += lineEnd;
      p = stop + 2;
    } else {
      out += *stop == '\n' ? lineEnd : std::string_view(" ");
      p = stop + 1;
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
  converter.LinkOptions = options.LinkOptions;
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
