// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_CodePage.h"

namespace tamsel {

namespace {

// Bytes 0x80 to 0x9F; all others are their own code point (ASCII and Latin-1).
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98
};

constexpr char16_t Decode(unsigned char b) {
  return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t{b};
}

// 0 for a character outside the page; U+0000 itself never reaches this.
constexpr unsigned char EncodeHigh(char16_t c) {
  for (unsigned i = 0; i < 32; ++i)
    if (kHigh[i] == c) return static_cast<unsigned char>(0x80 + i);
  return 0;
}

} // namespace

QString FromCodePage(std::string_view bytes) {
  QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
  QChar* out = text.data();
  for (char b : bytes)
    *out++ = QChar(Decode(static_cast<unsigned char>(b)));
  return text;
}

std::string ToCodePage(QStringView text) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = text[i].unicode();
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      bytes.push_back(static_cast<char>(c));
      continue;
    }
    // A pair is one character and so one replacement.
    if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) ++i;
    const unsigned char b = EncodeHigh(c);
    bytes.push_back(b ? static_cast<char>(b) : kCodePageReplacement);
  }
  return bytes;
}

} // namespace tamsel
