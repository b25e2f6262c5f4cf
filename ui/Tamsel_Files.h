// SPDX-License-Identifier: GPL-2.0-or-later
// The window's files: HTML read in the encoding it was written in, DokuWiki
// text written as DokuWiki stores its pages.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace tamsel {

// The text of an HTML file, its bytes decoded the way the command line decodes
// them (byte order mark, declared charset, valid UTF-8, else Windows-1252).
// Empty, with error set to a message naming the file, when the file cannot be
// read, is larger than a conversion takes, or is not text (LooksBinary).
std::optional<QString> ReadHtmlFile(const QString& path, QString& error);

// True for bytes that are no text in any encoding a page is written in (a
// picture, an archive, a program): NUL bytes outside UTF-16, or many control
// characters. Looks at the first 64 KiB.
bool LooksBinary(QByteArrayView bytes);

// The output editor's text (lines ending in "\n") as the bytes of a DokuWiki
// page: UTF-8 with LF line ends and a final line end. shownAsBytes: the text
// shows the UTF-8 bytes as 8-bit characters (the output's "U&TF-8" box), so
// those characters are the bytes.
QByteArray DokuWikiFileBytes(QStringView text, bool shownAsBytes);

// Where to save the result of the HTML file htmlPath (empty when none was
// opened): the same name with ".txt" in place of the HTML suffix.
QString SaveSuggestion(const QString& htmlPath);

} // namespace tamsel
