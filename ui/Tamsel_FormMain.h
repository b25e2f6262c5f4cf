// SPDX-License-Identifier: GPL-2.0-or-later
// The main window: HTML typed or pasted into the upper editor is converted to
// DokuWiki markup in the lower one after every change.
#pragma once

#include "Tamsel_Paste.h"
#include "Tamsel_Worker.h"

#include <QPlainTextEdit>
#include <QString>
#include <QStringView>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <string_view>

class QAction;
class QCheckBox;
class QFrame;
class QIcon;
class QKeyEvent;
class QLabel;
class QMimeData;
class QSplitter;

namespace tamsel {

struct TOptions;

// "Tamsel [Version 2012-08-13]": the window caption and the application title.
QString Caption();

// The application's icon, drawn from the SVG that the desktop entry uses too.
QIcon AppIcon();

// The first local file among the URLs of a drop; empty when there is none.
QString DroppedFile(const QMimeData& source);

// The request's choices as the converter's options. The page address of a
// paste goes into the base address that relative links resolve against.
void SetOptions(TOptions& options, const TConversionRequest& request);

// The window's conversion step (TConvertStep) with its own converter.
QString ConvertWith(TTamsel& converter, const TConversionRequest& request);

// One whole conversion with a converter of its own. Passes on what the
// converter throws.
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
  // Before a paste's text goes in: the page it came from, or an empty URL.
  void Pasting(const QUrl& page);

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
  // step: the conversion the worker runs; ConvertWith unless a test needs a
  // failing, slow or counting one.
  explicit TfrmMain(QWidget* parent = nullptr, TConvertStep step = ConvertWith);
  ~TfrmMain() override;

  QSplitter* Splitter1;
  TMemo* memoDokuWiki;
  TMemo* memoHtml;
  QFrame* pnlDokuWikiTop;
  QFrame* pnlHtmlTop;
  QCheckBox* cbxDokuWikiUtf8;
  QCheckBox* cbxDokuWikiNoLinks;
  QCheckBox* cbxHtmlUtf8;
  QCheckBox* cbxDokuWikiEmphasis;
  // The status line, and in it the mark of a conversion that takes a while.
  QLabel* lblStatus;
  QLabel* lblBusy;

  // In both editors' context menus, with their shortcuts anywhere in the window.
  QAction* actOpen;
  QAction* actSave;
  QAction* actCopyResult;
  QAction* actPastePlain;

  // The check boxes as they stand now.
  TConvertChoices Choices() const;

  // The HTML file last opened, for the name the result is saved under.
  QString OpenedFile;
  // The page the last paste came from, while the input holds what came after.
  QUrl PastedPage;

  // No conversion running or waiting: the output shows the input as it stands
  // (or, marked out of date, the last result before a refusal).
  bool Idle() const { return !Running && !Dirty; }
  // The output belongs to an earlier input, which the converter refused.
  bool OutputStale() const { return Stale; }

public slots:
  void FormCreate();
  // Converts the whole input anew on the worker; the result replaces the
  // whole output. A change while a conversion runs converts again when it has
  // finished, and the finished one's result is dropped. A refusal is shown in
  // the status line and marks the output out of date.
  void memoHtmlChange();

  // Reads an HTML file into the input editor, which converts it as any change
  // does. A file that cannot be read leaves the editor as it was and shows a
  // message naming it.
  bool OpenPath(const QString& path);
  void OpenFile();
  // Waits for the conversion of the input as it stands.
  void FinishConversion();
  // Saves the output, of the input as it stands, as a DokuWiki page file:
  // UTF-8, LF line ends.
  bool SaveResult();
  void CopyResult();

public:
  // Ctrl+A (also with shift or alt) selects all of the editor sender; the key
  // goes on to the editor too.
  void memoDokuKeyDown(QObject* sender, int key, Qt::KeyboardModifiers shift);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // The file dialogs, replaceable where a test answers them; empty: cancelled.
  virtual QString AskOpenFileName();
  virtual QString AskSaveFileName(const QString& suggestion);
  // For a file that cannot be opened or saved, after the event that failed
  // has finished, so the editor that raised it is not re-entered from a
  // nested event loop.
  virtual void ShowError(const QString& message);

private:
  void StartConversion();
  void ShowResult(const QString& text);
  void ShowRefusal(const QString& reason);
  void MarkStale(bool stale);
  void RestoreSettings();
  void SaveSettings() const;

  TConversionWorker* Worker;
  QTimer BusyDelay;
  QLabel* lblDokuWikiCaption;
  bool Running = false;
  bool Dirty = false;
  bool Stale = false;
};

} // namespace tamsel
