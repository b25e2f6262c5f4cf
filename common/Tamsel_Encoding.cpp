// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Encoding.h"

#include "Tamsel_Ascii.h"
#include "Tamsel_Utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <iconv.h>

namespace tamsel {

namespace {

constexpr int kTidyRaw = 0, kTidyAscii = 1, kTidyLatin0 = 2, kTidyLatin1 = 3, kTidyUtf8 = 4,
              kTidyMac = 6, kTidyWin1252 = 7, kTidyIbm858 = 8, kTidyUtf16le = 9, kTidyUtf16be = 10,
              kTidyUtf16 = 11;

constexpr std::size_t kPrescanBytes = 4096;

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

std::string_view TrimAscii(std::string_view s) {
  while (!s.empty() && IsAsciiSpace(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsAsciiSpace(s.back()))
    s.remove_suffix(1);
  return s;
}

TEncoding Tidy(int number, const char* name) {
  return TEncoding{number, {}, name};
}
TEncoding Iconv(const char* decoder, std::string name) {
  return TEncoding{-1, decoder, name};
}

bool IconvKnows(const std::string& name) {
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

struct TAlias {
  const char* Label;
  TEncoding (*Make)();
};

// The names Tidy knows, and the spellings people use for them. Tidy's own
// iso2022, big5 and shiftjis handling passes the bytes through rather than
// decoding them, so those three are decoded by iconv.
std::optional<TEncoding> TidyName(const std::string& name) {
  static const std::pair<const char*, int> kNames[] = {
      {"raw", kTidyRaw},
      {"ascii", kTidyAscii},
      {"us-ascii", kTidyAscii},
      {"latin0", kTidyLatin0},
      {"latin9", kTidyLatin0},
      {"latin-9", kTidyLatin0},
      {"iso-8859-15", kTidyLatin0},
      {"latin1", kTidyLatin1},
      {"latin-1", kTidyLatin1},
      {"iso-8859-1", kTidyLatin1},
      {"iso8859-1", kTidyLatin1},
      {"utf8", kTidyUtf8},
      {"utf-8", kTidyUtf8},
      {"mac", kTidyMac},
      {"macintosh", kTidyMac},
      {"macroman", kTidyMac},
      {"win1252", kTidyWin1252},
      {"windows-1252", kTidyWin1252},
      {"cp1252", kTidyWin1252},
      {"ibm858", kTidyIbm858},
      {"cp858", kTidyIbm858},
      {"utf16le", kTidyUtf16le},
      {"utf-16le", kTidyUtf16le},
      {"utf16be", kTidyUtf16be},
      {"utf-16be", kTidyUtf16be},
      {"utf16", kTidyUtf16},
      {"utf-16", kTidyUtf16},
  };
  static const char* const kCanonical[] = {"raw",    "ascii",   "latin0",  "latin1",
                                           "utf8",   "iso2022", "mac",     "win1252",
                                           "ibm858", "utf16le", "utf16be", "utf16"};
  for (const auto& [label, number] : kNames)
    if (name == label) return Tidy(number, kCanonical[number]);
  if (name == "iso2022" || name == "iso-2022-jp") return Iconv("ISO-2022-JP", "iso2022");
  if (name == "big5") return Iconv("BIG5", "big5");
  if (name == "shiftjis" || name == "shift_jis" || name == "sjis")
    return Iconv("SHIFT_JIS", "shiftjis");
  return std::nullopt;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// A minimal tag reader for the prescan: attribute names in lower case, values
// with quotes removed.
class TPrescanner {
public:
  explicit TPrescanner(std::string_view text) : Text(text) {}

  std::string Run() {
    if (StartsWith(Text, "<?xml")) {
      const std::size_t end = Text.find("?>");
      const std::string_view decl = Text.substr(0, end);
      Pos = 5;
      std::string name, value;
      while (Pos < decl.size() && ReadAttribute(decl, name, value))
        if (name == "encoding") return value;
    }
    for (Pos = 0; Pos < Text.size();) {
      if (Text.compare(Pos, 4, "<!--") == 0) {
        const std::size_t end = Text.find("-->", Pos + 4);
        if (end == std::string_view::npos) break;
        Pos = end + 3;
      } else if (Text[Pos] == '<' && Pos + 1 < Text.size() &&
                 (IsLetter(Text[Pos + 1]) || Text[Pos + 1] == '/')) {
        std::size_t nameEnd = Pos + 1;
        if (Text[nameEnd] == '/') ++nameEnd;
        const std::size_t nameStart = nameEnd;
        while (nameEnd < Text.size() && !IsAsciiSpace(Text[nameEnd]) && Text[nameEnd] != '>' &&
               Text[nameEnd] != '/')
          ++nameEnd;
        const std::string tag = LowerAscii(Text.substr(nameStart, nameEnd - nameStart));
        Pos = nameEnd;
        std::string charset, httpEquiv, content;
        std::string name, value;
        while (ReadAttribute(Text, name, value)) {
          if (name == "charset" && charset.empty()) charset = value;
          if (name == "http-equiv") httpEquiv = LowerAscii(value);
          if (name == "content") content = value;
        }
        if (tag == "meta") {
          if (!charset.empty()) return std::string(TrimAscii(charset));
          if (httpEquiv == "content-type")
            if (std::string fromContent = CharsetFromContent(content); !fromContent.empty())
              return fromContent;
        }
      } else if (Text.compare(Pos, 2, "<!") == 0 || Text.compare(Pos, 2, "<?") == 0) {
        const std::size_t end = Text.find('>', Pos + 2);
        if (end == std::string_view::npos) break;
        Pos = end + 1;
      } else {
        ++Pos;
      }
    }
    return {};
  }

  // "text/html; charset=windows-1252" gives windows-1252.
  static std::string CharsetFromContent(std::string_view content) {
    const std::string lower = LowerAscii(content);
    for (std::size_t at = lower.find("charset"); at != std::string::npos;
         at = lower.find("charset", at + 7)) {
      std::size_t i = at + 7;
      while (i < lower.size() && IsAsciiSpace(lower[i]))
        ++i;
      if (i >= lower.size() || lower[i] != '=') continue;
      ++i;
      while (i < lower.size() && IsAsciiSpace(lower[i]))
        ++i;
      if (i >= lower.size()) return {};
      if (lower[i] == '"' || lower[i] == '\'') {
        const std::size_t end = lower.find(lower[i], i + 1);
        if (end == std::string::npos) return {};
        return std::string(content.substr(i + 1, end - i - 1));
      }
      std::size_t end = i;
      while (end < lower.size() && !IsAsciiSpace(lower[end]) && lower[end] != ';')
        ++end;
      return std::string(content.substr(i, end - i));
    }
    return {};
  }

private:
  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

  // Reads the next attribute of the tag at Pos; false at the tag's end.
  bool ReadAttribute(std::string_view text, std::string& name, std::string& value) {
    name.clear();
    value.clear();
    while (Pos < text.size() && (IsAsciiSpace(text[Pos]) || text[Pos] == '/'))
      ++Pos;
    if (Pos >= text.size() || text[Pos] == '>' || text[Pos] == '?') {
      if (Pos < text.size()) ++Pos;
      return false;
    }
    const std::size_t start = Pos;
    while (Pos < text.size() && !IsAsciiSpace(text[Pos]) && text[Pos] != '=' && text[Pos] != '>' &&
           (text[Pos] != '/' || Pos == start))
      ++Pos;
    name = LowerAscii(text.substr(start, Pos - start));
    while (Pos < text.size() && IsAsciiSpace(text[Pos]))
      ++Pos;
    if (Pos >= text.size() || text[Pos] != '=') return true;
    ++Pos;
    while (Pos < text.size() && IsAsciiSpace(text[Pos]))
      ++Pos;
    if (Pos >= text.size()) return true;
    if (text[Pos] == '"' || text[Pos] == '\'') {
      const char quote = text[Pos++];
      const std::size_t end = text.find(quote, Pos);
      const std::size_t stop = end == std::string_view::npos ? text.size() : end;
      value = std::string(text.substr(Pos, stop - Pos));
      Pos = end == std::string_view::npos ? text.size() : end + 1;
    } else {
      const std::size_t valueStart = Pos;
      while (Pos < text.size() && !IsAsciiSpace(text[Pos]) && text[Pos] != '>')
        ++Pos;
      value = std::string(text.substr(valueStart, Pos - valueStart));
    }
    return true;
  }

  std::string_view Text;
  std::size_t Pos = 0;
};

// True when text holds at least one valid multi-byte UTF-8 sequence: then a
// declared UTF-8 is believed even though some bytes are broken.
bool HasUtf8Sequence(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t at = pos;
    const char32_t c = DecodeUtf8(text, pos);
    if (c >= 0x80 && !(c == 0xFFFD && pos == at + 1)) return true;
  }
  return false;
}

struct TBom {
  std::string_view Bytes;
  int Tidy;
  const char* Iconv;
  const char* Name;
};

// Longer marks first: the UTF-32LE mark begins with the UTF-16LE one.
const TBom kBoms[] = {
    {{"\xFF\xFE\0\0", 4}, -1, "UTF-32LE", "UTF-32LE"},
    {{"\0\0\xFE\xFF", 4}, -1, "UTF-32BE", "UTF-32BE"},
    {"\xEF\xBB\xBF", kTidyUtf8, nullptr, "utf8"},
    {"\xFF\xFE", kTidyUtf16le, nullptr, "utf16le"},
    {"\xFE\xFF", kTidyUtf16be, nullptr, "utf16be"},
};

void Decode(TPreparedInput& result, std::string_view bytes, const TEncoding& encoding) {
  // Tidy pairs a lone surrogate of UTF-16 with the character after it, and
  // the converter screens its input for nesting only as bytes or UTF-16LE:
  // big-endian input (Tidy's "utf16" without a byte order mark is too) goes
  // to it as UTF-16LE, where lone surrogates become U+FFFD.
  if ((encoding.Tidy == kTidyUtf16be || encoding.Tidy == kTidyUtf16) && bytes.size() % 2 == 0) {
    result.Converted.resize(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
      result.Converted[i] = bytes[i + 1];
      result.Converted[i + 1] = bytes[i];
    }
    result.Bytes = result.Converted;
    result.TidyEncoding = kTidyUtf16le;
    return;
  }
  if (encoding.Tidy >= 0) {
    result.Bytes = bytes;
    result.TidyEncoding = encoding.Tidy;
    return;
  }
  if (!ConvertToUtf8(bytes, encoding.Iconv, result.Converted)) {
    result.Warnings.push_back("cannot decode " + encoding.Name + "; reading the bytes as UTF-8");
    result.Converted.assign(bytes);
  }
  result.Bytes = result.Converted;
  result.TidyEncoding = kTidyUtf8;
}

} // namespace

std::optional<TEncoding> ParseEncodingName(std::string_view name) {
  const std::string lower = LowerAscii(TrimAscii(name));
  if (lower.empty() || lower == "auto") return std::nullopt;
  if (auto tidy = TidyName(lower)) return tidy;
  std::string decoder(TrimAscii(name));
  if (IconvKnows(decoder)) return TEncoding{-1, decoder, decoder};
  return std::nullopt;
}

std::optional<TEncoding> LookupCharsetLabel(std::string_view rawLabel) {
  const std::string label = LowerAscii(TrimAscii(rawLabel));
  if (label.empty()) return std::nullopt;
  static const char* const kUtf8[] = {"utf-8", "utf8", "unicode-1-1-utf-8", "unicode11utf8",
                                      "unicode20utf8", "x-unicode20utf8",
                                      // A UTF-16 document could not have been prescanned.
                                      "utf-16", "utf-16le", "utf-16be"};
  static const char* const kWin1252[] = {
      "windows-1252",   "cp1252",          "x-cp1252", "iso-8859-1", "iso8859-1",  "iso88591",
      "iso_8859-1",     "iso_8859-1:1987", "latin1",   "l1",         "us-ascii",   "ascii",
      "ansi_x3.4-1968", "cp819",           "ibm819",   "iso-ir-100", "csisolatin1"};
  static const char* const kLatin9[] = {"iso-8859-15", "iso8859-15", "iso885915", "iso_8859-15",
                                        "csisolatin9", "l9",         "latin9"};
  static const char* const kMac[] = {"macintosh", "mac", "x-mac-roman", "csmacintosh"};
  const auto in = [&](const auto& list) {
    return std::any_of(std::begin(list), std::end(list), [&](const char* l) { return label == l; });
  };
  if (in(kUtf8)) return Tidy(kTidyUtf8, "utf8");
  if (in(kWin1252)) return Tidy(kTidyWin1252, "win1252");
  if (in(kLatin9)) return Tidy(kTidyLatin0, "latin0");
  if (in(kMac)) return Tidy(kTidyMac, "mac");
  if (label == "ibm858" || label == "cp858") return Tidy(kTidyIbm858, "ibm858");

  // Browsers read these labels with a wider decoder; so does this.
  static const std::pair<const char*, const char*> kWider[] = {
      {"gb2312", "GB18030"},    {"gbk", "GB18030"},        {"x-gbk", "GB18030"},
      {"chinese", "GB18030"},   {"csgb2312", "GB18030"},   {"gb_2312-80", "GB18030"},
      {"big5", "BIG5-HKSCS"},   {"cn-big5", "BIG5-HKSCS"}, {"x-x-big5", "BIG5-HKSCS"},
      {"csbig5", "BIG5-HKSCS"}, {"shift_jis", "CP932"},    {"sjis", "CP932"},
      {"x-sjis", "CP932"},      {"ms_kanji", "CP932"},     {"csshiftjis", "CP932"},
      {"windows-31j", "CP932"}, {"euc-kr", "CP949"},       {"ks_c_5601-1987", "CP949"},
      {"korean", "CP949"},      {"iso-8859-9", "CP1254"},  {"latin5", "CP1254"},
      {"l5", "CP1254"},         {"tis-620", "CP874"},      {"iso-8859-11", "CP874"},
  };
  for (const auto& [from, decoder] : kWider)
    if (label == from) return Iconv(decoder, std::string(TrimAscii(rawLabel)));
  const std::string decoder(TrimAscii(rawLabel));
  if (decoder.find_first_of("/\\") == std::string::npos && IconvKnows(decoder))
    return Iconv(decoder.c_str(), decoder);
  return std::nullopt;
}

std::string FindDeclaredCharset(std::string_view bytes) {
  return TPrescanner(bytes.substr(0, std::min(bytes.size(), kPrescanBytes))).Run();
}

TPreparedInput PrepareInput(std::string_view bytes, const std::optional<TEncoding>& forced) {
  TPreparedInput result;
  for (const TBom& bom : kBoms) {
    if (!StartsWith(bytes, bom.Bytes)) continue;
    const std::string_view rest = bytes.substr(bom.Bytes.size());
    TEncoding encoding = bom.Tidy >= 0 ? Tidy(bom.Tidy, bom.Name) : Iconv(bom.Iconv, bom.Name);
    const bool sameFamily =
        forced &&
        (forced->Name == encoding.Name ||
         (forced->Tidy == kTidyUtf16 && (bom.Tidy == kTidyUtf16le || bom.Tidy == kTidyUtf16be)));
    if (forced && !sameFamily)
      result.Warnings.push_back(std::string("starts with a ") + bom.Name +
                                " byte order mark; reading it as " + bom.Name + ", not as " +
                                forced->Name);
    result.Description = std::string(bom.Name) + " (byte order mark)";
    Decode(result, rest, encoding);
    return result;
  }

  if (forced) {
    result.Description = forced->Name + " (as told)";
    Decode(result, bytes, *forced);
    return result;
  }

  // UTF-16 without a mark still shows itself: the markup starts with ASCII,
  // and NUL bytes beside it never occur in an 8-bit file.
  const auto ascii = [&](std::size_t i) {
    return bytes[i] > 0 && static_cast<unsigned char>(bytes[i]) < 0x80;
  };
  if (bytes.size() >= 4 && ascii(0) && bytes[1] == '\0' && ascii(2) && bytes[3] == '\0') {
    result.Description = "utf16le (no byte order mark)";
    Decode(result, bytes, Tidy(kTidyUtf16le, "utf16le"));
    return result;
  }
  if (bytes.size() >= 4 && bytes[0] == '\0' && ascii(1) && bytes[2] == '\0' && ascii(3)) {
    result.Description = "utf16be (no byte order mark)";
    Decode(result, bytes, Tidy(kTidyUtf16be, "utf16be"));
    return result;
  }

  const bool validUtf8 = IsValidUtf8(bytes);
  if (const std::string declared = FindDeclaredCharset(bytes); !declared.empty()) {
    if (auto encoding = LookupCharsetLabel(declared)) {
      if (encoding->Tidy == kTidyUtf8 && !validUtf8) {
        if (HasUtf8Sequence(bytes)) {
          result.Warnings.push_back("declares " + declared +
                                    " but holds bytes that are not UTF-8; they become U+FFFD");
        } else {
          result.Warnings.push_back("declares " + declared +
                                    " but is not UTF-8 at all; reading it as win1252");
          result.Description = "win1252 (declared " + declared + ", which it is not)";
          Decode(result, bytes, Tidy(kTidyWin1252, "win1252"));
          return result;
        }
      }
      result.Description = encoding->Name + " (declared " + declared + ")";
      Decode(result, bytes, *encoding);
      return result;
    }
    result.Warnings.push_back("declares charset '" + declared +
                              "', which no decoder here knows; guessing instead");
  }

  if (validUtf8) {
    result.Description = "utf8 (valid UTF-8)";
    Decode(result, bytes, Tidy(kTidyUtf8, "utf8"));
  } else {
    result.Description = "win1252 (not valid UTF-8)";
    Decode(result, bytes, Tidy(kTidyWin1252, "win1252"));
  }
  return result;
}

bool ConvertToUtf8(std::string_view bytes, const std::string& from, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  out.reserve(bytes.size() + bytes.size() / 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char buffer[16384];
  while (inLeft > 0) {
    char* dest = buffer;
    std::size_t destLeft = sizeof buffer;
    const std::size_t rc = iconv(cd, &in, &inLeft, &dest, &destLeft);
    out.append(buffer, static_cast<std::size_t>(dest - buffer));
    if (rc != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // An invalid or truncated sequence: mark it and go on after one byte.
    out += "\xEF\xBF\xBD";
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* dest = buffer;
  std::size_t destLeft = sizeof buffer;
  iconv(cd, nullptr, nullptr, &dest, &destLeft);
  out.append(buffer, static_cast<std::size_t>(dest - buffer));
  iconv_close(cd);
  return true;
}

std::string PreparedAsUtf8(const TPreparedInput& input) {
  const std::string_view bytes = input.Bytes;
  const char* decoder = nullptr;
  switch (input.TidyEncoding) {
  case kTidyUtf8:
  case kTidyRaw:
    break;
  case kTidyAscii:
  case kTidyWin1252:
    decoder = "CP1252";
    break;
  case kTidyLatin0:
    decoder = "ISO-8859-15";
    break;
  case kTidyLatin1:
    decoder = "ISO-8859-1";
    break;
  case kTidyMac:
    decoder = "MACINTOSH";
    break;
  case kTidyIbm858:
    decoder = "IBM858";
    break;
  case kTidyUtf16le:
    decoder = "UTF-16LE";
    break;
  case kTidyUtf16be:
    decoder = "UTF-16BE";
    break;
  case kTidyUtf16:
    decoder = "UTF-16";
    break;
  default:
    break;
  }
  std::string out;
  if (decoder && ConvertToUtf8(bytes, decoder, out)) return out;
  // UTF-8 already, or nothing here decodes it: keep what is valid.
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const std::size_t at = pos;
    if (DecodeUtf8(bytes, pos) == 0xFFFD && pos == at + 1)
      out += "\xEF\xBF\xBD";
    else
      out.append(bytes.substr(at, pos - at));
  }
  return out;
}

} // namespace tamsel
