// vorn3manager: one executable, three run modes chosen on the command line
// (see app/ManagerApp.h and README.md).

#include "app/CommandLineInfo.h"
#include "app/ManagerApp.h"
#include "app/ServerModes.h"

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
  // The headless modes never touch the toolkit: their messages go to stderr,
  // where the show editor's logs collect them, whatever display is around.
  // For the window, boxes raised before it (the decoder gate) show as Qt
  // boxes when a display can be reached.
  vorn::CManagerCommandLineInfo modes;
  modes.ParseCommandLine(argc, argv);
  if (!modes.IsServer() && !modes.IsListDevices()) vorn::InstallLazyQtMessageBoxes(argc, argv);
#endif
  vorn::ModeHandlers handlers;
  vorn::AddServerModes(handlers);
  handlers.runMainWindow = [&argc, argv] { return RunMainWindow(argc, argv); };
#ifdef VORN_WITH_UI
  handlers.showRunningWindow = [] { vorn::ShowRunningMainWindow(); };
#endif
  vorn::CManagerApp app(std::move(handlers));
  return app.InitInstance(argc, argv);
}
