#include "ui/MainWindowMode.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "platform/MessageBox.h"
#include "ui/DeviceSource.h"
#include "ui/ManagerDlg.h"
#include "ui/QtMessagePresenter.h"
#include "ui/RunningWindow.h"
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
  const int status = RunManagerWindow(MakeSystemDeviceSource(), &presenter, RunningWindowSocketPath());
  SetMessagePresenter(nullptr);
  return status;
}

int RunManagerWindow(std::unique_ptr<CDeviceSource> source, CQtMessagePresenter* presenter,
                     const std::string& beaconPath) {
  CManagerDlg* window = nullptr;
  bool stopped = false;
  // Until the window exists, a request to end answers every box its making
  // shows as Escape would, and the window is then not shown at all.
  QTimer answerBoxes;
  QObject::connect(&answerBoxes, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  CTerminationSignals termination([&] {
    if (window) return window->StopAndClose();
    stopped = true;
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    answerBoxes.start(20);
  });
  CManagerDlg dialog(std::move(source));
  answerBoxes.stop();
  if (stopped) return 0;
  window = &dialog;
  const CRunningWindowBeacon beacon(beaconPath, [&dialog] { BringToFront(&dialog); });
  if (presenter) presenter->SetOwner(&dialog);
  dialog.exec();
  if (presenter) presenter->SetOwner(nullptr);
  return 0;
}

void ShowRunningMainWindow() { KnockOnRunningWindow(RunningWindowSocketPath()); }

}  // namespace vorn
