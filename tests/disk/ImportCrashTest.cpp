// A routine import must leave the disk reading as the old table or the new one
// when the device fails at any single write: each write of an import is made
// to fail in turn (nothing or half of it written), for routines with and
// without audio or data, on tables of 0, 7, 8 and 9 routines, and the disk is
// read back with the original reader.
#include <gtest/gtest.h>

#include <optional>

#include "audio/Mp3Frames.h"
#include "device/DeviceExceptions.h"
#include "disk/VornDisk.h"
#include "tests/audio/RoutineFixtures.h"
#include "tests/support/FaultyDevice.h"
#include "tests/support/ReferenceTable.h"

namespace vorn {
namespace {

enum class Kind { kAudioAndData, kNoAudio, kNoData, kConvertedAudio };

const char* Name(Kind kind) {
  switch (kind) {
    case Kind::kAudioAndData: return "MP3 and data";
    case Kind::kNoAudio: return "data only";
    case Kind::kNoData: return "MP3 only";
    case Kind::kConvertedAudio: return "converted audio and data";
  }
  return "?";
}

struct Scenario {
  std::size_t routines;
  Kind kind;
  bool sizeKnown;
};

class ImportCrashTest : public ::testing::Test {
 protected:
  std::string RoutineFile(Kind kind) {
    std::vector<std::uint8_t> audio;
    std::uint32_t format = 1;
    if (kind == Kind::kAudioAndData || kind == Kind::kNoData) audio = test::DiskKindFrames(3);
    if (kind == Kind::kConvertedAudio) {
      audio = test::WavBytes(test::Tone(3000, 440, 550));
      format = 0;
    }
    std::vector<std::uint8_t> data;
    if (kind != Kind::kNoData) data = test::PatternBytes(700, 9);
    const std::string path = dir / ("routine" + std::to_string(static_cast<int>(kind)) + ".vorn");
    test::WriteBytes(path, test::RoutineFileBytes(
        test::MakeHeader("Imported", format, static_cast<std::uint32_t>(audio.size()),
                         static_cast<std::uint32_t>(data.size())), audio, data));
    return path;
  }

  static CMemoryDevice BuildDisk(const Scenario& s) {
    const std::vector<RoutineEntry> table = MakeRoutines(s.routines, {3, 1, 4});
    const std::uint32_t nextFree = table.empty() ? 1 : table.back().endSector;
    CMemoryDevice device(nextFree + 64, s.sizeKnown);
    for (const RoutineEntry& entry : table) FillRoutine(device, entry);
    LayOutDisk(device, table);
    return device;
  }

  static void Import(CSectorDevice& device, const std::string& path) {
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    disk.AddRoutine(path, nullptr);
  }

  void Exercise(const Scenario& s) {
    SCOPED_TRACE(std::string(Name(s.kind)) + " onto " + std::to_string(s.routines) + " routines" +
                 (s.sizeKnown ? "" : ", size unknown"));
    const std::string path = RoutineFile(s.kind);

    // Without failures: the writes it takes, the table and bytes it leaves.
    CMemoryDevice done = BuildDisk(s);
    const ReferenceReading oldReading = *ReferenceReadTable(done);
    CFaultyDevice counting(done, 0);
    Import(counting, path);
    const std::uint32_t writes = counting.WritesSeen();
    const ReferenceReading newReading = *ReferenceReadTable(done);
    ASSERT_EQ(newReading.table.size(), oldReading.table.size() + 1);
    const RoutineEntry added = newReading.table.back();
    const std::vector<std::uint8_t> addedBytes(done.Sector(added.startSector), done.Sector(added.endSector));

    for (FaultMode mode : {FaultMode::kNothingWritten, FaultMode::kFirstHalfWritten}) {
      for (std::uint32_t k = 1; k <= writes; ++k) {
        const std::string where = "write " + std::to_string(k) + " of " + std::to_string(writes) +
                                  (mode == FaultMode::kFirstHalfWritten ? " (half written)" : " (nothing written)");
        CMemoryDevice device = BuildDisk(s);
        CFaultyDevice faulty(device, k, mode);
        EXPECT_THROW(Import(faulty, path), CUsbDeviceException) << where;

        const std::optional<ReferenceReading> reading = ReferenceReadTable(device);
        ASSERT_TRUE(reading.has_value()) << where << ": the original reader fails";
        const bool isOld = *reading == oldReading;
        const bool isNew = *reading == newReading;
        ASSERT_TRUE(isOld || isNew) << where << ": reads as neither table";
        for (std::size_t i = 0; i < oldReading.table.size(); ++i) {
          EXPECT_TRUE(RoutineIntact(device, oldReading.table[i])) << where << ": routine " << i << " damaged";
        }
        if (isNew) {
          EXPECT_EQ(std::vector<std::uint8_t>(device.Sector(added.startSector), device.Sector(added.endSector)),
                    addedBytes) << where << ": listed but not written";
        }
        // The next import on that disk succeeds and reads as the finished one.
        if (isOld) {
          Import(device, path);
          EXPECT_EQ(ReferenceReadTable(device), newReading) << where << ", then retried";
        }
      }
    }
  }

  test::CScratchDir dir;
};

TEST_F(ImportCrashTest, EveryWriteOfAnImportMayFail) {
  for (std::size_t routines : {0u, 7u, 8u, 9u}) {
    for (Kind kind : {Kind::kAudioAndData, Kind::kNoAudio, Kind::kNoData}) {
      Exercise({routines, kind, true});
    }
    Exercise({routines, Kind::kAudioAndData, false});
  }
}

TEST_F(ImportCrashTest, ConvertedRoutinesToo) {
  for (std::size_t routines : {0u, 8u}) Exercise({routines, Kind::kConvertedAudio, true});
}

}  // namespace
}  // namespace vorn
