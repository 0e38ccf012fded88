// vorn3ctl units: asks vorn3manager's list mode for the attached VORN units,
// exactly as the show editor does, and prints their names one per line.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"
#include "server/ListDevices.h"
#include "tools/Commands.h"
#include "tools/ManagerProcess.h"
#include "tools/StopSignals.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

constexpr auto kListTimeout = 10s;

int RunUnits(const CCommandLine& /*commandLine*/) {
  // Caught before the objects exist, so that an interrupted listing still
  // removes their machine-wide names (their owners go before this does).
  CStopSignals stopSignals;
  CSharedBlock block;
  CNamedEvent event;
  try {
    block.Create(kListBlockName, kListAreaSize);
    event.Create(kListEventName, EventReset::kManual);
  } catch (const std::system_error& e) {
    std::fprintf(stderr,
                 "vorn3ctl: %s\n(another client may be listing units; a name left behind by a "
                 "client that crashed is removed with rm /dev/shm/%s /dev/shm/%s)\n",
                 e.what(), kListBlockName, kListEventName);
    return kExitFailure;
  }

  CChildProcess manager;
  try {
    manager = StartManager({"-listdevices"});
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "vorn3ctl: %s\n", e.what());
    return kExitFailure;
  }

  // Watch the process while waiting: list mode ends without a signal when it
  // may not run (another instance) or cannot write the list.
  const auto deadline = std::chrono::steady_clock::now() + kListTimeout;
  bool listed = false;
  while (!(listed = event.Wait(100ms))) {
    if (StopRequested()) {
      std::fprintf(stderr, "vorn3ctl: stopped\n");
      return kExitFailure;
    }
    if (manager.HasEnded() && !event.IsSet()) {
      std::fprintf(stderr, "vorn3ctl: vorn3manager ended (%s) without publishing a unit list\n",
                   DescribeManagerEnd(manager).c_str());
      return kExitFailure;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "vorn3ctl: no unit list from vorn3manager within %lld s\n",
                   static_cast<long long>(kListTimeout.count()));
      return kExitFailure;
    }
  }

  const char* cursor = reinterpret_cast<const char*>(block.Data());
  const char* end = cursor + block.Size();
  while (cursor < end && *cursor != '\0') {
    const std::string name(cursor, strnlen(cursor, static_cast<std::size_t>(end - cursor)));
    std::printf("%s\n", name.c_str());
    cursor += name.size() + 1;
  }
  manager.WaitFor(5000ms);
  return kExitOk;
}

}  // namespace

Command UnitsCommand() {
  return Command{"units",
                 "",
                 "list the VORN units attached on USB, by the names the server takes",
                 "Runs vorn3manager -listdevices as the show editor does and prints each\n"
                 "unit name (VORN<device number>) on its own line.",
                 {},
                 0,
                 0,
                 RunUnits};
}

}  // namespace vorn
