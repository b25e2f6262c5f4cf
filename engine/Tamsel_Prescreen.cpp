// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Prescreen.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace tamsel {

namespace {

// Tidy's input encodings (TidyEncoding numbers) whose ASCII characters are
// single bytes that no byte of a multi-byte character can be taken for.
bool IsByteEncoding(int encoding) {
  switch (encoding) {
  case 0:  // raw
  case 1:  // ascii
  case 2:  // latin0
  case 3:  // latin1
  case 4:  // utf8
  case 6:  // mac
  case 7:  // win1252
  case 8:  // ibm858
  case 12: // big5: trail bytes from 0x40 up
  case 13: // shiftjis: likewise
    return true;
  default:
    return false;
  }
}
constexpr int kUtf16le = 9;

bool IsLetter(char32_t c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
bool IsSpace(char32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
char32_t Lower(char32_t c) {
  return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
}

// Attributes that some writer reads; kept past kMaxAttributes.
constexpr std::array<std::string_view, 12> kReadAttributes = {
    "href",    "src",     "alt",   "width", "height", "align",
    "colspan", "rowspan", "color", "size",  "id",     "name"};

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
      while (k < text.size() && Lower(At(i + k)) == static_cast<char32_t>(text[k]))
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
      if (Lower(At(from + k)) != static_cast<char32_t>(name[k])) return false;
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

  std::size_t StartTag(std::size_t open, std::size_t name) {
    const std::size_t nameEnd = NameEnd(name);
    std::size_t count = 0;
    const std::size_t end = Attributes(nameEnd, count, nullptr);
    if (TCapped* capped = CappedOf(name, nameEnd)) {
      if (capped->Open >= capped->Cap) {
        Drop(open, end);
        ++capped->Dropped;
        return end;
      }
      ++capped->Open;
    }
    if (count > kMaxAttributes) TrimAttributes(nameEnd, end);
    // The content of scripts and styles is read as markup too: where Tidy
    // ends it is its own affair, and no writer shows it.
    return end;
  }

  std::size_t EndTag(std::size_t open, std::size_t name) {
    const std::size_t nameEnd = NameEnd(name);
    const std::size_t end = FindUnit('>', nameEnd);
    if (TCapped* capped = CappedOf(name, nameEnd)) {
      if (capped->Dropped > 0) {
        --capped->Dropped;
        Drop(open, end);
      } else if (capped->Open > 0) {
        --capped->Open;
      }
    }
    return end;
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
  // Elements of which only so many may be open at a time.
  struct TCapped {
    std::string_view Name;
    std::size_t Cap;
    std::size_t Open = 0;
    std::size_t Dropped = 0;
  };
  TCapped Capped[2] = {{"font", kMaxOpenFonts}, {"div", kMaxOpenDivs}};
  TCapped* CappedOf(std::size_t from, std::size_t to) {
    for (TCapped& capped : Capped)
      if (NameIs(from, to, capped.Name)) return &capped;
    return nullptr;
  }
  TPrescreen Result;
};

} // namespace

TPrescreen Prescreen(const void* bytes, std::size_t size, int encoding) {
  const auto* b = static_cast<const unsigned char*>(bytes);
  // A byte order mark that Tidy would follow into another encoding.
  const bool swapped = size >= 2 && b[0] == 0xFE && b[1] == 0xFF;
  const bool reversed = size >= 2 && b[0] == 0xFF && b[1] == 0xFE;
  if (IsByteEncoding(encoding) && !swapped && !reversed) return TScanner<1>(b, size).Run();
  if (encoding == kUtf16le && !swapped && size % 2 == 0) return TScanner<2>(b, size).Run();
  TPrescreen result;
  result.StartTags = size ? static_cast<std::size_t>(std::count(b, b + size, '<')) : 0;
  return result;
}

} // namespace tamsel
