// Program start: the application, its title, the main window, the event loop.
#include "Tamsel.h"
#include "Tamsel_FormMain.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tamsel"));
  QApplication::setApplicationVersion(QLatin1StringView(tamsel::kVersion));
  QApplication::setApplicationDisplayName(tamsel::Caption());
  tamsel::TfrmMain frmMain;
  frmMain.show();
  return app.exec();
}
