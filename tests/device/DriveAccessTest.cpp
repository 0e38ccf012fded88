#include "device/DriveAccess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <vector>

#include "device/DeviceExceptions.h"
#include "device/VerifyingDevice.h"
#include "tests/device/DriveFixture.h"
#include "tests/audio/RecordingControls.h"
#include "tests/support/RecordingPresenter.h"

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

// Runs `action` in a child process as a user who may not open the fixture's
// nodes: as root, the child becomes "nobody"; otherwise the nodes are made
// mode 000, which stops their owner too. Gives what the action returned, or
// none when the child could not drop its rights.
std::optional<std::string> AsUnprivileged(CDriveFixture& fixture, const std::string& node,
                                          const std::function<std::string()>& action) {
  std::filesystem::permissions(fixture.Dir(), std::filesystem::perms(0755));
  ::chmod(node.c_str(), ::geteuid() == 0 ? 0600 : 0);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string message = "\x01";
    if (::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0)) message = action();
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
  ::chmod(node.c_str(), 0644);
  if (message == "\x01") return std::nullopt;
  return message;
}

// udisks2 as the drive access sees it: hands over a descriptor opened before
// (by someone with the rights), and unmounts by taking the device's lines out
// of the fixture's mount table.
class CFakeBroker : public CDriveBroker {
 public:
  CUniqueFd OpenDevice(const std::string& devicePath, bool writable, int flags) override {
    opened.push_back(devicePath);
    openWritable = writable;
    openFlags = flags;
    if (openFailure) throw CDriveBrokerError(*openFailure, "refused by the fake");
    return CUniqueFd(::fcntl(grant, F_DUPFD_CLOEXEC, 3));
  }
  void Unmount(const std::string& devicePath) override {
    unmounted.push_back(devicePath);
    if (unmountFailure) throw CDriveBrokerError(*unmountFailure, "refused by the fake");
    if (unmountLeavesMounted) return;
    std::ifstream in(mountinfo);
    std::string kept;
    for (std::string line; std::getline(in, line);) {
      if (line.find(" " + devicePath + " ") == std::string::npos) kept += line + "\n";
    }
    in.close();
    std::ofstream(mountinfo) << kept;
  }

  int grant = -1;
  std::string mountinfo;
  std::optional<BrokerFailure> openFailure;
  std::optional<BrokerFailure> unmountFailure;
  bool unmountLeavesMounted = false;
  std::vector<std::string> opened;
  std::vector<std::string> unmounted;
  bool openWritable = false;
  int openFlags = 0;
};

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
  EXPECT_EQ(busy, "Could not open drive\n" + fixture.Node("sda") + " is mounted at /media/user/CARD: unmount it first.");
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
  EXPECT_EQ(DriveOpenReason(EBUSY, "/dev/sdb"), "/dev/sdb is in use by another program: close it and try again.");
  EXPECT_NE(DriveOpenReason(EROFS, "/dev/sdb").find("write-protected"), std::string::npos);

  // A user outside the "disk" group: the node is root's and mode 0600. As root,
  // the test drops to "nobody" in a child process to be that user.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  const std::optional<std::string> message = AsUnprivileged(fixture, fixture.Node("sda"), [&] {
    CDriveAccess drive(fixture.Roots());
    return MessageOf([&] { drive.Open(DriveEntry(0)); });
  });
  if (!message) GTEST_SKIP() << "could not drop privileges";
  EXPECT_EQ(*message, "Could not open drive\n" + DriveOpenReason(EACCES, fixture.Node("sda")));
}

TEST_F(DriveAccessTest, WithoutRightsTheBrokersDescriptorIsCheckedAndUsed) {
  auto broker = std::make_shared<CFakeBroker>();
  CUniqueFd card(::open(fixture.Node("sda").c_str(), O_RDWR | O_CLOEXEC));
  fixture.AddDisk("sdb", 64, Bus::kUsb);
  CUniqueFd other(::open(fixture.Node("sdb").c_str(), O_RDWR | O_CLOEXEC));
  CUniqueFd readOnly(::open(fixture.Node("sda").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(card.IsValid() && other.IsValid() && readOnly.IsValid());
  const DriveRoots roots = fixture.Roots();
  auto openAndWrite = [&]() -> std::string {
    CDriveAccess drive(roots, CSectorFile::kDefaultDurability, broker);
    const std::string message = MessageOf([&] { drive.Open(DriveEntry(0)); });
    if (message != "(no error)") return message;
    const std::vector<std::uint8_t> data = Pattern(1, 77);
    drive.WriteSectors(5, 1, data.data());
    return "written";
  };

  broker->grant = card.Get();
  const auto granted = AsUnprivileged(fixture, fixture.Node("sda"), openAndWrite);
  if (!granted) GTEST_SKIP() << "could not drop privileges";
  EXPECT_EQ(*granted, "written");
  std::ifstream node(fixture.Node("sda"), std::ios::binary);
  node.seekg(5 * 512);
  std::vector<std::uint8_t> sector(512);
  node.read(reinterpret_cast<char*>(sector.data()), 512);
  EXPECT_EQ(sector, Pattern(1, 77));

  // The descriptor of another drive, or one that cannot write, is not used.
  broker->grant = other.Get();
  EXPECT_EQ(AsUnprivileged(fixture, fixture.Node("sda"), openAndWrite),
            "Could not open drive\nudisks2 handed over another device than /dev/sda; it was not used.");
  broker->grant = readOnly.Get();
  EXPECT_EQ(AsUnprivileged(fixture, fixture.Node("sda"), openAndWrite),
            "Could not open drive\nudisks2 opened /dev/sda for reading only; it was not used.");

  // Each refusal says what to do about it.
  const struct {
    BrokerFailure failure;
    std::string reason;
  } refusals[] = {
      {BrokerFailure::kRefused, "you are not allowed to open /dev/sda: ask an administrator, or join the \"disk\" group."},
      {BrokerFailure::kNoAgent,
       "Opening /dev/sda needs an administrator's password but this session cannot ask for one: start it from "
       "the desktop, or run it as a member of the \"disk\" group."},
      {BrokerFailure::kDismissed, "Opening /dev/sda was cancelled."},
      {BrokerFailure::kBusy, "/dev/sda is in use by another program: close it and try again."},
      {BrokerFailure::kNoBus,
       "you are not allowed to open /dev/sda and there is no system bus to ask udisks2 on: start the system's "
       "D-Bus, or join the \"disk\" group."},
      {BrokerFailure::kNoService,
       "you are not allowed to open /dev/sda and udisks2 is not running: install udisks2 or join the \"disk\" "
       "group."},
      {BrokerFailure::kNoAuthority,
       "Opening /dev/sda through udisks2 needs the authorization service (polkit), which is not running: start "
       "polkitd, or join the \"disk\" group."},
  };
  for (const auto& refusal : refusals) {
    broker->openFailure = refusal.failure;
    EXPECT_EQ(AsUnprivileged(fixture, fixture.Node("sda"), openAndWrite), "Could not open drive\n" + refusal.reason);
  }
}

TEST_F(DriveAccessTest, AMountedCardIsUnmountedOnlyWhenTheUserSaysSo) {
  fixture.AddPartition("sda", 1, 1024);
  fixture.AddPartition("sda", 2, 1024);
  fixture.Mount("sda1", "/media/user/CARD");
  fixture.Mount("sda2", "/media/user/MUSIC");
  auto broker = std::make_shared<CFakeBroker>();
  broker->mountinfo = fixture.Roots().mountinfo;
  const std::string busy = "Could not open drive\n" + fixture.Node("sda") +
                           " is mounted at /media/user/CARD, /media/user/MUSIC: unmount it first.";
  // The question is the caller's; nothing in the drive access shows a box.
  test::CRecordingPresenter presenter;
  std::vector<std::string> questions;
  bool answer = false;
  auto ask = [&](const std::vector<DriveMount>& mounts) {
    questions.push_back(MountQuestion(mounts));
    return answer;
  };

  CDriveAccess refusing(fixture.Roots(), CSectorFile::kDefaultDurability, broker, MountPolicy::kRefuse);
  refusing.SetUnmountQuestion(ask);
  EXPECT_EQ(MessageOf([&] { refusing.Open(DriveEntry(0)); }), busy);
  EXPECT_TRUE(questions.empty());

  CDriveAccess asking(fixture.Roots(), CSectorFile::kDefaultDurability, broker, MountPolicy::kAsk);
  EXPECT_EQ(MessageOf([&] { asking.Open(DriveEntry(0)); }), busy);  // no question given: refused
  EXPECT_FALSE(asking.UnmountDeclined());
  asking.SetUnmountQuestion(ask);
  EXPECT_EQ(MessageOf([&] { asking.Open(DriveEntry(0)); }), busy);
  EXPECT_TRUE(asking.UnmountDeclined());
  EXPECT_EQ(questions,
            std::vector<std::string>{"The card is mounted at /media/user/CARD, /media/user/MUSIC: unmount it and continue?"});
  EXPECT_TRUE(broker->unmounted.empty());
  asking.Close();

  // Files open on the card, or a filesystem that stays mounted: still refused.
  answer = true;
  broker->unmountFailure = BrokerFailure::kBusy;
  EXPECT_EQ(MessageOf([&] { asking.Open(DriveEntry(0)); }),
            "Could not open drive\n/dev/sda1 is in use: close the files open on the card.");
  asking.Close();
  broker->unmountFailure.reset();
  broker->unmountLeavesMounted = true;
  EXPECT_EQ(MessageOf([&] { asking.Open(DriveEntry(0)); }), busy);
  asking.Close();

  broker->unmountLeavesMounted = false;
  broker->unmounted.clear();
  EXPECT_EQ(MessageOf([&] { asking.Open(DriveEntry(0)); }), "(no error)");
  EXPECT_EQ(broker->unmounted, (std::vector<std::string>{"/dev/sda1", "/dev/sda2"}));
  EXPECT_TRUE(broker->opened.empty());  // the node was ours to open
  EXPECT_TRUE(presenter.requests.empty());

  // Swap on the card is never let go of; a system disk neither.
  fixture.AddDisk("sdb", 2048, Bus::kUsb);
  fixture.AddPartition("sdb", 1, 1024);
  fixture.AddSwap("sdb1");
  CDriveAccess unmounting(fixture.Roots(), CSectorFile::kDefaultDurability, broker, MountPolicy::kUnmount);
  EXPECT_EQ(MessageOf([&] { unmounting.Open(DriveEntry(1)); }),
            "Could not open drive\n" + fixture.Node("sdb") +
                " is in use by the system (active swap or a mapped device on it) and cannot be used.");
  EXPECT_EQ(broker->unmounted.size(), 2u);
}

TEST_F(DriveAccessTest, VerifyReadsBackFromTheMediumAndNamesTheFirstBadSector) {
  CDriveAccess drive(fixture.Roots());
  drive.Open(DriveEntry(0));
  CVerifyingDevice verifier(drive);
  verifier.WriteSectors(10, 40, Pattern(40, 1).data());
  verifier.WriteSectors(30, 4, Pattern(4, 2).data());  // rewrites inside the run
  verifier.WriteSectors(3000, 300, Pattern(300, 3).data());
  EXPECT_EQ(verifier.PendingSectors(), 340u);
  CCancelFlag cancel;
  cancel.Cancel();
  EXPECT_THROW(verifier.Verify(nullptr, &cancel), CCancelled);
  EXPECT_EQ(verifier.PendingSectors(), 340u);  // nothing was checked
  test::CRecordingProgress progress;
  verifier.Verify(&progress);
  EXPECT_EQ(verifier.PendingSectors(), 0u);
  ASSERT_GE(progress.calls.size(), 3u);
  EXPECT_EQ(progress.calls.front(), "range 0 100");
  EXPECT_EQ(progress.calls.back(), "pos 100");

  // The medium changes behind the device's back: sector 3123 now differs.
  verifier.WriteSectors(3000, 300, Pattern(300, 3).data());
  verifier.WriteSectors(10, 40, Pattern(40, 1).data());
  {
    std::fstream node(fixture.Node("sda"), std::ios::binary | std::ios::in | std::ios::out);
    node.seekp(3123 * 512 + 17);
    node.put('\x5A');
  }
  EXPECT_EQ(MessageOf([&] { verifier.Verify(); }),
            "Verify failed\nSector 3123 of PhysicalDrive0 reads back differently from what was written: the card "
            "may be failing.");
}

TEST_F(DriveAccessTest, VerifySeesTheMediumBehindAWarmCache) {
  // A loop device over a file: the drive's cache and the file behind it are two
  // caches, so a byte planted in the file is on the "medium" while the drive's
  // cache still holds what was written.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a loop device";
  const std::string backing = fixture.Dir() + "/medium.img";
  std::filesystem::resize_file(fixture.Node("sda"), 0);
  { std::ofstream(backing).close(); }
  std::filesystem::resize_file(backing, 4096 * 512);
  const std::string attach = "losetup --find --show " + backing + " 2>/dev/null";
  std::string loop;
  if (FILE* pipe = ::popen(attach.c_str(), "r")) {
    char line[128] = {};
    if (std::fgets(line, sizeof line, pipe)) loop = line;
    ::pclose(pipe);
  }
  if (!loop.empty() && loop.back() == '\n') loop.pop_back();
  if (loop.empty()) GTEST_SKIP() << "no loop device here";
  std::filesystem::remove(fixture.Node("sda"));
  std::filesystem::create_symlink(loop, fixture.Node("sda"));
  std::string result;
  {
    CDriveAccess drive(fixture.Roots());
    drive.Open(DriveEntry(0));
    CVerifyingDevice verifier(drive);
    const std::vector<std::uint8_t> data = Pattern(64, 9);
    verifier.WriteSectors(100, 64, data.data());
    std::vector<std::uint8_t> back(data.size());
    drive.ReadSectors(100, 64, back.data());  // warm
    {
      std::fstream medium(backing, std::ios::binary | std::ios::in | std::ios::out);
      medium.seekp(140 * 512);
      medium.put(static_cast<char>(data[40 * 512] ^ 0xFF));
    }
    result = MessageOf([&] { verifier.Verify(); });
  }
  if (std::system(("losetup -d " + loop).c_str()) != 0) ADD_FAILURE() << "losetup -d " << loop;
  EXPECT_EQ(result.rfind("Verify failed\nSector 140 of PhysicalDrive0 ", 0), 0u) << result;
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

// A fixture's node is a regular file, where O_EXCL claims nothing: it is
// locked as an image is, so two writers exclude each other there as on a card.
TEST_F(DriveAccessTest, AFixtureNodeIsHeldAsExclusivelyAsACard) {
  const std::string held = "Could not open drive\n" + fixture.Node("sda") +
                           " is in use by another program: close it and try again.";
  const struct {
    ImageAccess first, second;
    bool secondOpens;
  } pairs[] = {
      {ImageAccess::kWrite, ImageAccess::kWrite, false},
      {ImageAccess::kWrite, ImageAccess::kRead, false},
      {ImageAccess::kRead, ImageAccess::kWrite, false},
      {ImageAccess::kRead, ImageAccess::kRead, true},
  };
  for (const auto& pair : pairs) {
    CDriveAccess first(fixture.Roots());
    CDriveAccess second(fixture.Roots());
    first.SetAccess(pair.first);
    second.SetAccess(pair.second);
    first.Open(DriveEntry(0));
    EXPECT_EQ(MessageOf([&] { second.Open(DriveEntry(0)); }), pair.secondOpens ? "(no error)" : held);
  }
  CSectorFile missing(fixture.Node("nothing"), 512, 0);
  EXPECT_FALSE(missing.Open());
  EXPECT_EQ(missing.LastError(), ENOENT);
}

// Another process holding the card is named where /proc shows it.
TEST_F(DriveAccessTest, AHeldCardNamesTheProgramHoldingIt) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    CSectorFile file(fixture.Node("sda"), 512, 0);
    const char done = file.Open() ? 1 : 0;
    (void)!::write(ready[1], &done, 1);
    ::pause();
    ::_exit(0);
  }
  char done = 0;
  ASSERT_EQ(::read(ready[0], &done, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  CDriveAccess drive(fixture.Roots());
  const std::string message = MessageOf([&] { drive.Open(DriveEntry(0)); });
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(message, "Could not open drive\n" + fixture.Node("sda") + " is in use by another program (" + comm +
                         ", process " + std::to_string(holder) + "): close it and try again.");
}

// What only reads opens read-only, directly and through the service, and a
// grant of the wrong access is not used; a grant without O_DSYNC gets each
// write flushed instead.
TEST_F(DriveAccessTest, EachOpenHasTheAccessItsActionNeeds) {
  CDriveAccess reader(fixture.Roots());
  reader.SetAccess(ImageAccess::kRead);
  reader.Open(DriveEntry(0));
  std::vector<std::uint8_t> sector(kSectorSize);
  reader.ReadSectors(0, 1, sector.data());
  EXPECT_EQ(MessageOf([&] { reader.WriteSectors(0, 1, sector.data()); }),
            "Unable to write sector: Bad file descriptor");
  reader.Close();

  auto broker = std::make_shared<CFakeBroker>();
  CUniqueFd readOnly(::open(fixture.Node("sda").c_str(), O_RDONLY | O_CLOEXEC));
  CUniqueFd readWrite(::open(fixture.Node("sda").c_str(), O_RDWR | O_CLOEXEC));
  const struct {
    ImageAccess access;
    int grant;
    std::string result;
  } cases[] = {
      {ImageAccess::kRead, readOnly.Get(), "opened r"},
      {ImageAccess::kRead, readWrite.Get(),
       "Could not open drive\nudisks2 opened /dev/sda for writing, though only reading was asked; it was not used."},
      {ImageAccess::kWrite, readWrite.Get(), "opened rw"},
  };
  const DriveRoots roots = fixture.Roots();
  for (const auto& c : cases) {
    broker->grant = c.grant;
    const auto result = AsUnprivileged(fixture, fixture.Node("sda"), [&]() -> std::string {
      CDriveAccess drive(roots, CSectorFile::kDefaultDurability, broker);
      drive.SetAccess(c.access);
      const std::string message = MessageOf([&] { drive.Open(DriveEntry(0)); });
      return message == "(no error)" ? std::string("opened ") + (broker->openWritable ? "rw" : "r") : message;
    });
    if (!result) GTEST_SKIP() << "could not drop privileges";
    EXPECT_EQ(*result, c.result);
  }

  for (const int extra : {0, O_DSYNC}) {
    CSectorFile file(fixture.Node("sda"), 512, 0);
    file.Adopt(CUniqueFd(::open(fixture.Node("sda").c_str(), O_RDWR | O_CLOEXEC | extra)));
    EXPECT_EQ(file.GetDurability(), extra != 0 ? CSectorFile::Durability::kSyncEachWrite
                                               : CSectorFile::Durability::kSyncAfterWrite);
  }
}

}  // namespace
}  // namespace vorn
