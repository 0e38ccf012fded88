// vorn3manager: one executable, three run modes chosen on the command line
// (see app/ManagerApp.h and README.md).

#include "app/ManagerApp.h"
#include "server/DeviceServer.h"
#include "server/ListDevices.h"

namespace {

int RunList() {
  vorn::ListDevices();
  return vorn::kExitOk;
}

// The exit status tells a client whether the server stopped in order.
int RunServer(const vorn::CManagerCommandLineInfo& cmdInfo) {
  vorn::CDeviceServer server(&cmdInfo);
  return server.Run() == 1 ? vorn::kExitOk : vorn::kExitModeFailed;
}

int RunMainWindow(int& /*argc*/, char** /*argv*/) {
  return vorn::ReportModeUnavailable("main window");
}

}  // namespace

int main(int argc, char** argv) {
  vorn::ModeHandlers handlers;
  handlers.runList = RunList;
  handlers.runServer = RunServer;
  handlers.runMainWindow = [&argc, argv] { return RunMainWindow(argc, argv); };
  vorn::CManagerApp app(std::move(handlers));
  return app.InitInstance(argc, argv);
}
