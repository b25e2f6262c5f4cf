// SPDX-License-Identifier: GPL-2.0-or-later
#include "Cli_Chrome.h"
#include "Tamsel_Ascii.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <unordered_set>

namespace tamsel::cli {

namespace {

// A survey records blocks up to this much text: chrome is short beside the
// pages it frames, and longer blocks would cost memory on every level.
constexpr std::uint32_t kMostChromeText = 4000;
// Pairs of words a survey holds for blocks first seen (some 50 MB): a site of
// thousands of pages has as many section ids, each a block of its own.
constexpr std::uint64_t kMostPairs = std::uint64_t{1} << 20;
// A page whose content would hold less than 1/kSliver of its text converts
// whole.
constexpr std::uint32_t kSliver = 20;
// Text a generated table of contents' container may hold besides it ("Table
// of Contents", "Contents").
constexpr std::uint32_t kTocLabel = 40;

std::uint64_t Mix(std::uint64_t seed, std::string_view text) {
  std::uint64_t h = seed ^ 0x9E3779B97F4A7C15ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001B3ull;
  }
  return h ^ (h >> 29);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::uint32_t Visible(std::string_view text) {
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsSpace(text[i])) continue;
    // A no-break space (U+00A0) is white space too.
    if (static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
        static_cast<unsigned char>(text[i + 1]) == 0xA0) {
      ++i;
      continue;
    }
    ++n;
  }
  return n;
}

bool HasWord(std::string_view list, std::string_view word) {
  std::size_t pos = 0;
  while (pos < list.size()) {
    while (pos < list.size() && IsSpace(list[pos]))
      ++pos;
    std::size_t end = pos;
    while (end < list.size() && !IsSpace(list[end]))
      ++end;
    if (list.substr(pos, end - pos) == word) return true;
    pos = end;
  }
  return false;
}

bool IsHeadingTag(std::string_view tag) {
  return tag.size() == 2 && tag[0] == 'h' && tag[1] >= '1' && tag[1] <= '6';
}

// Blocks a survey records and chrome may be made of.
bool IsBlockTag(std::string_view tag) {
  static const std::unordered_set<std::string_view> blocks{
      "div", "nav", "header", "footer", "aside",   "section", "table",   "ul", "ol",
      "dl",  "p",   "form",   "center", "address", "menu",    "details", "hr", "noscript"};
  return blocks.count(tag) != 0;
}

bool IsLandmarkRole(std::string_view role) {
  for (std::string_view r : {"navigation", "banner", "contentinfo", "search", "complementary"})
    if (HasWord(role, r)) return true;
  return false;
}

// Names that sites give their frames.
bool HasChromeName(const TOutlineNode& node) {
  std::string names;
  for (std::string_view attr : {"class", "id", "summary", "role"}) {
    names += LowerAscii(node.Attribute(attr));
    names += ' ';
  }
  // At the start or end of a word of the names: "topNav", "navheader",
  // "sphinxsidebar", not "unavailable".
  std::size_t pos = 0;
  while (pos < names.size()) {
    while (pos < names.size() && !std::isalnum(static_cast<unsigned char>(names[pos])))
      ++pos;
    std::size_t end = pos;
    while (end < names.size() && std::isalnum(static_cast<unsigned char>(names[end])))
      ++end;
    const std::string_view word = std::string_view(names).substr(pos, end - pos);
    for (std::string_view hint : {"nav", "menu", "header", "footer", "sidebar", "breadcrumb",
                                  "breadcrumbs", "related", "banner", "toolbar", "navigation"})
      if (word.starts_with(hint) || word.ends_with(hint)) return true;
    pos = end;
  }
  return false;
}

// A link's visible text that only marks a permalink.
bool IsPermalinkText(std::string_view text) {
  std::string t;
  for (char c : text)
    if (!IsSpace(c)) t += c;
  return t == "\xC2\xB6" || t == "#" || t == "\xC2\xA7" || t == "\xF0\x9F\x94\x97" ||
         t == "\xE2\x9A\x93";
}

std::string Describe(const TOutlineNode& node) {
  std::string d = node.Tag;
  const std::string_view id = node.Attribute("id");
  if (!id.empty()) d += "#" + std::string(id.substr(0, 40));
  const std::string_view cls = node.Attribute("class");
  std::size_t pos = 0;
  while (pos < cls.size() && IsSpace(cls[pos]))
    ++pos;
  std::size_t end = pos;
  while (end < cls.size() && !IsSpace(cls[end]))
    ++end;
  if (end > pos) d += "." + std::string(cls.substr(pos, std::min<std::size_t>(end - pos, 40)));
  const std::string_view role = node.Attribute("role");
  if (!role.empty()) d += "[role=" + std::string(role.substr(0, 20)) + "]";
  return d;
}

} // namespace

// ---------------------------------------------------------------------------
// Selectors

namespace {

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

} // namespace

bool TSelector::Parse(std::string_view text, std::string& error) {
  Groups.clear();
  Source = std::string(text);
  std::size_t pos = 0;
  const auto name = [&]() {
    const std::size_t start = pos;
    while (pos < text.size() && IsNameChar(text[pos]))
      ++pos;
    return std::string(text.substr(start, pos - start));
  };
  const auto fail = [&](const std::string& why) {
    error = "--content '" + std::string(text) + "': " + why + " at character " +
            std::to_string(pos + 1) +
            " (known: tag, #id, .class, [attr], [attr=value], descendants and ',')";
    Groups.clear();
    return false;
  };
  TComplex complex;
  while (true) {
    while (pos < text.size() && IsSpace(text[pos]))
      ++pos;
    if (pos == text.size() || text[pos] == ',') {
      if (complex.empty()) return fail("a selector is missing");
      Groups.push_back(std::move(complex));
      complex.clear();
      if (pos == text.size()) break;
      ++pos;
      continue;
    }
    TCompound compound;
    bool any = false;
    if (text[pos] == '*') {
      ++pos;
      any = true;
    } else if (IsNameChar(text[pos])) {
      compound.Tag = LowerAscii(name());
      any = true;
    }
    while (pos < text.size() && !IsSpace(text[pos]) && text[pos] != ',') {
      const char c = text[pos++];
      if (c == '#' || c == '.') {
        std::string n = name();
        if (n.empty()) return fail("a name is missing");
        (c == '#' ? compound.Ids : compound.Classes).push_back(std::move(n));
      } else if (c == '[') {
        std::string attr = LowerAscii(name());
        if (attr.empty()) return fail("an attribute name is missing");
        std::string value;
        bool hasValue = false;
        if (pos < text.size() && text[pos] == '=') {
          ++pos;
          hasValue = true;
          if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'')) {
            const char quote = text[pos++];
            const std::size_t close = text.find(quote, pos);
            if (close == std::string_view::npos) return fail("a quotation mark is not closed");
            value = std::string(text.substr(pos, close - pos));
            pos = close + 1;
          } else {
            value = name();
          }
        }
        if (pos >= text.size() || text[pos] != ']') return fail("']' is missing");
        ++pos;
        compound.Attributes.emplace_back(std::move(attr), std::move(value));
        compound.HasValue.push_back(hasValue);
      } else {
        --pos;
        return fail(std::string("'") + c + "' is not understood");
      }
      any = true;
    }
    if (!any) return fail("a selector is missing");
    complex.push_back(std::move(compound));
  }
  return true;
}

bool TSelector::MatchesCompound(const TOutlineNode& node, const TCompound& compound) {
  if (node.Tag.empty()) return false;
  if (!compound.Tag.empty() && node.Tag != compound.Tag) return false;
  for (const std::string& id : compound.Ids)
    if (node.Attribute("id") != id) return false;
  for (const std::string& cls : compound.Classes)
    if (!HasWord(node.Attribute("class"), cls)) return false;
  for (std::size_t i = 0; i < compound.Attributes.size(); ++i) {
    const auto& [attr, value] = compound.Attributes[i];
    bool found = false;
    for (const auto& [key, v] : node.Attributes)
      if (key == attr && (!compound.HasValue[i] || v == value)) found = true;
    if (!found) return false;
  }
  return true;
}

bool TSelector::Matches(const TOutline& outline, std::uint32_t node,
                        const TComplex& complex) const {
  if (!MatchesCompound(outline[node], complex.back())) return false;
  // Descendants only: the nearest ancestor that matches is as good as any.
  std::size_t want = complex.size() - 1;
  for (std::uint32_t up = node; want > 0 && up != 0;) {
    up = outline[up].Parent;
    if (MatchesCompound(outline[up], complex[want - 1])) --want;
  }
  return want == 0;
}

std::vector<std::uint32_t> TSelector::Match(const TOutline& outline) const {
  std::vector<std::uint32_t> found;
  for (std::uint32_t i = 0; i < outline.size();) {
    bool hit = false;
    for (const TComplex& complex : Groups)
      hit = hit || Matches(outline, i, complex);
    if (hit) {
      found.push_back(i);
      i = std::max(outline[i].End, i + 1);
    } else {
      ++i;
    }
  }
  return found;
}

// ---------------------------------------------------------------------------
// The page as chrome finding sees it

struct TChromeFinder::TView {
  const TOutline& Outline;
  std::vector<std::uint32_t> Text;  // visible characters below, without generated ones
  std::vector<std::uint32_t> Links; // of them, inside links
  std::vector<std::uint64_t> Key;   // where the element stands in the page
  // Generated for the page: a table of contents, an edit link, a permalink.
  std::vector<std::uint8_t> Generated;
  // The heading an own link leads to under its title (0: none), and the
  // page's headings in order.
  std::vector<std::uint32_t> TargetOf;
  std::vector<std::uint32_t> Headings;
  std::uint32_t GeneratedCount = 0;

  TView(const TOutline& outline, std::string_view pagePath) : Outline(outline) {
    const std::size_t n = outline.size();
    Text.assign(n, 0);
    Links.assign(n, 0);
    Key.assign(n, 0);
    Generated.assign(n, 0);
    std::vector<std::uint64_t> base(n, 0);
    std::vector<std::uint8_t> inLink(n, 0), inHeading(n, 0);
    std::vector<std::uint32_t> allLinks(n, 0), ownLinks(n, 0), headingAt(n, 0);
    std::unordered_map<std::string_view, std::uint32_t> headingOf;     // id -> its heading
    std::vector<std::pair<std::uint32_t, std::string_view>> fragments; // own links
    std::string_view page = pagePath.substr(pagePath.rfind('/') + 1);
    for (std::size_t i = 1; i < n; ++i) {
      const TOutlineNode& node = outline[i];
      const std::uint32_t p = node.Parent;
      inLink[i] = inLink[p];
      inHeading[i] = inHeading[p];
      headingAt[i] = headingAt[p];
      if (node.Tag.empty()) continue;
      if (IsHeadingTag(node.Tag)) headingAt[i] = static_cast<std::uint32_t>(i);
      // The heading an id stands for: the one it is in, else the first one
      // inside or just after it (a section, an empty anchor before a title).
      std::string_view name = node.Attribute("id");
      if (name.empty() && node.Tag == "a") name = node.Attribute("name");
      if (!name.empty() && !headingOf.count(name)) {
        std::uint32_t heading = headingAt[i];
        for (std::size_t j = i + 1; heading == 0 && j < std::min(n, i + 64); ++j)
          if (IsHeadingTag(outline[j].Tag)) heading = static_cast<std::uint32_t>(j);
        if (heading) headingOf.emplace(name, heading);
      }
      // A named element by its name, wherever it stands (texinfo's header
      // sits in a chapter on one page, in a section on the next); another
      // by its place below named ones. Ids of sections differ from page to
      // page, those of a site's frame do not.
      std::string cls;
      for (char c : node.Attribute("class"))
        cls += IsSpace(c) ? '.' : c;
      const std::string_view id = node.Attribute("id");
      base[i] = Mix(base[p], node.Tag + "." + cls);
      Key[i] = cls.empty() && id.empty() ? base[i] : Mix(Mix(7, node.Tag + "." + cls), id);
      if (IsHeadingTag(node.Tag) || node.Tag == "dt") inHeading[i] = 1;
      if (node.Tag == "a" && !node.Attribute("href").empty()) {
        inLink[i] = 1;
        const std::string_view href = node.Attribute("href");
        const std::size_t hash = href.find('#');
        if (hash != std::string_view::npos && hash + 1 < href.size()) {
          std::string_view file = href.substr(0, hash);
          if (file.starts_with("./")) file.remove_prefix(2);
          if (file.empty() || file == page) {
            ownLinks[i] = 1;
            fragments.emplace_back(static_cast<std::uint32_t>(i), href.substr(hash + 1));
          }
        }
        allLinks[i] = 1;
      }
    }
    // A table of contents names each section as its heading does ("1
    // Geografie" for "Geografie", "Arrays" for "2.3.5 Arrays"); a link of
    // the text to a section under another name is the text's own.
    std::vector<std::uint32_t> titled(n, 0);
    TargetOf.assign(n, 0);
    for (std::size_t i = 1; i < n; ++i)
      if (IsHeadingTag(outline[i].Tag)) Headings.push_back(static_cast<std::uint32_t>(i));
    for (const auto& [link, fragment] : fragments) {
      const auto heading = headingOf.find(fragment);
      if (heading == headingOf.end()) continue;
      const std::string a = Letters(link), h = Letters(heading->second);
      if (!a.empty() && !h.empty() &&
          (a.find(h) != std::string::npos || h.find(a) != std::string::npos))
        titled[link] = 1, TargetOf[link] = heading->second;
    }
    for (std::size_t i = n; i-- > 1;) {
      const TOutlineNode& node = outline[i];
      if (node.Tag.empty()) {
        Text[i] = Visible(node.Text);
        if (inLink[i]) Links[i] = Text[i];
      } else if (IsGenerated(i, inHeading[i], allLinks[i], titled[i])) {
        Generated[i] = 1;
      }
      if (Generated[i]) {
        ++GeneratedCount;
        continue;
      }
      const std::uint32_t p = node.Parent;
      Text[p] += Text[i];
      Links[p] += Links[i];
      allLinks[p] += allLinks[i];
      ownLinks[p] += ownLinks[i];
      titled[p] += titled[i];
    }
    // A table of contents' container goes with it when it holds little else.
    for (std::size_t i = n; i-- > 1;) {
      if (!Generated[i] || !IsListTag(outline[i].Tag)) continue;
      std::uint32_t top = static_cast<std::uint32_t>(i);
      bool labelled = false;
      for (int level = 0; level < 2; ++level) {
        const std::uint32_t p = outline[top].Parent;
        const std::string& tag = outline[p].Tag;
        if (p == 0 || (tag != "div" && tag != "nav" && tag != "section") || Text[p] > kTocLabel)
          break;
        // One heading may label the list ("Contents"); the page's title
        // stays.
        std::string heading;
        for (std::uint32_t j = p + 1; j < outline[p].End; j = j == top ? outline[top].End : j + 1)
          if (j != top && IsHeadingTag(outline[j].Tag)) heading = outline[j].Tag;
        if (!heading.empty() && (labelled || heading == "h1")) break;
        labelled = labelled || !heading.empty();
        top = p;
      }
      if (top != i) Generated[top] = 1;
    }
  }

  // Whether the list's links lead to the sections between its first and
  // last, as a table of contents lists them: "uses == in: assert.equal(),
  // assert.notEqual()" names a few of many.
  bool CoversSections(std::size_t i) const {
    std::vector<std::uint32_t> targets;
    char deepest = '1';
    for (std::size_t j = i + 1; j < Outline[i].End; ++j)
      if (TargetOf[j]) {
        targets.push_back(TargetOf[j]);
        deepest = std::max(deepest, Outline[TargetOf[j]].Tag[1]);
      }
    if (targets.empty()) return false;
    const auto [low, high] = std::minmax_element(targets.begin(), targets.end());
    const auto from = std::lower_bound(Headings.begin(), Headings.end(), *low);
    const auto to = std::upper_bound(Headings.begin(), Headings.end(), *high);
    std::size_t between = 0;
    for (auto h = from; h != to; ++h)
      between += Outline[*h].Tag[1] <= deepest;
    std::sort(targets.begin(), targets.end());
    const auto distinct =
        static_cast<std::size_t>(std::unique(targets.begin(), targets.end()) - targets.begin());
    return distinct * 5 >= between * 4;
  }

  // The letters and digits below entry i, in lower case.
  std::string Letters(std::uint32_t i) const {
    std::string out;
    for (std::uint32_t j = i; j < Outline[i].End && out.size() < 400; ++j) {
      if (HasWord(Outline[j].Attribute("class"), "mw-editsection")) {
        j = Outline[j].End - 1;
        continue;
      }
      const std::string& text = Outline[j].Text;
      for (std::size_t k = 0; k < text.size(); ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (c == 0xC2 && k + 1 < text.size() && static_cast<unsigned char>(text[k + 1]) == 0xA0)
          ++k; // a no-break space ("2.1.&nbsp;What" in DocBook's titles)
        else if (std::isalnum(c) || c >= 0x80)
          out += LowerAscii(static_cast<char>(c));
      }
    }
    return out;
  }

  static bool IsListTag(std::string_view tag) { return tag == "ul" || tag == "ol" || tag == "dl"; }

  bool IsGenerated(std::size_t i, bool inHeading, std::uint32_t links, std::uint32_t own) const {
    const TOutlineNode& node = Outline[i];
    if (HasWord(node.Attribute("class"), "mw-editsection")) return true;
    if (node.Tag == "a" && inHeading && node.Attribute("href").starts_with("#")) {
      std::string text;
      for (std::uint32_t j = static_cast<std::uint32_t>(i) + 1; j < node.End; ++j)
        text += Outline[j].Text;
      return IsPermalinkText(text) ||
             (HasWord(node.Attribute("class"), "headerlink") && Visible(text) < 4);
    }
    // Links to the page's own sections under their titles and nothing
    // else: an item of a parameter list that links its type ("Type:
    // <WritableStream>") is content. One entry makes a table of contents only
    // where its container says it is one (npm's pages with a single section).
    if (!IsListTag(node.Tag) || links == 0 || own * 5 < links * 4 || Links[i] * 10 < Text[i] * 9)
      return false;
    std::uint32_t items = 0;
    for (std::size_t c = i + 1; c < node.End; c = Outline[c].End)
      items += Outline[c].Tag == "li" || Outline[c].Tag == "dt";
    if (links >= 2 && items >= 2) return CoversSections(i);
    const TOutlineNode& parent = Outline[node.Parent];
    const std::string names =
        LowerAscii(parent.Attribute("id")) + " " + LowerAscii(parent.Attribute("class"));
    return names.find("toc") != std::string::npos || names.find("contents") != std::string::npos;
  }

  // Calls f for every word below entry i, generated parts left out.
  template <class F> void ForWords(std::uint32_t i, F&& f) const {
    for (std::uint32_t j = i; j < Outline[i].End;) {
      if (Generated[j] && j != i && !Generated[i]) {
        j = Outline[j].End;
        continue;
      }
      std::string_view text = Outline[j].Text;
      std::size_t pos = 0;
      while (pos < text.size()) {
        while (pos < text.size() && IsSpace(text[pos]))
          ++pos;
        std::size_t end = pos;
        while (end < text.size() && !IsSpace(text[end]))
          ++end;
        if (end > pos) f(text.substr(pos, end - pos));
        pos = end;
      }
      ++j;
    }
  }

  // Calls f with every pair of neighbouring words below entry i (the word
  // itself when it stands alone): single words like "the" stand on every
  // page, pairs of a paragraph's words seldom do.
  template <class F> void ForPairs(std::uint32_t i, F&& f) const {
    std::string_view previous;
    bool paired = false;
    ForWords(i, [&](std::string_view word) {
      if (!previous.empty()) {
        f(Mix(Mix(3, previous), word));
        paired = true;
      }
      previous = word;
    });
    if (!paired && !previous.empty()) f(Mix(3, previous));
  }

  // The element's shape: its elements' kinds and nesting, without the text.
  std::uint64_t Shape(std::uint32_t i) const {
    std::uint64_t h = 5;
    for (std::uint32_t j = i; j < Outline[i].End; ++j)
      if (!Outline[j].Tag.empty())
        h = Mix(h, Outline[j].Tag + "/" + std::to_string(Outline[j].End - j));
    return h;
  }

  std::uint64_t TitleKey(std::uint32_t i) const {
    std::uint64_t h = 1;
    ForWords(i, [&](std::string_view word) { h = Mix(h, word); });
    return h;
  }

  std::string FirstWords(std::uint32_t i) const {
    std::string words;
    int count = 0;
    ForWords(i, [&](std::string_view word) {
      if (count++ >= 8) return;
      if (!words.empty()) words += ' ';
      words += word.substr(0, 40);
    });
    if (count > 8) words += " ...";
    return words;
  }

  bool Recorded(std::uint32_t i) const {
    const TOutlineNode& node = Outline[i];
    return !node.Tag.empty() && IsBlockTag(node.Tag) && Text[i] > 0 && Text[i] <= kMostChromeText;
  }
};

TChromeFinder::TChromeFinder(bool site, bool keepChrome, TSelector selector)
    : Site(site), KeepChrome(keepChrome), Selector(std::move(selector)) {}

TChromeFinder::~TChromeFinder() = default;

void TChromeFinder::Survey(const TOutline& outline, std::string_view pagePath) {
  if (outline.empty()) return;
  const TView view(outline, pagePath);
  struct TSeen {
    std::unordered_set<std::uint64_t> Pairs, Shapes;
    std::uint32_t Count = 0;
  };
  std::unordered_map<std::uint64_t, TSeen> words;
  std::unordered_set<std::uint64_t> titles;
  for (std::uint32_t i = 1; i < outline.size(); ++i) {
    if (IsHeadingTag(outline[i].Tag)) titles.insert(view.TitleKey(i));
    if (!view.Recorded(i)) continue;
    TSeen& seen = words[view.Key[i]];
    // A frame stands at most three times on a page; the words of a block
    // that stands more often (a paragraph) are never asked for.
    if (++seen.Count > 3) continue;
    seen.Shapes.insert(view.Shape(i));
    view.ForPairs(i, [&](std::uint64_t pair) { seen.Pairs.insert(pair); });
  }
  std::lock_guard guard(Lock);
  ++Pages;
  for (std::uint64_t title : titles)
    ++Headings[title];
  for (const auto& [key, seen] : words) {
    TKeyStats& stats = Keys[key];
    ++stats.Pages;
    stats.Instances += seen.Count;
    // Past the bound only blocks already held learn more: a frame stands on
    // the first pages already, and a block without its words is not taken
    // for one by them.
    if (!stats.Many && stats.Pages >= 10 && stats.Instances > 3ull * stats.Pages) {
      stats.Many = true;
      Entries -= stats.Tokens.size();
      stats.Tokens = {};
    }
    if (!stats.Many && (Entries < kMostPairs || !stats.Tokens.empty())) {
      const std::size_t before = stats.Tokens.size();
      for (std::uint64_t pair : seen.Pairs)
        ++stats.Tokens[pair];
      Entries += stats.Tokens.size() - before;
    }
    for (std::uint64_t shape : seen.Shapes)
      ++stats.Shapes[shape];
  }
}

TRegion TChromeFinder::Choose(const TOutline& outline, std::string_view pagePath,
                              TChromeReport& report) const {
  TRegion region;
  if (outline.empty()) return region;
  if (!Selector.Empty()) {
    region.Content = Selector.Match(outline);
    if (region.Content.empty()) {
      report.Whole = "--content '" + Selector.Text() + "' matches nothing; converted whole";
      return region;
    }
    if (!Site || KeepChrome) return region;
  }
  if (!Site || KeepChrome) return region;

  const TView view(outline, pagePath);
  const std::uint32_t total = view.Text[0];
  const bool surveyed = Pages >= 3;
  // Which elements hold a heading of the page's own, one that most pages
  // do not share.
  std::vector<std::uint8_t> ownHeading(outline.size(), 0);
  for (std::size_t j = outline.size(); j-- > 1;) {
    if (view.Generated[j]) continue;
    if (IsHeadingTag(outline[j].Tag) && view.Text[j] > 0) {
      const auto found =
          surveyed ? Headings.find(view.TitleKey(static_cast<std::uint32_t>(j))) : Headings.end();
      if (found == Headings.end() || found->second * 2 < Pages) ownHeading[j] = 1;
    }
    ownHeading[outline[j].Parent] |= ownHeading[j];
  }
  // Whether a sibling of element i holds one: i stands in the page's text.
  const auto besideOwnHeading = [&](std::uint32_t i) {
    const std::uint32_t parent = outline[i].Parent;
    for (std::uint32_t c = parent + 1; c < outline[parent].End; c = outline[c].End)
      if (c != i && ownHeading[c]) return true;
    return false;
  };
  // Inside content the page names (main, an article, --content) only the
  // landmarks and generated parts are chrome.
  bool namedContent = false;
  // The share of an element's words that stand in the same place on most
  // pages; negative when the element is not a block of the site's frame.
  const auto commonShare = [&](std::uint32_t i, bool& sameShape) -> double {
    sameShape = false;
    if (!surveyed || !view.Recorded(i)) return -1;
    const auto found = Keys.find(view.Key[i]);
    if (found == Keys.end() || found->second.Pages * 2 < Pages) return -1;
    const TKeyStats& stats = found->second;
    // A frame stands once or twice on a page (a bar above and below), the
    // paragraphs of a text many times.
    if (stats.Many || stats.Instances > 3ull * stats.Pages) return -1;
    const auto shape = stats.Shapes.find(view.Shape(i));
    sameShape = shape != stats.Shapes.end() && shape->second * 2 >= Pages;
    std::uint32_t words = 0, common = 0;
    view.ForPairs(i, [&](std::uint64_t pair) {
      ++words;
      const auto df = stats.Tokens.find(pair);
      if (df != stats.Tokens.end() && df->second >= 2 && df->second * 2 >= stats.Pages) ++common;
    });
    return words ? static_cast<double>(common) / words : -1;
  };
  // Why element i is chrome, or empty.
  const auto chrome = [&](std::uint32_t i, const std::vector<std::uint32_t>& open) -> std::string {
    const TOutlineNode& node = outline[i];
    if (node.Tag.empty() || view.Text[i] == 0) return {};
    // MediaWiki's footer for print ("Retrieved from") stands inside its text.
    bool landmark = node.Tag == "nav" || IsLandmarkRole(node.Attribute("role")) ||
                    HasWord(node.Attribute("class"), "printfooter");
    if (!landmark && (node.Tag == "header" || node.Tag == "footer" || node.Tag == "aside")) {
      // Of the page, not of an article or a section.
      landmark = true;
      for (std::uint32_t up : open) {
        const std::string& tag = outline[up].Tag;
        if (tag == "article" || tag == "section" || tag == "aside" || tag == "nav")
          landmark = false;
      }
    }
    bool sameShape = false;
    const double share = commonShare(i, sameShape);
    bool repeated = false;
    if (share >= 0 && !namedContent) {
      // A frame's name, with its text or shape alike on most pages, or its
      // links where the text differs (a "Next:" that names the next page);
      // without a name, nearly the same text away from the page's own.
      const double links = static_cast<double>(view.Links[i]) / view.Text[i];
      const bool alike = share >= 0.25 || sameShape;
      if (HasChromeName(node))
        repeated = share >= 0.6 || alike || links >= 0.5;
      else
        repeated = (share >= 0.6 || (links >= 0.8 && alike)) && !besideOwnHeading(i);
    }
    if (!landmark && !repeated) return {};
    if (ownHeading[i]) return {};
    if (view.Text[i] * 2 > total && share < 0.6) return {};
    return landmark ? "landmark" : "repeated";
  };

  if (region.Content.empty()) {
    // MediaWiki's article is its title and the parser's text: every skin
    // puts its tagline, jump links, categories box and a redirect's note
    // beside them, inside the element it marks as main.
    static const TSelector article = [] {
      TSelector selector;
      std::string error;
      selector.Parse("h1#firstHeading, #mw-content-text", error);
      return selector;
    }();
    std::vector<std::uint32_t> found = article.Match(outline);
    if (std::any_of(found.begin(), found.end(), [&](std::uint32_t i) {
          return outline[i].Attribute("id") == "mw-content-text";
        }))
      region.Content = std::move(found);
  }
  if (region.Content.empty()) {
    for (std::uint32_t i = 1; i < outline.size(); ++i) {
      const TOutlineNode& node = outline[i];
      if (node.Tag == "main" || HasWord(node.Attribute("role"), "main")) {
        region.Content.push_back(i);
        i = outline[i].End - 1;
      }
    }
    if (region.Content.empty()) {
      std::vector<std::uint32_t> articles;
      for (std::uint32_t i = 1; i < outline.size(); ++i)
        if (outline[i].Tag == "article") articles.push_back(i);
      if (articles.size() == 1) region.Content = articles;
    }
  }
  namedContent = !region.Content.empty();
  std::vector<std::uint32_t> roots = region.Content;
  if (roots.empty()) roots.push_back(0);
  std::uint32_t kept = 0;
  std::uint32_t generated = 0;
  std::vector<std::string> lines;
  for (std::uint32_t root : roots) {
    kept += view.Text[root];
    std::vector<std::uint32_t> open;
    for (std::uint32_t up = root; up != 0;) {
      up = outline[up].Parent;
      open.push_back(up);
    }
    const std::size_t outside = open.size();
    for (std::uint32_t i = root + 1; i < outline[root].End;) {
      while (open.size() > outside && outline[open.back()].End <= i)
        open.pop_back();
      if (view.Generated[i]) {
        region.LeaveOut.push_back(i);
        if (TView::IsListTag(outline[i].Tag) || outline[i].Tag == "div" ||
            outline[i].Tag == "nav" || outline[i].Tag == "section")
          lines.push_back(Describe(outline[i]) + " (table of contents): " + view.FirstWords(i));
        else
          ++generated;
        i = outline[i].End;
        continue;
      }
      const std::string why = chrome(i, open);
      if (!why.empty()) {
        region.LeaveOut.push_back(i);
        kept -= view.Text[i];
        lines.push_back(Describe(outline[i]) + ": " + view.FirstWords(i));
        i = outline[i].End;
        continue;
      }
      if (!outline[i].Tag.empty()) open.push_back(i);
      ++i;
    }
  }
  if (total > 0 && kept * kSliver < total) {
    report.Whole = "the content found holds " + std::to_string(kept * 100 / total) +
                   "% of the page's text; converted whole";
    return {};
  }
  // Outside the content, what goes is said once.
  if (!region.Content.empty() && total > kept) {
    std::uint32_t inside = 0;
    for (std::uint32_t root : region.Content)
      inside += view.Text[root];
    if (total > inside)
      lines.insert(lines.begin(),
                   "everything around " + Describe(outline[region.Content[0]]) +
                       (region.Content.size() > 1
                            ? " and " + std::to_string(region.Content.size() - 1) + " more"
                            : std::string()) +
                       " (" + std::to_string(total - inside) + " characters)");
  }
  if (generated) lines.push_back(std::to_string(generated) + " edit links and heading permalinks");
  report.LeftOut = std::move(lines);
  return region;
}

} // namespace tamsel::cli
