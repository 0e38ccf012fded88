#include "disk/VornDisk.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <map>

#include "device/DeviceExceptions.h"
#include "platform/LittleEndian.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/ReferenceTable.h"

namespace vorn {
namespace {

class CRecordingStatus : public CStatusText {
 public:
  void SetText(const std::string& text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

std::string ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const CUsbDeviceException& e) {
    return e.GetMessage();
  }
  return "(nothing thrown)";
}

void PutHeader(CMemoryDevice& device, std::int32_t count, std::uint32_t tableSector) {
  DiskHeader header;
  header.routineCount = count;
  header.tableSector = tableSector;
  header.Encode(device.Sector(0));
}

TEST(VornDiskTest, ZeroDiskIsUnformattedAndFormatWritesOnlyTheHeader) {
  CMemoryDevice device(64);
  CRecordingStatus status;
  CVornDisk disk(device, &status);
  EXPECT_TRUE(disk.ReadTable().empty());
  EXPECT_FALSE(disk.IsValid());
  EXPECT_EQ(status.texts, std::vector<std::string>{"Ready"});

  device.ClearTransfers();
  disk.Format();
  EXPECT_EQ(device.Writes(), (std::vector<Transfer>{{true, 0, 1}}));
  EXPECT_EQ(status.texts.back(), "Ready");
  EXPECT_EQ(GetLe32(device.Sector(0) + 4), 0u);
  EXPECT_EQ(GetLe32(device.Sector(0) + 8), 1u);
  EXPECT_EQ(GetLe32(device.Sector(0) + 12), 2u);

  CVornDisk again(device, nullptr);
  device.ClearTransfers();
  EXPECT_TRUE(again.ReadTable().empty());
  EXPECT_TRUE(again.IsValid());
  EXPECT_EQ(again.NextFreeSector(), 1u);
  // The empty table's sector is read although it holds no record.
  EXPECT_EQ(device.Transfers(), (std::vector<Transfer>{{false, 0, 1}, {false, 1, 1}}));
}

TEST(VornDiskTest, EightRoutinesFillOneTableSectorNineSpillIntoASecond) {
  for (std::size_t count : {8u, 9u}) {
    CMemoryDevice device(200);
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    for (const RoutineEntry& entry : MakeRoutines(count)) {
      disk.AppendRoutine(entry, [&] { WriteRoutineSectors(device, entry); });
    }
    std::uint32_t tableSector = 1 + 3 * static_cast<std::uint32_t>(count);
    EXPECT_EQ(GetLe32(device.Sector(0) + 4), count);
    EXPECT_EQ(GetLe32(device.Sector(0) + 8), tableSector);
    const std::uint8_t* first = device.Sector(tableSector);
    for (std::size_t k = 0; k < 8; ++k) {
      EXPECT_EQ(RoutineEntry::Decode(first + 62 * k), disk.Table()[k]);
    }
    for (std::size_t i = 496; i < 512; ++i) ASSERT_EQ(first[i], 0) << i;
    if (count == 9) {
      const std::uint8_t* second = device.Sector(tableSector + 1);
      EXPECT_EQ(RoutineEntry::Decode(second), disk.Table()[8]);
      for (std::size_t i = 62; i < 512; ++i) ASSERT_EQ(second[i], 0) << i;
    }

    CVornDisk reader(device, nullptr);
    device.ClearTransfers();
    EXPECT_EQ(reader.ReadTable(), disk.Table());
    // Eight records read the sector after the full one too, as the original reader does.
    EXPECT_EQ(device.Transfers(), (std::vector<Transfer>{{false, 0, 1},
                                                         {false, tableSector, 1},
                                                         {false, tableSector + 1, 1}}));
  }
}

TEST(VornDiskTest, InconsistentTablesReadAsUnformatted) {
  auto check = [](std::vector<RoutineEntry> table, bool expected) {
    CMemoryDevice device(100);
    LayOutDisk(device, table, 50);
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    EXPECT_EQ(disk.IsValid(), expected);
    EXPECT_EQ(disk.Table().empty(), !expected);
  };
  std::vector<RoutineEntry> table = MakeRoutines(3);
  check(table, true);

  auto dataBeforeStart = table;
  dataBeforeStart[1].dataSector = dataBeforeStart[1].startSector - 1;
  check(dataBeforeStart, false);
  auto endBeforeData = table;
  endBeforeData[2].endSector = endBeforeData[2].dataSector - 1;
  check(endBeforeData, false);
  auto gap = table;
  gap[1].startSector += 1;
  gap[1].dataSector += 1;
  check(gap, false);
  auto overlap = table;
  overlap[0].endSector += 1;
  check(overlap, false);

  // No audio, or no data, is well-formed.
  auto noAudio = table;
  noAudio[1].dataSector = noAudio[1].startSector;
  check(noAudio, true);
  auto noData = table;
  noData[2].dataSector = noData[2].endSector;
  check(noData, true);
}

TEST(VornDiskTest, TablesThatPutRoutinesOnTheHeaderSectorReadAsUnformatted) {
  // Three records "read" out of the header sector itself: the first is the
  // header's bytes, all of them start, hold and end at sector 0.
  CMemoryDevice device(100);
  PutHeader(device, 3, 0);
  CVornDisk headerAsTable(device, nullptr);
  EXPECT_TRUE(headerAsTable.ReadTable().empty());
  EXPECT_FALSE(headerAsTable.IsValid());
  EXPECT_EQ(headerAsTable.NextFreeSector(), 1u);  // an import cannot land on sector 0

  // A well-formed chain that begins at sector 0.
  std::vector<RoutineEntry> table = {MakeRoutine(0, 0, "Nothing"), MakeRoutine(0, 4, "Over header")};
  LayOutDisk(device, table);
  CVornDisk fromZero(device, nullptr);
  EXPECT_TRUE(fromZero.ReadTable().empty());
  EXPECT_FALSE(fromZero.IsValid());

  // A header pointing its table at its own sector, where the bytes after the
  // header's fields happen to form a chain (found by fuzzing): still no table.
  // Read as one, a removal would commit a header over the records it keeps.
  std::vector<std::uint8_t> record(RoutineEntry::kEncodedSize);
  const RoutineEntry first = MakeRoutine(1, 4, "first");
  first.Encode(record.data());
  PutHeader(device, 2, 0);
  std::uint8_t* sector = device.Sector(0);
  std::memcpy(sector + 16, record.data() + 16, record.size() - 16);  // its title is the header
  MakeRoutine(first.endSector, 2, "second").Encode(sector + RoutineEntry::kEncodedSize);
  CVornDisk ownSector(device, nullptr);
  EXPECT_TRUE(ownSector.ReadTable().empty());
  EXPECT_FALSE(ownSector.IsValid());
  EXPECT_THROW(ownSector.RemoveLastRoutine(), CUsbDeviceException);
}

TEST(VornDiskTest, ImplausibleCountsReadAsUnformattedAndNegativeCountsAsEmpty) {
  CMemoryDevice device(100);
  LayOutDisk(device, MakeRoutines(2), 90);
  // 10 table sectors from 90 fit in 100 sectors exactly: 80 records are plausible.
  PutHeader(device, 80, 90);
  CVornDisk fits(device, nullptr);
  fits.ReadTable();
  EXPECT_FALSE(fits.IsValid());  // the zero records fail the check, but it was read

  PutHeader(device, 81, 90);
  device.ClearTransfers();
  CVornDisk tooMany(device, nullptr);
  EXPECT_TRUE(tooMany.ReadTable().empty());
  EXPECT_FALSE(tooMany.IsValid());
  EXPECT_EQ(device.Transfers().size(), 1u);  // only the header was read

  PutHeader(device, 0, 100);  // table sector past the end
  CVornDisk pastEnd(device, nullptr);
  pastEnd.ReadTable();
  EXPECT_FALSE(pastEnd.IsValid());

  PutHeader(device, 0x7FFFFFFF, 1);
  CVornDisk huge(device, nullptr);
  EXPECT_NO_THROW(huge.ReadTable());
  EXPECT_FALSE(huge.IsValid());

  // A device that does not know its size stops at the first record out of
  // line, long before it could run off its end.
  CMemoryDevice unsized(100, /*reportsSize=*/false);
  PutHeader(unsized, 0x7FFFFFFF, 1);
  CVornDisk blind(unsized, nullptr);
  EXPECT_NO_THROW(blind.ReadTable());
  EXPECT_FALSE(blind.IsValid());
  // A valid chain that runs on past the device's end still fails there.
  LayOutDisk(unsized, MakeRoutines(40), 1);
  PutHeader(unsized, 0x7FFFFFFF, 1);
  for (std::uint32_t s = 1; s < 100; ++s) {
    for (std::size_t k = 0; k < 8; ++k) {
      const std::uint32_t start = 1 + 3 * static_cast<std::uint32_t>((s - 1) * 8 + k);
      MakeRoutine(start, 3, "Chain").Encode(unsized.Sector(s) + 62 * k);
    }
  }
  CVornDisk offTheEnd(unsized, nullptr);
  EXPECT_EQ(ErrorOf([&] { offTheEnd.ReadTable(); }), "Unable to read sector");

  PutHeader(device, -5, 1);
  CVornDisk negative(device, nullptr);
  EXPECT_TRUE(negative.ReadTable().empty());
  EXPECT_TRUE(negative.IsValid());
}

// A device that holds only the sectors written to it (zeros elsewhere), so a
// table can lie at the very last sector number, or on a card of any size. By
// default it does not know its size.
class CSparseUnsizedDevice : public CSectorDevice {
 public:
  explicit CSparseUnsizedDevice(std::uint32_t sectorCount = 0) : m_sectorCount(sectorCount) {}
  std::uint32_t GetSectorCount() override { return m_sectorCount; }
  std::string GetName() override { return "sparse"; }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    reads.push_back(first);
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::uint32_t i = 0; i < count; ++i, out += kSectorSize) {
      auto found = sectors.find(first + i);
      if (found == sectors.end()) std::memset(out, 0, kSectorSize);
      else std::memcpy(out, found->second.data(), kSectorSize);
    }
  }
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    for (std::uint32_t i = 0; i < count; ++i, in += kSectorSize) {
      std::memcpy(sectors[first + i].data(), in, kSectorSize);
    }
  }
  void Open(const DeviceEntry&) override {}
  void Close() override {}
  bool Identify() override { return true; }

  std::map<std::uint32_t, std::array<std::uint8_t, kSectorSize>> sectors;
  std::vector<std::uint32_t> reads;

 private:
  std::uint32_t m_sectorCount;
};

// Headers whose count lies: each is judged after reading the first sector
// that holds a record out of line, and the reader holds no more records than
// passed, whatever the count claims.
TEST(VornDiskTest, LyingCountsAreJudgedAtTheFirstBadRecord) {
  constexpr std::uint32_t k8GiB = 16777216;  // sectors of an 8 GiB card
  struct Case {
    const char* what;
    std::uint32_t deviceSectors;  // 0: a device that does not know its size
    std::int32_t count;
    std::size_t goodRecords;       // a well-formed chain of this many from sector 1
    std::function<void(std::vector<RoutineEntry>&)> spoil;  // then the records as stored
    std::size_t sectorsRead;       // header included
  };
  const std::vector<Case> cases = {
      {"16.7 M routines claimed on an 8 GiB card, table of zeros", k8GiB, 16777215, 0, {}, 2},
      {"every routine there is claimed on a card of unknown size", 0, 0x7FFFFFFF, 0, {}, 2},
      {"three good records, then zeros", k8GiB, 16777215, 3, {}, 2},
      {"a good sector, then zeros", k8GiB, 16777215, 8, {}, 3},
      {"a gap after 20 good records", k8GiB, 16777215, 24,
       [](std::vector<RoutineEntry>& t) { t[20].startSector += 1; }, 4},
      {"a record ending past the card", 1000, 1000, 5,
       [](std::vector<RoutineEntry>& t) { t[4].endSector = 1001; t[4].dataSector = 1000; }, 2},
      {"a record whose data comes before its start", k8GiB, 16777215, 5,
       [](std::vector<RoutineEntry>& t) { t[2].dataSector = t[2].startSector - 1; }, 2},
      {"a first routine on the header", k8GiB, 16777215, 1,
       [](std::vector<RoutineEntry>& t) { t[0].startSector = 0; }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<RoutineEntry> table = MakeRoutines(c.goodRecords);
    if (c.spoil) c.spoil(table);
    const std::uint32_t tableSector = 500;
    CSparseUnsizedDevice device(c.deviceSectors);
    std::array<std::uint8_t, kSectorSize> header{};
    DiskHeader{kDiskMagic, c.count, tableSector, kFormatNumber}.Encode(header.data());
    device.WriteSectors(0, 1, header.data());
    for (std::size_t k = 0; k < table.size(); k += 8) {
      std::array<std::uint8_t, kSectorSize> records{};
      for (std::size_t j = k; j < std::min(k + 8, table.size()); ++j) {
        table[j].Encode(records.data() + 62 * (j - k));
      }
      device.WriteSectors(tableSector + static_cast<std::uint32_t>(k / 8), 1, records.data());
    }

    CVornDisk disk(device, nullptr);
    EXPECT_TRUE(disk.ReadTable().empty());
    EXPECT_FALSE(disk.IsValid());
    EXPECT_EQ(disk.Table().capacity(), 0u);
    EXPECT_EQ(device.reads.size(), c.sectorsRead);
  }
}

TEST(VornDiskTest, ATableAtTheLastSectorNumberNeverWrapsRoundToTheHeader) {
  constexpr std::uint32_t kLast = 0xFFFFFFFFu;
  for (std::int32_t count : {8, 9}) {
    CSparseUnsizedDevice device;
    std::array<std::uint8_t, kSectorSize> header{};
    DiskHeader{kDiskMagic, count, kLast, kFormatNumber}.Encode(header.data());
    device.WriteSectors(0, 1, header.data());
    std::array<std::uint8_t, kSectorSize> records{};
    const std::vector<RoutineEntry> table = MakeRoutines(8);
    for (std::size_t k = 0; k < 8; ++k) table[k].Encode(records.data() + 62 * k);
    device.WriteSectors(kLast, 1, records.data());

    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    if (count == 8) {
      // Eight records fill the last sector there is; no sector follows it.
      EXPECT_TRUE(disk.IsValid());
      EXPECT_EQ(disk.Table(), table);
      EXPECT_EQ(device.reads, (std::vector<std::uint32_t>{0, kLast}));
    } else {
      // A ninth record would lie beyond sector number 2^32 - 1.
      EXPECT_FALSE(disk.IsValid());
      EXPECT_EQ(device.reads, (std::vector<std::uint32_t>{0}));
    }
  }
}

TEST(VornDiskTest, ATableOfEightEndingAtTheLastSectorReadsWithoutRunningOffTheDisk) {
  std::vector<RoutineEntry> table = MakeRoutines(8);
  CMemoryDevice device(table.back().endSector + 1);
  LayOutDisk(device, table);
  CVornDisk disk(device, nullptr);
  EXPECT_EQ(disk.ReadTable(), table);
  EXPECT_TRUE(disk.IsValid());
}

TEST(VornDiskTest, RemovingTheOnlyRoutineLeavesCountZeroAtSectorOne) {
  CMemoryDevice device(100);
  LayOutDisk(device, MakeRoutines(1, {10}));
  CVornDisk disk(device, nullptr);
  disk.ReadTable();
  disk.RemoveLastRoutine();
  EXPECT_EQ(GetLe32(device.Sector(0) + 4), 0u);
  EXPECT_EQ(GetLe32(device.Sector(0) + 8), 1u);
}

TEST(VornDiskTest, RemovingPutsTheTableAtTheRemovedRoutinesStart) {
  std::vector<RoutineEntry> table = MakeRoutines(4, {20});
  CMemoryDevice device(200);
  LayOutDisk(device, table);
  CVornDisk disk(device, nullptr);
  disk.ReadTable();
  disk.RemoveLastRoutine();
  EXPECT_EQ(GetLe32(device.Sector(0) + 8), table[3].startSector);
  table.pop_back();
  EXPECT_EQ(ReferenceReadTable(device), (ReferenceReading{true, table}));
}

TEST(VornDiskTest, RemovingFromAnEmptyOrUnformattedDiskWritesNothing) {
  for (bool formatted : {true, false}) {
    CMemoryDevice device(10);
    if (formatted) PutHeader(device, 0, 1);
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    device.ClearTransfers();
    EXPECT_EQ(ErrorOf([&] { disk.RemoveLastRoutine(); }), "Too few tracks");
    EXPECT_TRUE(device.Writes().empty());
  }
}

TEST(VornDiskTest, AppendingChecksThatRoutineAndTableFitBeforeWriting) {
  std::vector<RoutineEntry> table = MakeRoutines(8, {4});
  CMemoryDevice device(table.back().endSector + 1);  // the table sector is the last one
  LayOutDisk(device, table);
  std::vector<std::uint8_t> before = device.Bytes();
  CVornDisk disk(device, nullptr);
  disk.ReadTable();
  device.ClearTransfers();
  RoutineEntry next = MakeRoutine(disk.NextFreeSector(), 0, "Empty");
  bool wrote = false;
  EXPECT_EQ(ErrorOf([&] { disk.AppendRoutine(next, [&] { wrote = true; }); }),
            "Not enough free space on the disk for this routine");
  EXPECT_FALSE(wrote);
  EXPECT_TRUE(device.Writes().empty());
  EXPECT_EQ(device.Bytes(), before);
  EXPECT_EQ(disk.Table(), table);
}

TEST(VornDiskTest, AppendingMovesTheTableOutOfTheRoutinesWayAndEndsBehindIt) {
  CMemoryDevice device(300);
  LayOutDisk(device, MakeRoutines(3));
  CVornDisk disk(device, nullptr);
  disk.ReadTable();
  RoutineEntry next = MakeRoutine(disk.NextFreeSector(), 6, "New");
  disk.AppendRoutine(next, [&] {
    // While the routine is written, the header points at an intact copy of the old table.
    EXPECT_EQ(ReferenceReadTable(device), (ReferenceReading{true, MakeRoutines(3)}));
    EXPECT_NE(GetLe32(device.Sector(0) + 8), next.startSector);
    WriteRoutineSectors(device, next);
  });
  EXPECT_EQ(GetLe32(device.Sector(0) + 8), next.endSector);
  EXPECT_EQ(disk.Table().size(), 4u);
  EXPECT_EQ(ReferenceReadTable(device)->table, disk.Table());
  EXPECT_TRUE(RoutineIntact(device, next));
}

TEST(VornDiskTest, TheTemporaryFilesOfAnActionAreDeletedWithTheDisk) {
  std::string path = "/tmp/vorn-disk-temp-" + std::to_string(::getpid());
  std::ofstream(path) << "pcm";
  {
    CMemoryDevice device(4);
    CVornDisk disk(device, nullptr);
    disk.TempFiles().Add(path);
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace vorn
