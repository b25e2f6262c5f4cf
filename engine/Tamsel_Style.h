// SPDX-License-Identifier: GPL-2.0-or-later
// Formatting given by CSS: an element's style attribute and the class rules
// of the document's own style sheets, as browsers, word processors and
// Google Docs put them on the clipboard.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include <tidy/tidy.h>

namespace tamsel::detail {

struct TStyleMarks {
  // 1 when the CSS turns the formatting on, -1 when it turns it off
  // ("font-weight: normal" on a b), 0 when it says nothing.
  std::int8_t Bold = 0;
  std::int8_t Italic = 0;
  std::int8_t Mono = 0;
  std::int8_t Underline = 0;
  std::int8_t Strike = 0;
  // Shown as a box of its own (display: block, a float): set apart from its
  // neighbours, as links one below the other or a list label floated
  // beside its text.
  std::int8_t Apart = 0;

  bool Any() const { return Bold || Italic || Mono || Underline || Strike || Apart; }
  // What other says overrides what this says.
  void Merge(const TStyleMarks& other);
};

// Reads the declarations of a style attribute or rule body.
void ParseDeclarations(std::string_view css, TStyleMarks& marks);

// Rules of the form ".name" or "element.name" (and lists of them) from the
// document's style elements; other selectors are left alone.
class TClassRules {
public:
  void Collect(TidyDoc doc);
  bool Empty() const { return Rules.empty(); }
  // Adds the rules of every class in the class attribute's value.
  void Apply(std::string_view classes, TStyleMarks& marks) const;
  void Clear() { Rules.clear(); }

private:
  void ParseSheet(std::string_view sheet);
  std::unordered_map<std::string, TStyleMarks> Rules;
};

} // namespace tamsel::detail
