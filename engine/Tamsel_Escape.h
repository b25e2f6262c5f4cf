// SPDX-License-Identifier: GPL-2.0-or-later
// Escaping: what the bytes of each context become so that DokuWiki shows
// them as the text they are. Functions of the bytes and of where they stand
// alone; the output channel (Tamsel_Output) calls them and joins what they
// give with what it wrote before.
#pragma once

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <pcre2.h>

namespace tamsel::detail {

// The schemes DokuWiki links by itself in text (its conf/scheme.conf): the
// link takes the "//" after them. Its "file://" links are a parser mode that
// no DokuWiki loads.
inline constexpr std::string_view kLinkedSchemes[] = {"http", "https", "telnet", "gopher", "wais",
                                                      "ftp",  "ed2k",  "irc",    "ldap"};

// Bytes that DokuWiki reads as markup when two stand in a row: the pairs,
// the openers of links, images and footnotes. The pattern's run alternative
// is made of them.
inline constexpr std::string_view kRunBytes = "*_'{[(/";

// Byte classes for skipping the work that cannot change a text. The escaping
// pattern is matched caselessly without UTF mode, and none of these bytes has
// another case in PCRE2's default tables, so the classes are exact; a test
// holds them to the pattern.
struct TByteClasses {
  // Bytes with which a protection rule can start.
  bool Protect[256] = {};
  // Bytes with which a match of the pattern can start anywhere: '<' of the
  // tags, the run's bytes (the look-behind before '/' consumes nothing), the
  // backslash of the forced line break.
  bool MatchStart[256] = {};
  // The same at the very start of the text, where the anchored alternative
  // adds rules, headings, list bullets and cell separators.
  bool FirstByte[256] = {};
  bool Run[256] = {};
  // Bytes that make a text need the protection or pattern pass wherever
  // they stand.
  bool Inner[256] = {};
  // C0 control characters other than tab, LF and CR: DokuWiki pages hold none.
  bool Control[256] = {};
  // Bytes with which a word's typography can start, apart from Inner ones.
  bool Typography[256] = {};

  constexpr TByteClasses() {
    for (unsigned char c : {'%', '<', '^', '|', '>', '\\', '~', '='})
      Protect[c] = true;
    for (const char c : kRunBytes)
      Run[static_cast<unsigned char>(c)] = true;
    for (int c = 0; c < 256; ++c) {
      // '>' and '=' start something only at a text's start or end, which the
      // plain test looks at by itself.
      Inner[c] = Run[c] || (Protect[c] && c != '>' && c != '=');
      MatchStart[c] = Run[c] || c == '<' || c == '\\';
    }
    for (int c = 0; c < 256; ++c)
      FirstByte[c] = MatchStart[c];
    for (unsigned char c : {' ', '-', '=', '|', '^'})
      FirstByte[c] = true;
    for (int c = 0; c < 0x20; ++c)
      Control[c] = c != '\t' && c != '\n' && c != '\r';
    for (unsigned char c : {'-', '=', '>', 'x', 'X'})
      Typography[c] = true;
  }
};

inline constexpr TByteClasses kByteClasses;

// Receives the escaped form in pieces. The channel writes each piece as a
// unit (a pair's edge, a link wrap's opening are found per piece).
class TPieceSink {
public:
  virtual void Piece(const char* p, std::size_t n) = 0;
  // A link title's run of "]]" was written: the link ends there and its text
  // goes on in a link of its own. True when the next piece begins a title.
  virtual bool EndLinkPiece() = 0;

protected:
  ~TPieceSink() = default;
};

// Where a piece of document text stands.
struct TTextPlace {
  // In a table: '|' and '^' separate cells.
  bool Table = false;
  // In inline code: every change of DokuWiki's typography is protected, not
  // only those inside words.
  bool InlineCode = false;
  // Inside a pair with markers: an address that ends the text would take
  // the closing marker's bytes.
  bool InPair = false;
  // The text went on with a '[' that the channel holds back; the text is
  // judged whole, as it was written.
  bool BracketHeld = false;
};

// Document text: whatever DokuWiki would read as markup goes between "%%" or
// into <nowiki>. Holds the compiled pattern, so one per channel.
class TTextEscaper {
public:
  // Throws std::runtime_error when the escaping pattern does not compile.
  TTextEscaper();
  ~TTextEscaper();
  TTextEscaper(const TTextEscaper&) = delete;
  TTextEscaper& operator=(const TTextEscaper&) = delete;

  void Escape(std::string_view text, const TTextPlace& place, TPieceSink& sink);

  // The pattern, built from kRunBytes and kLinkedSchemes.
  static std::string Pattern();
  // False when no match of the pattern can start at p[at]; a cheap test
  // before PCRE2 is asked.
  static bool CanStartMatch(const unsigned char* p, std::size_t length, std::size_t at);

private:
  void Segments(const unsigned char* text, std::size_t k, const TTextPlace& place,
                TPieceSink& sink);
  void Protected(const unsigned char* text, std::size_t k, bool table, TPieceSink& sink);
  void PatternPass(const unsigned char* p, std::size_t length, TPieceSink& sink);

  pcre2_code* EscapePattern = nullptr;
  pcre2_match_data* MatchData = nullptr;
  pcre2_match_context* MatchContext = nullptr;
  static constexpr std::uint32_t kMatchHeapKiB = 16384;
  // The protected form of the text being escaped; kept to reuse its storage.
  std::string ProtectedText;
};

// The one form of a link target or image source: ids and addresses differ in
// how the bytes that would end "[[...|" or "{{...}}" are kept. An id's such
// bytes, spaces and control characters become '_', which is what DokuWiki
// makes of them anyway; an address's are percent-encoded, and tabs and line
// ends, which a browser drops from an address, are dropped.
void EscapeTarget(std::string_view target, bool isUrl, std::string& out);

// A link's text. DokuWiki reads no markup there, but "]]" ends the link: a
// run of ']' ends the link piece instead (DokuWiki takes a "]]" followed by
// ']' as part of the title, so the title keeps the run), and the rest goes
// into a link piece of its own. A piece that begins a title with "{{" would
// be read as an image: U+200B parts the braces. opensTitle: the first piece
// begins a title.
void EscapeLinkTitle(std::string_view title, bool opensTitle, TPieceSink& sink);

// An image's title. "}}" would end the image and "]]" a surrounding link:
// U+200B parts such a pair; line ends and tabs become spaces. Inside a link
// no '}' may stand at all (DokuWiki takes "{{...}}" there for an image only
// with none between the braces), and U+FF5D, its full-width twin, stands
// for it.
void EscapeImageTitle(std::string_view title, bool inLink, std::string& out);

// Code as it stands, every LF the converter's line break.
void EscapeCode(std::string_view code, std::string_view lineBreak, std::string& out);

// A colour or size in "[color=...]" or "[size=...]", less the bytes that
// would end that markup or its line; no colour or size holds one.
void EscapeFontValue(std::string_view value, std::string& out);

// An image's size as DokuWiki reads it after the source ("?640x480"), from
// the width and height attributes: digits alone (trailing spaces allowed),
// since "+5" or " 5" would be part of the media id. A height goes only with
// a width; nothing when there is no width.
void EscapeImageSize(std::string_view width, std::string_view height, std::string& out);

} // namespace tamsel::detail
