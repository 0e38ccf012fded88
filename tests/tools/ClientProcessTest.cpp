// vorn3ctl units and live as real processes: the client starts vorn3manager,
// which drives the unit simulator.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

TEST(ClientProcessTest, CtrlCStopsTheServerInOrderAndFreesTheNames) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(226));
  CChildProcess ctl = world.Start({"/bin/sh", "-c",
                                   "cd \"$0\" && exec \"$1\" live VORN226 --baud 9600 "
                                   "--block-bytes 64 --frame-ms 5 - </dev/zero >>out.txt",
                                   world.Path(""), VORN3CTL_PATH});
  // Wait until blocks flow, then interrupt as a terminal would (the server
  // sits in a process group of its own and does not see the signal).
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (world.Read("capture226.bin").size() < 3 * 128 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(::kill(ctl.Pid(), SIGINT), 0);
  ASSERT_TRUE(ctl.WaitFor(10s));
  EXPECT_EQ(ctl.ExitCode(), 0) << world.Stderr();
  EXPECT_NE(world.Stderr().find("stopped"), std::string::npos);
  EXPECT_NE(world.Read("out.txt").find("server ended with exit status 0"), std::string::npos)
      << world.Read("out.txt");
  EXPECT_EQ(world.Read("capture226.bin").size() % 128, 0u);
  EXPECT_FALSE(std::filesystem::exists("/dev/shm/VORN226_SHAREDMEM"));
  EXPECT_FALSE(std::filesystem::exists("/dev/shm/VORN226_QUITEVENT"));
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
    std::unique_ptr<CSectorDevice> device = OpenDiskArgument(image);
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
