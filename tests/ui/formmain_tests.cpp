// SPDX-License-Identifier: GPL-2.0-or-later
// The main window, driven through its real widgets as a user would.
#include "Tamsel.h"
#include "Tamsel_FormMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <sys/stat.h>

using namespace tamsel;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(QMimeData*)

namespace {

// What the worker's conversion step is told and counts; it runs on the
// worker's thread.
struct TProbe {
  std::atomic<int> Conversions{0};
  // Oversized: the real converter, handed more than it takes, throws.
  enum TFailure { None, Std, Other, Oversized };
  std::atomic<TFailure> Failure{None};
  std::atomic<int> DelayMs{0};
  // The converters the step was handed: one per window, whatever the edits.
  std::mutex Mutex;
  QSet<const void*> Converters;
  // The page address the last conversion was asked to resolve links against.
  QUrl BaseUrl;
};

// The real window, with a conversion step that counts its runs and can be
// made to fail or slow.
// The file dialogs answer what the test says; messages are recorded, and
// shown only where a test asks for the real message box.
class TProbeForm : public TfrmMain {
public:
  explicit TProbeForm(std::shared_ptr<TProbe> probe = std::make_shared<TProbe>())
      : TfrmMain(nullptr,
                 [probe](TTamsel& converter, const TConversionRequest& request) {
                   ++probe->Conversions;
                   {
                     const std::lock_guard lock(probe->Mutex);
                     probe->Converters.insert(&converter);
                     probe->BaseUrl = request.BaseUrl;
                   }
                   if (probe->DelayMs) QThread::msleep(static_cast<unsigned>(probe->DelayMs));
                   switch (probe->Failure.load()) {
                   case TProbe::Std:
                     throw std::runtime_error("converter gave up");
                   case TProbe::Other:
                     throw 42;
                   case TProbe::Oversized: {
                     TConversionRequest tooLong = request;
                     tooLong.Html = QString(qsizetype(kMaxInputBytes / 2 + 1), u'x');
                     return ConvertWith(converter, tooLong);
                   }
                   case TProbe::None:
                     break;
                   }
                   return ConvertWith(converter, request);
                 }),
        Probe(std::move(probe)) {}
  std::shared_ptr<TProbe> Probe;
  QString OpenAnswer;
  QString SaveAnswer;
  QString SaveSuggested;
  QStringList Messages;
  bool RealMessageBoxes = false;

protected:
  QString AskOpenFileName() override { return OpenAnswer; }
  QString AskSaveFileName(const QString& suggestion) override {
    SaveSuggested = suggestion;
    return SaveAnswer;
  }
  void ShowError(const QString& message) override {
    Messages << message;
    if (RealMessageBoxes) TfrmMain::ShowError(message);
  }
};

// What a browser puts on the clipboard for a copied part of a page.
QMimeData* Offer(const QString& html, const QString& plain) {
  auto* mime = new QMimeData;
  if (!html.isNull()) mime->setHtml(html);
  if (!plain.isNull()) mime->setText(plain);
  return mime;
}

// A clipboard with any flavours, as the browsers set them.
QMimeData* Flavours(const QList<std::pair<QString, QByteArray>>& formats) {
  auto* mime = new QMimeData;
  for (const auto& [format, bytes] : formats)
    mime->setData(format, bytes);
  return mime;
}

// Firefox's private flavours: UTF-16LE without a byte order mark.
QByteArray Utf16(const QString& text) {
  return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

// HTML behind a Windows clipboard header, its offsets counted in bytes.
QByteArray WindowsClipboard(const QByteArray& before, const QByteArray& fragment,
                            const QByteArray& after) {
  const char* format = "Version:0.9\r\nStartHTML:%010d\r\nEndHTML:%010d\r\n"
                       "StartFragment:%010d\r\nEndFragment:%010d\r\n"
                       "SourceURL:https://example.net/w/page\r\n";
  const int header = int(QString::asprintf(format, 0, 0, 0, 0).size());
  const int startFragment = header + int(before.size()) + 20;
  const int endFragment = startFragment + int(fragment.size());
  const int endHtml = endFragment + 18 + int(after.size());
  return QString::asprintf(format, header, endHtml, startFragment, endFragment).toLatin1() +
         before + "<!--StartFragment-->" + fragment + "<!--EndFragment-->" + after;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
  return path;
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A drag that enters a widget and drops there, as a file manager's would.
bool Drop(QWidget* target, QMimeData* mime) {
  const QPoint at(target->width() / 2, target->height() / 2);
  QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDragMoveEvent move(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &move);
  QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

// Types text one character at a time, also characters that have no key of
// their own (QTest::keyClicks only knows Latin-1).
void Type(QWidget* widget, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    const QString ch = text.mid(i, n);
    i += n - 1;
    const char16_t c = ch[0].unicode();
    const auto key = c >= u'a' && c <= u'z'  ? Qt::Key(Qt::Key_A + (c - u'a'))
                     : c >= 0x20 && c < 0x7F ? Qt::Key(c)
                                             : Qt::Key_unknown;
    QTest::sendKeyEvent(QTest::Click, widget, key, ch, Qt::NoModifier);
  }
}

bool AllSelected(const QPlainTextEdit* memo) {
  const QTextCursor cursor = memo->textCursor();
  return cursor.selectionStart() == 0 &&
         cursor.selectionEnd() == memo->document()->characterCount() - 1;
}

void Click(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

int RightGap(const QWidget* child) {
  return child->parentWidget()->width() - child->geometry().right() - 1;
}

} // namespace

class TFormMainTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TProbeForm> Form;
  // The window's settings, never the user's.
  QTemporaryDir SettingsDir;

  // Until the conversions of all edits so far have finished.
  void Settle() {
    QTRY_VERIFY_WITH_TIMEOUT(Form->Idle(), 20000);
    QApplication::processEvents();
  }
  QString Output() {
    Settle();
    return EditorText(*Form->memoDokuWiki);
  }
  QString Input() const { return EditorText(*Form->memoHtml); }
  int Conversions() {
    Settle();
    return Form->Probe->Conversions;
  }

private slots:
  void initTestCase() {
    QVERIFY(SettingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, SettingsDir.path());
  }

  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, u"tamsel"_s, u"tamsel"_s).clear();
    Form = std::make_unique<TProbeForm>();
    Form->show();
    Form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    Form->memoHtml->setFocus();
  }
  void cleanup() { Form.reset(); }

  void startsEmptyAndUnconverted() {
    QCOMPARE(Conversions(), 0);
    QVERIFY(Input().isEmpty());
    QVERIFY(Output().isEmpty());
    for (QCheckBox* box : {Form->cbxHtmlUtf8, Form->cbxDokuWikiUtf8, Form->cbxDokuWikiNoLinks,
                           Form->cbxDokuWikiEmphasis})
      QVERIFY(!box->isChecked());
    QCOMPARE(Form->memoHtml->placeholderText(), u"Paste HTML here, or open a file with Ctrl+O"_s);
    QVERIFY(Form->lblStatus->isVisible());
    QVERIFY(!Form->lblBusy->isVisible());
    QCOMPARE(QApplication::focusWidget(), Form->memoHtml);
  }

  void captionsAndSizes() {
    QCOMPARE(Form->windowTitle(), u"Tamsel [Version 2012-08-13]"_s);
    QCOMPARE(Caption(), Form->windowTitle());
    QCOMPARE(Form->minimumSize(), QSize(400, 400));
    QCOMPARE(Form->size(), QSize(600, 500));
    QCOMPARE(Form->cbxHtmlUtf8->text(), u"&UTF-8"_s);
    QCOMPARE(Form->cbxDokuWikiUtf8->text(), u"U&TF-8"_s);
    QCOMPARE(Form->cbxDokuWikiNoLinks->text(), u"No &Links"_s);
    QCOMPARE(Form->cbxDokuWikiEmphasis->text(), u"&Emphasis"_s);
    QCOMPARE(Form->pnlHtmlTop->findChild<QLabel*>()->text(), u"HTML Input"_s);
    QCOMPARE(Form->pnlDokuWikiTop->findChild<QLabel*>()->text(), u"DokuWiki Output"_s);
    QVERIFY(Form->pnlHtmlTop->findChild<QLabel*>()->font().bold());
    QVERIFY(!Form->cbxHtmlUtf8->font().bold());
    QCOMPARE(Form->pnlHtmlTop->height(), 21);
    QCOMPARE(Form->pnlDokuWikiTop->height(), 21);
    QCOMPARE(Form->Splitter1->handleWidth(), 3);
    for (QCheckBox* box : {Form->cbxHtmlUtf8, Form->cbxDokuWikiUtf8, Form->cbxDokuWikiNoLinks,
                           Form->cbxDokuWikiEmphasis}) {
      QCOMPARE(box->height(), 17);
      QCOMPARE(box->y(), 2);
      QVERIFY(box->width() >= 70);
    }
    QVERIFY(qAbs(Form->memoHtml->height() - Form->memoDokuWiki->height()) <= 1);
    QCOMPARE(Form->font().pointSize(), 8);
    for (QPlainTextEdit* memo : {Form->memoHtml, Form->memoDokuWiki}) {
      QCOMPARE(memo->font().pointSize(), 10);
      const QFontMetrics metrics(memo->font());
      QCOMPARE(metrics.horizontalAdvance(u'i'), metrics.horizontalAdvance(u'W'));
      QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
      QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }
    QVERIFY(!Form->memoHtml->isReadOnly());
    QVERIFY(Form->memoDokuWiki->isReadOnly());
  }

  // Check boxes stay anchored right, and both editors share what the window
  // gains.
  void resizing() {
    const int htmlHeight = Form->memoHtml->height();
    const int outHeight = Form->memoDokuWiki->height();
    const int gapUtf8 = RightGap(Form->cbxDokuWikiUtf8);
    const int gapLast = RightGap(Form->cbxDokuWikiEmphasis);
    QCOMPARE(gapLast, 23);
    QCOMPARE(Form->cbxHtmlUtf8->x(), Form->cbxDokuWikiUtf8->x());
    Form->resize(800, 700);
    QTRY_COMPARE(Form->memoDokuWiki->height() + Form->memoHtml->height(),
                 outHeight + htmlHeight + 200);
    QVERIFY(Form->memoHtml->height() >= htmlHeight + 90);
    QVERIFY(Form->memoDokuWiki->height() >= outHeight + 90);
    QCOMPARE(RightGap(Form->cbxDokuWikiUtf8), gapUtf8);
    QCOMPARE(RightGap(Form->cbxDokuWikiEmphasis), gapLast);
    QCOMPARE(Form->cbxHtmlUtf8->x(), Form->cbxDokuWikiUtf8->x());
  }

  void typingConvertsLive() {
    QTest::keyClicks(Form->memoHtml, "<h2>Intro</h2><p>Hello <b>world");
    QCOMPARE(Output(), u"===== Intro =====\n\nHello **world**"_s);
    QTest::keyClicks(Form->memoHtml, "</b>!</p>");
    QCOMPARE(Output(), u"===== Intro =====\n\nHello **world**!"_s);
  }

  // One whole conversion per user edit of the input, none for anything else;
  // edits made while one runs share the next.
  void oneConversionPerEdit() {
    QTest::keyClicks(Form->memoHtml, "<p>abc</p>");
    QVERIFY(Conversions() >= 1 && Conversions() <= 10);
    QCOMPARE(Output(), u"abc"_s);
    Form->Probe->Conversions = 10;
    QTest::keyClick(Form->memoHtml, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Form->memoHtml, Qt::Key_X, Qt::ControlModifier); // cut
    QCOMPARE(Conversions(), 11);
    QVERIFY(Output().isEmpty());
    QTest::keyClick(Form->memoHtml, Qt::Key_V, Qt::ControlModifier); // paste
    QCOMPARE(Conversions(), 12);
    QCOMPARE(Output(), u"abc"_s);
    QTest::keyClick(Form->memoHtml, Qt::Key_Backspace);
    QCOMPARE(Conversions(), 13);
    QTest::keyClick(Form->memoHtml, Qt::Key_Z, Qt::ControlModifier); // undo
    QCOMPARE(Conversions(), 14);
    QCOMPARE(Input(), u"<p>abc</p>"_s);
    // Moving, selecting and the output editor change nothing.
    QTest::keyClick(Form->memoHtml, Qt::Key_Left);
    QTest::keyClick(Form->memoHtml, Qt::Key_Home, Qt::ShiftModifier);
    Form->memoDokuWiki->setPlainText(u"x"_s);
    QCOMPARE(Conversions(), 14);
    Click(Form->cbxDokuWikiNoLinks);
    QCOMPARE(Conversions(), 15);
  }

  void clearingInputClearsOutput() {
    QTest::keyClicks(Form->memoHtml, "<p>One</p><p>Two</p>");
    QCOMPARE(Output(), u"One\n\nTwo"_s);
    QTest::keyClick(Form->memoHtml, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Form->memoHtml, Qt::Key_Delete);
    QVERIFY(Input().isEmpty());
    QVERIFY(Output().isEmpty());
  }

  void checkBoxReconverts_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("No Links")
        << u"cbxDokuWikiNoLinks"_s
        << u"<p><a href=\"http://x.org/\">x</a> <a href=\"a/b.html\">p</a></p>"_s
        << u"[[http://x.org/|x]] [[a:b|p]]"_s << u"x p"_s;
    QTest::newRow("UTF-8 output") << u"cbxDokuWikiUtf8"_s << u"<p>ü</p>"_s << u"ü"_s << u"Ã¼"_s;
    QTest::newRow("UTF-8 input") << u"cbxHtmlUtf8"_s << u"<p>Ã¼</p>"_s << u"Ã¼"_s << u"ü"_s;
  }
  void checkBoxReconverts() {
    QFETCH(QString, box);
    QFETCH(QString, input);
    QFETCH(QString, before);
    QFETCH(QString, after);
    auto* cbx = Form->findChild<QCheckBox*>(box);
    QVERIFY(cbx);
    Type(Form->memoHtml, input);
    QCOMPARE(Output(), before);
    Click(cbx);
    QVERIFY(cbx->isChecked());
    QCOMPARE(Output(), after);
    Click(cbx);
    QVERIFY(!cbx->isChecked());
    QCOMPARE(Output(), before);
  }

  void accelerators_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("box");
    QTest::newRow("Alt+U") << int(Qt::Key_U) << u"cbxHtmlUtf8"_s;
    QTest::newRow("Alt+T") << int(Qt::Key_T) << u"cbxDokuWikiUtf8"_s;
    QTest::newRow("Alt+L") << int(Qt::Key_L) << u"cbxDokuWikiNoLinks"_s;
    QTest::newRow("Alt+E") << int(Qt::Key_E) << u"cbxDokuWikiEmphasis"_s;
  }
  void accelerators() {
    QFETCH(int, key);
    QFETCH(QString, box);
    auto* cbx = Form->findChild<QCheckBox*>(box);
    QVERIFY(cbx);
    QTest::keyClicks(Form->memoHtml, "<p>x</p>");
    const int before = Conversions();
    QTest::keyClick(Form->memoHtml, Qt::Key(key), Qt::AltModifier);
    QTRY_VERIFY(cbx->isChecked());
    QCOMPARE(Conversions(), before + 1);
    QCOMPARE(Input(), u"<p>x</p>"_s);
    // Typing goes on where it was.
    QCOMPARE(QApplication::focusWidget(), Form->memoHtml);
    QTest::keyClicks(Form->memoHtml, "<p>y</p>");
    QCOMPARE(Input(), u"<p>x</p><p>y</p>"_s);
  }

  // Windows-1252 stands for the system's 8-bit code page.
  void gruesse_data() {
    QTest::addColumn<bool>("htmlUtf8");
    QTest::addColumn<bool>("dokuWikiUtf8");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("both clear") << false << false << u"Grüße"_s << u"Grüße"_s;
    QTest::newRow("output as bytes") << false << true << u"Grüße"_s << u"GrÃ¼ÃŸe"_s;
    QTest::newRow("input as bytes") << true << false << u"GrÃ¼ÃŸe"_s << u"Grüße"_s;
    QTest::newRow("both as bytes") << true << true << u"GrÃ¼ÃŸe"_s << u"GrÃ¼ÃŸe"_s;
  }
  void gruesse() {
    QFETCH(bool, htmlUtf8);
    QFETCH(bool, dokuWikiUtf8);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    if (htmlUtf8) Click(Form->cbxHtmlUtf8);
    if (dokuWikiUtf8) Click(Form->cbxDokuWikiUtf8);
    Type(Form->memoHtml, "<p>"_L1 + text + "</p>"_L1);
    QCOMPARE(Input(), "<p>"_L1 + text + "</p>"_L1);
    QCOMPARE(Output(), expected);
  }

  // The texts are those an X11 keyboard sends: Ctrl turns letters into
  // control characters.
  void selectAll_data() {
    QTest::addColumn<bool>("output");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    for (bool output : {false, true}) {
      const char* editor = output ? "memoDokuWiki " : "memoHtml ";
      QTest::addRow("%sctrl", editor) << output << int(Qt::ControlModifier) << u"\x01"_s;
      QTest::addRow("%sctrl+shift", editor)
          << output << int(Qt::ControlModifier | Qt::ShiftModifier) << u"\x01"_s;
      QTest::addRow("%sctrl+alt", editor)
          << output << int(Qt::ControlModifier | Qt::AltModifier) << u"\x01"_s;
      // Synthetic events carry the letter itself.
      QTest::addRow("%sctrl with letter", editor) << output << int(Qt::ControlModifier) << u"a"_s;
      QTest::addRow("%sctrl+shift with letter", editor)
          << output << int(Qt::ControlModifier | Qt::ShiftModifier) << u"A"_s;
    }
  }
  void selectAll() {
    QFETCH(bool, output);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QTest::keyClicks(Form->memoHtml, "<p>One</p><ul><li>two</li></ul>");
    const QString input = Input();
    const QString result = Output();
    QPlainTextEdit* memo = output ? Form->memoDokuWiki : Form->memoHtml;
    memo->setFocus();
    memo->moveCursor(QTextCursor::End);
    QVERIFY(!memo->textCursor().hasSelection());
    QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_A, text, Qt::KeyboardModifiers(modifiers));
    QVERIFY(AllSelected(memo));
    QCOMPARE(Input(), input);
    QCOMPARE(Output(), result);
  }

  // AltGr as Ctrl+Alt (Qt on Windows) types a character and must not select
  // all first, or the character would replace the whole input.
  void altGrTypesWithoutSelectingAll() {
    QTest::keyClicks(Form->memoHtml, "<p>x");
    QTest::sendKeyEvent(QTest::Click, Form->memoHtml, Qt::Key_A, u"ą"_s,
                        Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(Input(), u"<p>xą"_s);
    QCOMPARE(Output(), u"xą"_s);
  }

  void plainATypes() {
    QTest::keyClicks(Form->memoHtml, "<p>x");
    QTest::keyClick(Form->memoHtml, 'a');
    QTest::keyClick(Form->memoHtml, 'A', Qt::ShiftModifier);
    QCOMPARE(Input(), u"<p>xaA"_s);
    QCOMPARE(Output(), u"xaA"_s);
    QVERIFY(!Form->memoHtml->textCursor().hasSelection());
  }

  void outputRejectsTyping() {
    QTest::keyClicks(Form->memoHtml, "<p>keep</p>");
    Settle();
    QApplication::clipboard()->setText(u"pasted"_s);
    QPlainTextEdit* memo = Form->memoDokuWiki;
    memo->setFocus();
    QTest::keyClicks(memo, "typed");
    QTest::keyClick(memo, Qt::Key_Return);
    QTest::keyClick(memo, Qt::Key_Backspace);
    QTest::keyClick(memo, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(memo, Qt::Key_Delete);
    QTest::keyClick(memo, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(memo, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(Output(), u"keep"_s);
    // Still selectable by keyboard, and copyable.
    QVERIFY(memo->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
    QTest::keyClick(memo, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), u"keep"_s);
  }

  // Qt's own copy turns no-break spaces into spaces; in DokuWiki leading
  // spaces make a code block.
  void copyKeepsNoBreakSpaces() {
    QTest::keyClicks(Form->memoHtml, "<p>&nbsp;&nbsp;a</p><p>b</p>");
    const QString expected = u"\u00A0\u00A0a\n\nb"_s;
    QCOMPARE(Output(), expected);
    Form->memoDokuWiki->setFocus();
    QTest::keyClick(Form->memoDokuWiki, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Form->memoDokuWiki, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), expected);
    // Cut and paste inside the input keep them too.
    Form->memoHtml->clear();
    Type(Form->memoHtml, u"<p>\u00A0\u00A0a</p>"_s);
    QCOMPARE(Output(), u"\u00A0\u00A0a"_s);
    Form->memoHtml->setFocus();
    QTest::keyClick(Form->memoHtml, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Form->memoHtml, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(Form->memoHtml, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(Output(), u"\u00A0\u00A0a"_s);
  }

  void shiftEnterIsALineBreak() {
    QTest::keyClicks(Form->memoHtml, "<pre>a");
    QTest::keyClick(Form->memoHtml, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(Form->memoHtml, "b</pre>");
    QCOMPARE(Input(), u"<pre>a\nb</pre>"_s);
    QCOMPARE(Output(), u"<code>\na\nb\n</code>"_s);
  }

  // Tab goes through the editors and the boxes in the order they show; the
  // space bar works a box that has the focus.
  void tabOrder() {
    QTest::keyClicks(Form->memoHtml, "<p><em>x</em></p>");
    const QList<QWidget*> order = {Form->memoHtml,
                                   Form->cbxDokuWikiUtf8,
                                   Form->cbxDokuWikiNoLinks,
                                   Form->cbxDokuWikiEmphasis,
                                   Form->memoDokuWiki,
                                   Form->cbxHtmlUtf8,
                                   Form->memoHtml};
    for (qsizetype i = 0; i + 1 < order.size(); ++i) {
      QCOMPARE(QApplication::focusWidget(), order[i]);
      QTest::keyClick(order[i], Qt::Key_Tab);
    }
    QCOMPARE(QApplication::focusWidget(), Form->memoHtml);
    QTest::keyClick(Form->memoHtml, Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), Form->cbxHtmlUtf8);
    QCOMPARE(Input(), u"<p><em>x</em></p>"_s);
    Form->cbxDokuWikiEmphasis->setFocus();
    QTest::keyClick(Form->cbxDokuWikiEmphasis, Qt::Key_Space);
    QVERIFY(Form->cbxDokuWikiEmphasis->isChecked());
    QCOMPARE(Output(), u"//x//"_s);
  }

  // A refused input: said in the status line, the output marked as the
  // earlier input's, no message box; the next input that converts clears both.
  void refusalInStatusLine_data() {
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("message");
    QTest::newRow("std::exception") << int(TProbe::Std) << u"could not be converted"_s;
    QTest::newRow("other") << int(TProbe::Other) << u"could not be converted"_s;
    QTest::newRow("converter's limit") << int(TProbe::Oversized) << u"too long to convert"_s;
  }
  void refusalInStatusLine() {
    QFETCH(int, failure);
    QFETCH(QString, message);
    QTest::keyClicks(Form->memoHtml, "<p>old</p>");
    QCOMPARE(Output(), u"old"_s);
    QVERIFY(!Form->OutputStale());
    Form->Probe->Failure = TProbe::TFailure(failure);
    QTest::keyClicks(Form->memoHtml, "<p>new</p>");
    QCOMPARE(Input(), u"<p>old</p><p>new</p>"_s);
    QCOMPARE(Output(), u"old"_s);
    QVERIFY(Form->OutputStale());
    QVERIFY2(Form->lblStatus->text().contains(message), qPrintable(Form->lblStatus->text()));
    QVERIFY(!Form->lblStatus->text().contains(u"tamsel:"_s));
    QVERIFY(!Form->lblStatus->text().contains(u"MiB"_s));
    QVERIFY(Form->pnlDokuWikiTop->findChild<QLabel*>()->text().contains(u"earlier"_s));
    QVERIFY(Form->Messages.isEmpty());
    QVERIFY(!QApplication::activeModalWidget());

    // The program stays usable.
    Form->Probe->Failure = TProbe::None;
    QTest::keyClick(Form->memoHtml, Qt::Key_Space);
    QCOMPARE(Output(), u"old\n\nnew"_s);
    QVERIFY(!Form->OutputStale());
    QVERIFY(Form->lblStatus->text().isEmpty());
    QCOMPARE(Form->pnlDokuWikiTop->findChild<QLabel*>()->text(), u"DokuWiki Output"_s);
  }

  // Keys typed while a conversion runs reach the editor at once; the running
  // conversion's result is dropped for the newest input's, which is what
  // finally shows, with a busy mark meanwhile. One converter serves them all.
  void typingWhileConverting() {
    Form->Probe->DelayMs = 400;
    QElapsedTimer clock;
    clock.start();
    QTest::keyClicks(Form->memoHtml, "<p>abcdefgh</p>");
    // Without the worker each of the 15 keys would wait for its conversion.
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(Input(), u"<p>abcdefgh</p>"_s);
    QVERIFY(!Form->Idle());
    QTRY_VERIFY(Form->lblBusy->isVisible());
    QCOMPARE(Output(), u"abcdefgh"_s);
    QVERIFY(!Form->lblBusy->isVisible());
    QVERIFY(Conversions() < 15);
    QCOMPARE(Form->Probe->Converters.size(), 1);
  }

  // The designed conversion drops em and cite; "&Emphasis" converts as
  // tamsel-cli does.
  void emphasisBox() {
    QTest::keyClicks(Form->memoHtml, "<p><em>a</em> <cite>b</cite> <b>c</b></p>");
    QCOMPARE(Output(), u"a b **c**"_s);
    Click(Form->cbxDokuWikiEmphasis);
    QCOMPARE(Output(), u"//a// //b// **c**"_s);
  }

  // Size, splitter and boxes come back in the next run.
  void settingsRemembered() {
    Form->resize(700, 560);
    Form->Splitter1->setSizes({100, 300});
    QTRY_COMPARE(Form->size(), QSize(700, 560));
    const QList<int> sizes = Form->Splitter1->sizes();
    Click(Form->cbxDokuWikiNoLinks);
    Click(Form->cbxDokuWikiEmphasis);
    Form->close();
    Form = std::make_unique<TProbeForm>();
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    QCOMPARE(Form->size(), QSize(700, 560));
    QCOMPARE(Form->Splitter1->sizes(), sizes);
    QVERIFY(Form->cbxDokuWikiNoLinks->isChecked());
    QVERIFY(Form->cbxDokuWikiEmphasis->isChecked());
    QVERIFY(!Form->cbxHtmlUtf8->isChecked());
    QVERIFY(!Form->cbxDokuWikiUtf8->isChecked());
  }

  void replaceTextChangesOnlyTheDifference_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("same") << u"a\r\nb"_s << u"a\r\nb"_s;
    QTest::newRow("appended") << u"a\r\nb"_s << u"a\r\nbc\r\n\r\nd"_s;
    QTest::newRow("cut at the end") << u"a\r\nbc"_s << u"a"_s;
    QTest::newRow("changed inside") << u"one two three"_s << u"one 2 three"_s;
    QTest::newRow("line end inserted") << u"ab"_s << u"a\r\nb"_s;
    QTest::newRow("line end removed") << u"a\r\n\r\nb"_s << u"a\r\nb"_s;
    QTest::newRow("all different") << u"xyz"_s << u"abc"_s;
    QTest::newRow("from empty") << QString() << u"a\r\nb"_s;
    QTest::newRow("to empty") << u"a\r\nb"_s << QString();
    QTest::newRow("repeated text") << u"aaaa"_s << u"aaaaaa"_s;
  }
  void replaceTextChangesOnlyTheDifference() {
    QFETCH(QString, before);
    QFETCH(QString, after);
    QPlainTextEdit memo;
    memo.setPlainText(before);
    ReplaceText(memo, after);
    QString expected = after;
    expected.replace(u"\r\n"_s, u"\n"_s);
    QCOMPARE(memo.toPlainText(), expected);
    QCOMPARE(memo.document()->blockCount(), expected.count(u'\n') + 1);
  }

  void outputKeepsItsScrollPosition() {
    QString html;
    for (int i = 0; i < 300; ++i)
      html += u"<p>line %1</p>"_s.arg(i);
    Form->memoHtml->setPlainText(html);
    Settle();
    QScrollBar* bar = Form->memoDokuWiki->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const int position = bar->value();
    QVERIFY(position > 0);
    Form->memoHtml->moveCursor(QTextCursor::End);
    QTest::keyClicks(Form->memoHtml, "<p>end</p>");
    QVERIFY(Output().endsWith(u"line 299\n\nend"_s));
    QCOMPARE(bar->value(), position);
  }

  // Which flavour of the clipboard becomes the input, by Ctrl+V and by
  // Ctrl+Shift+V (plain text only).
  void paste_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<bool>("plainOnly");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("output");
    const QString browser = u"<meta charset='utf-8'><!--StartFragment--><h2>Intro</h2><p>Hello "
                            u"<b>world</b> and <a href=\"http://example.com/\">a link</a></p>"
                            u"<!--EndFragment-->"_s;
    const QString rendered = u"Intro\nHello world and a link"_s;
    const QString converted =
        u"===== Intro =====\n\nHello **world** and [[http://example.com/|a link]]"_s;
    QTest::newRow("HTML and rendered text") << browser << rendered << false << browser << converted;
    // An editor offers the source it shows as coloured HTML too.
    const QString source = u"<h2>Intro</h2>\n<p>Hello <b>world</b></p>"_s;
    const QString coloured = u"<pre><span style=\"color:#800\">&lt;h2&gt;</span>Intro&lt;/h2&gt;"
                             u"\n&lt;p&gt;Hello &lt;b&gt;world&lt;/b&gt;&lt;/p&gt;</pre>"_s;
    QTest::newRow("HTML and source text")
        << coloured << source << false << source << u"===== Intro =====\n\nHello **world**"_s;
    QTest::newRow("source text starting inside")
        << coloured << u"Hello <b>world</b></p>"_s << false << u"Hello <b>world</b></p>"_s
        << u"Hello **world**"_s;
    QTest::newRow("HTML only") << browser << QString() << false << browser << converted;
    QTest::newRow("plain only") << QString() << u"a <b>b</b>"_s << false << u"a <b>b</b>"_s
                                << u"a **b**"_s;
    QTest::newRow("plain text by Ctrl+Shift+V")
        << browser << rendered << true << rendered << u"Intro Hello world and a link"_s;
    QTest::newRow("HTML only by Ctrl+Shift+V") << u"<p>Hello <b>world</b></p>"_s << QString()
                                               << true << u"Hello world"_s << u"Hello world"_s;
  }
  void paste() {
    QFETCH(QString, html);
    QFETCH(QString, plain);
    QFETCH(bool, plainOnly);
    QFETCH(QString, input);
    QFETCH(QString, output);
    QApplication::clipboard()->setMimeData(Offer(html, plain));
    const Qt::KeyboardModifiers keys =
        plainOnly ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier;
    QTest::keyClick(Form->memoHtml, Qt::Key_V, keys);
    QCOMPARE(Input(), input);
    QCOMPARE(Output(), output);
    QCOMPARE(Conversions(), 1);
  }

  // Clipboards as browsers and other programs set them, flavours and bytes.
  void browserPaste_data() {
    QTest::addColumn<QMimeData*>("mime");
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("styledByCss");
    const QString plain = u"text/plain"_s;
    const QString html = u"text/html"_s;
    // Inline styles on every element, relative links, the address apart.
    QTest::newRow("Chromium")
        << Flavours(
               {{html, "<meta charset='utf-8'><h2 style=\"color: rgb(32, 33, 36); font-family: "
                       "Roboto, sans-serif;\">Intro</h2><p style=\"color: rgb(32, 33, 36);\">See "
                       "<a href=\"/docs/a.html?x=1&amp;y=2\" style=\"color: blue;\">the docs</a> "
                       "<img src=\"img/x.png\" alt=\"x\"></p>"},
                {plain, "Intro\nSee the docs"},
                {u"chromium/x-source-url"_s, "https://example.org/guide/page.html"}})
        << u"===== Intro =====\n\nSee [[https://example.org/docs/a.html?x=1&y=2|the docs]] "
           u"{{https://example.org/guide/img/x.png|x}}"_s
        << false;
    // Bare items; the list, in the UTF-16 context flavour, numbers from 3.
    QTest::newRow("Firefox list items")
        << Flavours({{html, "<meta http-equiv=\"content-type\" content=\"text/html; "
                            "charset=utf-8\"><li>one</li><li>two <a href=\"b.html\">b</a></li>"},
                     {plain, "one\ntwo b"},
                     {u"text/_moz_htmlcontext"_s,
                      Utf16(u"<html lang=\"en\"><body><div id=\"main\"><ol start=\"3\"></ol>"
                            u"</div></body></html>"_s)},
                     {u"text/_moz_htmlinfo"_s, Utf16(u"0,0"_s)},
                     {u"text/x-moz-url-priv"_s, Utf16(u"https://example.org/a/index.html"_s)}})
        << u"  - one\n  - two [[https://example.org/a/b.html|b]]"_s << false;
    QTest::newRow("Firefox lines of a code block")
        << Flavours(
               {{html, "<meta http-equiv=\"content-type\" content=\"text/html; "
                       "charset=utf-8\">int a;\n  int b;"},
                {plain, "int a;\n  int b;"},
                {u"text/_moz_htmlcontext"_s,
                 Utf16(u"<html><body><pre class=\"src\"><code></code></pre></body></html>"_s)}})
        << u"<code>\nint a;\n  int b;\n</code>"_s << false;
    // A page whose text shows tags: its HTML still has the page's structure.
    QTest::newRow("page quoting tags")
        << Flavours({{html, "<meta charset='utf-8'><h3>Closing</h3><p>End it with "
                            "<code>&lt;/div&gt;</code>, or <code>&lt;br/&gt;</code>.</p>"
                            "<pre>&lt;script&gt;run()&lt;/script&gt;</pre>"},
                     {plain, "Closing\nEnd it with </div>, or <br/>.\n<script>run()</script>"}})
        << u"==== Closing ====\n\nEnd it with ''</div>'', or ''<br/>''.\n\n<code>\n"
           u"<script>run()</script>\n</code>"_s
        << false;
    QTest::newRow("part of a paragraph quoting tags")
        << Flavours({{html, "<meta charset='utf-8'><span style=\"color: rgb(32, 33, 36);\">Wrap it "
                            "in </span><code>&lt;div&gt;</code><span style=\"color: rgb(32, 33, "
                            "36);\"> and </span><code>&lt;/div&gt;</code>"},
                     {plain, "Wrap it in <div> and </div>"}})
        << u"Wrap it in ''<div>'' and ''</div>''"_s << false;
    // An editor's copy of source: the HTML flavour only colours it.
    QTest::newRow("editor colouring source")
        << Flavours({{html, "<meta charset='utf-8'><div style=\"color: #d4d4d4;\"><div><span "
                            "style=\"color: #808080;\">&lt;</span><span style=\"color: "
                            "#569cd6;\">h2</span><span>&gt;</span>Intro&lt;/h2&gt;</div></div>"},
                     {plain, "<h2>Intro</h2>"}})
        << u"===== Intro ====="_s << false;
    // Chromium's triple-click ends with a line end of its own.
    QTest::newRow("Chromium triple-click")
        << Flavours({{html, "<meta charset='utf-8'><p style=\"margin: 0px;\">One line</p>"
                            "<br class=\"Apple-interchange-newline\">"},
                     {plain, "One line\n"}})
        << u"One line"_s << false;
    // Everything inside a <b style="font-weight:normal">, weights as CSS.
    QTest::newRow("Google Docs")
        << Flavours({{html, "<meta charset=\"utf-8\"><b style=\"font-weight:normal;\" "
                            "id=\"docs-internal-guid-5b2c\"><p dir=\"ltr\" style=\"line-height:"
                            "1.38;\"><span style=\"font-size:11pt;font-weight:700;\">Bold</span>"
                            "<span style=\"font-size:11pt;font-weight:400;\"> plain</span></p><p "
                            "dir=\"ltr\"><span style=\"font-size:11pt;\">Second</span></p></b>"
                            "<br class=\"Apple-interchange-newline\">"},
                     {plain, "Bold plain\nSecond\n"}})
        << u"**Bold** plain\n\nSecond"_s << true;
    // What programs under Wine or a remote desktop offer.
    QTest::newRow("Windows clipboard header")
        << Flavours({{html, WindowsClipboard("<html><body><ul>",
                                             "<li>x <a href=\"y.html\">y</a>"
                                             "</li>",
                                             "</ul></body></html>")},
                     {plain, "x y"}})
        << u"  * x [[https://example.net/w/y.html|y]]"_s << false;
  }
  void browserPaste() {
    QFETCH(QMimeData*, mime);
    QFETCH(QString, output);
    QFETCH(bool, styledByCss);
    QApplication::clipboard()->setMimeData(mime);
    QTest::keyClick(Form->memoHtml, Qt::Key_V, Qt::ControlModifier);
    const QString result = Output();
    QVERIFY2(!result.contains(u"\\\\"_s), qPrintable(result));
    QVERIFY2(!result.contains(u"Version:"_s), qPrintable(result));
    // The inline styles reach the converter, which reads the weights.
    if (styledByCss) QVERIFY(Input().contains(u"font-weight:700"_s));
    QCOMPARE(result, output);
  }

  // The page a paste came from goes with every conversion of what it pasted,
  // for the converter's links; a new document (cleared, opened) has none.
  void pastedPageGoesWithTheInput() {
    const QUrl page(u"https://example.org/guide/page.html"_s);
    QApplication::clipboard()->setMimeData(
        Flavours({{u"text/html"_s, "<p><a href=\"b.html\">b</a></p>"},
                  {u"chromium/x-source-url"_s, page.toEncoded()}}));
    QTest::keyClick(Form->memoHtml, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(Output(), u"[[https://example.org/guide/b.html|b]]"_s);
    QCOMPARE(Form->Probe->BaseUrl, page);
    QVERIFY(Form->lblStatus->text().contains(page.toString()));
    QTest::keyClicks(Form->memoHtml, "<p>typed</p>");
    Settle();
    QCOMPARE(Form->Probe->BaseUrl, page);
    QTest::keyClick(Form->memoHtml, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(Form->memoHtml, Qt::Key_Delete);
    QTest::keyClicks(Form->memoHtml, "<p>new</p>");
    Settle();
    QVERIFY(Form->Probe->BaseUrl.isEmpty());
  }

  // A drop of text follows the paste rules; a dropped file opens, wherever it
  // lands, instead of putting its URL into the input.
  void drop_data() {
    QTest::addColumn<QString>("target");
    QTest::newRow("input") << u"memoHtml"_s;
    QTest::newRow("output") << u"memoDokuWiki"_s;
    QTest::newRow("panel") << u"pnlHtmlTop"_s;
  }
  void drop() {
    QFETCH(QString, target);
    QWidget* widget = Form->findChild<QWidget*>(target);
    QVERIFY(widget);
    if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) widget = memo->viewport();
    QTemporaryDir dir;
    const QString path = WriteFile(dir, u"dropped.html"_s,
                                   "<p>Gr\xFC\xDF"
                                   "e</p>");
    QVERIFY(!path.isEmpty());
    std::unique_ptr<QMimeData> mime(new QMimeData);
    mime->setUrls({QUrl::fromLocalFile(path)});
    QVERIFY(Drop(widget, mime.get()));
    QCOMPARE(Input(), u"<p>Grüße</p>"_s);
    QCOMPARE(Output(), u"Grüße"_s);
    QCOMPARE(Form->OpenedFile, path);
  }
  void dropHtml() {
    std::unique_ptr<QMimeData> mime(Offer(u"<p><i>dropped</i></p>"_s, u"dropped"_s));
    QVERIFY(Drop(Form->memoHtml->viewport(), mime.get()));
    QCOMPARE(Input(), u"<p><i>dropped</i></p>"_s);
    QCOMPARE(Output(), u"//dropped//"_s);
  }

  // The file named on the command line, decoded as the command line decodes.
  void openFromCommandLine_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("output");
    QTest::newRow("Latin-1 declared")
        << QByteArray("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                      "charset=iso-8859-1\"><title>Alt</title></head><body><h1>M\xFC"
                      "nchen</h1><p>Gr\xFC\xDF"
                      "e \xA9 2001</p></body></html>")
        << u"====== München ======\n\nGrüße © 2001"_s;
    const QString text = u"<p>Grüße \u20AC \U0001F600</p>"_s;
    QByteArray utf16("\xFF\xFE", 2);
    utf16.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    QTest::newRow("UTF-16 with byte order mark") << utf16 << u"Grüße € \U0001F600"_s;
    QTest::newRow("CR LF line ends")
        << QByteArray("<pre>a\r\nb</pre>\r\n") << u"<code>\na\nb\n</code>"_s;
  }
  void openFromCommandLine() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, output);
    QTemporaryDir dir;
    const QString path = WriteFile(dir, u"old.html"_s, bytes);
    Click(Form->cbxHtmlUtf8); // a decoded file is text, not bytes
    const int before = Conversions();
    QVERIFY(Form->OpenPath(path));
    QCOMPARE(Conversions(), before + 1);
    QVERIFY(!Form->cbxHtmlUtf8->isChecked());
    QCOMPARE(Output(), output);
    QVERIFY(Form->Messages.isEmpty());
    // Undo takes the whole file back.
    QTest::keyClick(Form->memoHtml, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(Input().isEmpty());
  }

  void openByShortcut() {
    QTemporaryDir dir;
    Form->OpenAnswer = WriteFile(dir, u"page.htm"_s, "<p>opened</p>");
    QTest::keyClick(Form->memoHtml, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(Output(), u"opened"_s);
    Form->OpenAnswer.clear(); // cancelled
    QTest::keyClick(Form->memoHtml, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(Output(), u"opened"_s);
  }

  void refusedFileKeepsInput_data() {
    QTest::addColumn<QString>("name");
    // -1: no such file, -2: a folder, -3: a FIFO nobody writes to, else a
    // sparse file of this size, or with text, that many bytes of it
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("missing") << u"missing.html"_s << qint64(-1) << QByteArray();
    QTest::newRow("folder") << u"folder.html"_s << qint64(-2) << QByteArray();
    QTest::newRow("FIFO") << u"fifo.html"_s << qint64(-3) << QByteArray();
    QTest::newRow("over the limit") << u"huge.html"_s << qint64(64 << 20) + 1 << QByteArray();
    // Within the limit in Windows-1252 bytes, beyond it as the window's UTF-16.
    QTest::newRow("text over the limit")
        << u"long.html"_s << qint64(kMaxInputBytes / 2 + 1) << QByteArray("\xE9");
    // A picture opened by mistake.
    QTest::newRow("binary") << u"photo.html"_s << qint64(40) << QByteArray("\0", 1);
  }
  void refusedFileKeepsInput() {
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(QByteArray, text);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (size == -2) QVERIFY(QDir(dir.path()).mkdir(name));
    if (size == -3) QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    if (size >= 0) {
      QFile file(path);
      QVERIFY(file.open(QIODevice::WriteOnly));
      if (text.isEmpty())
        QVERIFY(file.resize(size)); // sparse: nothing is written
      else
        QCOMPARE(file.write(text.repeated(size)), size);
    }
    QTest::keyClicks(Form->memoHtml, "<p>mine</p>");
    Form->OpenedFile = u"earlier.html"_s;
    QVERIFY(!Form->OpenPath(path));
    QCOMPARE(Input(), u"<p>mine</p>"_s);
    QCOMPARE(Output(), u"mine"_s);
    QCOMPARE(Form->OpenedFile, u"earlier.html"_s);
    QCOMPARE(Form->Messages.size(), 1);
    QVERIFY2(Form->Messages.front().contains(QDir::toNativeSeparators(path)),
             qPrintable(Form->Messages.front()));
  }

  // A DokuWiki page file: UTF-8, LF line ends, a final line end; the same
  // bytes when the output shows them as 8-bit characters.
  void save_data() {
    QTest::addColumn<bool>("shownAsBytes");
    QTest::newRow("text") << false;
    QTest::newRow("UTF-8 bytes shown") << true;
  }
  void save() {
    QFETCH(bool, shownAsBytes);
    QTemporaryDir dir;
    const QString html = WriteFile(dir, u"Grüße.html"_s,
                                   "<h1>Gr\xC3\xBC\xC3\x9F"
                                   "e</h1><p>a<br>b</p>");
    QVERIFY(Form->OpenPath(html));
    QCOMPARE(Form->windowTitle(), u"Grüße.html – Tamsel [Version 2012-08-13]"_s);
    QVERIFY(Form->lblStatus->text().contains(u"Grüße.html"_s));
    if (shownAsBytes) Click(Form->cbxDokuWikiUtf8);
    Form->SaveAnswer = dir.filePath(u"saved.txt"_s);
    QTest::keyClick(Form->memoHtml, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(Form->SaveSuggested, dir.filePath(u"Grüße.txt"_s));
    QCOMPARE(ReadFile(Form->SaveAnswer), QByteArray("====== Gr\xC3\xBC\xC3\x9F"
                                                    "e ======\n\na\\\\ b\n"));
    QVERIFY(Form->Messages.isEmpty());
  }
  void saveFailureIsShown() {
    QTest::keyClicks(Form->memoHtml, "<p>x</p>");
    Form->SaveAnswer = u"/nonexistent-folder/x.txt"_s;
    QVERIFY(!Form->SaveResult());
    QCOMPARE(Form->Messages.size(), 1);
    QVERIFY(Form->Messages.front().contains(u"/nonexistent-folder/x.txt"_s));
    QCOMPARE(Form->SaveSuggested, u"page.txt"_s);
  }

  void copyWholeResult() {
    QTest::keyClicks(Form->memoHtml, "<p>&nbsp;one</p><p>two</p>");
    QApplication::clipboard()->clear();
    QTest::keyClick(Form->memoHtml, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(QApplication::clipboard()->text(), u"\u00A0one\n\ntwo"_s);
    QCOMPARE(Input(), u"<p>&nbsp;one</p><p>two</p>"_s);
  }

  void actionsNameTheirShortcuts() {
    for (auto [action, keys] : {std::pair{Form->actOpen, "Ctrl+O"},
                                {Form->actSave, "Ctrl+S"},
                                {Form->actCopyResult, "Ctrl+Shift+C"},
                                {Form->actPastePlain, "Ctrl+Shift+V"}}) {
      QCOMPARE(action->shortcut(), QKeySequence(QString::fromLatin1(keys)));
      QVERIFY2(action->toolTip().contains(QString::fromLatin1(keys)),
               qPrintable(action->toolTip()));
      QVERIFY(Form->memoHtml->MenuActions.contains(action));
    }
    QVERIFY(!Form->memoDokuWiki->MenuActions.contains(Form->actPastePlain));
    QCOMPARE(Form->memoDokuWiki->MenuActions.size(), 3);
  }

  void accessibleNamesAndToolTips() {
    QCOMPARE(Form->memoHtml->accessibleName(), u"HTML input"_s);
    QCOMPARE(Form->memoDokuWiki->accessibleName(), u"DokuWiki output"_s);
    QSet<QString> names;
    for (auto [box, keys] : {std::pair{Form->cbxHtmlUtf8, "Alt+U"},
                             {Form->cbxDokuWikiUtf8, "Alt+T"},
                             {Form->cbxDokuWikiNoLinks, "Alt+L"},
                             {Form->cbxDokuWikiEmphasis, "Alt+E"}}) {
      names << box->accessibleName();
      QVERIFY(box->toolTip().endsWith(u"("_s + QString::fromLatin1(keys) + u")"_s));
    }
    QCOMPARE(names.size(), 4);
    // Plain words: what the box does for the user, not how.
    for (QCheckBox* box : {Form->cbxHtmlUtf8, Form->cbxDokuWikiUtf8})
      QVERIFY2(box->toolTip().contains(u"accented letters"_s) &&
                   !box->toolTip().contains(u"1252"_s) && !box->toolTip().contains(u"bytes"_s),
               qPrintable(box->toolTip()));
    QVERIFY(!Form->windowIcon().isNull());
    QVERIFY(!Form->windowIcon().pixmap(32, 32).isNull());
  }

  // A box with the focus shows a focus mark.
  void checkBoxShowsFocus() {
    QCheckBox* box = Form->cbxDokuWikiNoLinks;
    const QImage unfocused = box->grab().toImage();
    Click(box);
    Click(box); // back to clear, keeping the focus
    QVERIFY(box->hasFocus());
    QVERIFY(box->grab().toImage() != unfocused);
  }

  void noStaleSelectionInOutput() {
    QTest::keyClicks(Form->memoHtml, "<p>one two three</p>");
    Settle();
    Form->memoDokuWiki->setFocus();
    QTest::keyClick(Form->memoDokuWiki, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(Form->memoDokuWiki->textCursor().hasSelection());
    Form->memoHtml->setFocus();
    QTest::keyClick(Form->memoHtml, Qt::Key_Backspace);
    QTest::keyClicks(Form->memoHtml, "><p>four</p>");
    QCOMPARE(Output(), u"one two three\n\nfour"_s);
    QVERIFY(!Form->memoDokuWiki->textCursor().hasSelection());
  }

  // A picture after a browser paste, for a person to look at.
  void grabAfterBrowserPaste() {
    QApplication::clipboard()->setMimeData(
        Offer(u"<meta charset='utf-8'><h2>Intro</h2><p>Hello <b>world</b> and "
              u"<a href=\"http://example.com/\">a link</a></p>"_s,
              u"Intro\nHello world and a link"_s));
    QTest::keyClick(Form->memoHtml, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(Output().contains(u"[[http://example.com/|a link]]"_s));
    QPixmap shot = Form->grab();
    QVERIFY(shot.save(QStringLiteral(TAMSEL_PASTE_SHOT), "PNG"));
    qInfo("picture after a paste: %s", TAMSEL_PASTE_SHOT);
  }

  // A picture of the window with a sample document, for a person to look at.
  void grabWindow() {
    Form->memoHtml->setPlainText(QString::fromUtf8(
        "<h1>Release notes</h1>\n"
        "<p>Tamsel turns <b>HTML</b> into <i>DokuWiki</i> markup while you type.\n"
        "See <a href=\"http://www.dokuwiki.org/syntax\">the syntax page</a> or the\n"
        "<a href=\"manual/intro.html\">introduction</a>.</p>\n"
        "<ul><li>Headings, lists and tables</li><li>Links &amp; images</li></ul>\n"
        "<table><tr><th>Name</th><th>Grüße</th></tr><tr><td>Jörg</td><td "
        "align=\"right\">42</td></tr></table>\n"
        "<pre>int main() { return 0; }</pre>"));
    QVERIFY(Output().startsWith(u"====== Release notes ======"_s));
    Form->cbxDokuWikiNoLinks->setChecked(false);
    QPixmap shot = Form->grab();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), Form->size());
    QVERIFY(shot.save(QStringLiteral(TAMSEL_WINDOW_SHOT), "PNG"));
    qInfo("window picture: %s", TAMSEL_WINDOW_SHOT);
  }
};

QTEST_MAIN(TFormMainTest)
#include "formmain_tests.moc"
