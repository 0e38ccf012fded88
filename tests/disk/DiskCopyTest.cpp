// Backups of whole disks: what counts as used, copies that read as the same
// disk (in our reader and in the original one), and copies cut short.
#include "disk/DiskCopy.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "device/DeviceExceptions.h"
#include "disk/OutputFile.h"
#include "disk/VornDisk.h"
#include "tests/audio/RecordingControls.h"
#include "tests/support/FaultyDevice.h"
#include "tests/support/ReferenceTable.h"

namespace vorn {
namespace {

std::vector<RoutineEntry> ReadWith(CSectorDevice& device, bool* valid = nullptr) {
  CVornDisk disk(device, nullptr);
  std::vector<RoutineEntry> table = disk.ReadTable();
  if (valid) *valid = disk.IsValid();
  return table;
}

// A disk of `routines` routines (each 3 sectors, filled with their pattern),
// laid out by the original program.
void MakeDisk(CMemoryDevice& device, std::size_t routines) {
  std::vector<RoutineEntry> table = MakeRoutines(routines);
  for (const RoutineEntry& entry : table) FillRoutine(device, entry);
  LayOutDisk(device, table);
}

TEST(DiskCopyTest, UsedSectorsCoverHeaderRoutinesAndEverySectorATableReaderTouches) {
  CMemoryDevice blank(100);
  EXPECT_EQ(UsedSectorCount(blank), 0u);  // unformatted: nothing is known to be unused

  for (std::size_t routines : {0u, 1u, 7u, 8u, 9u, 16u}) {
    CMemoryDevice device(200);
    MakeDisk(device, routines);
    const std::uint32_t end = 1 + 3 * static_cast<std::uint32_t>(routines);
    // The reader reads the first table sector even for an empty table, and one
    // more after every eighth record.
    EXPECT_EQ(UsedSectorCount(device), end + routines / 8 + 1) << routines;
  }

  // A table left behind the routines' end (an update cut short before the
  // header moved back) counts too.
  CMemoryDevice moved(200);
  std::vector<RoutineEntry> table = MakeRoutines(2);
  LayOutDisk(moved, table, 150);
  EXPECT_EQ(UsedSectorCount(moved), 151u);
}

TEST(DiskCopyTest, ACopyOfTheUsedSectorsReadsAsTheSameDiskInBothReaders) {
  for (std::size_t routines : {0u, 1u, 8u, 9u}) {
    CMemoryDevice source(300);
    MakeDisk(source, routines);
    const std::uint32_t used = UsedSectorCount(source);
    CMemoryDevice copy(used);
    CopyDisk(source, copy, used, nullptr);

    bool valid = false;
    EXPECT_EQ(ReadWith(copy, &valid), ReadWith(source)) << routines;
    EXPECT_TRUE(valid) << routines;
    EXPECT_EQ(ReferenceReadTable(copy), ReferenceReadTable(source)) << routines;
    for (const RoutineEntry& entry : ReadWith(copy)) EXPECT_TRUE(RoutineIntact(copy, entry));
    EXPECT_TRUE(std::equal(copy.Bytes().begin(), copy.Bytes().end(), source.Bytes().begin()));
  }
}

// Devices that take larger transfers get them (the smaller of the two sizes),
// with the progress bar stepping over 128-sector pieces as ever.
TEST(DiskCopyTest, TransfersFollowTheSlowerDeviceWithTheSameProgressSteps) {
  struct CSizedDevice final : CMemoryDevice {
    CSizedDevice(std::uint32_t size) : CMemoryDevice(3000), transfer(size) {}
    std::uint32_t TransferSectors() override { return transfer; }
    std::uint32_t transfer;
  };
  std::vector<std::string> steps;
  for (const auto& [from, to] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
           {128, 128}, {8192, 128}, {8192, 8192}, {1024, 8192}, {300, 8192}}) {
    CSizedDevice source(from), target(to);
    MakeDisk(source, 40);
    for (std::uint32_t k = 200; k < 3000; ++k) std::memset(source.Sector(k), static_cast<int>(k), kSectorSize);
    test::CRecordingProgress progress;
    CopyDisk(source, target, 3000, &progress);
    EXPECT_EQ(target.Bytes(), source.Bytes()) << from << " -> " << to;
    if (steps.empty()) steps = progress.calls;
    EXPECT_EQ(progress.calls, steps) << from << " -> " << to;
    const std::uint32_t most = std::max(128u, std::min(from, to) / 128 * 128);
    // The header twice, then the pieces, none larger than the smaller transfer.
    EXPECT_EQ(target.Writes().size(), 2 + (3000 + most - 1) / most) << from << " -> " << to;
  }
}

// A backup writes none of the disk's zeros: they stay holes in the new file,
// which reads back as the disk byte for byte.
TEST(DiskCopyTest, ABackupKeepsTheDisksZerosAsHoles) {
  constexpr std::uint32_t kSectors = 64 * 2048;  // 64 MiB
  CMemoryDevice disk(kSectors);
  MakeDisk(disk, 9);
  for (const std::uint32_t sector : {5000u, 5001u, 40007u, kSectors - 1}) disk.Sector(sector)[7] = 0x5A;
  char dir[] = "/tmp/vorn-sparse-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/backup.img";
  COutputFile(path, {}, {}).Commit();  // replaced below, as a user's --force does
  {
    COutputFile file(path, {}, {});
    CopyDiskToFile(disk, kSectors, file, nullptr);
  }
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  // Five 4 KiB blocks of data (a file system may add a little of its own).
  EXPECT_LE(static_cast<std::uint64_t>(info.st_blocks) * 512, 256u * 1024) << info.st_blocks;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}) == disk.Bytes());
  std::filesystem::remove_all(dir);
}

TEST(DiskCopyTest, ATargetTooSmallIsRefusedBeforeAnyWriteAndOneOfUnknownSizeIsNot) {
  CMemoryDevice source(300);
  MakeDisk(source, 9);
  const std::uint32_t used = UsedSectorCount(source);
  CMemoryDevice small(used - 1);
  EXPECT_THROW(CopyDisk(source, small, used, nullptr), CUsbDeviceException);
  EXPECT_TRUE(small.Writes().empty());

  CMemoryDevice unknownSize(used, /*reportsSize=*/false);
  CopyDisk(source, unknownSize, used, nullptr);
  EXPECT_EQ(ReadWith(unknownSize), ReadWith(source));
}

TEST(DiskCopyTest, ACopyOntoItselfKeepsTheDisk) {
  CMemoryDevice device(100);
  MakeDisk(device, 3);
  const std::vector<std::uint8_t> before = device.Bytes();
  CopyDisk(device, device, UsedSectorCount(device), nullptr);
  EXPECT_EQ(device.Bytes(), before);
}

// A restore over a disk that held other routines, failing at every write in
// turn (nothing or half of the failing transfer written): the disk reads as
// before while its header is untouched, then as unformatted until the last
// write (the new header) is through; never as the old table over sectors the
// copy has begun to replace.
TEST(DiskCopyTest, ACopyCutShortAtAnyWriteLeavesTheTargetUnformatted) {
  CMemoryDevice source(600);
  MakeDisk(source, 50);  // 151 routine sectors and 7 table sectors: two pieces
  const std::uint32_t used = UsedSectorCount(source);
  const std::vector<RoutineEntry> wanted = ReadWith(source);

  CMemoryDevice probe(600);
  MakeDisk(probe, 0);
  CFaultyDevice counting(probe, 0);
  CopyDisk(source, counting, used, nullptr);
  const std::uint32_t writes = counting.WritesSeen();
  ASSERT_GE(writes, 4u);

  for (FaultMode mode : {FaultMode::kNothingWritten, FaultMode::kFirstHalfWritten}) {
    for (std::uint32_t k = 1; k <= writes; ++k) {
      CMemoryDevice target(600);
      std::vector<RoutineEntry> old = MakeRoutines(5, {30});
      for (const RoutineEntry& entry : old) FillRoutine(target, entry);
      LayOutDisk(target, old);
      CFaultyDevice faulty(target, k, mode);
      EXPECT_THROW(CopyDisk(source, faulty, used, nullptr), CUsbDeviceException) << k;

      bool valid = true;
      std::vector<RoutineEntry> table = ReadWith(target, &valid);
      if (k == 1) {
        EXPECT_EQ(table, old);  // the first write, clearing the header, never happened
        for (const RoutineEntry& entry : old) EXPECT_TRUE(RoutineIntact(target, entry));
      } else {
        EXPECT_TRUE(table.empty()) << k;
        EXPECT_FALSE(valid) << "write " << k << " mode " << int(mode);
      }
    }
  }
  // A cancel before the second piece ends the copy the same way, with
  // CCancelled: the target reads as unformatted, never as a mix.
  {
    CMemoryDevice target(600);
    LayOutDisk(target, MakeRoutines(5, {30}));
    CCancelFlag cancel;
    struct CCancelAfterFirstPiece final : CProgressBar {
      CCancelFlag* cancel;
      void SetRange(int, int) override {}
      void SetPos(int position) override {
        if (position >= 1) cancel->Cancel();
      }
      void SetStep(int) override {}
      void StepIt() override {}
    } progress;
    progress.cancel = &cancel;
    EXPECT_THROW(CopyDisk(source, target, used, &progress, &cancel), CCancelled);
    bool valid = true;
    EXPECT_TRUE(ReadWith(target, &valid).empty());
    EXPECT_FALSE(valid);
  }
  CMemoryDevice target(600);
  LayOutDisk(target, MakeRoutines(5, {30}));
  CopyDisk(source, target, used, nullptr);
  EXPECT_EQ(ReadWith(target), wanted);
}

}  // namespace
}  // namespace vorn
