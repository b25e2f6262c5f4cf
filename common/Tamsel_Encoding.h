// SPDX-License-Identifier: GPL-2.0-or-later
// Choosing how the bytes of an HTML file are to be read; shared by the
// command line and the window, which read files the same way.
//
// Tidy reads a handful of encodings itself. Everything else (and the
// multi-byte Asian encodings, which this Tidy build does not really decode)
// goes through iconv into UTF-8 first, so that old sites in, say,
// windows-1251 or Shift_JIS come through intact.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {

struct TEncoding {
  int Tidy = -1;     // TidyEncoding number, or -1 when Iconv names the decoder
  std::string Iconv; // iconv name of the source encoding when Tidy cannot read it
  std::string Name;  // as shown to the user
};

// An --encoding value: one of Tidy's names (raw, ascii, latin0, latin1, utf8,
// iso2022, mac, win1252, ibm858, utf16le, utf16be, utf16, big5, shiftjis),
// a common alias of them, or any encoding iconv knows. "auto" is not one.
std::optional<TEncoding> ParseEncodingName(std::string_view name);

// A charset label found in a document, read the way browsers read it (so
// iso-8859-1 and us-ascii mean windows-1252, and utf-16 in a document that
// could be prescanned means UTF-8). Empty when no decoder knows the label.
std::optional<TEncoding> LookupCharsetLabel(std::string_view label);

// The charset a <meta charset>, a <meta http-equiv="Content-Type"> or an XML
// declaration within the first 4 KB declares; empty when none does.
std::string FindDeclaredCharset(std::string_view bytes);

// What the converter is to read, and why.
struct TPreparedInput {
  std::string Converted;  // holds the bytes when they had to be converted
  std::string_view Bytes; // what Tidy reads: a part of the input or of Converted
  int TidyEncoding = 4;
  std::string Description;           // "win1252 (not valid UTF-8)" and the like
  std::vector<std::string> Warnings; // for the user, without file name
};

// Decides the encoding of bytes, removes a byte order mark and converts when
// Tidy cannot read the encoding itself. forced is the --encoding choice;
// nullopt means detection: byte order mark, then declaration, then valid
// UTF-8, else Windows-1252. A byte order mark wins over a forced choice too,
// as in browsers (and in Tidy itself). The result refers to bytes.
TPreparedInput PrepareInput(std::string_view bytes, const std::optional<TEncoding>& forced);

// Converts bytes in the iconv encoding from into UTF-8; a byte that cannot be
// read becomes U+FFFD. False when iconv does not know the encoding.
bool ConvertToUtf8(std::string_view bytes, const std::string& from, std::string& out);

// What PrepareInput chose, decoded into UTF-8, for a caller that holds text
// rather than handing bytes to Tidy (the window). A byte that cannot be read in
// the chosen encoding becomes U+FFFD, so the result is always valid UTF-8.
std::string PreparedAsUtf8(const TPreparedInput& input);

} // namespace tamsel
