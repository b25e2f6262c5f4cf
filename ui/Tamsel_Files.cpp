// SPDX-License-Identifier: GPL-2.0-or-later
#include "Tamsel_Files.h"

#include "Tamsel.h"
#include "Tamsel_CodePage.h"
#include "Tamsel_Encoding.h"
#include "Tamsel_ReadFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string_view>

namespace tamsel {

namespace {

QString Tr(const char* text) {
  return QCoreApplication::translate("tamsel::TfrmMain", text);
}

QString Shown(const QString& path) {
  return QDir::toNativeSeparators(path);
}

} // namespace

std::optional<QString> ReadHtmlFile(const QString& path, QString& error) {
  const QFileInfo info(path);
  if (info.isDir()) {
    error = Tr("Cannot open “%1”: it is a folder.").arg(Shown(path));
    return std::nullopt;
  }
  const auto tooLarge = [&] {
    error = Tr("Cannot open “%1”: it is larger than the %2 MB a conversion takes.")
                .arg(Shown(path))
                .arg(kMaxInputBytes >> 20);
    return std::nullopt;
  };
  // A regular file only, opened without blocking: a FIFO nobody writes to
  // would freeze the window in open().
  std::string bytes, reason;
  if (!ReadRegularFile(QFile::encodeName(path).toStdString(), bytes, reason, kMaxInputBytes)) {
    if (reason == TooLargeText(kMaxInputBytes)) return tooLarge();
    error = Tr("Cannot open “%1”: %2.").arg(Shown(path), QString::fromStdString(reason));
    return std::nullopt;
  }
  if (LooksBinary(bytes)) {
    error = Tr("Cannot open “%1”: it is not a text file (it holds something like a picture, "
               "an archive or a program rather than HTML).")
                .arg(Shown(path));
    return std::nullopt;
  }
  const TPreparedInput input = PrepareInput(bytes, std::nullopt);
  QString text = QString::fromStdString(PreparedAsUtf8(input));
  // The window hands the converter UTF-16, two bytes a character.
  if (static_cast<std::size_t>(text.size()) > kMaxInputBytes / 2) {
    error = Tr("Cannot open “%1”: its text is longer than the %2 million characters a "
               "conversion takes.")
                .arg(Shown(path))
                .arg(kMaxInputBytes / 2 / 1000000);
    return std::nullopt;
  }
  return text;
}

bool LooksBinary(QByteArrayView bytes) {
  // UTF-16 and UTF-32 pages carry zero bytes, and begin with a byte order mark.
  if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) return false;
  const QByteArrayView head = bytes.first(std::min<qsizetype>(bytes.size(), 64 * 1024));
  qsizetype controls = 0;
  for (const char c : head) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) return true;
    // Tab, line feed, form feed, carriage return and escape occur in text.
    if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\f' && byte != '\r' && byte != 0x1B)
      ++controls;
  }
  return controls * 100 > head.size();
}

QByteArray DokuWikiFileBytes(QStringView text, bool shownAsBytes) {
  QByteArray bytes;
  if (shownAsBytes) {
    const std::string raw = ToCodePage(text);
    bytes = QByteArray(raw.data(), static_cast<qsizetype>(raw.size()));
  } else {
    bytes = text.toUtf8();
  }
  bytes.replace("\r\n", "\n");
  bytes.replace('\r', '\n');
  if (!bytes.isEmpty() && !bytes.endsWith('\n')) bytes += '\n';
  return bytes;
}

QString SaveSuggestion(const QString& htmlPath) {
  if (htmlPath.isEmpty()) return QStringLiteral("page.txt");
  const QFileInfo info(htmlPath);
  const QString base =
      info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
  return info.dir().filePath(base + QStringLiteral(".txt"));
}

} // namespace tamsel
