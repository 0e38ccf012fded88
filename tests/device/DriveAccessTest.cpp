#include "device/DriveAccess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

#include "device/DeviceExceptions.h"
#include "tests/device/DriveFixture.h"

namespace vorn {
namespace {

using test::Bus;
using test::CDriveFixture;

DeviceEntry DriveEntry(int number) { return DeviceEntry{number, "", ""}; }

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const CUsbDeviceException& error) {
    return error.GetMessage();
  }
  return "(no error)";
}

std::vector<std::uint8_t> Pattern(std::size_t sectors, std::uint8_t seed) {
  std::vector<std::uint8_t> data(sectors * kSectorSize);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 512);
  return data;
}

class DriveAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture.AddDisk("sda", 4096, Bus::kUsb);  // drive 0: a card
  }
  CDriveFixture fixture;
};

TEST_F(DriveAccessTest, WritesAndReadsSectorsOfTheDriveNode) {
  CDriveAccess drive(fixture.Roots());
  drive.Open(DriveEntry(0));
  EXPECT_EQ(drive.GetName(), "PhysicalDrive0");
  EXPECT_EQ(drive.GetSectorCount(), 4096u);
  EXPECT_TRUE(drive.Identify());

  const std::vector<std::uint8_t> data = Pattern(130, 3);
  drive.WriteSectors(100, 130, data.data());
  std::vector<std::uint8_t> back(130 * kSectorSize);
  drive.ReadSectors(100, 130, back.data());
  EXPECT_EQ(back, data);

  // Sector n is bytes n*512 .. n*512+511 of the node.
  std::ifstream node(fixture.Node("sda"), std::ios::binary);
  node.seekg(101 * 512);
  std::vector<std::uint8_t> sector(512);
  node.read(reinterpret_cast<char*>(sector.data()), 512);
  EXPECT_TRUE(std::equal(sector.begin(), sector.end(), data.begin() + 512));

  // One sector fills exactly 512 bytes of the buffer.
  std::vector<std::uint8_t> guard(1024, 0xEE);
  drive.ReadSectors(100, 1, guard.data());
  EXPECT_TRUE(std::equal(guard.begin(), guard.begin() + 512, data.begin()));
  EXPECT_EQ(guard[512], 0xEE);
  drive.Close();
  drive.Close();  // closing a closed device does nothing
}

TEST_F(DriveAccessTest, CountZeroSeeksAndTransfersNothing) {
  CDriveAccess drive(fixture.Roots());
  drive.Open(DriveEntry(0));
  std::uint8_t untouched = 0x5A;
  drive.ReadSectors(7, 0, &untouched);
  drive.WriteSectors(7, 0, &untouched);
  EXPECT_EQ(untouched, 0x5A);
}

TEST_F(DriveAccessTest, TransfersPastTheEndFailAndNeverGrowTheImage) {
  CDriveAccess drive(fixture.Roots());
  drive.Open(DriveEntry(0));
  std::vector<std::uint8_t> data = Pattern(4, 9);
  // The fixed text first, then the system's reason.
  EXPECT_EQ(MessageOf([&] { drive.WriteSectors(4094, 4, data.data()); }),
            "Unable to write sector: No space left on device");
  EXPECT_EQ(MessageOf([&] { drive.ReadSectors(4094, 4, data.data()); }), "Unable to read sector: Input/output error");
  EXPECT_EQ(std::filesystem::file_size(fixture.Node("sda")), 4096u * 512u);
  // The sectors before the end were written.
  std::vector<std::uint8_t> back(2 * kSectorSize);
  drive.ReadSectors(4094, 2, back.data());
  EXPECT_TRUE(std::equal(back.begin(), back.end(), Pattern(4, 9).begin()));
}

TEST_F(DriveAccessTest, SecondOpenIsRefusedAndTheFirstStaysInUse) {
  CDriveAccess drive(fixture.Roots());
  drive.Open(DriveEntry(0));
  EXPECT_EQ(MessageOf([&] { drive.Open(DriveEntry(0)); }), "A drive is already opened");
  std::vector<std::uint8_t> data = Pattern(1, 1);
  drive.WriteSectors(0, 1, data.data());
  drive.Close();
  drive.Open(DriveEntry(0));  // open again after Close
}

TEST_F(DriveAccessTest, DrivesThatAreNotThereCannotBeOpened) {
  CDriveAccess drive(fixture.Roots());
  EXPECT_EQ(MessageOf([&] { drive.Open(DriveEntry(3)); }), "Unable to open drive");
  EXPECT_EQ(MessageOf([&] { drive.Open(DeviceEntry{}); }), "Unable to open drive");  // not a drive entry
  fixture.RemoveDisk("sda");  // pulled after discovery
  EXPECT_EQ(MessageOf([&] { drive.Open(DriveEntry(0)); }), "Unable to open drive");
  // Transfers on a device that never opened fail cleanly.
  std::uint8_t sector[512];
  EXPECT_EQ(MessageOf([&] { drive.ReadSectors(0, 1, sector); }), "Unable to seek during read");
  EXPECT_EQ(MessageOf([&] { drive.WriteSectors(0, 1, sector); }), "Unable to seek during write");
}

TEST_F(DriveAccessTest, MountedOrSizelessDrivesAreRefusedWithTheReason) {
  fixture.AddPartition("sda", 1, 2048);
  fixture.Mount("sda1", "/media/user/CARD");
  fixture.AddDisk("sdb", 0, Bus::kUsb);  // reader without a card
  CDriveAccess drive(fixture.Roots());
  const std::string busy = MessageOf([&] { drive.Open(DriveEntry(0)); });
  EXPECT_EQ(busy, "Could not open drive\n" + fixture.Node("sda") + " is in use: unmount it first.");
  // A refused open holds nothing: asked again, the same object gives the
  // same reason, and once the card is unmounted it opens.
  EXPECT_EQ(MessageOf([&] { drive.Open(DriveEntry(0)); }), busy);
  const std::string empty = MessageOf([&] { drive.Open(DriveEntry(1)); });
  EXPECT_EQ(empty.rfind("Could not open drive\n", 0), 0u) << empty;
  EXPECT_NE(empty.find("insert the card"), std::string::npos) << empty;
  std::ofstream(fixture.Dir() + "/mountinfo", std::ios::trunc) << "22 1 0:21 / /sys rw,relatime - sysfs sysfs rw\n";
  drive.Open(DriveEntry(0));
  EXPECT_EQ(drive.GetSectorCount(), 4096u);
}

TEST_F(DriveAccessTest, SystemRefusalsNameTheCauseAndTheRemedy) {
  EXPECT_EQ(DriveOpenReason(EACCES, "/dev/sdb"),
            "Permission denied on /dev/sdb: run as a member of the \"disk\" group "
            "(sudo adduser $USER disk, then log in again).");
  EXPECT_EQ(DriveOpenReason(EBUSY, "/dev/sdb"), "/dev/sdb is in use: unmount it first.");
  EXPECT_NE(DriveOpenReason(EROFS, "/dev/sdb").find("write-protected"), std::string::npos);

  // A user outside the "disk" group: the node is root's and mode 0600. As root,
  // the test drops to "nobody" in a child process to be that user.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  std::filesystem::permissions(fixture.Dir(), std::filesystem::perms(0755));
  ::chmod(fixture.Node("sda").c_str(), 0600);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string message = "could not drop privileges";
    if (::setgid(65534) == 0 && ::setuid(65534) == 0) {
      CDriveAccess drive(fixture.Roots());
      message = MessageOf([&] { drive.Open(DriveEntry(0)); });
    }
    const ssize_t written = ::write(pipeFds[1], message.data(), message.size());
    ::_exit(written == static_cast<ssize_t>(message.size()) ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string message;
  char chunk[256];
  for (ssize_t got; (got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) message.append(chunk, got);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (message == "could not drop privileges") GTEST_SKIP() << message;
  EXPECT_EQ(message, "Could not open drive\n" + DriveOpenReason(EACCES, fixture.Node("sda")));
}

TEST_F(DriveAccessTest, HugeDrivesReportTheLastReachableSectorCount) {
  fixture.AddDisk("sdb", (std::uint64_t{1} << 32) + 5, Bus::kUsb);  // a sparse 2 TiB image
  CDriveAccess drive(fixture.Roots());
  drive.Open(DriveEntry(1));
  EXPECT_EQ(drive.GetSectorCount(), 0xFFFFFFFFu);
  std::vector<std::uint8_t> data = Pattern(1, 4);
  drive.WriteSectors(0xFFFFFFFFu, 1, data.data());
  std::vector<std::uint8_t> back(kSectorSize);
  drive.ReadSectors(0xFFFFFFFFu, 1, back.data());
  EXPECT_EQ(back, data);
}

TEST_F(DriveAccessTest, LargeLogicalSectorsAreAddressedIn512ByteSectors) {
  fixture.AddDisk("sdb", 64, Bus::kUsb, false, 4096);
  CDriveAccess drive(fixture.Roots());
  drive.Open(DriveEntry(1));
  EXPECT_EQ(drive.GetSectorCount(), 64u);
  std::vector<std::uint8_t> data = Pattern(1, 2);
  std::vector<std::uint8_t> slot(2 * kSectorSize, 0xEE);
  drive.WriteSectors(3, 1, data.data());
  drive.ReadSectors(3, 1, slot.data());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), slot.begin()));
  EXPECT_EQ(slot[512], 0xEE);  // no 4096-byte overrun of the 512-byte slot
}

TEST_F(DriveAccessTest, BothDurabilityModesWriteTheSameBytes) {
  const std::vector<std::uint8_t> data = Pattern(128, 6);
  for (auto mode : {CSectorFile::Durability::kSyncEachWrite, CSectorFile::Durability::kSyncAfterWrite}) {
    CDriveAccess drive(fixture.Roots(), mode);
    drive.Open(DriveEntry(0));
    drive.WriteSectors(0, 128, data.data());
    std::vector<std::uint8_t> back(data.size());
    drive.ReadSectors(0, 128, back.data());
    EXPECT_EQ(back, data);
  }
}

TEST(SectorFileTest, ExclusiveOpenOfARegularFileIsHarmless) {
  // O_EXCL without O_CREAT only means something for block devices; an image
  // standing in for a drive opens as often as asked.
  CDriveFixture fixture;
  fixture.AddDisk("sda", 16, Bus::kUsb);
  CSectorFile first(fixture.Node("sda"), 512, 16 * 512);
  CSectorFile second(fixture.Node("sda"), 512, 16 * 512);
  EXPECT_TRUE(first.Open());
  EXPECT_TRUE(second.Open());
  CSectorFile missing(fixture.Node("nothing"), 512, 0);
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(missing.LastError(), ENOENT);
}

}  // namespace
}  // namespace vorn
