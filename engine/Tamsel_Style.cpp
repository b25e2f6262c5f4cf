// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Style.h"

#include "Tamsel_Ascii.h"
#include "Tamsel_Internal.h"

#include <tidy/tidybuffio.h>

#include <vector>

namespace tamsel::detail {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back()))
    s.remove_suffix(1);
  return s;
}

bool Has(const std::string& value, std::string_view word) {
  return value.find(word) != std::string::npos;
}

// A font weight as a number; 0 for a keyword or nothing.
int Weight(const std::string& value) {
  int n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return n;
    if (n < 10000) n = n * 10 + (c - '0');
  }
  return n;
}

void Declaration(std::string_view name, std::string_view rawValue, TStyleMarks& marks) {
  const std::string property = LowerAscii(Trim(name));
  std::string value = LowerAscii(Trim(rawValue));
  if (const std::size_t bang = value.find('!'); bang != std::string::npos)
    value = std::string(Trim(std::string_view(value).substr(0, bang)));
  if (property == "font-weight") {
    const int weight = Weight(value);
    if (value == "bold" || value == "bolder" || weight >= 600)
      marks.Bold = 1;
    else if (value == "normal" || value == "lighter" || (weight > 0 && weight <= 500))
      marks.Bold = -1;
  } else if (property == "font-style") {
    if (value == "italic" || value.starts_with("oblique"))
      marks.Italic = 1;
    else if (value == "normal")
      marks.Italic = -1;
  } else if (property == "font-family") {
    for (std::string_view mono :
         {"mono", "courier", "consolas", "menlo", "monaco", "lucida console"})
      if (Has(value, mono)) marks.Mono = 1;
  } else if (property == "display") {
    for (std::string_view box : {"block", "flex", "grid", "list-item", "table"})
      if (value == box) marks.Apart = 1;
    if (value.starts_with("inline")) marks.Apart = -1;
  } else if (property == "float") {
    if (value == "left" || value == "right") marks.Apart = 1;
  } else if (property == "text-decoration" || property == "text-decoration-line") {
    if (Has(value, "underline")) marks.Underline = 1;
    if (Has(value, "line-through")) marks.Strike = 1;
    if (value == "none") marks.Underline = marks.Strike = -1;
  }
}

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

// The class of a selector ".name" or "element.name"; empty for any other.
std::string_view SelectorClass(std::string_view selector) {
  selector = Trim(selector);
  const std::size_t dot = selector.find('.');
  if (dot == std::string_view::npos) return {};
  for (std::size_t i = 0; i < dot; ++i)
    if (!IsNameByte(selector[i])) return {};
  const std::string_view name = selector.substr(dot + 1);
  if (name.empty()) return {};
  for (char c : name)
    if (!IsNameByte(c)) return {};
  return name;
}

} // namespace

void TStyleMarks::Merge(const TStyleMarks& other) {
  if (other.Bold) Bold = other.Bold;
  if (other.Italic) Italic = other.Italic;
  if (other.Mono) Mono = other.Mono;
  if (other.Underline) Underline = other.Underline;
  if (other.Strike) Strike = other.Strike;
  if (other.Apart) Apart = other.Apart;
}

void ParseDeclarations(std::string_view css, TStyleMarks& marks) {
  while (!css.empty()) {
    const std::size_t end = css.find(';');
    const std::string_view one = css.substr(0, end);
    if (const std::size_t colon = one.find(':'); colon != std::string_view::npos)
      Declaration(one.substr(0, colon), one.substr(colon + 1), marks);
    if (end == std::string_view::npos) break;
    css.remove_prefix(end + 1);
  }
}

void TClassRules::ParseSheet(std::string_view sheet) {
  // Comments, and the "<!--" and "-->" that old pages wrap sheets in, go.
  std::string text;
  text.reserve(sheet.size());
  for (std::size_t i = 0; i < sheet.size(); ++i) {
    if (sheet.substr(i, 2) == "/*") {
      const std::size_t end = sheet.find("*/", i + 2);
      if (end == std::string_view::npos) break;
      i = end + 1;
      continue;
    }
    if (sheet.substr(i, 4) == "<!--") {
      i += 3;
      continue;
    }
    if (sheet.substr(i, 3) == "-->") {
      i += 2;
      continue;
    }
    text += sheet[i];
  }
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t open = rest.find('{');
    if (open == std::string_view::npos) break;
    const std::size_t close = rest.find('}', open);
    if (close == std::string_view::npos) break;
    std::string_view selectors = rest.substr(0, open);
    const std::string_view body = rest.substr(open + 1, close - open - 1);
    rest.remove_prefix(close + 1);
    // "@media ... {" opens a block of rules: its own rules follow.
    if (Trim(selectors).starts_with('@')) {
      rest = std::string_view(body.data(),
                              static_cast<std::size_t>(rest.data() + rest.size() - body.data()));
      continue;
    }
    TStyleMarks marks;
    ParseDeclarations(body, marks);
    if (!marks.Any()) continue;
    while (!selectors.empty()) {
      const std::size_t comma = selectors.find(',');
      const std::string_view name = SelectorClass(selectors.substr(0, comma));
      if (!name.empty()) Rules[std::string(name)].Merge(marks);
      if (comma == std::string_view::npos) break;
      selectors.remove_prefix(comma + 1);
    }
  }
}

void TClassRules::Collect(TidyDoc doc) {
  Rules.clear();
  TTidyBuffer owned;
  TidyBuffer& value = owned.Buffer;
  // Style elements stand in the head, or near the top of the body.
  std::vector<TidyNode> parents;
  if (TidyNode head = tidyGetHead(doc)) parents.push_back(head);
  if (TidyNode body = tidyGetBody(doc)) parents.push_back(body);
  for (TidyNode parent : parents)
    for (TidyNode child = tidyGetChild(parent); child; child = tidyGetNext(child)) {
      if (tidyNodeGetId(child) != TidyTag_STYLE) continue;
      for (TidyNode text = tidyGetChild(child); text; text = tidyGetNext(text)) {
        if (tidyNodeGetType(text) != TidyNode_Text && tidyNodeGetType(text) != TidyNode_CDATA)
          continue;
        tidyNodeGetValue(doc, text, &value);
        ParseSheet(std::string_view(reinterpret_cast<const char*>(value.bp), value.size));
      }
    }
}

void TClassRules::Apply(std::string_view classes, TStyleMarks& marks) const {
  while (!classes.empty()) {
    while (!classes.empty() && IsSpace(classes.front()))
      classes.remove_prefix(1);
    std::size_t end = 0;
    while (end < classes.size() && !IsSpace(classes[end]))
      ++end;
    if (end == 0) break;
    if (const auto found = Rules.find(std::string(classes.substr(0, end))); found != Rules.end())
      marks.Merge(found->second);
    classes.remove_prefix(end);
  }
}

} // namespace tamsel::detail
