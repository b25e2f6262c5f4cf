#include "Tamsel_FormMain.h"

#include "Tamsel.h"
#include "Tamsel_CodePage.h"
#include "Tamsel_Stack.h"

#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QSplitter>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <string>

namespace tamsel {

namespace {

// Layout in pixels at 96 dots per inch; Qt scales them with the screen.
constexpr int kStartWidth = 600;
constexpr int kStartHeight = 500;
constexpr int kMinSize = 400;
constexpr int kPanelHeight = 21;
constexpr int kPanelBorder = 4;
constexpr int kSplitterWidth = 3;
constexpr int kBoxWidth = 70;
constexpr int kBoxHeight = 17;
constexpr int kBoxTop = 2;
constexpr int kBoxGap = 10;       // between the two boxes of the output panel
constexpr int kBoxRightEdge = 23; // from the last box to the panel's right edge

// Fonts of a Windows original that Linux lacks: the hints pick the
// sans-serif and monospace fall-backs of the same point size.
QFont WindowFont() {
  QFont font(QStringLiteral("MS Sans Serif"), 8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QFont EditorFont() {
  QFont font(QStringLiteral("Courier New"), 10);
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  return font;
}

// Blocks of a plain-text document are separated by U+2029 in its raw text.
QString WithNewlines(QString text) {
  for (QChar& c : text)
    if (c == QChar::ParagraphSeparator) c = u'\n';
  return text;
}

void SetUpEditor(TMemo* memo, const char* name) {
  memo->setObjectName(QLatin1StringView(name));
  memo->setFont(EditorFont());
  memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Always shown, so that the text is not wrapped anew when it starts to
  // overflow.
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setTabChangesFocus(true);
}

QCheckBox* MakeBox(const QString& caption, const char* name) {
  auto* box = new QCheckBox(caption);
  box->setObjectName(QLatin1StringView(name));
  // Left out of the Tab order; a click or the accelerator still focuses it.
  box->setFocusPolicy(Qt::ClickFocus);
  return box;
}

// A captioned bar whose boxes keep their distance from its right edge; a
// missing second box leaves its place empty, so that the boxes of the two
// panels line up.
QFrame* MakePanel(const QString& caption, const char* name, QWidget* parent, QCheckBox* first,
                  QCheckBox* second, int boxWidth) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QLatin1StringView(name));
  panel->setFrameShape(QFrame::NoFrame);
  panel->setFixedHeight(kPanelHeight);
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(kPanelBorder, kBoxTop, kBoxRightEdge,
                             kPanelHeight - kBoxTop - kBoxHeight);
  layout->setSpacing(0);

  auto* label = new QLabel(caption, panel);
  QFont bold = panel->font();
  bold.setBold(true);
  label->setFont(bold);
  layout->addWidget(label, 0, Qt::AlignLeft | Qt::AlignVCenter);
  layout->addStretch(1);
  for (QCheckBox* box : {first, second}) {
    if (box) {
      box->setFixedSize(boxWidth, kBoxHeight);
      layout->addWidget(box);
    } else {
      layout->addSpacing(boxWidth);
    }
    if (box == first) layout->addSpacing(kBoxGap);
  }
  return panel;
}

} // namespace

QString Caption() {
  return QStringLiteral("Tamsel [Version %1]").arg(QLatin1StringView(kVersion));
}

QString DecodeResult(std::string_view utf8, bool asCodePage) {
  if (asCodePage) return FromCodePage(utf8);
  // A leading byte order mark is text the converter wrote, not a signature.
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                     QStringConverter::Flag::Stateless);
  return decoder(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

QString ConvertForDisplay(QStringView html, const TConvertChoices& choices) {
  std::string result;
  RunWithLargeStack([&] {
    TTamsel converter;
    converter.Options.SetLinks(!choices.NoLinks);
    if (choices.HtmlUtf8)
      result = converter.ConvertAnsi(ToCodePage(html), kEncUtf8);
    else
      result = converter.ConvertWide(
          std::u16string_view(html.utf16(), static_cast<std::size_t>(html.size())));
  });
  return DecodeResult(result, choices.DokuWikiUtf8);
}

void ReplaceText(QPlainTextEdit& memo, QString text) {
  // The document holds every line end as one paragraph separator.
  text.replace(QStringLiteral("\r\n"), QString(QChar::ParagraphSeparator));
  for (QChar& c : text)
    if (c == u'\n' || c == u'\r') c = QChar::ParagraphSeparator;
  QTextDocument* document = memo.document();
  const QString old = document->toRawText();
  const qsizetype shorter = std::min(old.size(), text.size());
  qsizetype prefix = 0;
  while (prefix < shorter && old[prefix] == text[prefix])
    ++prefix;
  qsizetype suffix = 0;
  while (suffix < shorter - prefix &&
         old[old.size() - 1 - suffix] == text[text.size() - 1 - suffix])
    ++suffix;
  if (prefix == old.size() && prefix == text.size()) return;
  if (prefix == 0 && suffix == 0) {
    memo.setPlainText(text);
    return;
  }
  QTextCursor cursor(document);
  cursor.setPosition(static_cast<int>(prefix));
  cursor.setPosition(static_cast<int>(old.size() - suffix), QTextCursor::KeepAnchor);
  cursor.insertText(text.mid(prefix, text.size() - prefix - suffix));
}

QString EditorText(const QPlainTextEdit& memo) {
  return WithNewlines(memo.document()->toRawText());
}

QMimeData* TMemo::createMimeDataFromSelection() const {
  auto* mime = new QMimeData;
  mime->setText(WithNewlines(textCursor().selectedText()));
  return mime;
}

void TMemo::keyPressEvent(QKeyEvent* event) {
  // Shift+Enter would put an invisible U+2028 into the text where a plain
  // line break is meant.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && event->modifiers().testFlag(Qt::ShiftModifier)) {
    QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                    event->text(), event->isAutoRepeat(), static_cast<ushort>(event->count()));
    QPlainTextEdit::keyPressEvent(&plain);
    event->setAccepted(plain.isAccepted());
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

TfrmMain::TfrmMain(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setFont(WindowFont());
  setMinimumSize(kMinSize, kMinSize);
  resize(kStartWidth, kStartHeight);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  cbxHtmlUtf8 = MakeBox(tr("&UTF-8"), "cbxHtmlUtf8");
  cbxDokuWikiUtf8 = MakeBox(tr("U&TF-8"), "cbxDokuWikiUtf8");
  cbxDokuWikiNoLinks = MakeBox(tr("No &Links"), "cbxDokuWikiNoLinks");
  // Wider only where the fall-back font needs it to show the whole caption.
  int boxWidth = kBoxWidth;
  for (QCheckBox* box : {cbxHtmlUtf8, cbxDokuWikiUtf8, cbxDokuWikiNoLinks}) {
    box->setFont(font());
    boxWidth = std::max(boxWidth, box->sizeHint().width());
  }

  pnlHtmlTop = MakePanel(tr("HTML Input"), "pnlHtmlTop", this, cbxHtmlUtf8, nullptr, boxWidth);
  root->addWidget(pnlHtmlTop);

  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setChildrenCollapsible(false);
  root->addWidget(Splitter1, 1);

  memoHtml = new TMemo(Splitter1);
  SetUpEditor(memoHtml, "memoHtml");

  auto* lower = new QWidget(Splitter1);
  auto* lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  lowerLayout->setSpacing(0);
  pnlDokuWikiTop = MakePanel(tr("DokuWiki Output"), "pnlDokuWikiTop", lower, cbxDokuWikiUtf8,
                             cbxDokuWikiNoLinks, boxWidth);
  lowerLayout->addWidget(pnlDokuWikiTop);
  memoDokuWiki = new TMemo(lower);
  SetUpEditor(memoDokuWiki, "memoDokuWiki");
  memoDokuWiki->setReadOnly(true);
  memoDokuWiki->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  memoDokuWiki->setUndoRedoEnabled(false);
  lowerLayout->addWidget(memoDokuWiki, 1);

  // The output takes up what the window gains or loses; the two editors start
  // equally high.
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  const int editors = kStartHeight - 2 * kPanelHeight - kSplitterWidth;
  Splitter1->setSizes({editors / 2, kPanelHeight + editors - editors / 2});

  setTabOrder(memoHtml, memoDokuWiki);

  connect(memoHtml, &QPlainTextEdit::textChanged, this, &TfrmMain::memoHtmlChange);
  for (QCheckBox* box : {cbxHtmlUtf8, cbxDokuWikiUtf8, cbxDokuWikiNoLinks})
    connect(box, &QCheckBox::clicked, this, &TfrmMain::memoHtmlChange);
  memoHtml->installEventFilter(this);
  memoDokuWiki->installEventFilter(this);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  FormCreate();
}

TConvertChoices TfrmMain::Choices() const {
  return {cbxHtmlUtf8->isChecked(), cbxDokuWikiUtf8->isChecked(), cbxDokuWikiNoLinks->isChecked()};
}

void TfrmMain::FormCreate() {
  setWindowTitle(Caption());
}

void TfrmMain::memoHtmlChange() {
  QString text;
  try {
    text = Convert(EditorText(*memoHtml), Choices());
  } catch (const std::exception& e) {
    ShowError(QString::fromLocal8Bit(e.what()));
    return;
  } catch (...) {
    ShowError(tr("The conversion failed."));
    return;
  }
  ReplaceText(*memoDokuWiki, std::move(text));
}

void TfrmMain::memoDokuKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift) {
  if (key != Qt::Key_A || !shift.testFlag(Qt::ControlModifier)) return;
  if (auto* memo = qobject_cast<QPlainTextEdit*>(sender)) memo->selectAll();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && (watched == memoHtml || watched == memoDokuWiki)) {
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    // Where Ctrl+Alt stands for AltGr (Qt on Windows), a key with printable
    // text types a character, such as the Polish a-ogonek on AltGr+A; selecting
    // all first would have it replace the whole text.
    const QString text = keyEvent->text();
    const bool typesCharacter =
        keyEvent->modifiers().testFlags(Qt::ControlModifier | Qt::AltModifier) && !text.isEmpty() &&
        text[0].isPrint();
    int key = keyEvent->key();
    if (!typesCharacter) memoDokuKeyDown(watched, key, keyEvent->modifiers());
    if (key == 0) return true;
  }
  return QWidget::eventFilter(watched, event);
}

QString TfrmMain::Convert(QStringView html, const TConvertChoices& choices) {
  return ConvertForDisplay(html, choices);
}

void TfrmMain::ShowError(const QString& message) {
  QMetaObject::invokeMethod(
      this, [this, message] { QMessageBox::critical(this, Caption(), message); },
      Qt::QueuedConnection);
}

} // namespace tamsel
