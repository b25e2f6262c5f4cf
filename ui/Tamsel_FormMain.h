// The main window: HTML typed or pasted into the upper editor is converted to
// DokuWiki markup in the lower one after every change.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringView>
#include <QWidget>

#include <string_view>

class QCheckBox;
class QFrame;
class QKeyEvent;
class QMimeData;
class QSplitter;

namespace tamsel {

// "Tamsel [Version 2012-08-13]": the window caption and the application title.
QString Caption();

// How text crosses between the editors (UTF-16) and the converter (bytes).
struct TConvertChoices {
  bool HtmlUtf8 = false;     // the input shows UTF-8 bytes as 8-bit characters
  bool DokuWikiUtf8 = false; // show the result's UTF-8 bytes as 8-bit characters
  bool NoLinks = false;      // write no wiki links at all
};

// One whole conversion, as the window runs it: a new converter, freed on every
// path, run on a large stack. Passes on what the converter throws.
QString ConvertForDisplay(QStringView html, const TConvertChoices& choices);

// The result as the output editor shows it. Ill-formed UTF-8 becomes U+FFFD
// rather than hiding what the converter wrote.
QString DecodeResult(std::string_view utf8, bool asCodePage);

// An editor's whole text with "\n" between lines. Unlike toPlainText it keeps
// no-break spaces: they are markup-relevant in HTML and in DokuWiki alike.
QString EditorText(const QPlainTextEdit& memo);
// Sets an editor's whole text, changing only the part that differs, so that
// the editor keeps its scroll position and Qt lays out only what changed.
void ReplaceText(QPlainTextEdit& memo, QString text);

// A plain-text editor whose copy, cut and drag carry the text as it is; Qt's
// own turns no-break spaces into spaces, and in DokuWiki two leading spaces
// make a code block.
class TMemo : public QPlainTextEdit {
  Q_OBJECT
public:
  using QPlainTextEdit::QPlainTextEdit;

protected:
  QMimeData* createMimeDataFromSelection() const override;
  void keyPressEvent(QKeyEvent* event) override;
};

class TfrmMain : public QWidget {
  Q_OBJECT
public:
  explicit TfrmMain(QWidget* parent = nullptr);

  QSplitter* Splitter1;
  TMemo* memoDokuWiki;
  TMemo* memoHtml;
  QFrame* pnlDokuWikiTop;
  QFrame* pnlHtmlTop;
  QCheckBox* cbxDokuWikiUtf8;
  QCheckBox* cbxDokuWikiNoLinks;
  QCheckBox* cbxHtmlUtf8;

  // The check boxes as they stand now.
  TConvertChoices Choices() const;

public slots:
  void FormCreate();
  // Converts the whole input anew and replaces the whole output. Should the
  // conversion throw, the output keeps its text and the message is shown.
  void memoHtmlChange();

public:
  // Ctrl+A (also with shift or alt) selects all of the editor sender. Setting
  // key to 0 would swallow it; it is left alone, so the editor sees it too.
  void memoDokuKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The conversion step of memoHtmlChange, replaceable where a test needs a
  // failing or counting converter.
  virtual QString Convert(QStringView html, const TConvertChoices& choices);
  // Shown after the event that failed has finished, so the editor that raised
  // it is not re-entered from a nested event loop.
  virtual void ShowError(const QString& message);
};

} // namespace tamsel
