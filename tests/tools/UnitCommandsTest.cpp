// vorn3ctl on simulated VORN units: the unchanged tool under LD_PRELOAD, as a
// user without a unit runs it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "device/ImageDevice.h"
#include "disk/VornDisk.h"
#include "tests/support/ReferenceTable.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/SimTestBed.h"

namespace vorn {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using Result = test::CommandResult;

// The unit lines of `vorn3ctl devices`; the drives of the machine come first.
std::string UnitLines(const std::string& out) {
  std::istringstream lines(out);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("VORN", 0) == 0) kept += line + "\n";
  }
  return kept;
}

class UnitCommandsTest : public ::testing::Test {
 protected:
  void Install(std::vector<sim::SimUnitSpec> units, int failing = -1) {
    sim::CSimConfigWriter writer;
    writer.Bus("001").Device(1, "1d6b:0002", std::string("Linux Foundation"), std::string("Root Hub"));
    for (sim::SimUnitSpec& unit : units) {
      unit.image = m_bed.Image("disk" + std::to_string(unit.devnum) + ".img", 2048);
      if (unit.devnum == failing) unit.faults = {"product-string"};
      writer.Unit(unit);
    }
    m_bed.Install(writer);  // the environment passes the config to the child
  }

  static sim::SimUnitSpec Unit(int devnum) {
    sim::SimUnitSpec unit;
    unit.devnum = devnum;
    return unit;
  }

  Result Run(const std::string& args) {
    return test::RunShellCommand(test::CSimTestBed::PreloadPrefix(VORN_SIM_LIBRARY) +
                                 VORN3CTL_PATH + " " + args);
  }

  test::CSimTestBed m_bed;
};

TEST_F(UnitCommandsTest, DevicesListsTheUnitsInBusOrder) {
  Install({Unit(3), Unit(2)});
  const Result result = Run("devices");
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(UnitLines(result.out),
            "VORN3: Calverin - VORN3 Unit (3)\n"
            "VORN2: Calverin - VORN3 Unit (2)\n");

  const Result json = Run("devices --json");
  EXPECT_THAT(json.out, HasSubstr("    \"name\": \"VORN3\",\n    \"text\": \"Calverin - VORN3 Unit (3)\"\n  },\n"
                                  "  {\n    \"kind\": \"unit\",\n    \"name\": \"VORN2\",\n"
                                  "    \"text\": \"Calverin - VORN3 Unit (2)\"\n  }\n]\n"));
  EXPECT_THAT(m_bed.Log().OutOfShape(), IsEmpty());
}

TEST_F(UnitCommandsTest, DevicesShowsTheUnitsBeforeOneThatFails) {
  Install({Unit(2), Unit(3), Unit(4)}, /*failing=*/3);
  const Result result = Run("devices");
  EXPECT_EQ(result.code, 1);
  EXPECT_EQ(UnitLines(result.out), "VORN2: Calverin - VORN3 Unit (2)\n");
  EXPECT_EQ(result.err, "vorn3ctl: COULD NOT RETRIEVE PRODUCT STRING\n");
}

TEST_F(UnitCommandsTest, IdentifyPrintsModelSerialAndSize) {
  sim::SimUnitSpec unit = Unit(3);
  unit.model = "ABCD";
  unit.serial = "123";
  Install({unit});
  const Result result = Run("identify VORN3");
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "Model:  ABCD\nSerial: 123\nSize:   2048 sectors (1.00 MB)\n");
}

TEST_F(UnitCommandsTest, DiskCommandsTakeAUnitName) {
  Install({Unit(3)});
  const Result format = Run("format VORN3 --yes");
  EXPECT_EQ(format.code, 0) << format.err;
  const Result list = Run("list VORN3");
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_THAT(list.out, HasSubstr("VORN DISK - 0001: 0 routines"));
  EXPECT_THAT(list.out, HasSubstr("of 2048"));
  EXPECT_THAT(m_bed.Log().OutOfShape(), IsEmpty());

  std::ifstream image(m_bed.Path("disk3.img"), std::ios::binary);
  unsigned char magic[4] = {};
  image.read(reinterpret_cast<char*>(magic), 4);
  EXPECT_EQ(magic[1], 0xAA);  // the header went to the unit's disk

  const Result missing = Run("list VORN9");
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "vorn3ctl: No such disk: VORN9\n");
}

TEST_F(UnitCommandsTest, ABackupRestoredOntoAUnitComesBackTheSame) {
  Install({Unit(3)});
  // A card image with three routines, their sectors filled with a pattern.
  const std::string card = m_bed.Image("card.img", 512);
  {
    CImageDevice device(card, false);
    device.Open(CImageDevice::EntryFor(card));
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    for (const RoutineEntry& entry : MakeRoutines(3, {40, 7})) {
      disk.AppendRoutine(entry, [&] { WriteRoutineSectors(device, entry); });
    }
  }
  const Result restored = Run("restore " + card + " VORN3 --yes");
  ASSERT_EQ(restored.code, 0) << restored.err;
  EXPECT_THAT(Run("list VORN3").out, HasSubstr("VORN DISK - 0001: 3 routines, next free sector 88 of 2048"));

  const std::string back = m_bed.Path("back.img");
  const Result backedUp = Run("backup VORN3 " + back);
  ASSERT_EQ(backedUp.code, 0) << backedUp.err;
  // Header, routines and the table sector come back byte for byte.
  std::ifstream original(card, std::ios::binary), copy(back, std::ios::binary);
  std::string originalBytes(89 * 512, '\0'), copyBytes;
  original.read(originalBytes.data(), static_cast<std::streamsize>(originalBytes.size()));
  copyBytes.assign(std::istreambuf_iterator<char>(copy), {});
  EXPECT_EQ(copyBytes.size(), originalBytes.size());
  EXPECT_TRUE(copyBytes == originalBytes);
  EXPECT_THAT(m_bed.Log().OutOfShape(), IsEmpty());
}

TEST_F(UnitCommandsTest, WritesThatLandWrongAreCaughtByTheReadBack) {
  sim::SimUnitSpec unit = Unit(3);
  unit.faults = {"write-garble"};  // every write lands with its first byte flipped, reported good
  Install({unit});
  const std::string card = m_bed.Image("card.img", 64);
  {
    CImageDevice device(card, false);
    device.Open(CImageDevice::EntryFor(card));
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    for (const RoutineEntry& entry : MakeRoutines(1, {8})) {
      disk.AppendRoutine(entry, [&] { WriteRoutineSectors(device, entry); });
    }
  }
  const std::string song = m_bed.Path("song.vorn");
  ASSERT_EQ(Run("make-routine " + song + " --title Song").code, 0);
  for (const char* command : {"format VORN3 --yes", "restore CARD VORN3 --yes", "add VORN3 SONG --yes"}) {
    std::string args = command;
    if (const auto at = args.find("CARD"); at != std::string::npos) args.replace(at, 4, card);
    if (const auto at = args.find("SONG"); at != std::string::npos) args.replace(at, 4, song);
    const Result checked = Run(args);
    EXPECT_EQ(checked.code, 1) << command;
    EXPECT_THAT(checked.err, HasSubstr("Verify failed\nSector 0 of ")) << command;
    EXPECT_THAT(checked.out, Not(HasSubstr("Added"))) << command;  // success is said only after the read-back
    EXPECT_EQ(Run(args + " --no-verify").code, 0) << command;  // the unit itself reports no error
  }
}

TEST_F(UnitCommandsTest, AUnitThatFailsShowsItsMessage) {
  sim::SimUnitSpec unit = Unit(3);
  unit.faults = {"status-checksum after 3"};  // identify passes, every transfer after fails
  Install({unit});
  const Result result = Run("list VORN3");
  EXPECT_EQ(result.code, 1);
  EXPECT_THAT(result.err, HasSubstr("Invalid checksum"));
}

}  // namespace
}  // namespace vorn
