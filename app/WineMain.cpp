// vorn3manager.exe: the module the show editor starts under Wine. It runs the
// server and list modes exactly as the native program does (same start-up,
// same USB path through the system's libusb), with the editor's named objects
// reached through Win32 (platform/win32/) instead of POSIX shared memory.
// The main window is the native program's.

#include "app/ManagerApp.h"
#include "app/ServerModes.h"
#include "platform/MessageBox.h"
#include "platform/win32/Win32MessageBoxes.h"

int main(int argc, char** argv) {
  vorn::InstallWin32MessageBoxes();
  vorn::ModeHandlers handlers;
  vorn::AddServerModes(handlers);
  handlers.runMainWindow = [] {
    vorn::ShowMessageBox(
        "Under Wine, VORN3 Manager only serves the show editor (-server, -listdevices).\n"
        "The main window runs natively: start \"vorn3manager\" from the desktop's menu or a "
        "terminal.");
    return vorn::kExitModeFailed;
  };
  vorn::CManagerApp app(std::move(handlers));
  return app.InitInstance(argc, argv);
}
