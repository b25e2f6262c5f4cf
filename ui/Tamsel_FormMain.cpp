// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_FormMain.h"

#include "Tamsel.h"
#include "Tamsel_CodePage.h"
#include "Tamsel_Files.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStringDecoder>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QSvgRenderer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <memory>
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

// A check box that shows its focus however it got it. Styles draw the mark
// only after focus moved by keyboard; after a click the space bar would
// toggle the box unseen.
class TCheckBox : public QCheckBox {
public:
  using QCheckBox::QCheckBox;

protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    if (hasFocus()) option.state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
    painter.drawControl(QStyle::CE_CheckBox, option);
  }
};

QCheckBox* MakeBox(const QString& caption, const char* name, const QString& accessibleName,
                   const QString& toolTip) {
  auto* box = new TCheckBox(caption);
  box->setObjectName(QLatin1StringView(name));
  // Two captions read "UTF-8"; a screen reader needs to tell them apart.
  box->setAccessibleName(accessibleName);
  box->setToolTip(toolTip);
  box->setAccessibleDescription(toolTip);
  return box;
}

// "Open an HTML file (Ctrl+O)": a tool tip names the shortcut.
QAction* MakeAction(QWidget* parent, const QString& text, const QString& toolTip,
                    const QKeySequence& shortcut) {
  auto* action = new QAction(text, parent);
  action->setShortcut(shortcut);
  action->setToolTip(
      QStringLiteral("%1 (%2)").arg(toolTip, shortcut.toString(QKeySequence::NativeText)));
  parent->addAction(action);
  return action;
}

// Line ends as the editor's document holds them: "\r\n" would make two blocks.
QString WithLineFeeds(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  return text;
}

// A captioned bar whose boxes keep their distance from its right edge; a null
// box leaves its place empty, so that the boxes of the two panels line up.
QFrame* MakePanel(const QString& caption, const char* name, QWidget* parent,
                  std::initializer_list<QCheckBox*> boxes, int boxWidth, QLabel** captionLabel) {
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
  bool firstBox = true;
  for (QCheckBox* box : boxes) {
    if (!firstBox) layout->addSpacing(kBoxGap);
    firstBox = false;
    if (box) {
      box->setFixedSize(boxWidth, kBoxHeight);
      layout->addWidget(box);
    } else {
      layout->addSpacing(boxWidth);
    }
  }
  if (captionLabel) *captionLabel = label;
  return panel;
}

} // namespace

QString Caption() {
  return QStringLiteral("Tamsel [Version %1]").arg(QLatin1StringView(kVersion));
}

QIcon AppIcon() {
  // Drawn here rather than by Qt's SVG icon plug-in, which need not be there.
  QSvgRenderer renderer(QStringLiteral(":/org.tamsel.Tamsel.svg"));
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QString DroppedFile(const QMimeData& source) {
  for (const QUrl& url : source.urls())
    if (url.isLocalFile()) return url.toLocalFile();
  return {};
}

QString DecodeResult(std::string_view utf8, bool asCodePage) {
  if (asCodePage) return FromCodePage(utf8);
  // A leading byte order mark is text the converter wrote, not a signature.
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                     QStringConverter::Flag::Stateless);
  return decoder(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size())));
}

void SetOptions(TOptions& options, const TConversionRequest& request) {
  options.SetLinks(!request.Choices.NoLinks);
  options.Emphasis = request.Choices.Emphasis;
  options.BaseUrl = request.BaseUrl.toString(QUrl::FullyEncoded).toStdString();
  // The editor's document holds LF line ends.
  options.LineBreak.assign(1, '\n');
}

QString ConvertWith(TTamsel& converter, const TConversionRequest& request) {
  SetOptions(converter.Options, request);
  // The converter moves a deeply nested input onto a stack large enough.
  const QString& html = request.Html;
  const std::string result = request.Choices.HtmlUtf8
                                 ? converter.ConvertAnsi(ToCodePage(html), kEncUtf8)
                                 : converter.ConvertWide(std::u16string_view(
                                       reinterpret_cast<const char16_t*>(html.utf16()),
                                       static_cast<std::size_t>(html.size())));
  return DecodeResult(result, request.Choices.DokuWikiUtf8);
}

QString ConvertForDisplay(QStringView html, const TConvertChoices& choices) {
  TTamsel converter;
  return ConvertWith(converter, {html.toString(), choices, {}});
}

bool ReplaceText(QPlainTextEdit& memo, QString text) {
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
  if (prefix == old.size() && prefix == text.size()) return false;
  if (prefix == 0 && suffix == 0) {
    memo.setPlainText(text);
    return true;
  }
  QTextCursor cursor(document);
  cursor.setPosition(static_cast<int>(prefix));
  cursor.setPosition(static_cast<int>(old.size() - suffix), QTextCursor::KeepAnchor);
  cursor.insertText(text.mid(prefix, text.size() - prefix - suffix));
  return true;
}

QString EditorText(const QPlainTextEdit& memo) {
  return WithNewlines(memo.document()->toRawText());
}

void TMemo::pastePlain() {
  PlainOnly = true;
  paste();
  PlainOnly = false;
}

bool TMemo::canInsertFromMimeData(const QMimeData* source) const {
  return source->hasHtml() || QPlainTextEdit::canInsertFromMimeData(source);
}

void TMemo::insertFromMimeData(const QMimeData* source) {
  const TPaste paste = PasteFromMime(*source, PlainOnly);
  emit Pasting(paste.PageUrl);
  QMimeData chosen;
  chosen.setText(WithLineFeeds(paste.Text));
  QPlainTextEdit::insertFromMimeData(&chosen);
}

void TMemo::contextMenuEvent(QContextMenuEvent* event) {
  const std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
  menu->addSeparator();
  menu->addActions(MenuActions);
  menu->setToolTipsVisible(true);
  menu->exec(event->globalPos());
}

void TMemo::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFile(*event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    QPlainTextEdit::dragEnterEvent(event);
}

void TMemo::dragMoveEvent(QDragMoveEvent* event) {
  if (!DroppedFile(*event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    QPlainTextEdit::dragMoveEvent(event);
}

void TMemo::dropEvent(QDropEvent* event) {
  const QString file = DroppedFile(*event->mimeData());
  if (file.isEmpty()) {
    QPlainTextEdit::dropEvent(event);
    return;
  }
  event->acceptProposedAction();
  emit FileDropped(file);
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

namespace {

// A conversion that takes longer than this shows the busy mark; shorter ones
// would only make it flicker.
constexpr int kBusyDelayMs = 300;

std::unique_ptr<QSettings> WindowSettings() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                     QStringLiteral("tamsel"), QStringLiteral("tamsel"));
}

} // namespace

TfrmMain::TfrmMain(QWidget* parent, TConvertStep step) : QWidget(parent) {
  setObjectName(QStringLiteral("frmMain"));
  setFont(WindowFont());
  setMinimumSize(kMinSize, kMinSize);
  resize(kStartWidth, kStartHeight);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  setWindowIcon(AppIcon());
  setAcceptDrops(true);

  cbxHtmlUtf8 = MakeBox(tr("&UTF-8"), "cbxHtmlUtf8", tr("Input as UTF-8 bytes"),
                        tr("Tick when the pasted text shows accented letters as pairs of odd "
                           "characters (“Ã©” for “é”): they are read back as the letters "
                           "they stand for (Alt+U)"));
  cbxDokuWikiUtf8 =
      MakeBox(tr("U&TF-8"), "cbxDokuWikiUtf8", tr("Output as UTF-8 bytes"),
              tr("Tick when the place you paste the result into shows accented letters as "
                 "pairs of odd characters: the result is shown in the form such a place "
                 "reads correctly (Alt+T)"));
  cbxDokuWikiNoLinks = MakeBox(tr("No &Links"), "cbxDokuWikiNoLinks", tr("No links"),
                               tr("Keep the text of links but make no wiki links of them "
                                  "(Alt+L)"));
  cbxDokuWikiEmphasis =
      MakeBox(tr("&Emphasis"), "cbxDokuWikiEmphasis", tr("Emphasis"),
              tr("Keep the italics of emphasised text and titles, underlined insertions, "
                 "keyboard keys as code and quotations in quotation marks, as tamsel-cli "
                 "does (Alt+E)"));
  const std::initializer_list<QCheckBox*> boxes = {cbxHtmlUtf8, cbxDokuWikiUtf8, cbxDokuWikiNoLinks,
                                                   cbxDokuWikiEmphasis};
  // Wider only where the fall-back font needs it to show the whole caption.
  int boxWidth = kBoxWidth;
  for (QCheckBox* box : boxes) {
    box->setFont(font());
    boxWidth = std::max(boxWidth, box->sizeHint().width());
    // The accelerator works the box and leaves the focus in the editor.
    box->installEventFilter(this);
  }

  pnlHtmlTop = MakePanel(tr("HTML Input"), "pnlHtmlTop", this, {cbxHtmlUtf8, nullptr, nullptr},
                         boxWidth, nullptr);
  root->addWidget(pnlHtmlTop);

  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(kSplitterWidth);
  Splitter1->setChildrenCollapsible(false);
  root->addWidget(Splitter1, 1);

  memoHtml = new TMemo(Splitter1);
  SetUpEditor(memoHtml, "memoHtml");
  memoHtml->setPlaceholderText(tr("Paste HTML here, or open a file with Ctrl+O"));

  auto* lower = new QWidget(Splitter1);
  auto* lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, 0, 0);
  lowerLayout->setSpacing(0);
  pnlDokuWikiTop = MakePanel(tr("DokuWiki Output"), "pnlDokuWikiTop", lower,
                             {cbxDokuWikiUtf8, cbxDokuWikiNoLinks, cbxDokuWikiEmphasis}, boxWidth,
                             &lblDokuWikiCaption);
  lowerLayout->addWidget(pnlDokuWikiTop);
  memoDokuWiki = new TMemo(lower);
  SetUpEditor(memoDokuWiki, "memoDokuWiki");
  memoDokuWiki->setReadOnly(true);
  memoDokuWiki->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  memoDokuWiki->setUndoRedoEnabled(false);
  lowerLayout->addWidget(memoDokuWiki, 1);

  // Both editors share what the window gains or loses; they start equally
  // high.
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 1);
  const int editors = kStartHeight - 2 * kPanelHeight - kSplitterWidth;
  Splitter1->setSizes({editors / 2, kPanelHeight + editors - editors / 2});

  auto* status = new QStatusBar(this);
  status->setObjectName(QStringLiteral("stbMain"));
  status->setSizeGripEnabled(false);
  lblStatus = new QLabel(status);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  lblStatus->setTextFormat(Qt::PlainText);
  lblBusy = new QLabel(tr("Converting…"), status);
  lblBusy->setObjectName(QStringLiteral("lblBusy"));
  lblBusy->hide();
  status->addWidget(lblStatus, 1);
  status->addPermanentWidget(lblBusy);
  root->addWidget(status);

  // In the order they show, top to bottom and left to right.
  setTabOrder(cbxHtmlUtf8, memoHtml);
  setTabOrder(memoHtml, cbxDokuWikiUtf8);
  setTabOrder(cbxDokuWikiUtf8, cbxDokuWikiNoLinks);
  setTabOrder(cbxDokuWikiNoLinks, cbxDokuWikiEmphasis);
  setTabOrder(cbxDokuWikiEmphasis, memoDokuWiki);
  memoHtml->setAccessibleName(tr("HTML input"));
  memoDokuWiki->setAccessibleName(tr("DokuWiki output"));

  actOpen = MakeAction(this, tr("&Open HTML File…"), tr("Open an HTML file"),
                       QKeySequence(Qt::CTRL | Qt::Key_O));
  actSave =
      MakeAction(this, tr("&Save DokuWiki Text…"), tr("Save the DokuWiki text as a page file"),
                 QKeySequence(Qt::CTRL | Qt::Key_S));
  actCopyResult =
      MakeAction(this, tr("Copy All DokuWiki &Text"), tr("Copy the whole DokuWiki text"),
                 QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  actPastePlain = MakeAction(this, tr("Paste as &Plain Text"),
                             tr("Paste the plain text, not the HTML, of the clipboard"),
                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
  connect(actOpen, &QAction::triggered, this, &TfrmMain::OpenFile);
  connect(actSave, &QAction::triggered, this, &TfrmMain::SaveResult);
  connect(actCopyResult, &QAction::triggered, this, &TfrmMain::CopyResult);
  connect(actPastePlain, &QAction::triggered, memoHtml, &TMemo::pastePlain);
  memoHtml->MenuActions = {actPastePlain, actOpen, actSave, actCopyResult};
  memoDokuWiki->MenuActions = {actOpen, actSave, actCopyResult};
  for (TMemo* memo : {memoHtml, memoDokuWiki})
    connect(memo, &TMemo::FileDropped, this, &TfrmMain::OpenPath);
  connect(memoHtml, &TMemo::Pasting, this, [this](const QUrl& page) {
    // A paste over the whole input starts a new document; one into it keeps
    // the page the rest came from, unless it brings its own.
    if (!page.isEmpty() ||
        memoHtml->textCursor().selectedText().size() == memoHtml->document()->characterCount() - 1)
      PastedPage = page;
    if (!page.isEmpty())
      lblStatus->setText(
          tr("Pasted from %1: its relative links lead there.").arg(page.toDisplayString()));
  });

  Worker = new TConversionWorker(std::move(step), this);
  connect(Worker, &TConversionWorker::Finished, this, &TfrmMain::ShowResult);
  connect(Worker, &TConversionWorker::Refused, this, &TfrmMain::ShowRefusal);
  BusyDelay.setSingleShot(true);
  BusyDelay.setInterval(kBusyDelayMs);
  connect(&BusyDelay, &QTimer::timeout, lblBusy, &QWidget::show);

  connect(memoHtml, &QPlainTextEdit::textChanged, this, &TfrmMain::memoHtmlChange);
  for (QCheckBox* box : boxes)
    connect(box, &QCheckBox::clicked, this, [this] {
      memoHtmlChange();
      SaveSettings();
    });
  memoHtml->installEventFilter(this);
  memoDokuWiki->installEventFilter(this);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  RestoreSettings();
  memoHtml->setFocus();

  FormCreate();
}

TfrmMain::~TfrmMain() {
  SaveSettings();
}

TConvertChoices TfrmMain::Choices() const {
  return {cbxHtmlUtf8->isChecked(), cbxDokuWikiUtf8->isChecked(), cbxDokuWikiNoLinks->isChecked(),
          cbxDokuWikiEmphasis->isChecked()};
}

void TfrmMain::FormCreate() {
  setWindowTitle(Caption());
}

void TfrmMain::memoHtmlChange() {
  if (memoHtml->document()->isEmpty()) PastedPage.clear();
  if (Running) {
    // Read when the running conversion ends, once for all keys typed meanwhile.
    Dirty = true;
    return;
  }
  StartConversion();
}

void TfrmMain::StartConversion() {
  Dirty = false;
  Running = true;
  Worker->Start({EditorText(*memoHtml), Choices(), PastedPage});
  if (!BusyDelay.isActive() && lblBusy->isHidden()) BusyDelay.start();
}

void TfrmMain::ShowResult(const QString& text) {
  Running = false;
  if (Dirty) {
    StartConversion(); // of an input that has changed since
    return;
  }
  BusyDelay.stop();
  lblBusy->hide();
  if (Stale) {
    lblStatus->clear();
    lblStatus->setToolTip({});
  }
  MarkStale(false);
  // A selection left in the output would cover other text now.
  if (ReplaceText(*memoDokuWiki, text) && memoDokuWiki->textCursor().hasSelection()) {
    QTextCursor cursor = memoDokuWiki->textCursor();
    cursor.clearSelection();
    memoDokuWiki->setTextCursor(cursor);
  }
}

void TfrmMain::ShowRefusal(const QString& reason) {
  Running = false;
  if (Dirty) {
    StartConversion();
    return;
  }
  BusyDelay.stop();
  lblBusy->hide();
  lblStatus->setText(reason);
  lblStatus->setToolTip(reason); // in full where the window is narrow
  MarkStale(true);
}

void TfrmMain::MarkStale(bool stale) {
  if (stale == Stale) return;
  Stale = stale;
  // Greyed, and said so above it: what it shows is not the current input's.
  QPalette palette = memoDokuWiki->palette();
  if (stale)
    palette.setColor(QPalette::Text, palette.color(QPalette::Disabled, QPalette::Text));
  else
    palette = memoHtml->palette();
  memoDokuWiki->setPalette(palette);
  lblDokuWikiCaption->setText(stale ? tr("DokuWiki Output (of an earlier input)")
                                    : tr("DokuWiki Output"));
}

void TfrmMain::RestoreSettings() {
  const std::unique_ptr<QSettings> settings = WindowSettings();
  const QSize size = settings->value(QStringLiteral("window/size")).toSize();
  if (size.isValid()) {
    QSize most = size;
    if (QScreen* screen = QGuiApplication::primaryScreen())
      most = screen->availableGeometry().size();
    resize(size.boundedTo(most).expandedTo(minimumSize()));
    if (QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
  }
  const QByteArray splitter = settings->value(QStringLiteral("window/splitter")).toByteArray();
  if (!splitter.isEmpty()) Splitter1->restoreState(splitter);
  const auto restore = [&](QCheckBox* box, const char* key) {
    box->setChecked(settings->value(QLatin1StringView(key), false).toBool());
  };
  restore(cbxHtmlUtf8, "boxes/inputUtf8");
  restore(cbxDokuWikiUtf8, "boxes/outputUtf8");
  restore(cbxDokuWikiNoLinks, "boxes/noLinks");
  restore(cbxDokuWikiEmphasis, "boxes/emphasis");
}

void TfrmMain::SaveSettings() const {
  const std::unique_ptr<QSettings> settings = WindowSettings();
  settings->setValue(QStringLiteral("window/size"), size());
  settings->setValue(QStringLiteral("window/splitter"), Splitter1->saveState());
  settings->setValue(QStringLiteral("boxes/inputUtf8"), cbxHtmlUtf8->isChecked());
  settings->setValue(QStringLiteral("boxes/outputUtf8"), cbxDokuWikiUtf8->isChecked());
  settings->setValue(QStringLiteral("boxes/noLinks"), cbxDokuWikiNoLinks->isChecked());
  settings->setValue(QStringLiteral("boxes/emphasis"), cbxDokuWikiEmphasis->isChecked());
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  SaveSettings();
  QWidget::closeEvent(event);
}

bool TfrmMain::OpenPath(const QString& path) {
  QString error;
  const std::optional<QString> text = ReadHtmlFile(path, error);
  if (!text) {
    lblStatus->setText(error);
    ShowError(error);
    return false;
  }
  OpenedFile = QFileInfo(path).absoluteFilePath();
  PastedPage.clear();
  setWindowTitle(QStringLiteral("%1 – %2").arg(QFileInfo(path).fileName(), Caption()));
  lblStatus->setText(tr("Opened %1.").arg(QDir::toNativeSeparators(OpenedFile)));
  // The file's text is Unicode already: read as UTF-8 bytes it would turn into
  // question marks.
  cbxHtmlUtf8->setChecked(false);
  // One edit that undo takes back, converted once as any change is.
  QTextCursor cursor(memoHtml->document());
  cursor.select(QTextCursor::Document);
  cursor.insertText(WithLineFeeds(*text));
  memoHtml->moveCursor(QTextCursor::Start);
  return true;
}

void TfrmMain::OpenFile() {
  const QString path = AskOpenFileName();
  if (!path.isEmpty()) OpenPath(path);
}

void TfrmMain::FinishConversion() {
  // The user's keys wait meanwhile: they would start another conversion.
  while (!Idle())
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::WaitForMoreEvents);
}

bool TfrmMain::SaveResult() {
  FinishConversion();
  const QString path = AskSaveFileName(SaveSuggestion(OpenedFile));
  if (path.isEmpty()) return false;
  const QByteArray bytes = DokuWikiFileBytes(EditorText(*memoDokuWiki), Choices().DokuWikiUtf8);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    ShowError(tr("Cannot save “%1”: %2.").arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
  }
  return true;
}

void TfrmMain::CopyResult() {
  FinishConversion();
  QGuiApplication::clipboard()->setText(EditorText(*memoDokuWiki));
}

QString TfrmMain::AskOpenFileName() {
  return QFileDialog::getOpenFileName(
      this, tr("Open HTML File"), QFileInfo(OpenedFile).path(),
      tr("HTML files (*.html *.htm *.xhtml *.shtml);;All files (*)"));
}

QString TfrmMain::AskSaveFileName(const QString& suggestion) {
  return QFileDialog::getSaveFileName(this, tr("Save DokuWiki Text"), suggestion,
                                      tr("DokuWiki pages (*.txt);;All files (*)"));
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFile(*event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event) {
  const QString file = DroppedFile(*event->mimeData());
  if (file.isEmpty()) return;
  event->acceptProposedAction();
  OpenPath(file);
}

void TfrmMain::memoDokuKeyDown(QObject* sender, int key, Qt::KeyboardModifiers shift) {
  if (key != Qt::Key_A || !shift.testFlag(Qt::ControlModifier)) return;
  if (auto* memo = qobject_cast<QPlainTextEdit*>(sender)) memo->selectAll();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Shortcut) {
    // A box's accelerator: toggled at once, as a click would, and the focus
    // stays where the user types.
    if (auto* box = qobject_cast<QCheckBox*>(watched)) {
      box->click();
      return true;
    }
  }
  if (event->type() == QEvent::KeyPress && (watched == memoHtml || watched == memoDokuWiki)) {
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    // Where Ctrl+Alt stands for AltGr (Qt on Windows), a key with printable
    // text types a character, such as the Polish a-ogonek on AltGr+A; selecting
    // all first would have it replace the whole text.
    const QString text = keyEvent->text();
    const bool typesCharacter =
        keyEvent->modifiers().testFlags(Qt::ControlModifier | Qt::AltModifier) && !text.isEmpty() &&
        text[0].isPrint();
    if (!typesCharacter) memoDokuKeyDown(watched, keyEvent->key(), keyEvent->modifiers());
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmMain::ShowError(const QString& message) {
  QMetaObject::invokeMethod(
      this, [this, message] { QMessageBox::critical(this, Caption(), message); },
      Qt::QueuedConnection);
}

} // namespace tamsel
