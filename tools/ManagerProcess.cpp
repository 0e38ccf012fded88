#include "tools/ManagerProcess.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace vorn {

std::string ManagerExecutable() {
  if (const char* configured = std::getenv("VORN3MANAGER"); configured && *configured) {
    return configured;
  }
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    for (const auto& candidate : {self.parent_path() / "vorn3manager",
                                  self.parent_path().parent_path() / "app" / "vorn3manager"}) {
      if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
  }
  return "vorn3manager";
}

CChildProcess StartManager(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {ManagerExecutable()};
  argv.insert(argv.end(), args.begin(), args.end());
  // Its own process group: a Ctrl-C meant for vorn3ctl must not kill the
  // server mid-block; vorn3ctl stops it with the quit event instead. And it
  // ends with us however we end: a server whose client is gone would wait for
  // a quit event no one can set, holding its unit.
  return CChildProcess::Start(argv, {}, {}, true, SIGTERM);
}

std::string DescribeManagerEnd(CChildProcess& manager) {
  manager.HasEnded();
  return manager.DescribeEnd();
}

}  // namespace vorn
