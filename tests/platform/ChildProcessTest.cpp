// Children that must end with their parent: started by fork and exec with a
// parent-death signal, yet otherwise like the spawned ones.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "platform/ChildProcess.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// State letter of /proc/PID/stat; 0 when the process is gone.
char ProcessState(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

TEST(ChildProcessTest, DeathSignalChildRunsLikeASpawnedOne) {
  const std::string errPath = std::filesystem::temp_directory_path() /
                              ("vorn-child-" + std::to_string(::getpid()) + ".err");
  std::filesystem::remove(errPath);
  // Looked up along PATH, with our environment plus the extra entries, its
  // stderr appended to the file.
  CChildProcess child = CChildProcess::Start({"sh", "-c", "echo \"$VORN_CHILD_TEST\" >&2; exit 7"},
                                             {"VORN_CHILD_TEST=seen"}, errPath, true, SIGTERM);
  ASSERT_TRUE(child.WaitFor(10s));
  EXPECT_EQ(child.ExitCode(), 7);
  EXPECT_EQ(ReadText(errPath), "seen\n");
  std::filesystem::remove(errPath);

  // A program that cannot be run is reported by Start, not by a child that
  // ends at once.
  EXPECT_THROW(CChildProcess::Start({"/nonexistent/vorn-program"}, {}, {}, false, SIGTERM),
               std::system_error);
  EXPECT_THROW(CChildProcess::Start({"vorn-program-not-on-path"}, {}, {}, false, SIGTERM),
               std::system_error);
}

TEST(ChildProcessTest, DeathSignalReachesTheGrandchildWhenItsParentIsKilled) {
  // The middle process starts a sleeper that must die with it; the middle is
  // this test binary's own child, so the test can kill it outright.
  const pid_t middle = ::fork();
  ASSERT_GE(middle, 0);
  if (middle == 0) {
    CChildProcess sleeper = CChildProcess::Start({"sleep", "60"}, {}, {}, false, SIGTERM);
    const std::string pidFile = "/tmp/vorn-grandchild-" + std::to_string(::getpid());
    std::ofstream(pidFile) << sleeper.Pid();
    for (;;) ::pause();
  }
  const std::string pidFile = "/tmp/vorn-grandchild-" + std::to_string(middle);
  pid_t sleeper = 0;
  for (int i = 0; i < 1000 && sleeper == 0; ++i) {
    std::this_thread::sleep_for(10ms);
    std::istringstream(ReadText(pidFile)) >> sleeper;
  }
  ASSERT_GT(sleeper, 0);
  std::filesystem::remove(pidFile);
  const char before = ProcessState(sleeper);
  EXPECT_TRUE(before != 0 && before != 'Z') << "the sleeper ended by itself";

  ::kill(middle, SIGKILL);
  int status = 0;
  ::waitpid(middle, &status, 0);
  bool ended = false;
  for (int i = 0; i < 1000 && !ended; ++i) {
    const char state = ProcessState(sleeper);
    ended = state == 0 || state == 'Z';
    if (!ended) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(ended) << "the sleeper outlived its parent";
}

}  // namespace
}  // namespace vorn
