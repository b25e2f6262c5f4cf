// SPDX-License-Identifier: GPL-2.0-or-later
// What a paste or a drop puts into the input editor, decided from all the
// flavours a program offers on the clipboard.
//
// A browser offers a copied part of a page as HTML that has the page's
// structure, together with its rendered text; Chromium adds the page's address
// (chromium/x-source-url), Firefox the address (text/x-moz-url-priv) and the
// elements the selection was cut from (text/_moz_htmlcontext), both UTF-16. A
// text editor offers HTML source as plain text, sometimes with an HTML flavour
// that only colours that source. Programs under Wine or a remote desktop offer
// HTML behind a Windows clipboard header.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>

class QMimeData;

namespace tamsel {

struct TPaste {
  QString Text; // for the input editor
  QUrl PageUrl; // the page the HTML came from, when the clipboard says
};

// plainOnly (Ctrl+Shift+V) takes the plain text, or the rendered text of HTML
// when nothing else is offered.
TPaste PasteFromMime(const QMimeData& source, bool plainOnly);
inline QString PastedText(const QMimeData& source, bool plainOnly) {
  return PasteFromMime(source, plainOnly).Text;
}

// True for text that is itself HTML source rather than the text of a rendered
// page: it starts with markup, or holds two tags or more.
bool LooksLikeHtmlSource(const QString& text);

// True for an HTML flavour that only colours lines of text (spans, fonts,
// bold and italic keywords, in a pre, in divs or between line breaks), as a
// text editor offers for source it shows; false for one with the structure of
// a page (headings, paragraphs, lists, links, tables, ...), and for a
// browser's copy of part of a paragraph (spans and code alone).
bool OnlyColoursText(const QString& html);

// A clipboard flavour's bytes as text: UTF-16 with a byte order mark, or
// without one when every other byte is zero (Firefox), else UTF-8. Trailing
// NULs go.
QString DecodeFlavour(const QByteArray& bytes);

// The HTML of a Windows clipboard header ("Version:0.9", "StartHTML:", ...):
// the part its offsets name, else what its fragment markers enclose, else
// what follows the header. Anything else comes back unchanged. sourceUrl gets
// the header's SourceURL, when it has one.
QString WithoutClipboardHeader(const QString& html, QUrl* sourceUrl = nullptr);

// Chromium marks a selection that ends (or starts) with a line end with a
// <br class="Apple-interchange-newline">; it is no line break of the page.
QString WithoutInterchangeNewlines(QString html);

// Wraps a fragment that Firefox cut out of a list, a table or a preformatted
// block in those elements, as its context flavour names them; list items
// without their list would be paragraphs, cells without their table text.
QString WrapInContext(const QString& fragment, const QString& context);

// Makes relative href and src values absolute against the page's address, as
// the page showed them. Only for http and https pages; a local page's relative
// links stay relative (pages of the same wiki).
QString ResolveRelativeLinks(const QString& html, const QUrl& page);

} // namespace tamsel
