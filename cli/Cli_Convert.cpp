// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Convert.h"
#include "Cli_DokuId.h"
#include "Cli_SiteIndex.h"

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

namespace {

// Links and images of one document, resolved below a namespace.
struct TNamespaceResolvers {
  TTamsel& Converter;
  bool Set = false;
  TNamespaceResolvers(TTamsel& converter, const TDocumentOptions& options) : Converter(converter) {
    if (options.Namespace.empty() || converter.ResolveLocalLink || converter.ResolveLocalImage)
      return;
    Set = true;
    const std::string ns = options.Namespace;
    const std::string start = options.StartPage;
    converter.ResolveLocalLink = [ns, start](std::string_view href, TLinkTarget& result) {
      const std::optional<TReference> ref = ResolveReference("", href);
      if (!ref || ref->SamePage) return false;
      std::string id;
      if (ref->Directory)
        id = PageIdFor(ref->Path.empty() ? "index.html" : ref->Path + "/index.html", start);
      else if (IsPageName(ref->Path))
        id = PageIdFor(ref->Path, start);
      else if (const std::size_t dot = ref->Path.rfind('.');
               dot != std::string::npos && ref->Path.find('/', dot) == std::string::npos &&
               (id = MediaIdFor(ref->Path), !id.empty())) {
        // A file that is no page: linked as the media file it would be.
        result.Target = ":" + InNamespace(ns, id);
        result.Media = true;
        return true;
      }
      if (id.empty()) return false;
      result.Target = ":" + InNamespace(ns, id);
      if (ref->HasFragment && !ref->Fragment.empty())
        result.Target += "#" + SectionId(ref->Fragment);
      return true;
    };
    converter.ResolveLocalImage = [ns](std::string_view src, std::string& result) {
      const std::optional<TReference> ref = ResolveReference("", src);
      if (!ref || ref->SamePage || ref->Directory) return false;
      const std::string id = MediaIdFor(ref->Path);
      if (id.empty()) return false;
      result = ":" + InNamespace(ns, id);
      return true;
    };
  }
  ~TNamespaceResolvers() {
    if (!Set) return;
    Converter.ResolveLocalLink = nullptr;
    Converter.ResolveLocalImage = nullptr;
  }
};

} // namespace

TDocumentResult ConvertDocumentOnThisStack(TTamsel& converter, std::string_view bytes,
                                           const TDocumentOptions& options) {
  TDocumentResult result;
  TNamespaceResolvers resolvers(converter, options);
  TPreparedInput input = PrepareInput(bytes, options.Encoding);
  result.EncodingDescription = std::move(input.Description);
  result.Warnings = std::move(input.Warnings);
  converter.Options.SetLinks(options.LinkOptions != 0);
  converter.Options.Emphasis = options.Emphasis;
  result.Text = FinishText(converter.ConvertAnsi(input.Bytes, input.TidyEncoding), options.Newline);
  result.Notes = std::move(converter.Notes);
  return result;
}

TDocumentResult ConvertDocument(TTamsel& converter, std::string_view bytes,
                                const TDocumentOptions& options) {
  TDocumentResult result;
  RunWithLargeStack([&] { result = ConvertDocumentOnThisStack(converter, bytes, options); });
  return result;
}

} // namespace tamsel::cli
