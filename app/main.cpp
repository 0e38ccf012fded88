// vorn3manager: one executable, three run modes chosen on the command line
// (see app/ManagerApp.h and README.md).

#include "app/ManagerApp.h"

namespace {

int RunList() { return vorn::ReportModeUnavailable("list"); }

int RunServer(const vorn::CManagerCommandLineInfo& /*cmdInfo*/) {
  return vorn::ReportModeUnavailable("server");
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
