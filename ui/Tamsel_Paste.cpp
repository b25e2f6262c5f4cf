// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Paste.h"

#include <QMimeData>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QTextDocumentFragment>

#include <algorithm>
#include <optional>

namespace tamsel {

using namespace Qt::StringLiterals;

namespace {

// On a QString, never a view: before Qt 6.5 a view would be copied for every
// match of a scan.
QRegularExpressionMatch Match(const QRegularExpression& pattern, const QString& text,
                              qsizetype from = 0) {
  return pattern.match(text, from);
}

// A start tag: its name in group 1, its attributes in group 2.
const QRegularExpression& StartTag() {
  static const QRegularExpression pattern(QStringLiteral(R"(<([a-zA-Z][a-zA-Z0-9]*)([^<>]*)>)"));
  return pattern;
}

// Elements a source editor colours text with; anything else is a page's.
bool ColoursOnly(const QString& name) {
  static const QSet<QString> names = {u"html"_s,   u"head"_s, u"meta"_s, u"title"_s, u"style"_s,
                                      u"body"_s,   u"span"_s, u"font"_s, u"br"_s,    u"div"_s,
                                      u"pre"_s,    u"code"_s, u"b"_s,    u"i"_s,     u"u"_s,
                                      u"strong"_s, u"em"_s};
  return names.contains(name);
}

bool IsVoid(const QString& name) {
  static const QSet<QString> names = {u"area"_s,  u"base"_s, u"br"_s,     u"col"_s,
                                      u"embed"_s, u"hr"_s,   u"img"_s,    u"input"_s,
                                      u"link"_s,  u"meta"_s, u"source"_s, u"wbr"_s};
  return names.contains(name);
}

// The offsets a Windows clipboard header gives, by name.
struct THeader {
  qsizetype End = 0; // where the HTML starts when no offset is usable
  qsizetype StartHtml = -1, EndHtml = -1, StartFragment = -1, EndFragment = -1;
  QString SourceUrl;
};

std::optional<THeader> ReadHeader(const QByteArray& bytes) {
  if (!bytes.startsWith("Version:")) return std::nullopt;
  THeader header;
  qsizetype at = 0;
  while (at < bytes.size() && bytes[at] != '<') {
    qsizetype end = bytes.indexOf('\n', at);
    const qsizetype next = end < 0 ? bytes.size() : end + 1;
    const QByteArray line = bytes.mid(at, next - at).trimmed();
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0) break;
    const QByteArray key = line.left(colon);
    const QByteArray value = line.mid(colon + 1).trimmed();
    bool ok = false;
    const qsizetype number = value.toLongLong(&ok);
    if (key == "StartHTML" && ok) header.StartHtml = number;
    if (key == "EndHTML" && ok) header.EndHtml = number;
    if (key == "StartFragment" && ok) header.StartFragment = number;
    if (key == "EndFragment" && ok) header.EndFragment = number;
    if (key == "SourceURL") header.SourceUrl = QString::fromUtf8(value);
    at = next;
  }
  header.End = at;
  return header;
}

// The innermost elements of a context, outermost first, each as its start tag.
struct TAncestor {
  QString Name;
  QString Tag;
};

QList<TAncestor> Ancestors(const QString& context) {
  QList<TAncestor> chain;
  static const QRegularExpression tag(QStringLiteral(R"(<(/?)([a-zA-Z][a-zA-Z0-9]*)[^<>]*>)"));
  for (qsizetype at = 0;;) {
    const QRegularExpressionMatch m = Match(tag, context, at);
    if (!m.hasMatch() || !m.capturedView(1).isEmpty()) break;
    const QString name = m.captured(2).toLower();
    if (!IsVoid(name)) chain.append({name, m.captured(0)});
    at = m.capturedEnd(0);
  }
  return chain;
}

// The first element of a fragment, past comments, white space and a leading
// <meta>: what decides the wrapping.
QString FirstElement(const QString& fragment, qsizetype* metaEnd) {
  static const QRegularExpression lead(QStringLiteral(R"(^(?:\s|<!--.*?-->|<meta\b[^<>]*>)*)"),
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::DotMatchesEverythingOption);
  const qsizetype skip = Match(lead, fragment).capturedLength(0);
  *metaEnd = skip;
  const QRegularExpressionMatch m = Match(StartTag(), fragment, skip);
  if (!m.hasMatch() || m.capturedStart(0) != skip) return {};
  return m.captured(1).toLower();
}

qsizetype InnermostOf(const QList<TAncestor>& chain, std::initializer_list<const char16_t*> names) {
  for (qsizetype i = chain.size() - 1; i >= 0; --i)
    for (const char16_t* name : names)
      if (chain[i].Name == QStringView(name)) return i;
  return -1;
}

QString DecodeEntityAmp(QString value) {
  value.replace(u"&amp;"_s, u"&"_s);
  return value;
}

QString EscapeAttribute(QString value) {
  value.replace(u'&', u"&amp;"_s);
  value.replace(u'"', u"&quot;"_s);
  return value;
}

bool HasScheme(const QString& value) {
  static const QRegularExpression scheme(QStringLiteral(R"(^\s*[a-zA-Z][a-zA-Z0-9+.-]*:)"));
  return Match(scheme, value).hasMatch();
}

// The page's address from the browsers' own flavours.
QUrl PageAddress(const QMimeData& source) {
  for (const char* format : {"chromium/x-source-url", "text/x-moz-url-priv"}) {
    const QString name = QString::fromLatin1(format);
    if (!source.hasFormat(name)) continue;
    const QString text = DecodeFlavour(source.data(name)).section(u'\n', 0, 0).trimmed();
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && !url.scheme().isEmpty()) return url;
  }
  return {};
}

} // namespace

bool LooksLikeHtmlSource(const QString& text) {
  static const QRegularExpression start(QStringLiteral(R"(^\s*<(?:[a-z]|!--|!doctype|\?xml))"),
                                        QRegularExpression::CaseInsensitiveOption);
  if (Match(start, text).hasMatch()) return true;
  static const QRegularExpression tag(QStringLiteral(R"(</?[a-z][a-z0-9]*(?:\s[^<>]*)?/?>|<!--)"),
                                      QRegularExpression::CaseInsensitiveOption);
  int tags = 0;
  for (qsizetype at = 0;;) {
    const QRegularExpressionMatch m = Match(tag, text, at);
    if (!m.hasMatch()) return false;
    if (++tags == 2) return true;
    at = m.capturedEnd(0);
  }
}

bool OnlyColoursText(const QString& html) {
  // An editor lays its lines out as source: in a pre or divs, or with line
  // breaks. A browser's copy of part of a paragraph has only spans and code.
  bool lines = html.contains(u"white-space: pre"_s) || html.contains(u"white-space:pre"_s);
  for (qsizetype at = 0;;) {
    const QRegularExpressionMatch m = Match(StartTag(), html, at);
    if (!m.hasMatch()) return lines;
    const QString name = m.captured(1).toLower();
    if (!ColoursOnly(name)) return false;
    lines = lines || name == u"pre" || name == u"div" || name == u"br";
    at = m.capturedEnd(0);
  }
}

QString DecodeFlavour(const QByteArray& bytes) {
  QByteArrayView view(bytes);
  std::optional<QStringConverter::Encoding> encoding;
  if (view.startsWith("\xFF\xFE")) {
    encoding = QStringConverter::Utf16LE;
    view = view.sliced(2);
  } else if (view.startsWith("\xFE\xFF")) {
    encoding = QStringConverter::Utf16BE;
    view = view.sliced(2);
  } else if (view.size() >= 2 && view.size() % 2 == 0) {
    // Text in UTF-16LE without a mark: ASCII puts a zero into every odd byte,
    // and addresses and tags are mostly ASCII.
    qsizetype zeros = 0;
    for (qsizetype i = 1; i < view.size(); i += 2)
      zeros += view[i] == 0;
    if (zeros * 4 >= view.size() / 2 * 3) encoding = QStringConverter::Utf16LE;
  }
  QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
  QString text = decoder(view);
  while (text.endsWith(QChar(0)))
    text.chop(1);
  return text;
}

QString WithoutClipboardHeader(const QString& html, QUrl* sourceUrl) {
  if (!html.startsWith(u"Version:"_s)) return html;
  // The offsets count the bytes of the UTF-8 the program wrote.
  const QByteArray bytes = html.toUtf8();
  const std::optional<THeader> header = ReadHeader(bytes);
  if (!header) return html;
  if (sourceUrl && !header->SourceUrl.isEmpty()) *sourceUrl = QUrl(header->SourceUrl);
  const auto usable = [&](qsizetype start, qsizetype end) {
    return start >= header->End && end > start && end <= bytes.size();
  };
  // The whole HTML keeps the elements the fragment was cut from.
  if (usable(header->StartHtml, header->EndHtml))
    return QString::fromUtf8(bytes.mid(header->StartHtml, header->EndHtml - header->StartHtml));
  if (usable(header->StartFragment, header->EndFragment))
    return QString::fromUtf8(
        bytes.mid(header->StartFragment, header->EndFragment - header->StartFragment));
  const QString rest = QString::fromUtf8(bytes.mid(header->End));
  const qsizetype start = rest.indexOf(u"<!--StartFragment-->"_s);
  const qsizetype end = rest.lastIndexOf(u"<!--EndFragment-->"_s);
  if (start >= 0 && end > start) return rest.mid(start + 20, end - start - 20);
  return rest;
}

QString WithoutInterchangeNewlines(QString html) {
  static const QRegularExpression mark(
      QStringLiteral(R"(<br\s+class\s*=\s*["']?Apple-interchange-newline["']?\s*/?>)"),
      QRegularExpression::CaseInsensitiveOption);
  html.remove(mark);
  return html;
}

QString WrapInContext(const QString& fragment, const QString& context) {
  const QList<TAncestor> chain = Ancestors(context);
  if (chain.isEmpty()) return fragment;
  qsizetype metaEnd = 0;
  const QString first = FirstElement(fragment, &metaEnd);
  qsizetype from = -1;
  if (first == u"li")
    from = InnermostOf(chain, {u"ul", u"ol", u"menu", u"dir"});
  else if (first == u"dt" || first == u"dd")
    from = InnermostOf(chain, {u"dl"});
  else if (first == u"tr" || first == u"td" || first == u"th" || first == u"tbody" ||
           first == u"thead" || first == u"tfoot" || first == u"caption")
    from = InnermostOf(chain, {u"table"});
  else if (first != u"pre")
    // Text of a preformatted block, perhaps inside its code element: without
    // the block its line ends and indentation would be lost.
    for (qsizetype i = chain.size() - 1; i >= 0 && from < 0; --i) {
      if (chain[i].Name == u"pre")
        from = i;
      else if (!ColoursOnly(chain[i].Name) && chain[i].Name != u"a" && chain[i].Name != u"kbd" &&
               chain[i].Name != u"samp")
        break;
    }
  if (from < 0) return fragment;
  // Up to the innermost element, but not into a cell or item of the context
  // when the fragment itself is rows or items.
  qsizetype to = chain.size();
  if (first != u"pre" && chain[from].Name != u"pre") {
    for (qsizetype i = from + 1; i < chain.size(); ++i) {
      const QString& name = chain[i].Name;
      const bool rowPart = name == u"thead" || name == u"tbody" || name == u"tfoot" ||
                           (name == u"tr" && first != u"tr" && first != u"tbody" &&
                            first != u"thead" && first != u"tfoot");
      if (!rowPart) {
        to = i;
        break;
      }
    }
  } else {
    to = from + 1;
  }
  QString open, close;
  for (qsizetype i = from; i < to; ++i) {
    open += chain[i].Tag;
    close.prepend(u"</"_s + chain[i].Name + u'>');
  }
  return fragment.left(metaEnd) + open + fragment.mid(metaEnd) + close;
}

QString ResolveRelativeLinks(const QString& html, const QUrl& page) {
  const QString scheme = page.scheme().toLower();
  if (!page.isValid() || (scheme != u"http" && scheme != u"https")) return html;
  static const QRegularExpression attribute(
      QStringLiteral(R"re((\s(?:href|src)\s*=\s*)(?:"([^"]*)"|'([^']*)'|([^\s"'<>=`]+)))re"),
      QRegularExpression::CaseInsensitiveOption);
  QString out;
  out.reserve(html.size());
  qsizetype copied = 0;
  for (qsizetype at = 0;;) {
    const QRegularExpressionMatch tag = Match(StartTag(), html, at);
    if (!tag.hasMatch()) break;
    const QString attributes = tag.captured(2);
    const qsizetype base = tag.capturedStart(2);
    for (qsizetype in = 0;;) {
      const QRegularExpressionMatch m = Match(attribute, attributes, in);
      if (!m.hasMatch()) break;
      in = m.capturedEnd(0);
      int group = 2;
      while (group < 4 && m.capturedStart(group) < 0)
        ++group;
      const QString value = DecodeEntityAmp(m.captured(group)).trimmed();
      if (value.isEmpty() || HasScheme(value)) continue;
      const QUrl resolved = page.resolved(QUrl(value, QUrl::TolerantMode));
      if (!resolved.isValid()) continue;
      out += QStringView(html).mid(copied, base + m.capturedEnd(1) - copied);
      out += u'"' + EscapeAttribute(resolved.toString(QUrl::FullyEncoded)) + u'"';
      copied = base + m.capturedEnd(0);
    }
    at = tag.capturedEnd(0);
  }
  if (copied == 0) return html;
  out += QStringView(html).mid(copied);
  return out;
}

TPaste PasteFromMime(const QMimeData& source, bool plainOnly) {
  QString text = source.hasText() ? source.text() : QString();
  if (text.startsWith(u"Version:"_s)) text = WithoutClipboardHeader(text);
  if (source.hasHtml()) {
    QUrl headerUrl;
    const QString html =
        WithoutInterchangeNewlines(WithoutClipboardHeader(source.html(), &headerUrl));
    if (plainOnly) {
      if (text.isEmpty()) return {QTextDocumentFragment::fromHtml(html).toPlainText(), {}};
    } else if (text.isEmpty() || !OnlyColoursText(html) || !LooksLikeHtmlSource(text)) {
      TPaste paste;
      const QString context = u"text/_moz_htmlcontext"_s;
      paste.Text = source.hasFormat(context)
                       ? WrapInContext(html, DecodeFlavour(source.data(context)))
                       : html;
      paste.PageUrl = PageAddress(source);
      if (paste.PageUrl.isEmpty()) paste.PageUrl = headerUrl;
      paste.Text = ResolveRelativeLinks(paste.Text, paste.PageUrl);
      return paste;
    }
  }
  return {text, {}};
}

} // namespace tamsel
