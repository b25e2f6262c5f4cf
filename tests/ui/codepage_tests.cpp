// SPDX-License-Identifier: GPL-2.0-or-later
// The code page of the two UTF-8 boxes, and how results are decoded for display.
#include "Tamsel_CodePage.h"
#include "Tamsel_FormMain.h"

#include <QTest>

#include <iconv.h>

#include <string>

using namespace tamsel;
using namespace Qt::StringLiterals;

namespace {

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b)
    bytes.push_back(static_cast<char>(b));
  return bytes;
}

bool IsUnassigned(unsigned char b) {
  return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

// The C library's own Windows-1252 table, as an independent reference.
char16_t ReferenceChar(unsigned char b) {
  iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1252");
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0xFFFF;
  char in = static_cast<char>(b);
  unsigned char out[4] = {};
  char* inp = &in;
  char* outp = reinterpret_cast<char*>(out);
  std::size_t inLeft = 1, outLeft = sizeof out;
  const std::size_t rc = iconv(cd, &inp, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || outLeft != 2) return 0xFFFF;
  return static_cast<char16_t>(out[0] | out[1] << 8);
}

} // namespace

class TCodePageTest : public QObject {
  Q_OBJECT
private slots:
  void everyByteRoundTrips() {
    const std::string bytes = AllBytes();
    const QString text = FromCodePage(bytes);
    QCOMPARE(text.size(), 256);
    QCOMPARE(ToCodePage(text), bytes);
  }

  void matchesWindows1252() {
    if (ReferenceChar('A') != u'A') QSKIP("the C library has no WINDOWS-1252 converter");
    const QString text = FromCodePage(AllBytes());
    for (int b = 0; b < 256; ++b) {
      const char16_t expected = IsUnassigned(static_cast<unsigned char>(b))
                                    ? static_cast<char16_t>(b)
                                    : ReferenceChar(static_cast<unsigned char>(b));
      QVERIFY2(text[b].unicode() == expected, qPrintable(QString::number(b, 16)));
    }
  }

  void toCodePage_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << u"<p>a</p>"_s << QByteArray("<p>a</p>");
    QTest::newRow("latin-1") << u"Grüße é ÿ"_s
                             << QByteArray("Gr\xFC\xDF"
                                           "e \xE9 \xFF");
    QTest::newRow("euro and dashes") << u"€–—Ÿ"_s << QByteArray("\x80\x96\x97\x9F");
    QTest::newRow("mojibake of UTF-8") << u"GrÃ¼ÃŸe"_s
                                       << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                                     "e");
    QTest::newRow("unassigned as C1")
        << u"\u0081\u008D\u008F\u0090\u009D"_s << QByteArray("\x81\x8D\x8F\x90\x9D");
    QTest::newRow("other C1 lacking") << u"\u0080\u0085\u009F"_s << QByteArray("???");
    QTest::newRow("outside the page") << u"aĀ→ж"_s << QByteArray("a???");
    QTest::newRow("pair is one character") << u"a😀b"_s << QByteArray("a?b");
    QTest::newRow("lone surrogates")
        << QString(QChar(0xD800)) + u"x"_s + QChar(0xDC00) << QByteArray("?x?");
    QTest::newRow("trailing high surrogate") << u"x"_s + QChar(0xD83D) << QByteArray("x?");
    QTest::newRow("nul kept") << QString(QChar(0)) << QByteArray("\0", 1);
  }
  void toCodePage() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(QByteArray::fromStdString(ToCodePage(text)), bytes);
  }

  void decodeResult_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("asCodePage");
    QTest::addColumn<QString>("text");
    QTest::newRow("utf-8") << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                         "e")
                           << false << u"Grüße"_s;
    QTest::newRow("utf-8 as bytes") << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                                  "e")
                                    << true << u"GrÃ¼ÃŸe"_s;
    QTest::newRow("empty") << QByteArray() << false << QString();
    QTest::newRow("ill-formed as bytes") << QByteArray("a\xC3") << true << u"aÃ"_s;
    QTest::newRow("leading BOM kept") << QByteArray("\xEF\xBB\xBFx") << false << u"\uFEFFx"_s;
    QTest::newRow("supplementary") << QByteArray("\xF0\x9F\x98\x80") << false << u"😀"_s;
    QTest::newRow("nul kept") << QByteArray("a\0b", 3) << false << u"a"_s + QChar(0) + u"b"_s;
  }
  void decodeResult() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, asCodePage);
    QFETCH(QString, text);
    QCOMPARE(DecodeResult(std::string_view(bytes.constData(), bytes.size()), asCodePage), text);
  }

  // Ill-formed UTF-8 is shown with replacement characters, never as empty
  // text, and the well-formed text around it survives.
  void illFormedNotHidden_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("lone lead byte") << QByteArray("<a\xC3>");
    QTest::newRow("cut sequence inside") << QByteArray("<a\xE2\x82 b>");
    QTest::newRow("stray continuation") << QByteArray("<\x9F>");
    QTest::newRow("byte FF") << QByteArray("<x\xFFy>");
    QTest::newRow("overlong slash") << QByteArray("<a\xC0\xAF"
                                                  "b>");
    QTest::newRow("encoded surrogate") << QByteArray("<\xED\xA0\x80>");
    QTest::newRow("beyond U+10FFFF") << QByteArray("<\xF4\x90\x80\x80>");
  }
  void illFormedNotHidden() {
    QFETCH(QByteArray, bytes);
    const QString text = DecodeResult(std::string_view(bytes.constData(), bytes.size()), false);
    QVERIFY(text.startsWith(u'<'));
    QVERIFY(text.endsWith(u'>'));
    QVERIFY(text.contains(QChar(0xFFFD)));
    QVERIFY(!text.contains(u'/'));
    QVERIFY(!text.contains(QChar(0xD800)));
    // Only the bad bytes are replaced.
    QString kept = text;
    kept.remove(QChar(0xFFFD));
    QByteArray ascii = bytes;
    ascii.removeIf([](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    QCOMPARE(kept, QString::fromLatin1(ascii));
  }
};

QTEST_GUILESS_MAIN(TCodePageTest)
#include "codepage_tests.moc"
