#include "app/ManagerApp.h"

#include <cstdio>
#include <exception>

#include "device/DeviceExceptions.h"
#include "platform/DirectXProbe.h"
#include "platform/MessageBox.h"

namespace vorn {
namespace {

const char* ModeName(RunMode mode) {
  switch (mode) {
    case RunMode::kServer: return "server";
    case RunMode::kList: return "list";
    case RunMode::kMainWindow: return "main window";
  }
  return "unknown";
}

// A mode reports its own failures; this is the net for a failure that
// escaped it, so the user sees its message instead of an abort.
int ReportEscapedFailure(const std::string& message) {
  ShowMessageBox(message, kAppName, MessageIcon::kError);
  return kExitModeFailed;
}

}  // namespace

StartupServices DefaultStartupServices() {
  return StartupServices{ProbeDirectXVersion, [](RunMode mode) { return ArbitrateMode(mode); }};
}

int ReportModeUnavailable(const char* modeName) {
  std::fprintf(stderr, "vorn3manager: the %s mode is not part of this build\n", modeName);
  return kExitModeFailed;
}

CManagerApp::CManagerApp(ModeHandlers handlers, StartupServices services)
    : m_handlers(std::move(handlers)), m_services(std::move(services)) {}

int CManagerApp::InitInstance(int argc, const char* const* argv) {
  // --help and --version answer before anything else, without a window or a
  // decoder check, so they work on any machine (and build the manual page).
  CManagerCommandLineInfo information;
  information.ParseCommandLine(argc, argv);
  if (information.WantsHelp() || information.WantsVersion()) {
    std::fputs(information.WantsHelp() ? ManagerHelpText() : ManagerVersionText(), stdout);
    return kExitOk;
  }

  // The gate comes before the command line is read: it applies to every mode.
  std::uint32_t version = 0;
  char versionText[256] = {};
  m_services.probeDirectXVersion(&version, versionText, sizeof versionText);
  if (version < kMinimumDirectXVersion) {
    ShowMessageBox(kDirectXErrorText, kDirectXErrorCaption, MessageIcon::kError);
    return kExitNoDecoder;
  }

  m_cmdInfo.ParseCommandLine(argc, argv);

  RunMode mode = m_cmdInfo.IsListDevices() ? RunMode::kList
                       : m_cmdInfo.IsServer()    ? RunMode::kServer
                                                 : RunMode::kMainWindow;
  if (!m_services.arbitrateMode(mode)) {
    // A double-click on the icon while the window runs must be seen to do
    // something: the running window comes to the front (the status stays).
    if (mode == RunMode::kMainWindow && m_handlers.showRunningWindow) m_handlers.showRunningWindow();
    return kExitModeNotAllowed;
  }
  return RunSelectedMode(mode);
}

int CManagerApp::RunSelectedMode(RunMode mode) {
  int status = kExitModeFailed;
  const auto failure = FailureOf([&] {
    switch (mode) {
      case RunMode::kList:
        if (m_handlers.runList) return void(status = m_handlers.runList());
        break;
      case RunMode::kServer:
        if (m_handlers.runServer) return void(status = m_handlers.runServer(m_cmdInfo));
        break;
      case RunMode::kMainWindow:
        if (m_handlers.runMainWindow) return void(status = m_handlers.runMainWindow());
        break;
    }
    status = ReportModeUnavailable(ModeName(mode));
  });
  return failure ? ReportEscapedFailure(*failure) : status;
}

}  // namespace vorn
