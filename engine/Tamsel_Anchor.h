// SPDX-License-Identifier: GPL-2.0-or-later
// DokuWiki's page ids and section anchors, and where the anchors of an HTML
// document land once it is a DokuWiki page.
//
// A link into a migrated page only works when its id and its "#section" are
// the very ones DokuWiki derives. So this follows DokuWiki's own cleanID and
// sectionID step for step, for the default configuration (separator '_', no
// slash as namespace separator, accents replaced) and with DokuWiki's own
// character tables (the case table it uses where PHP lacks mbstring, as on
// Debian).
#pragma once

#include <cstddef>
#include <tidy/tidy.h>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tamsel {

// True for UTF-8 that PCRE accepts: no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequence.
bool IsValidUtf8(std::string_view text);

// Decodes one UTF-8 character at text[pos]; advances pos. Returns U+FFFD and
// advances by one byte for a byte that starts no valid character.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos);
void AppendUtf8(std::string& out, char32_t c);

// DokuWiki's cleanID as a wiki on PHP with the mbstring and intl extensions
// (the usual setup, and what current releases expect) computes it: lower
// case by mbstring, then Unicode's composed form (NFC), then DokuWiki's own
// accent and special character tables. Bytes that are no UTF-8 act as a
// separator ('?' after mbstring's lower casing).
std::string CleanId(std::string_view raw);

// DokuWiki's sectionID without its uniqueness check: the anchor a heading
// with this title gets when it is the first of its name, and the form
// DokuWiki gives every "#fragment" of a link.
std::string SectionId(std::string_view title);

// The anchors of one page's headings, in order, as DokuWiki's renderer hands
// them out: a title met again gets "1", "2", ... appended ("intro",
// "intro1"), and a blank title gets none at all.
class TSectionIds {
public:
  // The anchor of the next heading; empty for a blank title.
  std::string Next(std::string_view title);
  const std::vector<std::string>& Taken() const { return Ids; }

private:
  std::vector<std::string> Ids;
  std::unordered_set<std::string> TakenSet;
  std::unordered_map<std::string, unsigned> NextSuffix;
};

// A link whose visible text is only a permalink mark ('#', '¶', '§', a link
// symbol), as documentation generators put into headings; no image.
bool IsPermalinkMark(TidyDoc doc, TidyNode link);

// Where a fragment of the HTML document lands in the DokuWiki page.
struct TAnchorTarget {
  // The section anchor: of the heading the element is on, inside, or just
  // before (nothing visible between them); otherwise of the heading whose
  // section holds the element, or empty before the first heading.
  std::string Section;
  bool OnHeading = false; // the first case
};

struct TDocumentAnchors {
  // The anchor of every heading the converter writes, in order.
  std::vector<std::string> Headings;
  // Every element id, and every name of an <a>, with where it lands; the
  // first element of a name wins, as in browsers.
  std::unordered_map<std::string, TAnchorTarget> Targets;
};

// Parses bytes (in encoding, a TidyEncoding) with the converter's Tidy
// options and finds its headings and anchors. A heading's title is the text
// the converter writes for it. Throws std::length_error for input above
// kMaxInputBytes and std::runtime_error when Tidy cannot parse it.
TDocumentAnchors FindAnchors(std::string_view bytes, int encoding);

// The same for a document Tidy has parsed already with the converter's
// options (during a conversion, say). Walks without recursion.
TDocumentAnchors FindAnchors(TidyDoc doc);

} // namespace tamsel
