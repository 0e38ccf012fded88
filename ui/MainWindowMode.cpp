#include "ui/MainWindowMode.h"

#include <QApplication>

#include <cstdio>
#include <memory>

#include "platform/MessageBox.h"
#include "ui/DeviceSource.h"
#include "ui/ManagerDlg.h"
#include "ui/QtMessagePresenter.h"
#include "ui/TerminationSignals.h"
#include "ui/UiResources.h"

namespace vorn {

int RunMainWindowMode(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "VORN3 Manager: the main window needs a display, and none can be reached "
                 "(DISPLAY and WAYLAND_DISPLAY name no display server that answers).\n"
                 "Start it from a desktop session, or inside a virtual display:\n"
                 "  xvfb-run -a %s\n"
                 "The command-line tool vorn3ctl works without one.\n",
                 argc > 0 ? argv[0] : "vorn3manager");
    return 1;
  }
  // A box shown before the window (start-up) may have made the application already.
  static int qtArgc = 1;
  std::unique_ptr<QApplication> ownApp;
  if (!QCoreApplication::instance()) {
    qtArgc = argc > 0 ? 1 : 0;
    ownApp = std::make_unique<QApplication>(qtArgc, argv);
  }
  QApplication::setApplicationName(QString::fromLatin1(kAppName));
  InitUiResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vorn3manager.png")));

  CQtMessagePresenter presenter;
  SetMessagePresenter(&presenter);
  {
    CManagerDlg dialog(MakeSystemDeviceSource());
    CTerminationSignals termination([&dialog] { dialog.StopAndClose(); });
    presenter.SetOwner(&dialog);
    dialog.exec();
    presenter.SetOwner(nullptr);
  }
  SetMessagePresenter(nullptr);
  return 0;
}

}  // namespace vorn
