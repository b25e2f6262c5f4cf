// SPDX-License-Identifier: GPL-2.0-or-later
// Converter driver for the DokuWiki fidelity suite.
//
// Reads lines "LINKOPTIONS<TAB>INPUT<TAB>OUTBASE" from standard input. For each
// line it converts the UTF-8 HTML file INPUT and writes the DokuWiki markup to
// OUTBASE.txt, and writes the element tree that Tidy builds from the same bytes
// with the converter's options to OUTBASE.tree.json. The suite compares what
// DokuWiki renders with that tree, so both must come from one parse setting:
// a browser's idea of the HTML would differ from Tidy's in the repairs.
#include "Tamsel.h"
#include "Tamsel_Internal.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

bool ReadFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

void AppendJsonString(std::string& out, const char* s, std::size_t n) {
  out += '"';
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

void AppendJsonString(std::string& out, const char* s) {
  if (!s) {
    out += "null";
    return;
  }
  AppendJsonString(out, s, std::char_traits<char>::length(s));
}

// Text nodes become JSON strings, elements {"tag":..., "attrs":{...}, "kids":[...]};
// comments and the like are left out, as the converter passes over them.
void AppendNode(std::string& out, TidyDoc doc, TidyNode node) {
  TidyNodeType type = tidyNodeGetType(node);
  if (type == TidyNode_Text) {
    TidyBuffer value;
    tidyBufInit(&value);
    tidyNodeGetValue(doc, node, &value);
    AppendJsonString(out, reinterpret_cast<const char*>(value.bp), value.size);
    tidyBufFree(&value);
    return;
  }
  out += "{\"tag\":";
  AppendJsonString(out, tidyNodeGetName(node));
  out += ",\"attrs\":{";
  bool first = true;
  for (TidyAttr attr = tidyAttrFirst(node); attr; attr = tidyAttrNext(attr)) {
    if (!first) out += ',';
    first = false;
    AppendJsonString(out, tidyAttrName(attr));
    out += ':';
    AppendJsonString(out, tidyAttrValue(attr));
  }
  out += "},\"kids\":[";
  first = true;
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    TidyNodeType t = tidyNodeGetType(child);
    if (t != TidyNode_Text && t != TidyNode_Start && t != TidyNode_StartEnd) continue;
    if (!first) out += ',';
    first = false;
    AppendNode(out, doc, child);
  }
  out += "]}";
}

// The same parse settings as the converter's run.
std::string TreeJson(const std::string& html) {
  TidyDoc doc = tidyCreate();
  tamsel::SetTidyOptions(doc, tamsel::kEncUtf8);
  TidyBuffer errors;
  tidyBufInit(&errors);
  tidySetErrorBuffer(doc, &errors);
  TidyBuffer input;
  tidyBufInit(&input);
  if (!html.empty())
    tidyBufAttach(&input, reinterpret_cast<byte*>(const_cast<char*>(html.data())),
                  static_cast<uint>(html.size()));
  tidyParseBuffer(doc, &input);
  tidyBufDetach(&input);
  std::string out;
  TidyNode body = tidyGetBody(doc);
  if (body)
    AppendNode(out, doc, body);
  else
    out = "null";
  tidyRelease(doc);
  tidyBufFree(&errors);
  return out;
}

} // namespace

int main() {
  std::string line;
  int failures = 0;
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string options, input, outBase;
    if (!std::getline(fields, options, '\t') || !std::getline(fields, input, '\t') ||
        !std::getline(fields, outBase)) {
      std::cerr << "tamsel_dw_convert: bad manifest line: " << line << "\n";
      ++failures;
      continue;
    }
    std::string html;
    if (!ReadFile(input, html)) {
      std::cerr << "tamsel_dw_convert: cannot read " << input << "\n";
      ++failures;
      continue;
    }
    tamsel::TTamsel converter;
    const int links = std::stoi(options); // the three link bits: local 1, mail 2, external 4
    converter.Options.LocalLinks = links & 1;
    converter.Options.MailLinks = links & 2;
    converter.Options.ExternalLinks = links & 4;
    if (!WriteFile(outBase + ".txt", converter.ConvertAnsi(html, tamsel::kEncUtf8)) ||
        !WriteFile(outBase + ".tree.json", TreeJson(html))) {
      std::cerr << "tamsel_dw_convert: cannot write " << outBase << ".*\n";
      ++failures;
    }
  }
  return failures ? 1 : 0;
}
