// SPDX-License-Identifier: GPL-2.0-or-later
// How a clipboard's flavours become the input: the clean-up of each flavour,
// as data.
#include "Tamsel_Paste.h"

#include <QTest>

using namespace tamsel;
using namespace Qt::StringLiterals;

namespace {

QByteArray Utf16(const QString& text) {
  return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

// "Version:0.9" and offsets that fit the HTML after it, with one of them
// spoilt where a row asks.
QString WithHeader(const QString& before, const QString& fragment, const QString& after,
                   bool htmlOffsets, bool fragmentOffsets) {
  const char* format = "Version:0.9\r\nStartHTML:%010d\r\nEndHTML:%010d\r\n"
                       "StartFragment:%010d\r\nEndFragment:%010d\r\n";
  const int header = int(QString::asprintf(format, 0, 0, 0, 0).size());
  const int startFragment = header + int(before.toUtf8().size()) + 20;
  const int endFragment = startFragment + int(fragment.toUtf8().size());
  const int endHtml = endFragment + 18 + int(after.toUtf8().size());
  return QString::asprintf(format, htmlOffsets ? header : -1, htmlOffsets ? endHtml : -1,
                           fragmentOffsets ? startFragment : 0, fragmentOffsets ? endFragment : 0) +
         before + u"<!--StartFragment-->"_s + fragment + u"<!--EndFragment-->"_s + after;
}

} // namespace

class TPasteTest : public QObject {
  Q_OBJECT

private slots:
  void clipboardHeader_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");
    const QString before = u"<html><body><ol>"_s;
    const QString fragment = u"<li>Grüße</li>"_s; // offsets count UTF-8 bytes
    const QString after = u"</ol></body></html>"_s;
    QTest::newRow("whole HTML by its offsets")
        << WithHeader(before, fragment, after, true, true)
        << before + u"<!--StartFragment-->"_s + fragment + u"<!--EndFragment-->"_s + after;
    QTest::newRow("fragment by its offsets")
        << WithHeader(before, fragment, after, false, true) << fragment;
    QTest::newRow("fragment by its markers")
        << WithHeader(before, fragment, after, false, false) << fragment;
    QTest::newRow("offsets past the end")
        << u"Version:1.0\r\nStartHTML:50\r\nEndHTML:9999\r\n<p>x</p>"_s << u"<p>x</p>"_s;
    QTest::newRow("no header") << u"<p>Version:0.9</p>"_s << u"<p>Version:0.9</p>"_s;
  }
  void clipboardHeader() {
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QCOMPARE(WithoutClipboardHeader(html), expected);
  }

  void context_data() {
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("expected");
    const QString meta = u"<meta http-equiv=\"content-type\" content=\"text/html\">"_s;
    QTest::newRow("items of a numbered list")
        << meta + u"<li>a</li><li>b</li>"_s
        << u"<html><body><div id=\"x\"><ol start=\"3\"></ol></div></body></html>"_s
        << meta + u"<ol start=\"3\"><li>a</li><li>b</li></ol>"_s;
    QTest::newRow("items of an inner list")
        << u"<li>a</li>"_s
        << u"<html><body><ul><li><ul class=\"in\"></ul></li></ul></body></html>"_s
        << u"<ul class=\"in\"><li>a</li></ul>"_s;
    QTest::newRow("cells of a row")
        << u"<td>1</td><td>2</td>"_s
        << u"<html><body><table border=\"1\"><tbody><tr></tr></tbody></table></body></html>"_s
        << u"<table border=\"1\"><tbody><tr><td>1</td><td>2</td></tr></tbody></table>"_s;
    QTest::newRow("rows of a table")
        << u"<tr><td>1</td></tr>"_s << u"<html><body><table><tbody></tbody></table></body></html>"_s
        << u"<table><tbody><tr><td>1</td></tr></tbody></table>"_s;
    QTest::newRow("terms") << u"<dt>t</dt><dd>d</dd>"_s << u"<html><body><dl></dl></body></html>"_s
                           << u"<dl><dt>t</dt><dd>d</dd></dl>"_s;
    QTest::newRow("lines of a code block")
        << u"a\n  b"_s << u"<html><body><pre><code class=\"c\"></code></pre></body></html>"_s
        << u"<pre>a\n  b</pre>"_s;
    QTest::newRow("text of a paragraph")
        << u"some <b>text</b>"_s << u"<html><body><div><p></p></div></body></html>"_s
        << u"some <b>text</b>"_s;
    QTest::newRow("a whole list") << u"<ul><li>a</li></ul>"_s
                                  << u"<html><body><ul></ul></body></html>"_s
                                  << u"<ul><li>a</li></ul>"_s;
    QTest::newRow("items, no list around")
        << u"<li>a</li>"_s << u"<html><body><div></div></body></html>"_s << u"<li>a</li>"_s;
    QTest::newRow("no context") << u"<li>a</li>"_s << QString() << u"<li>a</li>"_s;
  }
  void context() {
    QFETCH(QString, fragment);
    QFETCH(QString, context);
    QFETCH(QString, expected);
    QCOMPARE(WrapInContext(fragment, context), expected);
  }

  void relativeLinks_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");
    const QString page = u"https://example.org/guide/intro.html"_s;
    QTest::newRow("relative") << page << u"<a href=\"b.html\">b</a>"_s
                              << u"<a href=\"https://example.org/guide/b.html\">b</a>"_s;
    QTest::newRow("from the root, with a query")
        << page << u"<a class=x href='/a.html?x=1&amp;y=2'>a</a>"_s
        << u"<a class=x href=\"https://example.org/a.html?x=1&amp;y=2\">a</a>"_s;
    QTest::newRow("up, unquoted, image")
        << page << u"<img alt=\"i\" src=../img/i.png>"_s
        << u"<img alt=\"i\" src=\"https://example.org/img/i.png\">"_s;
    QTest::newRow("section of the page") << page << u"<a href=\"#s\">s</a>"_s
                                         << u"<a href=\"https://example.org/guide/intro.html#s\">"
                                            u"s</a>"_s;
    QTest::newRow("absolute and mail kept")
        << page << u"<a href=\"http://x.org/\">x</a><a href=\"mailto:a@b.c\">m</a>"_s
        << u"<a href=\"http://x.org/\">x</a><a href=\"mailto:a@b.c\">m</a>"_s;
    QTest::newRow("text that looks like an attribute")
        << page << u"<p>write href=\"x\" in the tag</p>"_s
        << u"<p>write href=\"x\" in the tag</p>"_s;
    QTest::newRow("a local page's links stay the wiki's")
        << u"file:///home/u/site/index.html"_s << u"<a href=\"b.html\">b</a>"_s
        << u"<a href=\"b.html\">b</a>"_s;
    QTest::newRow("no page") << QString() << u"<a href=\"b.html\">b</a>"_s
                             << u"<a href=\"b.html\">b</a>"_s;
  }
  void relativeLinks() {
    QFETCH(QString, page);
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QCOMPARE(ResolveRelativeLinks(html, QUrl(page)), expected);
  }

  void flavourBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("UTF-8") << QByteArray("Gr\xC3\xBC\xC3\x9F"
                                         "e")
                           << u"Grüße"_s;
    QTest::newRow("UTF-16LE without a mark") << Utf16(u"https://x.org/ü"_s) << u"https://x.org/ü"_s;
    QTest::newRow("UTF-16LE with a mark")
        << QByteArray("\xFF\xFE", 2) + Utf16(u"<ul>"_s) << u"<ul>"_s;
    QTest::newRow("trailing NUL") << QByteArray("abc\0", 4) << u"abc"_s;
  }
  void flavourBytes() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(DecodeFlavour(bytes), expected);
  }

  // Which plain texts count as source, and which HTML flavours only colour it.
  void sourceOrPage_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("source");
    QTest::newRow("starts with a tag") << u"  <h2>Intro"_s << true;
    QTest::newRow("starts inside, two tags") << u"Hello <b>world</b>"_s << true;
    QTest::newRow("sentence quoting one tag") << u"Close it with </div>."_s << false;
    QTest::newRow("comparison") << u"a < b and c > d"_s << false;
  }
  void sourceOrPage() {
    QFETCH(QString, text);
    QFETCH(bool, source);
    QCOMPARE(LooksLikeHtmlSource(text), source);
  }
  void colouring() {
    QVERIFY(OnlyColoursText(u"<pre><span style=\"color:red\">&lt;p&gt;</span><br></pre>"_s));
    QVERIFY(OnlyColoursText(u"<div><div><span>&lt;h2&gt;</span><b>x</b></div></div>"_s));
    QVERIFY(!OnlyColoursText(u"<span>a</span><p>b</p>"_s));
    QVERIFY(!OnlyColoursText(u"<span><a href=\"x\">a</a></span>"_s));
    QVERIFY(OnlyColoursText(u"<span style=\"white-space: pre;\">&lt;p&gt;</span>"_s));
    // Part of a paragraph in a browser.
    QVERIFY(!OnlyColoursText(u"<span style=\"color: red;\">Use </span><code>&lt;div&gt;</code>"_s));
  }

  void interchangeNewlines() {
    QCOMPARE(WithoutInterchangeNewlines(u"<br class=\"Apple-interchange-newline\"><p>a</p><br "
                                        u"class=\"Apple-interchange-newline\">"_s),
             u"<p>a</p>"_s);
    QCOMPARE(WithoutInterchangeNewlines(u"a<br>b"_s), u"a<br>b"_s);
  }
};

QTEST_APPLESS_MAIN(TPasteTest)
#include "paste_tests.moc"
