// SPDX-License-Identifier: GPL-2.0-or-later
// DokuWiki's ids and section anchors; where an HTML document's anchors land.
#include "Tamsel_Anchor.h"
#include "Tamsel.h"
#include "Tamsel_Heap.h"
#include "Tamsel_Internal.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace tamsel {

namespace {

struct TCodePointPair {
  char32_t From;
  char32_t To;
};
struct TCodePointText {
  char32_t From;
  const char* To;
};
struct TCodePointLong {
  char32_t From;
  char32_t To[3]; // ends early with 0
};
struct TCodePointDecomposition {
  char32_t From;
  char32_t First;
  char32_t Second; // 0: a single character
};
struct TCodePointComposition {
  char32_t First;
  char32_t Second;
  char32_t To;
};
struct TCodePointClass {
  char32_t From;
  std::uint8_t Class;
};

#include "Tamsel_AnchorTables.inc"

constexpr char kSeparator = '_';

char32_t LowerCase(char32_t c) {
  auto it = std::lower_bound(std::begin(kLowerCase), std::end(kLowerCase), c,
                             [](const TCodePointPair& p, char32_t v) { return p.From < v; });
  return it != std::end(kLowerCase) && it->From == c ? it->To : c;
}

// Appends c in lower case as PHP's mb_strtolower makes it.
void AppendLowerCase(std::u32string& out, char32_t c) {
  auto it = std::lower_bound(std::begin(kLowerCaseLong), std::end(kLowerCaseLong), c,
                             [](const TCodePointLong& p, char32_t v) { return p.From < v; });
  if (it != std::end(kLowerCaseLong) && it->From == c) {
    for (char32_t to : it->To)
      if (to) out += to;
    return;
  }
  out += LowerCase(c);
}

constexpr char32_t kHangulFirst = 0xAC00, kHangulLast = 0xD7A3;
constexpr char32_t kLeadFirst = 0x1100, kVowelFirst = 0x1161, kTrailFirst = 0x11A7;
constexpr char32_t kVowels = 21, kTrails = 28;

int CombiningClass(char32_t c) {
  if (c < 0x300) return 0;
  auto it = std::lower_bound(std::begin(kCombiningClasses), std::end(kCombiningClasses), c,
                             [](const TCodePointClass& p, char32_t v) { return p.From < v; });
  return it != std::end(kCombiningClasses) && it->From == c ? it->Class : 0;
}

void AppendDecomposed(std::u32string& out, char32_t c) {
  if (c >= kHangulFirst && c <= kHangulLast) {
    const char32_t index = c - kHangulFirst;
    out += kLeadFirst + index / (kVowels * kTrails);
    out += kVowelFirst + index % (kVowels * kTrails) / kTrails;
    if (index % kTrails) out += kTrailFirst + index % kTrails;
    return;
  }
  auto it =
      std::lower_bound(std::begin(kDecompositions), std::end(kDecompositions), c,
                       [](const TCodePointDecomposition& p, char32_t v) { return p.From < v; });
  if (c < 0xC0 || it == std::end(kDecompositions) || it->From != c) {
    out += c;
    return;
  }
  AppendDecomposed(out, it->First);
  if (it->Second) AppendDecomposed(out, it->Second);
}

// The character first and second compose to, or 0.
char32_t Composed(char32_t first, char32_t second) {
  if (first >= kLeadFirst && first < kLeadFirst + 19 && second >= kVowelFirst &&
      second < kVowelFirst + kVowels)
    return kHangulFirst + ((first - kLeadFirst) * kVowels + second - kVowelFirst) * kTrails;
  if (first >= kHangulFirst && first <= kHangulLast && (first - kHangulFirst) % kTrails == 0 &&
      second > kTrailFirst && second < kTrailFirst + kTrails)
    return first + (second - kTrailFirst);
  auto it =
      std::lower_bound(std::begin(kCompositions), std::end(kCompositions), std::pair(first, second),
                       [](const TCodePointComposition& p, std::pair<char32_t, char32_t> v) {
                         return std::pair(p.First, p.Second) < v;
                       });
  return it != std::end(kCompositions) && it->First == first && it->Second == second ? it->To : 0;
}

// Unicode's canonical composition (NFC), as PHP's Normalizer makes it.
std::u32string Nfc(const std::u32string& text) {
  std::u32string decomposed;
  decomposed.reserve(text.size());
  for (char32_t c : text)
    AppendDecomposed(decomposed, c);
  // Combining marks in canonical order: a stable sort of each run by class.
  for (std::size_t i = 0; i < decomposed.size();) {
    if (!CombiningClass(decomposed[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < decomposed.size() && CombiningClass(decomposed[end]))
      ++end;
    std::stable_sort(decomposed.begin() + static_cast<std::ptrdiff_t>(i),
                     decomposed.begin() + static_cast<std::ptrdiff_t>(end),
                     [](char32_t a, char32_t b) { return CombiningClass(a) < CombiningClass(b); });
    i = end;
  }
  std::u32string out;
  out.reserve(decomposed.size());
  std::size_t starter = std::u32string::npos;
  int lastClass = -1; // of the last character kept after the starter
  for (char32_t c : decomposed) {
    const int cls = CombiningClass(c);
    if (starter != std::u32string::npos) {
      // A mark reaches the starter unless one of the same or no class stands between.
      const bool blocked = lastClass != -1 && (lastClass == 0 || lastClass >= cls);
      if (!blocked) {
        if (const char32_t composite = Composed(out[starter], c)) {
          out[starter] = composite;
          continue;
        }
      }
    }
    if (cls == 0) {
      starter = out.size();
      lastClass = -1;
    } else {
      lastClass = cls;
    }
    out += c;
  }
  return out;
}

const char* Deaccent(char32_t c) {
  auto it = std::lower_bound(std::begin(kLowerAccents), std::end(kLowerAccents), c,
                             [](const TCodePointText& p, char32_t v) { return p.From < v; });
  return it != std::end(kLowerAccents) && it->From == c ? it->To : nullptr;
}

bool IsSpecial(char32_t c) {
  return c <= 0x19 || c == '*' || std::binary_search(std::begin(kSpecials), std::end(kSpecials), c);
}

bool IsIdPunct(char c) {
  return c == ':' || c == '.' || c == '_' || c == '-';
}

// PHP's trim() with its default set of characters.
std::string_view TrimPhpSpace(std::string_view s) {
  auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0' || c == '\x0B';
  };
  while (!s.empty() && space(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && space(s.back()))
    s.remove_suffix(1);
  return s;
}

void AppendCleaned(std::string& out, char32_t c) {
  if (IsSpecial(c)) {
    out += kSeparator;
  } else if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    AppendUtf8(out, c);
  }
}

} // namespace

std::string CleanId(std::string_view raw) {
  const std::string_view trimmed = TrimPhpSpace(raw);

  // Lower case as PHP's mbstring makes it, then composed as intl's
  // Normalizer does: a wiki on PHP with both cleans ids this way. Bytes that
  // are no UTF-8 become '?' there, which the specials below turn into the
  // separator.
  std::u32string lower;
  lower.reserve(trimmed.size());
  for (std::size_t pos = 0; pos < trimmed.size();) {
    const std::size_t at = pos;
    const char32_t c = DecodeUtf8(trimmed, pos);
    if (c == 0xFFFD && pos == at + 1)
      lower += U'?';
    else
      AppendLowerCase(lower, c);
  }
  const std::u32string composed = Nfc(lower);

  // ';' and '/', accents and special characters all work on one character
  // at a time and none of them makes a character that an earlier step would
  // have changed, so one pass does them in DokuWiki's order.
  std::string mapped;
  mapped.reserve(trimmed.size());
  for (char32_t c : composed) {
    if (c == ';') c = ':';
    if (c == '/') c = kSeparator;
    if (const char* plain = Deaccent(c)) {
      for (const char* p = plain; *p; ++p)
        AppendCleaned(mapped, static_cast<unsigned char>(*p));
    } else {
      AppendCleaned(mapped, c);
    }
  }

  // Runs of separators and of colons shrink to one.
  std::string id;
  id.reserve(mapped.size());
  for (char c : mapped)
    if (!((c == kSeparator || c == ':') && !id.empty() && id.back() == c)) id += c;

  // No punctuation at either end.
  std::size_t first = 0;
  std::size_t last = id.size();
  while (first < last && IsIdPunct(id[first]))
    ++first;
  while (last > first && IsIdPunct(id[last - 1]))
    --last;
  id = id.substr(first, last - first);

  // No punctuation right after a colon: ":[:._-]+" becomes ":".
  std::string afterColon;
  afterColon.reserve(id.size());
  for (std::size_t i = 0; i < id.size(); ++i) {
    afterColon += id[i];
    if (id[i] == ':')
      while (i + 1 < id.size() && IsIdPunct(id[i + 1]))
        ++i;
  }

  // Nor right before one: "[:._-]+:" becomes ":". A run matches up to its
  // last colon; a run without a colon after its first character stays.
  std::string result;
  result.reserve(afterColon.size());
  for (std::size_t i = 0; i < afterColon.size();) {
    if (!IsIdPunct(afterColon[i])) {
      result += afterColon[i++];
      continue;
    }
    std::size_t end = i;
    std::size_t lastColon = std::string::npos;
    while (end < afterColon.size() && IsIdPunct(afterColon[end])) {
      if (afterColon[end] == ':' && end > i) lastColon = end;
      ++end;
    }
    if (lastColon != std::string::npos) {
      result += ':';
      result.append(afterColon, lastColon + 1, end - lastColon - 1);
    } else {
      result.append(afterColon, i, end - i);
    }
    i = end;
  }
  return result;
}

std::string SectionId(std::string_view title) {
  std::string cleaned;
  for (char c : CleanId(title))
    if (c != ':' && c != '.') cleaned += c;
  const std::size_t start = cleaned.find_first_not_of("0123456789_-");
  if (start != std::string::npos) return cleaned.substr(start);
  std::string digits = "section";
  for (char c : cleaned)
    if (c >= '0' && c <= '9') digits += c;
  return digits;
}

std::string TSectionIds::Next(std::string_view title) {
  // DokuWiki's blank(): empty, or a lone NUL.
  if (title.empty() || title == std::string_view("\0", 1)) return {};
  const std::string base = SectionId(title);
  std::string candidate = base;
  // An anchor once taken stays taken, so the search for a free suffix of a
  // title met again goes on where it stopped last time: a page with
  // thousands of headings costs no more per heading than one with few.
  if (TakenSet.contains(candidate)) {
    unsigned& suffix = NextSuffix[base];
    do
      candidate = base + std::to_string(++suffix);
    while (TakenSet.contains(candidate));
  }
  TakenSet.insert(candidate);
  Ids.push_back(candidate);
  return candidate;
}

namespace {

bool IsMarkCharacter(char32_t c) {
  switch (c) {
  case '#':
  case 0xB6:    // pilcrow
  case 0xA7:    // section sign
  case 0x1F517: // link symbol
  case 0x2693:  // anchor
  case 0xFE0E:  // text and emoji variation selectors
  case 0xFE0F:
    return true;
  default:
    return false;
  }
}

// Adds the text below node to out; false at an image or unseen element.
bool CollectMarkText(TidyDoc doc, TidyNode node, TidyBuffer& value, std::string& out) {
  for (TidyNode child = tidyGetChild(node); child; child = tidyGetNext(child)) {
    if (tidyNodeGetType(child) == TidyNode_Text) {
      tidyBufClear(&value);
      tidyNodeGetValue(doc, child, &value);
      out.append(reinterpret_cast<const char*>(value.bp), value.size);
      if (out.size() > 64) return false;
    } else if (tidyNodeGetId(child) == TidyTag_IMG) {
      return false;
    } else if (!IsUnseen(child) && !CollectMarkText(doc, child, value, out)) {
      return false;
    }
  }
  return true;
}

bool HasVisibleText(TidyDoc doc, TidyNode node, TidyBuffer& value) {
  tidyBufClear(&value);
  tidyNodeGetValue(doc, node, &value);
  for (uint i = 0; i < value.size; ++i)
    if (value.bp[i] > 0x20) return true;
  return false;
}

std::size_t CountWords(const TidyBuffer& text) {
  std::size_t words = 0;
  bool inWord = false;
  for (uint i = 0; i < text.size; ++i) {
    const bool visible = text.bp[i] > 0x20;
    if (visible && !inWord) ++words;
    inWord = visible;
  }
  return words;
}

} // namespace

std::string HeadingTitle(std::string_view line) {
  const auto trim = [](std::string_view s, std::string_view set) {
    const std::size_t first = s.find_first_not_of(set);
    if (first == std::string_view::npos) return std::string_view();
    return s.substr(first, s.find_last_not_of(set) - first + 1);
  };
  constexpr std::string_view kPhpSpace(" \t\n\r\0\x0B", 6);
  return std::string(trim(trim(trim(line, kPhpSpace), "="), kPhpSpace));
}

std::string AttrText(const char* value) {
  std::string out = value ? value : "";
  std::size_t at = out.find("&amp;");
  if (at == std::string::npos) return out;
  std::size_t w = at;
  for (std::size_t r = at; r < out.size();) {
    out[w++] = out[r];
    r += out.compare(r, 5, "&amp;") == 0 ? 5 : 1;
  }
  out.resize(w);
  return out;
}

TIdPlaces FindIdPlaces(TidyDoc doc) {
  TIdPlaces places;
  TidyNode body = tidyGetBody(doc);
  if (!body) return places;
  TTidyBuffer owned;
  TidyBuffer& value = owned.Buffer;

  // Links name an id as the browser reads it: "a_&_b" for id="a_&amp;_b",
  // which MediaWiki writes for a heading "A & B".
  const auto land = [&](const char* name, TIdPlace place) {
    places.Ids.try_emplace(AttrText(name), place);
  };
  // Names with nothing visible after them yet: they stand for the heading
  // that follows, when only navigation comes between (a few words and
  // links: "Next: ..., Up: ...", as texinfo writes).
  struct TPending {
    const char* Name;
    std::size_t Before;
    TidyNode Node;
    std::size_t Depth; // its frame's index on the stack, while it is open
  };
  std::vector<TPending> pending;
  constexpr std::size_t kNavigationWords = 8, kNavigationLinks = 8;
  std::size_t navigationWords = 0, navigationLinks = 0;
  // Text in the names' own block, before any other begins, is what they
  // mark ("x<a name=mid></a>y"): navigation comes in blocks of its own.
  bool sameBlock = false;
  const auto settle = [&](TidyNode next) {
    for (const TPending& p : pending)
      land(p.Name, {nullptr, next, p.Before});
    pending.clear();
  };
  // Names of elements that hold more than a heading's words (a chapter's
  // div with a navigation bar before its title): they land on the first
  // heading inside, or where they began when none comes.
  struct TWaiting {
    const char* Name;
    std::size_t Before;
    std::size_t Depth;
  };
  std::vector<TWaiting> waiting;

  struct TFrame {
    TidyNode Node;
    TidyNode Heading; // inside this heading, or null
    bool Link;        // an a with a target
  };
  std::vector<TFrame> stack;
  TidyNode heading = nullptr;
  std::size_t linkDepth = 0, linkFrame = 0; // the outermost link's frame
  bool linkSeen = false;                    // its text met
  for (TidyNode node = tidyGetChild(body); node;) {
    const TidyNodeType type = tidyNodeGetType(node);
    bool descend = false;
    if (type == TidyNode_Text) {
      // Only names still waiting for something visible need the text.
      if (!pending.empty() && HasVisibleText(doc, node, value)) {
        if (heading) {
          settle(heading);
        } else if (linkDepth == 0) {
          if (sameBlock || (navigationWords += CountWords(value)) > kNavigationWords)
            settle(nullptr);
        } else if (!linkSeen) {
          // A link's text is its own place for the names of elements that
          // hold the link (a footnote mark's <sup> around "[1]"); once a
          // link, whatever its text nodes.
          linkSeen = true;
          std::erase_if(pending, [&](const TPending& p) {
            const bool holds = p.Depth < linkFrame && stack[p.Depth].Node == p.Node;
            if (holds) land(p.Name, {nullptr, nullptr, p.Before});
            return holds;
          });
        }
      }
    } else if (type == TidyNode_Start || type == TidyNode_StartEnd) {
      const TidyTagId id = tidyNodeGetId(node);
      TidyNode inHeading = heading;
      if (!heading && IsHeadingTag(id)) {
        inHeading = node;
        places.Headings.push_back(node);
        for (const TWaiting& w : waiting)
          land(w.Name, {nullptr, node, w.Before});
        waiting.clear();
      }
      const std::size_t before = places.Headings.size() - (inHeading == node ? 1 : 0);
      const auto attr = [&](TidyAttrId which) -> const char* {
        TidyAttr a = tidyAttrGetById(node, which);
        return a ? reinterpret_cast<const char*>(tidyAttrValue(a)) : nullptr;
      };
      for (const char* name :
           {attr(TidyAttr_ID), id == TidyTag_A ? attr(TidyAttr_NAME) : nullptr}) {
        if (!name || !*name) continue;
        if (inHeading) {
          land(name, {inHeading, nullptr, before});
        } else if (type == TidyNode_Start && tidyGetChild(node) && !IsInlineTag(id) &&
                   !IsUnseen(node)) {
          waiting.push_back({name, before, stack.size() + 1});
        } else {
          if (pending.empty()) {
            navigationWords = navigationLinks = 0;
            sameBlock = true;
          }
          pending.push_back({name, before, node, stack.size()});
        }
      }
      if (id == TidyTag_IMG) settle(inHeading);
      if (!IsInlineTag(id)) sameBlock = false;
      const bool link = id == TidyTag_A && attr(TidyAttr_HREF);
      if (link && !pending.empty() && !inHeading && ++navigationLinks > kNavigationLinks)
        settle(nullptr);
      if (type == TidyNode_Start && !IsUnseen(node) && tidyGetChild(node)) {
        stack.push_back({node, heading, link});
        if (link && linkDepth == 0) {
          linkFrame = stack.size() - 1;
          linkSeen = false;
        }
        linkDepth += link;
        heading = inHeading;
        descend = true;
      }
    }
    node = descend ? tidyGetChild(node) : tidyGetNext(node);
    while (!node && !stack.empty()) {
      node = tidyGetNext(stack.back().Node);
      heading = stack.back().Heading;
      linkDepth -= stack.back().Link;
      if (!IsInlineTag(tidyNodeGetId(stack.back().Node))) sameBlock = false;
      stack.pop_back();
      while (!waiting.empty() && waiting.back().Depth > stack.size()) {
        land(waiting.back().Name, {nullptr, nullptr, waiting.back().Before});
        waiting.pop_back();
      }
    }
  }
  for (const TWaiting& w : waiting)
    land(w.Name, {nullptr, nullptr, w.Before});
  settle(nullptr);
  return places;
}

bool IsPermalinkMark(TidyDoc doc, TidyNode link) {
  TTidyBuffer value;
  std::string text;
  const bool collected = CollectMarkText(doc, link, value.Buffer, text);
  if (!collected) return false;
  bool mark = false;
  for (std::size_t pos = 0; pos < text.size();) {
    if (text.compare(pos, 6, "&nbsp;") == 0) {
      pos += 6;
      continue;
    }
    const char32_t c = DecodeUtf8(text, pos);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == 0xA0) continue;
    if (!IsMarkCharacter(c)) return false;
    mark = true;
  }
  return mark;
}

TDocumentAnchors FindAnchors(std::string_view bytes, int encoding) {
  return FindAnchors(bytes, encoding, TOptions{});
}

TDocumentAnchors FindAnchors(std::string_view bytes, int encoding, const TOptions& options) {
  TTamsel converter;
  converter.Options = options;
  converter.Options.ReportAnchors = true;
  converter.ConvertAnsi(bytes, encoding);
  return converter.Anchors();
}

} // namespace tamsel
