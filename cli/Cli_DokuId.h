// Page and media ids the way DokuWiki makes them.
//
// A migrated page only works when its file name, and every link to it, use
// the very id DokuWiki derives from the same name. So this follows DokuWiki's
// own cleanID, sectionID and file name encoding step for step, for the
// default configuration (separator '_', no slash as namespace separator,
// accents replaced, file names URL-encoded) and with DokuWiki's own character
// tables (the case table it uses where PHP lacks mbstring, as on Debian).
#pragma once

#include <string>
#include <string_view>

namespace tamsel::cli {

// True for UTF-8 that PCRE accepts: no overlong forms, no surrogates, nothing
// above U+10FFFF, no truncated sequence.
bool IsValidUtf8(std::string_view text);

// DokuWiki's cleanID. Text that is not valid UTF-8 gives an empty id, as in
// DokuWiki, whose pattern matching refuses such text.
std::string CleanId(std::string_view raw);

// DokuWiki's sectionID without its uniqueness check: the anchor a heading
// gets, and the form DokuWiki gives every "#fragment" of a link.
std::string SectionId(std::string_view title);

// The file name DokuWiki keeps a cleaned id path under ("ns/page" for the id
// ns:page): kept when it is plain ASCII, else URL-encoded with '/' kept.
std::string EncodeFileName(std::string_view path);

// Decodes one UTF-8 character at text[pos]; advances pos. Returns U+FFFD and
// advances by one byte for a byte that starts no valid character.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos);
void AppendUtf8(std::string& out, char32_t c);

} // namespace tamsel::cli
