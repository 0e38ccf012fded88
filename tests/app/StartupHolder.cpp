// Test helper: vorn3manager's real start-up (decoder gate, command line,
// run-mode claim) with modes that announce themselves on stdout and then hold
// their claim until the process is killed. Tests run several of these to see
// which instances may run side by side.

#include <unistd.h>

#include <cstdio>

#include "app/ManagerApp.h"

namespace {

[[noreturn]] void AnnounceAndHold(const char* what) {
  std::printf("RUNNING %s\n", what);
  std::fflush(stdout);
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  vorn::ModeHandlers handlers;
  handlers.runList = []() -> int { AnnounceAndHold("list"); };
  handlers.runServer = [](const vorn::CManagerCommandLineInfo& cmdInfo) -> int {
    std::string what = "server " + cmdInfo.UnitName() + " " + std::to_string(cmdInfo.BaudRate());
    AnnounceAndHold(what.c_str());
  };
  handlers.runMainWindow = []() -> int { AnnounceAndHold("mainwindow"); };
  vorn::CManagerApp app(std::move(handlers));
  return app.InitInstance(argc, argv);
}
