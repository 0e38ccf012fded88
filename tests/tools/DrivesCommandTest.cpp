// vorn3ctl on raw drives, run as a separate process on a drive fixture tree
// (scripts/make-drive-fixture.sh) that the VORN_* variables point it at.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/ShellCommand.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

using Result = test::CommandResult;

class DrivesCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vorn3ctl-drives-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
    const std::string script = std::string(VORN_SOURCE_DIR) + "/scripts/make-drive-fixture.sh";
    ASSERT_EQ(std::system((script + " " + (m_dir / "tree").string() + " 8 > " +
                           (m_dir / "vars").string()).c_str()),
              0);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // Runs vorn3ctl on the fixture (or, with onFixture false, on this machine).
  Result Run(const std::string& args, bool onFixture = true) {
    std::string command;
    if (onFixture) command = ". " + (m_dir / "vars").string() + " && ";
    return test::RunShellCommand(command + VORN3CTL_PATH + " " + args);
  }

  fs::path m_dir;
};

TEST_F(DrivesCommandTest, DevicesListsTheCardAndNeverTheSystemDisk) {
  Result plain = Run("devices");
  EXPECT_EQ(plain.code, 0) << plain.err;
  EXPECT_EQ(plain.out, "PhysicalDrive1 (8.00MB) ()\n");
  Result json = Run("devices --json");
  EXPECT_EQ(json.code, 0);
  EXPECT_EQ(json.out,
            "[\n  {\n    \"kind\": \"drive\",\n    \"name\": \"PhysicalDrive1\",\n"
            "    \"text\": \"PhysicalDrive1 (8.00MB) ()\"\n  }\n]\n");
}

TEST_F(DrivesCommandTest, DiskCommandsTakeAnOfferedDriveByName) {
  Result format = Run("format PhysicalDrive1 --yes");
  ASSERT_EQ(format.code, 0) << format.err;
  Result list = Run("list physicaldrive1 --json");
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_NE(list.out.find("\"disk\": \"PhysicalDrive1\""), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\"formatted\": true"), std::string::npos) << list.out;
  // Or by its node, as lsblk shows it, directly or through a link to it.
  fs::create_directories(m_dir / "by-id");
  fs::create_symlink(m_dir / "tree/dev/sdb", m_dir / "by-id/usb-Generic_STORAGE_DEVICE-0:0");
  for (const fs::path& node : {m_dir / "tree/dev/sdb", m_dir / "by-id/usb-Generic_STORAGE_DEVICE-0:0"}) {
    Result byNode = Run("format " + node.string() + " --yes");
    EXPECT_EQ(byNode.code, 0) << byNode.err;
    EXPECT_EQ(byNode.out, "Formatted " + node.string() + "\n");
  }
}

// Formatting erases the marks an earlier file system left beyond the header,
// which the desktop would otherwise keep mounting.
TEST_F(DrivesCommandTest, FormatErasesTheSignaturesOfAnEarlierFileSystem) {
  const std::string node = (m_dir / "tree/dev/sdb").string();
  const std::string erased = "Erased an old ";
  const struct {
    std::string make;
    std::string said;  // after "Formatted PhysicalDrive1"
  } formats[] = {
      {"mkfs.ext4 -q -F " + node, erased + "ext4 signature at byte 1080 (left by an earlier format).\n"},
      {"echo 'label: gpt' | sfdisk -q " + node,
       erased + "gpt signature at byte 512 (left by an earlier format).\n" + erased + "gpt signature at byte " +
           std::to_string(8 * 1024 * 1024 - 512) + " (left by an earlier format).\n"},
      {"mkfs.vfat -F 32 " + node, ""},  // the header covers its boot sector
  };
  for (const auto& format : formats) {
    ASSERT_EQ(std::system((format.make + " >/dev/null 2>&1").c_str()), 0) << format.make;
    Result result = Run("format PhysicalDrive1 --yes");
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "Formatted PhysicalDrive1\n" + format.said);
    EXPECT_NE(std::system(("blkid -p " + node + " >/dev/null 2>&1").c_str()), 0) << format.make;
    Result list = Run("list PhysicalDrive1");
    EXPECT_NE(list.out.find("0 routines"), std::string::npos) << list.out;
  }
}

TEST_F(DrivesCommandTest, NoCommandReachesADriveThatIsNotOffered) {
  const fs::path system = m_dir / "tree/dev/sda";
  const auto before = fs::last_write_time(system);
  const std::string byNode = "list " + system.string();
  for (const char* args : {"format PhysicalDrive0 --yes", "list PhysicalDrive0",
                           "remove-last PhysicalDrive0 --yes", "list PhysicalDrive9", byNode.c_str()}) {
    Result refused = Run(args);
    EXPECT_EQ(refused.code, 1) << args;
    EXPECT_NE(refused.err.find("is not offered"), std::string::npos) << args << ": " << refused.err;
  }
  EXPECT_EQ(fs::last_write_time(system), before);
}

TEST_F(DrivesCommandTest, ThisMachineListsWithoutError) {
  Result json = Run("devices --json", /*onFixture=*/false);
  EXPECT_EQ(json.code, 0) << json.err;
  EXPECT_EQ(json.out.front(), '[');
}

}  // namespace
}  // namespace vorn
