// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Prescreen.h"

#include "Tamsel_Ascii.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <tidy/tidyenum.h>

namespace tamsel {

namespace {

// Tidy's input encodings (TidyEncoding numbers) whose ASCII characters are
// single bytes that no byte of a multi-byte character can be taken for.
bool IsByteEncoding(int encoding) {
  switch (encoding) {
  case TidyEncRaw:
  case TidyEncAscii:
  case TidyEncLatin0:
  case TidyEncLatin1:
  case TidyEncUtf8:
  case TidyEncMac:
  case TidyEncWin1252:
  case TidyEncIbm858:
  case TidyEncBig5:     // trail bytes from 0x40 up
  case TidyEncShiftjis: // likewise
    return true;
  default:
    return false;
  }
}

bool IsLetter(char32_t c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
bool IsSpace(char32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Attributes that some writer reads; kept past kMaxAttributes.
constexpr std::array<std::string_view, 12> kReadAttributes = {
    "href",    "src",     "alt",   "width", "height", "align",
    "colspan", "rowspan", "color", "size",  "id",     "name"};

// Element names as FNV-1a hashes of their lower-case letters.
constexpr std::uint64_t kHashBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kHashPrime = 0x100000001b3ULL;
constexpr std::uint64_t HashStep(std::uint64_t h, char32_t c) {
  return (h ^ static_cast<std::uint64_t>(c)) * kHashPrime;
}
constexpr std::uint64_t HashOf(std::string_view name) {
  std::uint64_t h = kHashBasis;
  for (char c : name)
    h = HashStep(h, static_cast<unsigned char>(c));
  return h;
}

template <std::size_t N> constexpr bool In(std::uint64_t h, const std::string_view (&names)[N]) {
  for (std::string_view name : names)
    if (HashOf(name) == h) return true;
  return false;
}

// Elements without content.
constexpr std::string_view kVoid[] = {"area",    "base",    "basefont", "bgsound", "br",    "col",
                                      "command", "embed",   "frame",    "hr",      "image", "img",
                                      "input",   "isindex", "keygen",   "link",    "meta",  "param",
                                      "source",  "spacer",  "track",    "wbr"};
// Formatting that a browser, and Tidy, carry into the blocks that follow
// until it is closed.
constexpr std::string_view kInline[] = {
    "a",      "abbr", "acronym", "b",    "bdi", "bdo",  "big",   "blink", "cite",
    "code",   "data", "del",     "dfn",  "em",  "font", "i",     "ins",   "kbd",
    "label",  "mark", "nobr",    "q",    "s",   "samp", "small", "span",  "strike",
    "strong", "sub",  "sup",     "time", "tt",  "u",    "var"};
// Elements whose start closes an open paragraph.
constexpr std::string_view kClosesParagraph[] = {
    "address", "article", "aside",   "blockquote", "center",   "dd",         "details", "dialog",
    "dir",     "div",     "dl",      "dt",         "fieldset", "figcaption", "figure",  "footer",
    "form",    "h1",      "h2",      "h3",         "h4",       "h5",         "h6",      "header",
    "hgroup",  "li",      "listing", "main",       "menu",     "nav",        "ol",      "p",
    "pre",     "section", "summary", "table",      "ul",       "xmp"};
// Elements out of which nothing closes what was opened before them.
constexpr std::string_view kScopes[] = {"applet", "button", "caption", "html",     "marquee",
                                        "object", "table",  "td",      "template", "th"};
// Of those, the ones out of which no formatting is carried.
constexpr std::string_view kFormattingScopes[] = {"applet", "caption", "marquee", "object",
                                                  "td",     "th",      "template"};

constexpr std::uint64_t kP = HashOf("p"), kLi = HashOf("li"), kDt = HashOf("dt"),
                        kDd = HashOf("dd"), kTd = HashOf("td"), kTh = HashOf("th"),
                        kTr = HashOf("tr"), kTbody = HashOf("tbody"), kThead = HashOf("thead"),
                        kTfoot = HashOf("tfoot"), kTable = HashOf("table"), kOl = HashOf("ol"),
                        kUl = HashOf("ul"), kMenu = HashOf("menu"), kDir = HashOf("dir"),
                        kDl = HashOf("dl"), kDiv = HashOf("div"), kAddress = HashOf("address"),
                        kFont = HashOf("font"), kScript = HashOf("script"),
                        kStyle = HashOf("style"), kOption = HashOf("option"),
                        kOptgroup = HashOf("optgroup"), kSelect = HashOf("select"),
                        kTemplate = HashOf("template"), kBr = HashOf("br");

enum TKind : std::uint8_t { kBlock, kVoidKind, kInlineKind, kRawKind };

struct TClass {
  TKind Kind = kBlock;
  bool ClosesParagraph = false;
  bool Scope = false;
  bool FormattingScope = false;
};

TClass ClassOf(std::uint64_t h) {
  TClass c;
  if (In(h, kVoid))
    c.Kind = kVoidKind;
  else if (In(h, kInline))
    c.Kind = kInlineKind;
  else if (h == kScript || h == kStyle)
    c.Kind = kRawKind;
  c.ClosesParagraph = In(h, kClosesParagraph);
  c.Scope = In(h, kScopes);
  c.FormattingScope = In(h, kFormattingScopes);
  return c;
}

// What the pass knows of a name: its class, how many elements of it are
// open, and how many of its start tags were dropped whose end tags are still
// to come.
struct TName {
  TClass Class;
  std::size_t Open = 0;
  std::size_t Dropped = 0;
};

// The names met so far, a few dozen on a page; entries stay where they are.
class TNames {
public:
  TName& Get(std::uint64_t h) {
    auto at = Known.find(h);
    if (at == Known.end()) at = Known.emplace(h, TName{ClassOf(h)}).first;
    return at->second;
  }

private:
  std::unordered_map<std::uint64_t, TName> Known;
};

// How far down the open elements an implied or explicit end is looked for.
// A search that gives up leaves the element open, so that the pass counts
// more open elements than a browser would, never fewer.
constexpr std::size_t kSearchDepth = 64;

// The input as code units of Width bytes (1, or 2 little-endian).
template <int Width> class TScanner {
public:
  TScanner(const unsigned char* bytes, std::size_t size)
      : Bytes(bytes), Units(size / Width), Size(size) {}

  TPrescreen Run() {
    // Every '<' before a letter, wherever it is: a value whose closing quote
    // Tidy does not find where this pass finds it must not hide tags.
    for (std::size_t i = 0; (i = FindLt(i)) < Units; ++i)
      if (IsLetter(At(i + 1))) ++Result.StartTags;
    std::size_t i = 0;
    while ((i = FindLt(i)) < Units) {
      const std::size_t open = i++;
      const char32_t c = At(i);
      if (IsLetter(c)) {
        i = StartTag(open, i);
      } else if (c == '/' && IsLetter(At(i + 1))) {
        i = EndTag(open, i + 1);
      } else if (c == '!' && At(i + 1) == '-' && At(i + 2) == '-') {
        i = CommentEnd(i + 3);
      } else if (c == '!' || c == '?') {
        i = FindUnit('>', i);
      }
    }
    if (Result.Repaired) Copy(Size);
    return std::move(Result);
  }

private:
  char32_t At(std::size_t i) const {
    if (i >= Units) return 0;
    if constexpr (Width == 1) {
      return Bytes[i];
    } else {
      return static_cast<char32_t>(Bytes[2 * i] | Bytes[2 * i + 1] << 8);
    }
  }

  std::size_t FindLt(std::size_t from) const {
    std::size_t at = from * Width;
    while (at < Units * Width) {
      const void* hit = std::memchr(Bytes + at, '<', Units * Width - at);
      if (!hit) return Units;
      const auto pos = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - Bytes);
      if (pos % Width == 0 && (Width == 1 || Bytes[pos + 1] == 0)) return pos / Width;
      at = pos + 1;
    }
    return Units;
  }

  // The unit after the first c from i on, or the end.
  std::size_t FindUnit(char32_t c, std::size_t i) const {
    while (i < Units && At(i) != c)
      ++i;
    return i < Units ? i + 1 : Units;
  }

  // The unit after the first occurrence of text (ASCII, case-insensitive).
  std::size_t Find(std::string_view text, std::size_t i) const {
    for (; i < Units; ++i) {
      std::size_t k = 0;
      while (k < text.size() && LowerAscii(At(i + k)) == static_cast<char32_t>(text[k]))
        ++k;
      if (k == text.size()) return i + k;
    }
    return Units;
  }

  // The unit after a comment's end: "--" (or more dashes) and then ">" or
  // "!>"; stopping at the first of these, never past where Tidy stops.
  std::size_t CommentEnd(std::size_t i) const {
    while ((i = Find("--", i)) < Units) {
      while (At(i) == '-')
        ++i;
      if (At(i) == '>') return i + 1;
      if (At(i) == '!' && At(i + 1) == '>') return i + 2;
    }
    return Units;
  }

  bool NameIs(std::size_t from, std::size_t to, std::string_view name) const {
    if (to - from != name.size()) return false;
    for (std::size_t k = 0; k < name.size(); ++k)
      if (LowerAscii(At(from + k)) != static_cast<char32_t>(name[k])) return false;
    return true;
  }

  std::size_t NameEnd(std::size_t i) const {
    while (i < Units) {
      const char32_t c = At(i);
      if (IsSpace(c) || c == '>' || c == '/' || c == '<' || c == '=') break;
      ++i;
    }
    return i;
  }

  struct TAttr {
    std::size_t Start, NameEnd, End;
  };

  // Reads the attributes of a tag from i to its end; returns the unit after
  // the tag. Spans are kept only when asked for.
  std::size_t Attributes(std::size_t i, std::size_t& count, std::vector<TAttr>* spans) const {
    count = 0;
    while (i < Units) {
      char32_t c = At(i);
      if (IsSpace(c) || c == '/') {
        ++i;
        continue;
      }
      if (c == '>') return i + 1;
      if (c == '<') return i;
      const std::size_t start = i;
      const std::size_t nameEnd = i = std::max(NameEnd(i), i + 1);
      std::size_t j = i;
      while (j < Units && IsSpace(At(j)))
        ++j;
      if (At(j) == '=') {
        ++j;
        while (j < Units && IsSpace(At(j)))
          ++j;
        c = At(j);
        if (c == '"' || c == '\'') {
          j = FindUnit(c, j + 1);
        } else {
          while (j < Units && !IsSpace(At(j)) && At(j) != '>')
            ++j;
        }
        i = j;
      }
      ++count;
      if (spans) spans->push_back({start, nameEnd, i});
    }
    return i;
  }

  std::uint64_t NameHash(std::size_t from, std::size_t to) const {
    std::uint64_t h = kHashBasis;
    for (std::size_t k = from; k < to; ++k)
      h = HashStep(h, LowerAscii(At(k)));
    return h;
  }

  std::size_t StartTag(std::size_t open, std::size_t name) {
    const std::size_t nameEnd = NameEnd(name);
    std::size_t count = 0;
    const std::size_t end = Attributes(nameEnd, count, nullptr);
    if (count > kMaxAttributes) TrimAttributes(nameEnd, end);
    if (Raw) return end;
    const std::uint64_t h = NameHash(name, nameEnd);
    TName& info = Names.Get(h);
    const TClass& c = info.Class;
    if (c.Kind == kVoidKind) return end;
    if (c.Kind == kInlineKind) {
      const bool font = h == kFont;
      if (Formatting.size() >= kMaxOpenInline || (font && Fonts >= kMaxOpenFonts)) {
        DropStart(open, end, info);
        return end;
      }
      Formatting.push_back(h);
      Fonts += font;
      return end;
    }
    // A script or style that closes itself ("<script src=x />") holds
    // nothing, for Tidy too.
    if (c.Kind == kRawKind && end >= 2 && At(end - 2) == '/' && At(end - 1) == '>') return end;
    ImpliedEnds(h, c);
    if (Open.size() >= kMaxOpenBlocks) {
      DropStart(open, end, info);
      return end;
    }
    // A self-closed element ("<x/>") of an unknown kind stays open for
    // Tidy too, except in XML, which this pass does not tell apart.
    Open.push_back({h, &info, c.FormattingScope ? Formatting.size() : kNoScope});
    ++info.Open;
    Paragraphs += h == kP;
    // Tidy reads no markup in a script or a style, up to its end tag.
    if (c.Kind == kRawKind) Raw = h;
    return end;
  }

  std::size_t EndTag(std::size_t open, std::size_t name) {
    const std::size_t nameEnd = NameEnd(name);
    const std::size_t end = FindUnit('>', nameEnd);
    const std::uint64_t h = NameHash(name, nameEnd);
    if (Raw) {
      if (h != Raw) return end;
      Raw = 0;
    }
    TName& info = Names.Get(h);
    if (info.Dropped > 0) {
      --info.Dropped;
      Drop(open, end);
      return end;
    }
    const TClass& c = info.Class;
    if (c.Kind == kInlineKind) {
      for (std::size_t k = Formatting.size(); k-- > 0 && Formatting.size() - k <= kSearchDepth;) {
        if (Formatting[k] != h) continue;
        Formatting.erase(Formatting.begin() + static_cast<std::ptrdiff_t>(k));
        Fonts -= h == kFont;
        return end;
      }
    } else if (c.Kind != kVoidKind &&
               PopThrough(h, info, TableScope(h) ? kTableScope : kAnyScope)) {
      return end;
    }
    // Closes nothing: "</p>" and "</br>" still make an element.
    if (h != kP && h != kBr && ++Strays > kMaxStrayEndTags) {
      Drop(open, end);
      ++Result.DroppedStrayTags;
    }
    return end;
  }

  static bool TableScope(std::uint64_t h) {
    return h == kTr || h == kTd || h == kTh || h == kTbody || h == kThead || h == kTfoot;
  }

  // What a start tag of h closes first, as in a browser: a paragraph, and
  // an item, term, cell, row or option of the same kind.
  void ImpliedEnds(std::uint64_t h, const TClass& c) {
    if (c.ClosesParagraph && Paragraphs > 0) PopThrough(kP, Names.Get(kP), kAnyScope);
    if (h == kLi) {
      PopSibling({kLi}, {kOl, kUl, kMenu, kDir});
    } else if (h == kDt || h == kDd) {
      PopSibling({kDt, kDd}, {kDl});
    } else if (h == kTd || h == kTh) {
      PopSibling({kTd, kTh}, {kTr, kTable});
    } else if (h == kTr) {
      PopSibling({kTr}, {kTbody, kThead, kTfoot, kTable});
    } else if (h == kTbody || h == kThead || h == kTfoot) {
      PopSibling({kTbody, kThead, kTfoot}, {kTable});
    } else if (h == kOption || h == kOptgroup) {
      PopSibling({kOption, kOptgroup}, {kSelect});
    }
  }

  // Closes the nearest open element of siblings unless a container, or an
  // element other than a div, paragraph or address, comes first.
  void PopSibling(std::initializer_list<std::uint64_t> siblings,
                  std::initializer_list<std::uint64_t> containers) {
    const bool table =
        *siblings.begin() == kTd || *siblings.begin() == kTr || *siblings.begin() == kTbody;
    for (std::size_t k = Open.size(); k-- > 0 && Open.size() - k <= kSearchDepth;) {
      const std::uint64_t at = Open[k].Name;
      if (std::find(siblings.begin(), siblings.end(), at) != siblings.end()) {
        PopTo(k);
        return;
      }
      if (std::find(containers.begin(), containers.end(), at) != containers.end()) return;
      // A cell or row closes whatever its predecessor left open.
      if (table) {
        if (at == kTemplate) return;
        continue;
      }
      if (at != kDiv && at != kP && at != kAddress) return;
    }
  }

  enum TScope { kAnyScope, kTableScope };

  // Closes the nearest open h and everything opened after it, unless a
  // scope boundary comes first. False when h is not found.
  bool PopThrough(std::uint64_t h, const TName& info, TScope scope) {
    if (info.Open == 0) return false;
    for (std::size_t k = Open.size(); k-- > 0 && Open.size() - k <= kSearchDepth;) {
      const std::uint64_t at = Open[k].Name;
      if (at == h) {
        PopTo(k);
        return true;
      }
      const bool boundary =
          scope == kTableScope ? at == kTable || at == kTemplate : Open[k].Info->Class.Scope;
      if (boundary) return false;
    }
    return false;
  }

  void PopTo(std::size_t k) {
    while (Open.size() > k) {
      const TOpen& top = Open.back();
      --top.Info->Open;
      Paragraphs -= top.Name == kP;
      if (top.FormattingBase != kNoScope && top.FormattingBase < Formatting.size()) {
        for (std::size_t f = top.FormattingBase; f < Formatting.size(); ++f)
          Fonts -= Formatting[f] == kFont;
        Formatting.resize(top.FormattingBase);
      }
      Open.pop_back();
    }
  }

  void DropStart(std::size_t open, std::size_t end, TName& info) {
    Drop(open, end);
    ++info.Dropped;
    ++Result.DroppedStartTags;
  }

  void TrimAttributes(std::size_t from, std::size_t end) {
    std::vector<TAttr> spans;
    std::size_t count = 0;
    Attributes(from, count, &spans);
    // The last of each read attribute beyond the first kMaxAttributes.
    std::array<std::size_t, kReadAttributes.size()> last;
    last.fill(0);
    for (std::size_t k = kMaxAttributes; k < spans.size(); ++k)
      for (std::size_t r = 0; r < kReadAttributes.size(); ++r)
        if (NameIs(spans[k].Start, spans[k].NameEnd, kReadAttributes[r])) last[r] = k + 1;
    Copy(from * Width);
    for (std::size_t k = 0; k < spans.size(); ++k) {
      const bool keep =
          k < kMaxAttributes || std::find(last.begin(), last.end(), k + 1) != last.end();
      if (!keep) continue;
      Unit(' ');
      Result.Bytes.append(reinterpret_cast<const char*>(Bytes) + spans[k].Start * Width,
                          (spans[k].End - spans[k].Start) * Width);
    }
    // What ends the tag ('>', or nothing when '<' or the end cut it short).
    const std::size_t tail = spans.empty() ? from : spans.back().End;
    Copied = tail * Width;
    while (Copied < end * Width && IsSpace(At(Copied / Width)))
      Copied += Width;
  }

  void Unit(char c) {
    Result.Bytes += c;
    if constexpr (Width == 2) Result.Bytes += '\0';
  }

  // Copies the input up to byte `to` into the repaired copy.
  void Copy(std::size_t to) {
    if (!Result.Repaired) {
      Result.Repaired = true;
      Result.Bytes.reserve(Size);
    }
    Result.Bytes.append(reinterpret_cast<const char*>(Bytes) + Copied, to - Copied);
    Copied = to;
  }

  void Drop(std::size_t from, std::size_t to) {
    Copy(from * Width);
    Copied = to * Width;
  }

  const unsigned char* Bytes;
  const std::size_t Units;
  const std::size_t Size;
  std::size_t Copied = 0;
  // The open elements other than formatting, each with the number of open
  // formatting elements where it ends their reach (kNoScope: it does not).
  static constexpr std::size_t kNoScope = ~std::size_t{0};
  struct TOpen {
    std::uint64_t Name;
    TName* Info;
    std::size_t FormattingBase;
  };
  std::vector<TOpen> Open;
  std::size_t Paragraphs = 0;
  // The open formatting elements, in the order they were opened.
  std::vector<std::uint64_t> Formatting;
  std::size_t Fonts = 0;
  std::size_t Strays = 0;
  // Inside a script or style: the name whose end tag ends it.
  std::uint64_t Raw = 0;
  TNames Names;
  TPrescreen Result;
};

} // namespace

namespace {

// Replaces every UTF-16LE surrogate without its other half by U+FFFD, and
// drops the C1 control characters (Tidy would read them as Windows-1252,
// which browsers do only for references); false when there is neither.
bool MendUtf16(const unsigned char* b, std::size_t size, std::string& mended, std::size_t& count) {
  const std::size_t units = size / 2;
  const auto at = [&](std::size_t i) {
    return static_cast<char32_t>(b[2 * i] | b[2 * i + 1] << 8);
  };
  count = 0;
  std::size_t copied = 0;
  bool changed = false;
  const auto change = [&](std::size_t i) {
    if (!changed) mended.reserve(size);
    changed = true;
    mended.append(reinterpret_cast<const char*>(b) + copied, 2 * i - copied);
    copied = 2 * i + 2;
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t u = at(i);
    if (u >= 0x80 && u <= 0x9F) {
      change(i);
      continue;
    }
    if (u < 0xD800 || u > 0xDFFF) continue;
    if (u <= 0xDBFF && i + 1 < units && at(i + 1) >= 0xDC00 && at(i + 1) <= 0xDFFF) {
      ++i;
      continue;
    }
    ++count;
    change(i);
    mended += "\xFD\xFF";
  }
  if (changed) mended.append(reinterpret_cast<const char*>(b) + copied, size - copied);
  return changed;
}

// Replaces every surrogate encoded in UTF-8 (ED A0 80 to ED BF BF, which
// Tidy reads as half a pair and completes with the next character) by
// U+FFFD, of the same length; false when there is none.
bool MendUtf8(const unsigned char* b, std::size_t size, std::string& mended, std::size_t& count) {
  count = 0;
  if (size == 0) return false;
  for (const unsigned char* p = b; (p = static_cast<const unsigned char*>(std::memchr(
                                        p, 0xED, static_cast<std::size_t>(b + size - p))));
       ++p) {
    if (b + size - p < 3 || p[1] < 0xA0 || p[1] > 0xBF || (p[2] & 0xC0) != 0x80) continue;
    if (count++ == 0) mended.assign(reinterpret_cast<const char*>(b), size);
    const std::size_t i = static_cast<std::size_t>(p - b);
    mended[i] = static_cast<char>(0xEF);
    mended[i + 1] = static_cast<char>(0xBF);
    mended[i + 2] = static_cast<char>(0xBD);
    p += 2;
  }
  return count > 0;
}

// Scans the mended copy in place of the input.
template <int Width> TPrescreen ScanMended(std::string& mended, std::size_t lone) {
  TPrescreen result =
      TScanner<Width>(reinterpret_cast<const unsigned char*>(mended.data()), mended.size()).Run();
  result.LoneSurrogates = lone;
  if (!result.Repaired) {
    result.Repaired = true;
    result.Bytes = std::move(mended);
  }
  return result;
}

} // namespace

TPrescreen Prescreen(const void* bytes, std::size_t size, int encoding) {
  const auto* b = static_cast<const unsigned char*>(bytes);
  // A byte order mark that Tidy would follow into another encoding.
  const bool swapped = size >= 2 && b[0] == 0xFE && b[1] == 0xFF;
  const bool reversed = size >= 2 && b[0] == 0xFF && b[1] == 0xFE;
  std::string mended;
  std::size_t lone = 0;
  if (IsByteEncoding(encoding) && !swapped && !reversed) {
    if (encoding == TidyEncUtf8 && MendUtf8(b, size, mended, lone))
      return ScanMended<1>(mended, lone);
    return TScanner<1>(b, size).Run();
  }
  if (encoding == TidyEncUtf16le && !swapped && size % 2 == 0) {
    if (MendUtf16(b, size, mended, lone)) return ScanMended<2>(mended, lone);
    return TScanner<2>(b, size).Run();
  }
  TPrescreen result;
  result.StartTags = size ? static_cast<std::size_t>(std::count(b, b + size, '<')) : 0;
  return result;
}

} // namespace tamsel
