// SPDX-License-Identifier: GPL-2.0-or-later
// What the X check needs besides xdotool and xclip: a clipboard owner that
// offers HTML and its rendered text at once, as a browser does (xclip offers
// one type only), and a picture of the whole screen.
//
//   tamsel_x_helper offer HTML PLAIN   owns the clipboard until killed or
//                                      until another program takes it
//   tamsel_x_helper offer-files TYPE FILE [TYPE FILE ...]
//                                      the same with any flavours, each the
//                                      bytes of a file, as a browser sets them
//   tamsel_x_helper shot FILE.png [X Y W H]  saves the screen or a part of
//                                      it, four times enlarged
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  if ((args.size() == 3 || args.size() == 7) && args[1] == QLatin1StringView("shot")) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return 1;
    if (args.size() == 3) return screen->grabWindow(0).save(args[2], "PNG") ? 0 : 1;
    const QPixmap part =
        screen->grabWindow(0, args[3].toInt(), args[4].toInt(), args[5].toInt(), args[6].toInt());
    return part.scaled(part.size() * 4).save(args[2], "PNG") ? 0 : 1;
  }
  auto* mime = new QMimeData;
  if (args.size() == 4 && args[1] == QLatin1StringView("offer")) {
    mime->setHtml(args[2]);
    mime->setText(args[3]);
  } else if (args.size() >= 4 && args.size() % 2 == 0 &&
             args[1] == QLatin1StringView("offer-files")) {
    for (qsizetype i = 2; i < args.size(); i += 2) {
      QFile file(args[i + 1]);
      if (!file.open(QIODevice::ReadOnly)) return 1;
      mime->setData(args[i], file.readAll());
    }
  } else {
    std::fprintf(stderr,
                 "usage: %s offer HTML PLAIN | offer-files TYPE FILE... | shot FILE.png [X Y W "
                 "H]\n",
                 argv[0]);
    delete mime;
    return 2;
  }
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setMimeData(mime);
  // Ends when the window under test takes the clipboard over.
  QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard, &app] {
    if (!clipboard->ownsClipboard()) app.quit();
  });
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
