// vorn3ctl units and live as real processes: the client starts vorn3manager,
// which drives the unit simulator.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <string>

#include "disk/VornDisk.h"
#include "platform/UniqueFd.h"
#include "tests/server/SimWorld.h"
#include "tools/DiskArgument.h"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

std::string Unit(int devnum) {
  const std::string n = std::to_string(devnum);
  return "unit " + n + "\nmanufacturer Calverin\nproduct Unit\ncapture capture" + n +
         ".bin\nbaud-file baud" + n + ".txt\n";
}

// Runs vorn3ctl with `args`, its stdout into out.txt; returns the exit code.
int RunCtl(const CSimWorld& world, const std::vector<std::string>& args,
           const std::string& stdinPath = "/dev/null") {
  std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$@\" <\"$0\" >>out.txt",
                                   stdinPath, VORN3CTL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  // The shell runs in the world's folder so out.txt lands there.
  argv[2] = "cd \"" + world.Path("") + "\" && " + argv[2];
  CChildProcess ctl = world.Start(argv);
  if (!ctl.WaitFor(60s)) return -1;
  return ctl.ExitCode();
}

TEST(ClientProcessTest, UnitsPrintsTheListModesNames) {
  // The list objects have machine-wide names: take turns with the list tests.
  CUniqueFd lock(::open("/tmp/vorn-list-objects.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_EQ(::flock(lock.Get(), LOCK_EX), 0);
  ::shm_unlink("/VORN1_LIST_SHAREDMEM");
  ::shm_unlink("/VORN1_LIST_EVENT");

  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(3) + "bus 002\n" + Unit(12));
  EXPECT_EQ(RunCtl(world, {"units"}), 0) << world.Stderr();
  EXPECT_EQ(world.Read("out.txt"), "VORN3\nVORN12\n");
}

TEST(ClientProcessTest, LiveSendsAFileInBlocks) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(221));
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 7);
  std::ofstream(world.Path("show.bin"), std::ios::binary) << data;

  EXPECT_EQ(RunCtl(world, {"live", "vorn221", "--baud", "19200", "--block-bytes", "126",
                           world.Path("show.bin")}),
            0)
      << world.Stderr();
  // 126 + 126 + 48 bytes, each block as length word, payload and zero padding.
  std::string expected;
  for (int offset = 0; offset < 300; offset += 126) {
    const int size = std::min(126, 300 - offset);
    std::string block(128, '\0');
    block[0] = static_cast<char>(size);
    block.replace(2, static_cast<std::size_t>(size), data.substr(offset, size));
    expected += block;
  }
  EXPECT_EQ(world.Read("capture221.bin"), expected);
  EXPECT_EQ(world.Read("baud221.txt").substr(0, 1), "3");
  EXPECT_NE(world.Read("out.txt").find("sent 3 blocks (300 bytes)"), std::string::npos)
      << world.Read("out.txt");
}

TEST(ClientProcessTest, LiveReadsStandardInput) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(222));
  std::ofstream(world.Path("show.bin"), std::ios::binary) << std::string(400, 'x');
  EXPECT_EQ(RunCtl(world, {"live", "VORN222", "--baud", "250000", "--block-bytes", "200", "-"},
                   world.Path("show.bin")),
            0)
      << world.Stderr();
  EXPECT_EQ(world.Read("capture222.bin").size(), 2u * 256u);
}

TEST(ClientProcessTest, LiveReportsAServerThatNeverGotReady) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(223));
  std::ofstream(world.Path("show.bin"), std::ios::binary) << "abc";
  EXPECT_EQ(RunCtl(world, {"live", "VORN223", "--baud", "1200", "--block-bytes", "16",
                           world.Path("show.bin")}),
            1);
  const std::string err = world.Stderr();
  EXPECT_NE(err.find("Unsupported baud rate"), std::string::npos) << err;
  EXPECT_NE(err.find("ended (exit status 1) before it was ready"), std::string::npos) << err;
}

TEST(ClientProcessTest, LiveReportsAFailedWriteInsteadOfWaitingForEver) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(224) + "fault bulk-write\n");
  std::ofstream(world.Path("show.bin"), std::ios::binary) << std::string(50, 'y');
  EXPECT_EQ(RunCtl(world, {"live", "VORN224", "--baud", "9600", "--block-bytes", "16",
                           world.Path("show.bin")}),
            1);
  EXPECT_NE(world.Stderr().find("without taking block 1"), std::string::npos) << world.Stderr();
}

const char* const kObjectSuffixes[] = {"_SHAREDMEM", "_READYEVENT", "_QUITEVENT",
                                       "_DATAREADYEVENT", "_DATADONEEVENT"};

bool NoObjectsOf(const std::string& unit) {
  for (const char* suffix : kObjectSuffixes) {
    if (std::filesystem::exists("/dev/shm/" + unit + suffix)) return false;
  }
  return true;
}

void RemoveObjectsOf(const std::string& unit) {
  for (const char* suffix : kObjectSuffixes) ::shm_unlink(("/" + unit + suffix).c_str());
}

// State letter of /proc/PID/stat, and the parent there; state 0 when gone.
char ProcessState(pid_t pid, pid_t* parent = nullptr) {
  // read(2), not a stream: a process that ends between the open and the read
  // fails the read (ESRCH), which a stream would throw.
  std::string stat(1024, '\0');
  const int fd = ::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t got = fd < 0 ? -1 : ::read(fd, stat.data(), stat.size());
  if (fd >= 0) ::close(fd);
  stat.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return 0;
  if (parent) *parent = static_cast<pid_t>(std::atol(stat.c_str() + close + 4));
  return stat[close + 2];
}

// The first child of `parent` that shows up within 10 s; 0 when none does.
pid_t WaitForChildOf(pid_t parent) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      pid_t ppid = 0;
      const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
      if (ProcessState(pid, &ppid) != 0 && ppid == parent) return pid;
    }
    std::this_thread::sleep_for(10ms);
  }
  return 0;
}

// True when the process (not our child) is gone, or a zombie, within 10 s.
bool EndsSoon(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    const char state = ProcessState(pid);
    if (state == 0 || state == 'Z') return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

// vorn3ctl live streaming zeros to `unit` every 5 ms, once blocks flow.
// `prelude` runs in the shell before it becomes vorn3ctl.
CChildProcess StartStreaming(const CSimWorld& world, int devnum, const std::string& prelude = "") {
  CChildProcess ctl = world.Start({"/bin/sh", "-c",
                                   prelude + "cd \"$0\" && exec \"$1\" live VORN" + std::to_string(devnum) +
                                       " --baud 9600 --block-bytes 64 --frame-ms 5 - </dev/zero "
                                       ">>out.txt",
                                   world.Path(""), VORN3CTL_PATH});
  const std::string capture = "capture" + std::to_string(devnum) + ".bin";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (world.Read(capture).size() < 3 * 128 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  return ctl;
}

TEST(ClientProcessTest, StopSignalsEndTheSessionInOrderAndFreeTheNames) {
  // Ctrl-C at the terminal, a termination request, the terminal closing. The
  // server sits in a process group of its own and does not see the signal.
  const struct {
    int signal;
    int devnum;
  } cases[] = {{SIGINT, 226}, {SIGTERM, 227}, {SIGHUP, 228}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    CSimWorld world;
    world.WriteConfig("bus 001\n" + Unit(c.devnum));
    CChildProcess ctl = StartStreaming(world, c.devnum);
    ASSERT_EQ(::kill(ctl.Pid(), c.signal), 0);
    ASSERT_TRUE(ctl.WaitFor(10s));
    EXPECT_EQ(ctl.ExitCode(), 0) << world.Stderr();
    EXPECT_NE(world.Stderr().find("stopped"), std::string::npos);
    EXPECT_NE(world.Read("out.txt").find("server ended with exit status 0"), std::string::npos)
        << world.Read("out.txt");
    EXPECT_EQ(world.Read("capture" + std::to_string(c.devnum) + ".bin").size() % 128, 0u);
    EXPECT_TRUE(NoObjectsOf(UnitName(c.devnum)));
  }
}

TEST(ClientProcessTest, AHangupIgnoredAtStartKeepsTheSessionGoing) {
  // As under nohup: the terminal closing must not end the session.
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(231));
  CChildProcess ctl = StartStreaming(world, 231, "trap '' HUP; ");
  ASSERT_EQ(::kill(ctl.Pid(), SIGHUP), 0);
  const std::size_t before = world.Read("capture231.bin").size();
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(ctl.HasEnded());
  EXPECT_GT(world.Read("capture231.bin").size(), before);
  ASSERT_EQ(::kill(ctl.Pid(), SIGTERM), 0);
  ASSERT_TRUE(ctl.WaitFor(10s));
  EXPECT_EQ(ctl.ExitCode(), 0) << world.Stderr();
  EXPECT_TRUE(NoObjectsOf("VORN231"));
}

TEST(ClientProcessTest, KilledLiveClientTakesItsServerAlong) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(229));
  CChildProcess ctl = StartStreaming(world, 229);
  const pid_t server = WaitForChildOf(ctl.Pid());
  ASSERT_NE(server, 0);
  ctl.Kill();
  // Nothing can remove the names of a client killed outright, but its server
  // must not wait for ever on a quit event no one will set.
  EXPECT_TRUE(EndsSoon(server));
  RemoveObjectsOf("VORN229");
}

TEST(ClientProcessTest, StopWhileWaitingForReadyQuitsTheServer) {
  // A stand-in server that never signals ready but ends on quit, as a real one
  // does that is still opening its unit.
  CSimWorld world;
  const std::string fake = world.Path("never-ready.sh");
  std::ofstream(fake) << "#!/bin/sh\n"
                         "while [ \"$(od -An -tu1 -N1 /dev/shm/$2_QUITEVENT | tr -d ' ')\" != 1 ]; do\n"
                         "  sleep 0.02\n"
                         "done\n"
                         "echo quit seen >&2\n";
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  std::ofstream(world.Path("show.bin")) << "abc";
  CChildProcess ctl = world.Start({"/bin/sh", "-c",
                                   "VORN3MANAGER=\"$0\" exec \"$1\" live VORN230 --baud 9600 "
                                   "--block-bytes 16 \"$2\"",
                                   fake, VORN3CTL_PATH, world.Path("show.bin")});
  ASSERT_NE(WaitForChildOf(ctl.Pid()), 0);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(ctl.Pid(), SIGTERM), 0);
  ASSERT_TRUE(ctl.WaitFor(10s));
  // Well before the 10 s the client gives a server to get ready.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(ctl.ExitCode(), 1);
  EXPECT_NE(world.Stderr().find("stopped before the server for VORN230 was ready"),
            std::string::npos)
      << world.Stderr();
  EXPECT_NE(world.Stderr().find("quit seen"), std::string::npos) << world.Stderr();
  EXPECT_TRUE(NoObjectsOf("VORN230"));
}

TEST(ClientProcessTest, UnitsFreesTheListNamesWhenStoppedAndEndsItsManagerWhenKilled) {
  CUniqueFd lock(::open("/tmp/vorn-list-objects.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_EQ(::flock(lock.Get(), LOCK_EX), 0);
  // A list mode that never answers keeps the client waiting.
  CSimWorld world;
  const std::string fake = world.Path("silent.sh");
  std::ofstream(fake) << "#!/bin/sh\nexec sleep 60\n";
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  for (const int signal : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(signal);
    ::shm_unlink("/VORN1_LIST_SHAREDMEM");
    ::shm_unlink("/VORN1_LIST_EVENT");
    CChildProcess ctl =
        world.Start({"/bin/sh", "-c", "VORN3MANAGER=\"$0\" exec \"$1\" units", fake, VORN3CTL_PATH});
    const pid_t manager = WaitForChildOf(ctl.Pid());
    ASSERT_NE(manager, 0);
    ASSERT_EQ(::kill(ctl.Pid(), signal), 0);
    ASSERT_TRUE(ctl.WaitFor(10s));
    EXPECT_TRUE(EndsSoon(manager));
    if (signal == SIGTERM) {
      EXPECT_EQ(ctl.ExitCode(), 1);
      EXPECT_FALSE(std::filesystem::exists("/dev/shm/VORN1_LIST_SHAREDMEM"));
      EXPECT_FALSE(std::filesystem::exists("/dev/shm/VORN1_LIST_EVENT"));
    }
  }
  ::shm_unlink("/VORN1_LIST_SHAREDMEM");
  ::shm_unlink("/VORN1_LIST_EVENT");
}

TEST(ClientProcessTest, LiveStreamsARoutinesControlDataAtItsRate) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(225));
  const std::string image = world.Path("card.img");
  ASSERT_EQ(RunCtl(world, {"create-image", image, "--size", "1M"}), 0) << world.Stderr();
  ASSERT_EQ(RunCtl(world, {"format", image, "--yes"}), 0) << world.Stderr();

  // One routine: a sector of "MP3", then two sectors of control data.
  std::string control(2 * kSectorSize, '\0');
  for (std::size_t i = 0; i < control.size(); ++i) control[i] = static_cast<char>(i * 13 + 1);
  {
    std::unique_ptr<CSectorDevice> device = OpenDiskArgument(image, ImageAccess::kWrite);
    CVornDisk disk(*device, nullptr);
    disk.ReadTable();
    RoutineEntry entry;
    entry.startSector = disk.NextFreeSector();
    entry.dataSector = entry.startSector + 1;
    entry.endSector = entry.startSector + 3;
    entry.frameRate = 5;
    entry.baudCode = 1;  // 4800 bit/s
    disk.AppendRoutine(entry, [&] {
      const std::string mp3(kSectorSize, '\x55');
      device->WriteSectors(entry.startSector, 1, mp3.data());
      device->WriteSectors(entry.dataSector, 2, control.data());
    });
    device->Close();
  }

  ASSERT_EQ(RunCtl(world, {"live", "VORN225", "--routine", image, "1", "--block-bytes", "256"}), 0)
      << world.Stderr();
  std::string expected;
  for (std::size_t offset = 0; offset < control.size(); offset += 256) {
    std::string block(384, '\0');
    block[1] = 1;  // N = 256
    block.replace(2, 256, control.substr(offset, 256));
    expected += block;
  }
  EXPECT_EQ(world.Read("capture225.bin"), expected);
  EXPECT_EQ(world.Read("baud225.txt").substr(0, 1), "1");

  EXPECT_EQ(RunCtl(world, {"live", "VORN225", "--routine", image, "2", "--block-bytes", "256"}), 1);
  EXPECT_NE(world.Stderr().find("there is no routine 2"), std::string::npos) << world.Stderr();
}

}  // namespace
}  // namespace vorn::test
