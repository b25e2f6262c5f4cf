// SPDX-License-Identifier: GPL-2.0-or-later
// Program start: the application, its title, the main window, the event loop;
// an HTML file named on the command line opens in it.
#include "Tamsel.h"
#include "Tamsel_FormMain.h"
#include "Tamsel_Worker.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

void SetNames() {
  QCoreApplication::setApplicationName(QStringLiteral("tamsel"));
  QCoreApplication::setApplicationVersion(QLatin1StringView(tamsel::kVersion));
}

// Qt's own help option would add --help-all, which lists options no user of
// this window needs; these two are all it has.
const QCommandLineOption& HelpOption() {
  static const QCommandLineOption option(
      {QStringLiteral("h"), QStringLiteral("help")},
      QCoreApplication::translate("main", "Displays help on commandline options."));
  return option;
}

const QCommandLineOption& VersionOption() {
  static const QCommandLineOption option(
      QStringLiteral("version"),
      QCoreApplication::translate("main", "Displays version information."));
  return option;
}

// Ends the program after printing when one of the two was given.
void Process(QCommandLineParser& parser, const QCoreApplication& app) {
  parser.process(app);
  if (parser.isSet(HelpOption())) parser.showHelp(0);
  if (parser.isSet(VersionOption())) parser.showVersion();
}

void Describe(QCommandLineParser& parser) {
  parser.setApplicationDescription(
      QCoreApplication::translate("main", "Converts HTML into DokuWiki markup while you type: "
                                          "paste, type or open HTML in the upper editor, and "
                                          "the lower one shows it as DokuWiki text."));
  parser.addOption(HelpOption());
  parser.addOption(VersionOption());
  parser.addPositionalArgument(QStringLiteral("file"),
                               QCoreApplication::translate("main", "An HTML file to open."),
                               QStringLiteral("[file]"));
}

// --help and --version print and end without a window system, so that they
// work where there is no display (as when a manual page is made from them).
bool OnlyPrints(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) break;
    for (const char* option : {"-h", "--help", "--version"})
      if (std::strcmp(arg, option) == 0) return true;
  }
  return false;
}

} // namespace

int main(int argc, char** argv) {
  SetNames();
  if (OnlyPrints(argc, argv)) {
    QCoreApplication core(argc, argv);
    QCommandLineParser parser;
    Describe(parser);
    Process(parser, core);
    return 0;
  }

  tamsel::KeepFreedMemory();
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(tamsel::Caption());
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tamsel.Tamsel"));
  QApplication::setWindowIcon(tamsel::AppIcon());
  QCommandLineParser parser;
  Describe(parser);
  Process(parser, app);
  const QStringList files = parser.positionalArguments();
  if (files.size() > 1) {
    std::fprintf(stderr, "tamsel: one file at most, not %lld\n",
                 static_cast<long long>(files.size()));
    return 1;
  }

  tamsel::TfrmMain frmMain;
  frmMain.show();
  if (!files.isEmpty()) frmMain.OpenPath(files.front());
  return app.exec();
}
