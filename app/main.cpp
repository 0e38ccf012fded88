// vorn3manager: one executable, three run modes chosen on the command line
// (see app/ManagerApp.h and README.md).

#include "app/ManagerApp.h"
#include "server/ServerModes.h"

#ifdef VORN_WITH_UI
#include "ui/MainWindowMode.h"
#include "ui/QtMessagePresenter.h"
#endif

namespace {

int RunMainWindow(int& argc, char** argv) {
#ifdef VORN_WITH_UI
  return vorn::RunMainWindowMode(argc, argv);
#else
  (void)argc;
  (void)argv;
  return vorn::ReportModeUnavailable("main window");
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifdef VORN_WITH_UI
  // Boxes raised before or outside the window (decoder gate, server, list mode)
  // show as Qt boxes whenever a display is present.
  vorn::InstallLazyQtMessageBoxes(argc, argv);
#endif
  vorn::ModeHandlers handlers;
  vorn::AddServerModes(handlers);
  handlers.runMainWindow = [&argc, argv] { return RunMainWindow(argc, argv); };
  vorn::CManagerApp app(std::move(handlers));
  return app.InitInstance(argc, argv);
}
