// vorn3manager: one executable, three run modes chosen on the command line
// (see app/ManagerApp.h and README.md).

#include "app/ManagerApp.h"
#include "server/DeviceServer.h"
#include "server/ListDevices.h"

#ifdef VORN_WITH_UI
#include "ui/MainWindowMode.h"
#include "ui/QtMessagePresenter.h"
#endif

namespace {

// A list the editor was not told about is a failure its caller must see.
int RunList() { return vorn::ListDevices() ? vorn::kExitOk : vorn::kExitModeFailed; }

// The exit status tells a client whether the server stopped in order.
int RunServer(const vorn::CManagerCommandLineInfo& cmdInfo) {
  vorn::CDeviceServer server(&cmdInfo);
  return server.Run() == 1 ? vorn::kExitOk : vorn::kExitModeFailed;
}

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
  handlers.runList = RunList;
  handlers.runServer = RunServer;
  handlers.runMainWindow = [&argc, argv] { return RunMainWindow(argc, argv); };
  vorn::CManagerApp app(std::move(handlers));
  return app.InitInstance(argc, argv);
}
