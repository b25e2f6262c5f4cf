// SPDX-License-Identifier: GPL-2.0-or-later
// A page's content apart from the site's chrome around it: navigation bars,
// sidebars, headers and footers, generated tables of contents and edit links.
//
// What the HTML says comes first (<main>, role="main", a single <article>;
// <nav>, the page's <header>, <footer> and <aside>, the landmark roles of
// navigation). What the site says comes next: a survey of every page finds
// the elements that stand in the same place with nearly the same text on
// most pages. A block that holds the page's own headings is never chrome, nor
// is one that holds most of its text unless that text is the site's own; and
// a page whose content would be only a sliver of its text converts whole.
#pragma once

#include "Tamsel.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tamsel::cli {

// A small subset of CSS selectors: tag, #id, .class, [attr], [attr=value],
// compounds of them, the descendant combinator and lists with ','.
class TSelector {
public:
  // False with a reason in error when text is not of the subset.
  bool Parse(std::string_view text, std::string& error);
  bool Empty() const { return Groups.empty(); }
  const std::string& Text() const { return Source; }
  // The outline's entries that match, outermost only, in document order.
  std::vector<std::uint32_t> Match(const TOutline& outline) const;

private:
  struct TCompound {
    std::string Tag; // empty: any
    std::vector<std::string> Ids, Classes;
    std::vector<std::pair<std::string, std::string>> Attributes; // value empty with !HasValue
    std::vector<bool> HasValue;
  };
  using TComplex = std::vector<TCompound>; // outermost first
  bool Matches(const TOutline& outline, std::uint32_t node, const TComplex& complex) const;
  static bool MatchesCompound(const TOutlineNode& node, const TCompound& compound);
  std::vector<TComplex> Groups;
  std::string Source;
};

// What was left out of one page, for the messages.
struct TChromeReport {
  std::vector<std::string> LeftOut; // "div.sphinxsidebar: Table of Contents Installing ..."
  std::string Whole;                // why the page converts whole despite the chrome found
};

class TChromeFinder {
public:
  // site: a page of a migrated site (chrome is looked for); keepChrome: only
  // the selector chooses; selector may be empty.
  TChromeFinder(bool site, bool keepChrome, TSelector selector);
  ~TChromeFinder();

  // Whether Survey must see every page before the first Choose.
  bool WantsSurvey() const { return Site && !KeepChrome; }
  // Whether any page may lose anything.
  bool Active() const { return WantsSurvey() || !Selector.Empty(); }
  // Records a page's blocks. Safe on many threads at once.
  void Survey(const TOutline& outline, std::string_view pagePath);
  // The region of a page to convert; report says what goes and why. After
  // every Survey.
  TRegion Choose(const TOutline& outline, std::string_view pagePath, TChromeReport& report) const;

private:
  struct TKeyStats {
    std::uint32_t Pages = 0;
    std::uint64_t Instances = 0; // elements, over all pages
    bool Many = false;           // stands too often on a page to be a frame: no words kept
    std::unordered_map<std::uint64_t, std::uint32_t> Shapes; // pages with the element's shape
    std::unordered_map<std::uint64_t, std::uint32_t> Tokens; // pages with the pair of words there
  };
  struct TView;
  bool Site, KeepChrome;
  TSelector Selector;
  std::mutex Lock;
  std::uint32_t Pages = 0;
  std::uint64_t Entries = 0; // pairs of words held, over all keys
  std::unordered_map<std::uint64_t, TKeyStats> Keys;
  std::unordered_map<std::uint64_t, std::uint32_t> Headings; // pages with the title
};

} // namespace tamsel::cli
