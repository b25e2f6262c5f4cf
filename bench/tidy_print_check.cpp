// SPDX-License-Identifier: GPL-2.0-or-later
// Checks what the converter's text emission takes for granted about the Tidy
// library it runs on: that printing a text node (tidyNodeGetText) gives the
// node's lexer bytes (tidyNodeGetValue) with '<' as "&lt;", '>' as "&gt;", LF
// as CR LF, and CR LF after them. The converter reads the lexer bytes instead
// of printing, which is far cheaper; a Tidy whose printer did anything more
// would change its output. Every text node of a generated corpus (pages,
// sloppy pages, escaping-dense documents, edge cases) is compared, with the
// input read as UTF-8, Latin-1 and Windows-1252.
#include "bench_doc.h"
#include "bench_tidy.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace tamsel::bench;

std::string Printed(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '\n')
      out += "\r\n";
    else
      out += c;
  }
  return out + "\r\n";
}

struct TCounts {
  long Nodes = 0;
  long Bytes = 0;
  long Differ = 0;
};

void Check(TidyDoc doc, TidyNode node, const std::string& name, TCounts& counts) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    if (tidyNodeGetType(child) == TidyNode_Text) {
      TidyBuffer text, value;
      tidyBufInit(&text);
      tidyBufInit(&value);
      tidyNodeGetText(doc, child, &text);
      tidyNodeGetValue(doc, child, &value);
      const std::string t(reinterpret_cast<const char*>(text.bp), text.size);
      const std::string v(reinterpret_cast<const char*>(value.bp), value.size);
      ++counts.Nodes;
      counts.Bytes += static_cast<long>(v.size());
      if (t != Printed(v) && counts.Differ++ < 10)
        std::printf("%s: lexer bytes [%.60s] printed as [%.60s]\n", name.c_str(), v.c_str(),
                    t.c_str());
      tidyBufFree(&text);
      tidyBufFree(&value);
    }
    Check(doc, child, name, counts);
  }
}

} // namespace

int main() {
  struct TDoc {
    std::string Name, Html;
  };
  std::vector<TDoc> docs;
  docs.push_back({"edge", MakeEdgeDocument()});
  for (unsigned seed = 1; seed <= 3; ++seed) {
    docs.push_back({"page-" + std::to_string(seed), MakeDocument(200u << 10, seed)});
    docs.push_back({"messy-" + std::to_string(seed), MakeMessyDocument(200u << 10, seed)});
  }
  for (unsigned seed = 1; seed <= 30; ++seed)
    docs.push_back({"dense-" + std::to_string(seed), MakeDenseDocument(20u << 10, seed)});

  TCounts counts;
  for (const TDoc& d : docs) {
    for (int encoding : {TidyEncUtf8, TidyEncLatin1, TidyEncWin1252}) {
      TidyDoc doc = tidyCreate();
      SetConverterOptions(doc, encoding);
      TidyBuffer input;
      tidyBufInit(&input);
      tidyBufAttach(&input, reinterpret_cast<byte*>(const_cast<char*>(d.Html.data())),
                    static_cast<uint>(d.Html.size()));
      tidyParseBuffer(doc, &input);
      tidyBufDetach(&input);
      Check(doc, tidyGetRoot(doc), d.Name + "/" + std::to_string(encoding), counts);
      tidyRelease(doc);
    }
  }
  std::printf("%ld text nodes, %ld bytes: %ld printed otherwise\n", counts.Nodes, counts.Bytes,
              counts.Differ);
  return counts.Differ == 0 ? 0 : 1;
}
