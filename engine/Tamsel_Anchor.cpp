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
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>

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

#include "Tamsel_AnchorTables.inc"

constexpr char kSeparator = '_';

char32_t LowerCase(char32_t c) {
  auto it = std::lower_bound(std::begin(kLowerCase), std::end(kLowerCase), c,
                             [](const TCodePointPair& p, char32_t v) { return p.From < v; });
  return it != std::end(kLowerCase) && it->From == c ? it->To : c;
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

char32_t DecodeUtf8(std::string_view s, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length = 0;
  char32_t c = 0;
  char32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, min = 0x10000;
  }
  if (length == 0 || pos + length > s.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += length;
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    // Runs of ASCII, most of a page, eight bytes at a time.
    while (pos + 8 <= text.size()) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + pos, 8);
      if (word & 0x8080808080808080u) break;
      pos += 8;
    }
    if (pos >= text.size()) break;
    const std::size_t at = pos;
    if (DecodeUtf8(text, pos) == 0xFFFD && pos == at + 1) return false;
  }
  return true;
}

std::string CleanId(std::string_view raw) {
  if (!IsValidUtf8(raw)) return {};
  const std::string_view trimmed = TrimPhpSpace(raw);

  // Lower case, ';' and '/', accents and special characters all work on one
  // character at a time and none of them makes a character that an earlier
  // step would have changed, so one pass does them in DokuWiki's order.
  std::string mapped;
  mapped.reserve(trimmed.size());
  for (std::size_t pos = 0; pos < trimmed.size();) {
    char32_t c = LowerCase(DecodeUtf8(trimmed, pos));
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

// Elements the converter walks as it walks the body, so that a heading
// among their children is written as a heading of its own line. Inline
// elements, and the blocks with their own handler (lists, tables, quotations,
// paragraphs), write a heading inside them as plain text.
bool PassesHeadings(TidyTagId id) {
  switch (id) {
  case TidyTag_BLOCKQUOTE:
  case TidyTag_DL:
  case TidyTag_H1:
  case TidyTag_H2:
  case TidyTag_H3:
  case TidyTag_H4:
  case TidyTag_H5:
  case TidyTag_H6:
  case TidyTag_HR:
  case TidyTag_OL:
  case TidyTag_UL:
  case TidyTag_P:
  case TidyTag_PRE:
  case TidyTag_TABLE:
    return false;
  default:
    return !IsInlineTag(id);
  }
}

// Where headings among an element's children are written as headings: not
// at all (0), by the body's walk (1), or by a list item's walk (2), which
// takes them out of the list and goes through lists, items and the elements
// that only group content (detail::IsGroupingTag).
std::uint8_t PassesHeadings(std::uint8_t walk, TidyTagId id) {
  if (walk == 0) return 0;
  if (id == TidyTag_UL || id == TidyTag_OL || id == TidyTag_DL) return 2;
  if (walk == 1) return PassesHeadings(id) ? 1 : 0;
  return id != TidyTag_DT && detail::IsGroupingTag(id) ? 2 : 0;
}

int HeadingLevel(TidyTagId id) {
  switch (id) {
  case TidyTag_H1:
    return 6;
  case TidyTag_H2:
    return 5;
  case TidyTag_H3:
    return 4;
  case TidyTag_H4:
    return 3;
  case TidyTag_H5:
  case TidyTag_H6:
    return 2;
  default:
    return 0;
  }
}

void AppendSpaceOnce(std::string& out) {
  if (!out.empty() && out.back() != ' ') out += ' ';
}

// A text node as the converter writes it in a heading: raw, with its line
// ends as spaces and the references Tidy leaves in its text resolved.
void AppendHeadingText(TidyDoc doc, TidyNode node, TidyBuffer& value, std::string& out) {
  tidyBufClear(&value);
  tidyNodeGetValue(doc, node, &value);
  const std::string_view text(reinterpret_cast<const char*>(value.bp), value.size);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const std::string_view rest = text.substr(i);
    if (c == '\n' || c == '\r') {
      out += ' ';
    } else if (rest.starts_with("&lt;")) {
      out += '<', i += 3;
    } else if (rest.starts_with("&gt;")) {
      out += '>', i += 3;
    } else if (rest.starts_with("&amp;")) {
      out += '&', i += 4;
    } else if (rest.starts_with("&ndash;")) {
      out += "--", i += 6;
    } else {
      out += c;
    }
  }
}

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

// The text the converter writes for a heading's content; line breaks and
// block elements inside it part the words with one space.
void AppendHeadingContent(TidyDoc doc, TidyNode heading, TidyBuffer& value, std::string& out) {
  struct TFrame {
    TidyNode Node;
    bool Close; // the space after a block element
  };
  std::vector<TFrame> stack;
  for (TidyNode child = tidyGetChild(heading); child;) {
    switch (tidyNodeGetType(child)) {
    case TidyNode_Text:
      AppendHeadingText(doc, child, value, out);
      break;
    case TidyNode_StartEnd:
      if (tidyNodeGetId(child) == TidyTag_BR) AppendSpaceOnce(out);
      break;
    case TidyNode_Start: {
      const TidyTagId id = tidyNodeGetId(child);
      if (IsUnseen(child) || id == TidyTag_WBR ||
          (id == TidyTag_A && IsPermalinkMark(doc, child))) {
      } else if (id == TidyTag_BR) {
        AppendSpaceOnce(out);
      } else if (tidyGetChild(child)) {
        const bool block = !IsInlineTag(id);
        if (block) AppendSpaceOnce(out);
        stack.push_back({child, block});
        child = tidyGetChild(child);
        continue;
      } else if (!IsInlineTag(id)) {
        AppendSpaceOnce(out);
        AppendSpaceOnce(out);
      }
      break;
    }
    default:
      break;
    }
    child = tidyGetNext(child);
    while (!child && !stack.empty()) {
      if (stack.back().Close) AppendSpaceOnce(out);
      child = tidyGetNext(stack.back().Node);
      stack.pop_back();
    }
  }
}

// DokuWiki's handler for the line the converter writes for a heading:
// "===== title =====" loses its spaces, then its '=', then its spaces.
std::string HeadingTitle(TidyDoc doc, TidyNode heading, int level, TidyBuffer& value) {
  std::string line(static_cast<std::size_t>(level), '=');
  line += ' ';
  AppendHeadingContent(doc, heading, value, line);
  line += ' ';
  line.append(static_cast<std::size_t>(level), '=');
  const auto trim = [](std::string_view s, std::string_view set) {
    const std::size_t first = s.find_first_not_of(set);
    if (first == std::string_view::npos) return std::string_view();
    return s.substr(first, s.find_last_not_of(set) - first + 1);
  };
  constexpr std::string_view kPhpSpace(" \t\n\r\0\x0B", 6);
  return std::string(trim(trim(trim(line, kPhpSpace), "="), kPhpSpace));
}

bool HasVisibleText(TidyDoc doc, TidyNode node, TidyBuffer& value) {
  tidyBufClear(&value);
  tidyNodeGetValue(doc, node, &value);
  for (uint i = 0; i < value.size; ++i)
    if (value.bp[i] > 0x20) return true;
  return false;
}

void WalkAnchors(TidyDoc doc, TDocumentAnchors& anchors) {
  TidyNode body = tidyGetBody(doc);
  if (!body) return;
  TidyBuffer value;
  tidyBufInit(&value);
  struct TFreeValue {
    TidyBuffer& Buffer;
    ~TFreeValue() { tidyBufFree(&Buffer); }
  } freeValue{value};

  TSectionIds ids;
  std::string section;              // of the last heading met
  std::vector<std::string> pending; // names with nothing visible after them yet
  // Names of elements that hold more than a heading's words (a chapter's
  // div with a navigation bar before its title): they land on the first
  // heading inside, or where they began when none comes.
  struct TWaiting {
    std::string Name;
    std::string Section;
    std::size_t Depth;
  };
  std::vector<TWaiting> waiting;
  const auto land = [&](const std::string& name, const std::string& at, bool onHeading) {
    anchors.Targets.try_emplace(name, TAnchorTarget{at, onHeading});
  };
  const auto settle = [&](const std::string* heading) {
    for (const std::string& name : pending)
      land(name, heading ? *heading : section, heading != nullptr);
    pending.clear();
  };

  struct TFrame {
    TidyNode Node;
    std::uint8_t Passes;        // headings among its children are written
    const std::string* Heading; // inside this heading, or null
  };
  std::vector<TFrame> stack;
  // The anchors of headings live in a deque-like list so that pointers stay.
  std::vector<std::unique_ptr<std::string>> headings;
  std::uint8_t passes = 1;
  const std::string* heading = nullptr;
  for (TidyNode node = tidyGetChild(body); node;) {
    const TidyNodeType type = tidyNodeGetType(node);
    bool descend = false;
    if (type == TidyNode_Text) {
      // Only names still waiting for something visible need the text.
      if (!pending.empty() && HasVisibleText(doc, node, value)) settle(heading);
    } else if (type == TidyNode_Start || type == TidyNode_StartEnd) {
      const TidyTagId id = tidyNodeGetId(node);
      const std::string* inHeading = heading;
      if (const int level = HeadingLevel(id); level && passes && !heading) {
        std::string anchor = ids.Next(HeadingTitle(doc, node, level, value));
        if (!anchor.empty()) {
          headings.push_back(std::make_unique<std::string>(anchor));
          inHeading = headings.back().get();
          section = anchor;
          anchors.Headings.push_back(std::move(anchor));
          for (const TWaiting& w : waiting)
            land(w.Name, *inHeading, true);
          waiting.clear();
        }
      }
      const auto attr = [&](TidyAttrId which) -> const char* {
        TidyAttr a = tidyAttrGetById(node, which);
        return a ? reinterpret_cast<const char*>(tidyAttrValue(a)) : nullptr;
      };
      for (const char* name :
           {attr(TidyAttr_ID), id == TidyTag_A ? attr(TidyAttr_NAME) : nullptr}) {
        if (!name || !*name) continue;
        if (inHeading)
          land(name, *inHeading, true);
        else if (type == TidyNode_Start && tidyGetChild(node) && !IsInlineTag(id) &&
                 !HeadingLevel(id) && !IsUnseen(node))
          waiting.push_back({name, section, stack.size() + 1});
        else
          pending.emplace_back(name);
      }
      if (id == TidyTag_IMG) settle(inHeading);
      if (type == TidyNode_Start && !IsUnseen(node) && tidyGetChild(node)) {
        stack.push_back({node, passes, heading});
        // A layout table is written as its content, headings and all.
        passes = id == TidyTag_TABLE && passes && detail::IsLayoutTable(node)
                     ? 1
                     : PassesHeadings(passes, id);
        heading = inHeading;
        descend = true;
      }
    }
    node = descend ? tidyGetChild(node) : tidyGetNext(node);
    while (!node && !stack.empty()) {
      node = tidyGetNext(stack.back().Node);
      passes = stack.back().Passes;
      heading = stack.back().Heading;
      stack.pop_back();
      while (!waiting.empty() && waiting.back().Depth > stack.size()) {
        land(waiting.back().Name, waiting.back().Section, false);
        waiting.pop_back();
      }
    }
  }
  for (const TWaiting& w : waiting)
    land(w.Name, w.Section, false);
  settle(nullptr);
}

TDocumentAnchors ParseAnchors(const void* bytes, std::int32_t size, int encoding) {
  TDocumentAnchors anchors;
  TTidyHeap heap(static_cast<std::size_t>(size));
  TidyDoc doc = ParseDocument(heap, bytes, size, encoding);
  struct TRelease {
    TidyDoc Doc;
    ~TRelease() { tidyRelease(Doc); }
  } release{doc};
  WalkAnchors(doc, anchors);
  return anchors;
}

} // namespace

bool IsPermalinkMark(TidyDoc doc, TidyNode link) {
  TidyBuffer value;
  tidyBufInit(&value);
  std::string text;
  const bool collected = CollectMarkText(doc, link, value, text);
  tidyBufFree(&value);
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

TDocumentAnchors FindAnchors(TidyDoc doc) {
  TDocumentAnchors anchors;
  WalkAnchors(doc, anchors);
  return anchors;
}

TDocumentAnchors FindAnchors(std::string_view bytes, int encoding) {
  if (bytes.size() > kMaxInputBytes) throw std::length_error("tamsel: input larger than 64 MiB");
  TDocumentAnchors anchors;
  WithStackForInput(bytes.data(), static_cast<std::int32_t>(bytes.size()), encoding,
                    [&](const void* input, std::int32_t length) {
                      anchors = ParseAnchors(input, length, encoding);
                    });
  return anchors;
}

} // namespace tamsel
