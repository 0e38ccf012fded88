// vorn3ctl sync end to end: a simulated unit, a card reader of the drive
// fixture and an image file synced at once, and one disk failing among good
// ones. The disks' bytes and the simulator's log are the judges, not the
// tool's report.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "device/SectorDevice.h"
#include "disk/DiskHeader.h"
#include "tests/audio/RoutineFixtures.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/SimTestBed.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

class SyncCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Four routines: three of the disk's MP3 kind (stored as they are), one
    // WAV that must be converted.
    for (int k = 1; k <= 3; ++k) {
      const auto mp3 = test::DiskKindFrames(40 * k, static_cast<std::uint32_t>(k));
      const auto data = test::PatternBytes(1000u * static_cast<unsigned>(k), static_cast<std::uint8_t>(k));
      test::WriteBytes(Path("r" + std::to_string(k) + ".vorn"),
                       test::RoutineFileBytes(test::MakeHeader(("R" + std::to_string(k)).c_str(), 1,
                                                               static_cast<std::uint32_t>(mp3.size()),
                                                               static_cast<std::uint32_t>(data.size())),
                                              mp3, data));
    }
    test::WriteWav(Path("tone.wav"), test::Tone(44100, 440, 550));
    const auto wav = test::ReadBytes(Path("tone.wav"));
    test::WriteBytes(Path("r4.vorn"), test::RoutineFileBytes(test::MakeHeader("Tone", 0,
                                                                              static_cast<std::uint32_t>(wav.size()), 512),
                                                             wav, test::PatternBytes(512)));
    // The same show but for routine 3.
    const auto other = test::DiskKindFrames(70, 99);
    test::WriteBytes(Path("x3.vorn"), test::RoutineFileBytes(test::MakeHeader("X3", 1,
                                                                              static_cast<std::uint32_t>(other.size()), 0),
                                                             other, {}));
    WriteShow("show.toml", {"r1", "r2", "r3", "r4"});
    WriteShow("other.toml", {"r1", "r2", "x3", "r4"});
  }

  std::string Path(const std::string& name) const { return (fs::path(m_dir.Path("")) / name).string(); }

  void WriteShow(const std::string& name, const std::vector<std::string>& routines) {
    std::string text;
    for (const std::string& r : routines) text += "[[routine]]\nfile = \"" + r + ".vorn\"\n";
    test::WriteBytes(Path(name), {text.begin(), text.end()});
  }

  test::CommandResult Run(const std::string& args) {
    std::string prefix = test::CSimTestBed::PreloadPrefix(VORN_SIM_LIBRARY);
    if (!m_fixtureVars.empty()) prefix = ". " + m_fixtureVars + " && " + prefix;
    return test::RunShellCommand(prefix + VORN3CTL_PATH + " " + args);
  }

  // The bytes a reader of the disk uses: header, routines and table.
  static std::vector<std::uint8_t> Used(const std::string& image) {
    auto bytes = test::ReadBytes(image);
    const DiskHeader header = DiskHeader::Decode(bytes.data());
    const std::size_t end = (std::size_t{header.tableSector} + header.routineCount / 8 + 1) * kSectorSize;
    bytes.resize(std::min(end, bytes.size()));
    return bytes;
  }

  void InstallUnits(std::vector<sim::SimUnitSpec> units) {
    sim::CSimConfigWriter writer;
    writer.Bus("001");
    for (const sim::SimUnitSpec& unit : units) writer.Unit(unit);
    m_bed.Install(writer);
  }

  test::CSimTestBed m_bed;
  test::CSimTestBed m_dir;  // a scratch folder
  std::string m_fixtureVars;
};

TEST_F(SyncCommandTest, ThreeDisksEndHoldingTheShowAndTheMatchingOneIsOnlyRead) {
  ASSERT_EQ(std::system(("'" + std::string(VORN_SOURCE_DIR) + "/scripts/make-drive-fixture.sh' '" + Path("tree") +
                         "' 8 > '" + Path("vars") + "'").c_str()), 0);
  m_fixtureVars = Path("vars");
  sim::SimUnitSpec unit;
  unit.devnum = 3;
  unit.image = m_bed.Image("unit.img", 16384);
  InstallUnits({unit});
  const std::string blank = Path("blank.img");
  ASSERT_EQ(Run("create-image " + blank + " --size 8M").code, 0);

  // The unit holds the show already, the card the show with another routine 3.
  test::CommandResult first = Run("sync " + Path("show.toml") + " VORN3 --yes");
  ASSERT_EQ(first.code, 0) << first.err << first.out;
  first = Run("sync " + Path("other.toml") + " PhysicalDrive1 --yes");
  ASSERT_EQ(first.code, 0) << first.err << first.out;
  const auto unitBefore = test::ReadBytes(unit.image);
  const std::size_t writesBefore = m_bed.Log().Matching("write").size();

  const test::CommandResult dry = Run("sync " + Path("show.toml") + " VORN3 PhysicalDrive1 " + blank + " --dry-run");
  EXPECT_EQ(dry.code, 0) << dry.err;
  EXPECT_NE(dry.out.find("PhysicalDrive1: would keep 2 routines, drop 2 and write 2"), std::string::npos) << dry.out;

  const test::CommandResult sync = Run("sync " + Path("show.toml") + " VORN3 PhysicalDrive1 " + blank + " --yes --json");
  ASSERT_EQ(sync.code, 0) << sync.err << sync.out;
  const auto json = nlohmann::json::parse(sync.out);
  EXPECT_EQ(json["converted"], 1);  // the WAV, once for three disks
  const int expected[3][3] = {{4, 0, 4}, {2, 2, 4}, {0, 4, 4}};  // kept, written, verified
  for (int d = 0; d < 3; ++d) {
    const auto& disk = json["disks"][static_cast<std::size_t>(d)];
    EXPECT_EQ(disk["ok"], true) << disk;
    EXPECT_EQ(disk["kept"], expected[d][0]) << disk;
    EXPECT_EQ(disk["written"], expected[d][1]) << disk;
    EXPECT_EQ(disk["verified"], expected[d][2]) << disk;
  }
  // Byte for byte the same show on all three; nothing written to the unit.
  const auto reference = Used(blank);
  EXPECT_EQ(DiskHeader::Decode(reference.data()).routineCount, 4);
  EXPECT_EQ(Used(unit.image), reference);
  EXPECT_EQ(Used(Path("tree/dev/sdb")), reference);
  EXPECT_EQ(test::ReadBytes(unit.image), unitBefore);
  EXPECT_EQ(m_bed.Log().Matching("write").size(), writesBefore);
  EXPECT_TRUE(m_bed.Log().OutOfShape().empty());
}

// One disk failing among good ones: the good ones end holding the show, the
// failing one holds its old show or the new show's first routines, and the
// exit status says that not all succeeded.
TEST_F(SyncCommandTest, OneDiskFailingLeavesTheOthersCorrect) {
  const struct {
    const char* what;
    const char* fault;      // of the unit, or nullptr: the disk is a small image
    const char* expected;   // in that disk's error
  } rows[] = {
      {"unplugged mid-write", "unplug-after 40", "err=-19"},
      {"write error", "bulk-write after 30", "Unable to write sector"},
      {"too small", nullptr, "Not enough free space"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string good = Path("good.img");
    ASSERT_EQ(Run("create-image " + good + " --size 4M --force").code, 0);
    std::string failing;
    std::string failingImage;
    if (row.fault) {
      sim::SimUnitSpec unit;
      unit.devnum = 5;
      unit.image = failingImage = m_bed.Image("faulty.img", 16384);
      unit.faults = {row.fault};
      InstallUnits({unit});
      failing = "VORN5";
    } else {
      InstallUnits({});
      failingImage = failing = Path("small.img");
      ASSERT_EQ(Run("create-image " + failing + " --size 60K --force").code, 0);
    }
    const auto failingBefore = test::ReadBytes(failingImage);
    const test::CommandResult sync = Run("sync " + Path("show.toml") + " " + failing + " " + good + " --yes --json");
    ASSERT_EQ(sync.code, 1) << sync.err << sync.out;
    ASSERT_FALSE(sync.out.empty()) << sync.err;
    const auto json = nlohmann::json::parse(sync.out);
    EXPECT_EQ(json["ok"], false);
    EXPECT_EQ(json["disks"][0]["ok"], false);
    EXPECT_NE(json["disks"][0]["error"].get<std::string>().find(row.expected), std::string::npos) << json;
    EXPECT_EQ(json["disks"][1]["ok"], true) << json;
    EXPECT_EQ(DiskHeader::Decode(Used(good).data()).routineCount, 4);
    // The good disk is right: a second sync finds nothing to write.
    const test::CommandResult again = Run("sync " + Path("show.toml") + " " + good + " --yes --json");
    EXPECT_EQ(nlohmann::json::parse(again.out)["disks"][0]["written"], 0) << again.out;
    const auto after = test::ReadBytes(failingImage);
    if (!row.fault) {
      EXPECT_EQ(after, failingBefore);  // refused before its first write
    } else {
      EXPECT_NE(after, failingBefore);  // it failed while writing
      // Whatever it holds reads as a VORN disk holding the show's first routines.
      const DiskHeader header = DiskHeader::Decode(after.data());
      EXPECT_TRUE(header.magic != kDiskMagic || header.routineCount <= 4);
    }
  }
}

TEST_F(SyncCommandTest, TheSameDiskNamedTwiceIsRefusedBeforeAnythingIsWritten) {
  const std::string image = Path("disk.img");
  ASSERT_EQ(Run("create-image " + image + " --size 4M").code, 0);
  fs::create_symlink(image, Path("link.img"));
  const auto before = test::ReadBytes(image);
  for (const std::string& second : {image, Path("link.img"), Path("./disk.img")}) {
    const test::CommandResult sync = Run("sync " + Path("show.toml") + " " + image + " " + second + " --yes");
    EXPECT_EQ(sync.code, 1) << second;
    EXPECT_NE(sync.err.find("are the same disk"), std::string::npos) << sync.err;
  }
  // And without --yes nobody can answer the question.
  EXPECT_NE(Run("sync " + Path("show.toml") + " " + image).code, 0);
  EXPECT_EQ(test::ReadBytes(image), before);
}

}  // namespace
}  // namespace vorn
