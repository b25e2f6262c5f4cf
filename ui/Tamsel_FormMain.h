// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: HTML typed or pasted into the upper editor is converted to
// DokuWiki markup in the lower one after every change.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringView>
#include <QWidget>

#include <string_view>

class QAction;
class QCheckBox;
class QFrame;
class QIcon;
class QKeyEvent;
class QMimeData;
class QSplitter;

namespace tamsel {

// "Tamsel [Version 2012-08-13]": the window caption and the application title.
QString Caption();

// The application's icon, drawn from the SVG that the desktop entry uses too.
QIcon AppIcon();

// True for text that is itself HTML source (copied from an editor or from a
// browser's source view) rather than the text of a rendered page.
bool LooksLikeHtmlSource(QStringView text);

// What a paste or a drop of source puts into the input editor. A browser
// offers a copied part of a page as HTML and as its rendered text: the HTML is
// what is to be converted, unless the plain text is HTML source already.
// plainOnly (Ctrl+Shift+V) takes the plain text, or the rendered text of HTML
// when nothing else is offered.
QString PastedText(const QMimeData& source, bool plainOnly);

// The first local file among the URLs of a drop; empty when there is none.
QString DroppedFile(const QMimeData& source);

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
// False when the text was the same.
bool ReplaceText(QPlainTextEdit& memo, QString text);

// A plain-text editor whose copy, cut and drag carry the text as it is; Qt's
// own turns no-break spaces into spaces, and in DokuWiki two leading spaces
// make a code block. Pastes and drops take HTML as PastedText says; a dropped
// file is handed to the window rather than inserted as its URL.
class TMemo : public QPlainTextEdit {
  Q_OBJECT
public:
  using QPlainTextEdit::QPlainTextEdit;

  // Added below the editor's own entries in its context menu.
  QList<QAction*> MenuActions;

public slots:
  // Pastes the clipboard's plain text, never its HTML.
  void pastePlain();

signals:
  void FileDropped(const QString& path);

protected:
  bool canInsertFromMimeData(const QMimeData* source) const override;
  QMimeData* createMimeDataFromSelection() const override;
  void insertFromMimeData(const QMimeData* source) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  bool PlainOnly = false;
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

  // In both editors' context menus, with their shortcuts anywhere in the window.
  QAction* actOpen;
  QAction* actSave;
  QAction* actCopyResult;
  QAction* actPastePlain;

  // The check boxes as they stand now.
  TConvertChoices Choices() const;

  // The HTML file last opened, for the name the result is saved under.
  QString OpenedFile;

public slots:
  void FormCreate();
  // Converts the whole input anew and replaces the whole output. Should the
  // conversion throw, the output keeps its text and the message is shown.
  void memoHtmlChange();

  // Reads an HTML file into the input editor, which converts it as any change
  // does. A file that cannot be read leaves the editor as it was and shows a
  // message naming it.
  bool OpenPath(const QString& path);
  void OpenFile();
  // Saves the output as a DokuWiki page file: UTF-8, LF line ends.
  bool SaveResult();
  void CopyResult();

public:
  // Ctrl+A (also with shift or alt) selects all of the editor sender. Setting
  // key to 0 would swallow it; it is left alone, so the editor sees it too.
  void memoDokuKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // The file dialogs, replaceable where a test answers them; empty: cancelled.
  virtual QString AskOpenFileName();
  virtual QString AskSaveFileName(const QString& suggestion);
  // The conversion step of memoHtmlChange, replaceable where a test needs a
  // failing or counting converter.
  virtual QString Convert(QStringView html, const TConvertChoices& choices);
  // Shown after the event that failed has finished, so the editor that raised
  // it is not re-entered from a nested event loop.
  virtual void ShowError(const QString& message);
};

} // namespace tamsel
