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

#include "Tamsel.h"
#include "Tamsel_Utf8.h"

#include <cstddef>
#include <tidy/tidy.h>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tamsel {

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

// The title DokuWiki reads from a heading line as written
// ("===== title =====" loses its spaces, then its '=', then its spaces).
std::string HeadingTitle(std::string_view line);

// Tidy hands attribute values over with every '&' spelled "&amp;"; a URL, a
// title or an id taken so would reach DokuWiki, and the browser, with "&amp;"
// in it.
std::string AttrText(const char* value);

// Where the ids of a parsed document stand among its heading elements (h1 to
// h6, whether or not a writer makes headings of them): a structural walk,
// without recursion. The anchors themselves come from the heading writer.
struct TIdPlace {
  TidyNode On = nullptr;   // the heading the element is on or inside
  TidyNode Next = nullptr; // the heading after it, with at most navigation between
  std::size_t Before = 0;  // heading elements before it in document order
};
struct TIdPlaces {
  std::vector<TidyNode> Headings; // in document order
  std::unordered_map<std::string, TIdPlace> Ids;
};
TIdPlaces FindIdPlaces(TidyDoc doc);

// Converts bytes (in encoding, a TidyEncoding) with options and returns where
// its anchors land, as the conversion wrote its headings. Throws as
// TTamsel::ConvertAnsi does.
TDocumentAnchors FindAnchors(std::string_view bytes, int encoding);
TDocumentAnchors FindAnchors(std::string_view bytes, int encoding, const TOptions& options);

} // namespace tamsel
