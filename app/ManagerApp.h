#pragma once
// Start-up of vorn3manager: the decoder gate, the command line, the run-mode
// claim, and exactly one mode run to its end. The modes themselves live in
// other libraries and are reached through ModeHandlers, so this library links
// neither the server nor Qt: server and list mode run without any display, and
// only the main-window handler starts the user-interface toolkit.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "app/CommandLineInfo.h"
#include "app/ModeArbiter.h"

namespace vorn {

// Process exit statuses.
inline constexpr int kExitOk = 0;               // the mode ran and succeeded
inline constexpr int kExitModeFailed = 1;       // the mode ran and failed, or is not built in
inline constexpr int kExitNoDecoder = 2;        // the "DirectX Error" box was shown
inline constexpr int kExitModeNotAllowed = 3;   // refused (silently) or arbitration failed

inline constexpr const char* kDirectXErrorCaption = "DirectX Error";
inline constexpr const char* kDirectXErrorText =
    "ZOV has detected that DirectX 9.0 or better was not properly installed.\n"
    "Please see the help file or reinstall the software.";

// Each returns the process exit status (kExitOk on success).
struct ModeHandlers {
  std::function<int()> runList;
  std::function<int(const CManagerCommandLineInfo&)> runServer;
  std::function<int()> runMainWindow;
  // A window start refused because one runs: shows the running window.
  std::function<void()> showRunningWindow;
};

// What start-up asks of the system; tests replace them.
struct StartupServices {
  std::function<bool(std::uint32_t*, char*, std::size_t)> probeDirectXVersion;
  std::function<bool(RunMode)> arbitrateMode;
};
StartupServices DefaultStartupServices();

// For a mode this build does not contain: says so on stderr, gives kExitModeFailed.
int ReportModeUnavailable(const char* modeName);

class CManagerApp {
 public:
  explicit CManagerApp(ModeHandlers handlers, StartupServices services = DefaultStartupServices());

  // The whole start-up; returns the exit status. There is no event loop of
  // our own: the process ends when the mode returns.
  int InitInstance(int argc, const char* const* argv);

  const CManagerCommandLineInfo& CommandLineInfo() const { return m_cmdInfo; }

 private:
  int RunSelectedMode(RunMode mode);

  ModeHandlers m_handlers;
  StartupServices m_services;
  CManagerCommandLineInfo m_cmdInfo;
};

}  // namespace vorn
