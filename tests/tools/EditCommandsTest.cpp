// vorn3ctl remove, move, replace, insert, retitle, set and recover on disk
// images: in-process for the edits, and as a real process killed (or stopped
// with Ctrl-C) in the middle of moving routines, then finished by recover.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include "device/ImageDevice.h"
#include "disk/VornDisk.h"
#include "tests/audio/AudioTestSupport.h"
#include "tests/audio/RoutineFixtures.h"
#include "tools/Command.h"

namespace vorn {
namespace {

using Bytes = std::vector<std::uint8_t>;

class EditCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    image = dir / "disk.img";
    ASSERT_EQ(Ctl({"create-image", image, "--size", "64M"}), 0);
    // Routines of 1, 3, 3 and 3 MiB of control data, told apart by their bytes.
    const std::vector<std::size_t> sizes = {1u << 20, 3u << 20, 3u << 20, 3u << 20};
    std::vector<std::string> files;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
      const std::string data = dir / ("data" + std::to_string(k));
      test::WriteBytes(data, test::PatternBytes(sizes[k], static_cast<std::uint8_t>(17 * k + 1)));
      files.push_back(dir / ("r" + std::to_string(k + 1) + ".vorn"));
      ASSERT_EQ(Ctl({"make-routine", files.back(), "--data", data, "--title", "R" + std::to_string(k + 1)}), 0);
    }
    std::vector<std::string> add = {"add", image};
    add.insert(add.end(), files.begin(), files.end());
    add.insert(add.end(), {"--quiet", "--yes"});
    ASSERT_EQ(Ctl(add), 0);
    const Bytes bytes = test::ReadBytes(image);
    for (const RoutineEntry& entry : Table()) original[entry.Title()] = Sectors(bytes, entry);
  }

  static int Ctl(std::vector<std::string> args) { return RunVorn3ctl(args); }

  std::vector<RoutineEntry> Table() {
    CImageDevice device(image, false, ImageAccess::kRead);
    device.Open(CImageDevice::EntryFor(image));
    CVornDisk disk(device, nullptr);
    return disk.ReadTable();
  }
  static Bytes Sectors(const Bytes& bytes, const RoutineEntry& entry) {
    return {bytes.begin() + std::ptrdiff_t{entry.startSector} * kSectorSize,
            bytes.begin() + std::ptrdiff_t{entry.endSector} * kSectorSize};
  }
  // The titles in table order; every routine holds the bytes it was added with.
  std::string Show() {
    std::string titles;
    const Bytes bytes = test::ReadBytes(image);
    for (const RoutineEntry& entry : Table()) {
      titles += (titles.empty() ? "" : " ") + entry.Title();
      EXPECT_TRUE(Sectors(bytes, entry) == original[entry.Title()]) << entry.Title() << " lost its bytes";
    }
    return titles;
  }

  test::CScratchDir dir;
  std::string image;
  std::map<std::string, Bytes> original;
};

TEST_F(EditCommandsTest, EachEditThroughTheCommandLine) {
  struct Step {
    std::vector<std::string> args;
    int code;
    std::string show;
  };
  const std::vector<Step> steps = {
      {{"remove", image, "2", "--yes"}, 0, "R1 R3 R4"},
      {{"move", image, "3", "1"}, 0, "R4 R1 R3"},
      {{"insert", image, "2", dir / "r2.vorn"}, 0, "R4 R2 R1 R3"},
      {{"replace", image, "4", dir / "r3.vorn", "--yes"}, 0, "R4 R2 R1 R3"},
      {{"set", image, "1", "--baud", "DMX", "--frame-ms", "40", "--protocol", "5"}, 0, "R4 R2 R1 R3"},
      {{"remove", image, "9", "--yes"}, 1, "R4 R2 R1 R3"},           // no such routine
      {{"remove", image, "x", "--yes"}, 2, "R4 R2 R1 R3"},           // not a position
      {{"remove", image, "1"}, 2, "R4 R2 R1 R3"},                    // nobody to answer the question
      {{"set", image, "1"}, 2, "R4 R2 R1 R3"},                       // nothing to set
      {{"set", image, "2", "--settings", dir / "data0"}, 1, "R4 R2 R1 R3"},  // not 32 bytes
      {{"retitle", image, "1", "Seventeen chars!!"}, 1, "R4 R2 R1 R3"},
      {{"recover", image}, 0, "R4 R2 R1 R3"},                        // nothing pending
      {{"remove-last", image, "--yes"}, 0, "R4 R2 R1"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[0] + " " + (step.args.size() > 2 ? step.args[2] : ""));
    EXPECT_EQ(Ctl(step.args), step.code);
    EXPECT_EQ(Show(), step.show);
  }
  const RoutineEntry first = Table()[0];
  EXPECT_EQ(first.baudCode, 5);
  EXPECT_EQ(first.frameRate, 40);
  EXPECT_EQ(first.controllerSettings[0], 5);
}

// A process ended with SIGKILL, or stopped with Ctrl-C, while it moves routine
// data leaves a prefix of the new show; recover finishes it, and says there is
// nothing to do after that.
TEST_F(EditCommandsTest, AnEditCutShortIsFinishedByRecover) {
  const Bytes before = test::ReadBytes(image);
  for (int signal : {SIGKILL, SIGINT}) {
    SCOPED_TRACE(signal);
    test::WriteBytes(image, before);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::execl(VORN3CTL_PATH, "vorn3ctl", "remove", image.c_str(), "1", "--yes", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Once the first piece is logged, routine data is moving.
    bool moving = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!moving && std::chrono::steady_clock::now() < deadline) {
      std::error_code error;
      for (std::filesystem::directory_iterator it(dir / "state/vorn3manager", error), end; !error && it != end;
           it.increment(error)) {
        std::error_code sizeError;
        if (std::filesystem::file_size(it->path() / "pieces", sizeError) > 0 && !sizeError) moving = true;
      }
      if (!moving) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(moving);
    if (signal == SIGKILL) {
      EXPECT_TRUE(WIFSIGNALED(status));
    } else {
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 130);
    }
    // A well-formed disk showing what comes first in the new show (nothing:
    // the first routine was the one removed); other writers keep off it.
    EXPECT_EQ(Show(), "");
    EXPECT_EQ(Ctl({"add", image, dir / "r1.vorn", "--yes", "--quiet"}), 1);
    EXPECT_EQ(Ctl({"remove-last", image, "--yes"}), 1);
    if (signal == SIGKILL) {
      EXPECT_EQ(Ctl({"remove", image, "1", "--yes"}), 1);  // finishes first, then asks to run it again
      EXPECT_EQ(Show(), "R2 R3 R4");
    } else {
      // Another program wiped the header since: the record is not applied.
      Bytes cut = test::ReadBytes(image);
      std::fill(cut.begin(), cut.begin() + kSectorSize, 0);
      test::WriteBytes(image, cut);
      EXPECT_EQ(Ctl({"recover", image, "--yes"}), 1);
      EXPECT_TRUE(test::ReadBytes(image) == cut);
      EXPECT_EQ(Ctl({"recover", image, "--discard", "--yes"}), 0);
    }
    EXPECT_EQ(Ctl({"recover", image, "--yes"}), 0);  // nothing left to do
  }
}

}  // namespace
}  // namespace vorn
