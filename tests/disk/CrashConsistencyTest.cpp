// Every table update must leave the disk reading as the old table or the new
// one when the device fails at any single write: here each write of each
// operation is made to fail in turn, on tables of several sizes and layouts,
// and the disk is read back both with our reader and with the original one.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>

#include "device/DeviceExceptions.h"
#include "disk/VornDisk.h"
#include "platform/LittleEndian.h"
#include "tests/support/FaultyDevice.h"
#include "tests/support/ReferenceTable.h"

namespace vorn {
namespace {

enum class Operation { kFormat, kWriteTable, kRemoveLast, kAppend };

const char* Name(Operation op) {
  switch (op) {
    case Operation::kFormat: return "Format";
    case Operation::kWriteTable: return "WriteTable";
    case Operation::kRemoveLast: return "RemoveLastRoutine";
    case Operation::kAppend: return "AppendRoutine";
  }
  return "?";
}

enum class DiskSize { kRoomy, kUnknown, kFull };

struct Scenario {
  std::size_t routines;
  std::vector<std::uint32_t> sizes;  // sector counts of the routines, cycled
  bool formatted = true;
  std::optional<std::uint32_t> tableOffset;  // table this far behind the last routine (earlier crash)
  DiskSize size = DiskSize::kRoomy;
  Operation op;
  std::uint32_t appendSectors = 5;

  std::string Describe() const {
    std::ostringstream text;
    text << Name(op) << " on " << routines << " routines of " << sizes[0] << (sizes.size() > 1 ? "+" : "")
         << " sectors" << (formatted ? "" : ", unformatted")
         << (tableOffset ? ", table moved by " + std::to_string(*tableOffset) : "")
         << (size == DiskSize::kUnknown ? ", size unknown" : size == DiskSize::kFull ? ", full disk" : "");
    if (op == Operation::kAppend) text << ", appending " << appendSectors << " sectors";
    return text.str();
  }
};

// The disk before the operation, with routine contents in place.
CMemoryDevice BuildDisk(const Scenario& s) {
  std::vector<RoutineEntry> table = MakeRoutines(s.routines, s.sizes);
  std::uint32_t nextFree = table.empty() ? 1 : table.back().endSector;
  std::uint32_t tableSector = nextFree + s.tableOffset.value_or(0);
  std::uint32_t tableEnd = tableSector + static_cast<std::uint32_t>(s.routines / 8 + 1);
  std::uint32_t sectors = s.size == DiskSize::kFull ? tableEnd : tableEnd + 64;
  CMemoryDevice device(sectors, s.size != DiskSize::kUnknown);
  for (const RoutineEntry& entry : table) FillRoutine(device, entry);
  if (s.formatted) LayOutDisk(device, table, tableSector);
  return device;
}

// Runs the operation as a user action would: read the table, then change it.
void RunOperation(const Scenario& s, CSectorDevice& device, std::optional<RoutineEntry>& appended) {
  CVornDisk disk(device, nullptr);
  disk.ReadTable();
  switch (s.op) {
    case Operation::kFormat:
      disk.Format();
      break;
    case Operation::kWriteTable:
      disk.WriteTable();
      break;
    case Operation::kRemoveLast:
      disk.RemoveLastRoutine();
      break;
    case Operation::kAppend: {
      RoutineEntry entry = MakeRoutine(disk.NextFreeSector(), s.appendSectors, "Appended");
      appended = entry;
      disk.AppendRoutine(entry, [&] { WriteRoutineSectors(disk.Device(), entry); });
      break;
    }
  }
}

struct Outcome {
  ReferenceReading oldReading;
  ReferenceReading newReading;
  std::uint32_t writes = 0;
  bool refused = false;  // the operation refused to start (no room)
};

// The operation without failures: how many writes it makes and what it leaves.
Outcome DryRun(const Scenario& s) {
  CMemoryDevice device = BuildDisk(s);
  Outcome outcome;
  outcome.oldReading = *ReferenceReadTable(device);
  CFaultyDevice counting(device, 0);
  std::optional<RoutineEntry> appended;
  try {
    RunOperation(s, counting, appended);
  } catch (const CUsbDeviceException&) {
    outcome.refused = true;
  }
  outcome.writes = counting.WritesSeen();
  std::optional<ReferenceReading> after = ReferenceReadTable(device);
  EXPECT_TRUE(after.has_value()) << s.Describe();
  if (after) outcome.newReading = *after;
  return outcome;
}

// Checks a reading after a failure: old or new table, and the routines it
// lists hold their contents.
void CheckReading(CMemoryDevice& device, const Outcome& outcome,
                  const std::optional<RoutineEntry>& appended, const std::string& where) {
  std::optional<ReferenceReading> reference = ReferenceReadTable(device);
  ASSERT_TRUE(reference.has_value()) << where << ": the original reader fails";
  bool isOld = *reference == outcome.oldReading;
  bool isNew = *reference == outcome.newReading;
  ASSERT_TRUE(isOld || isNew) << where << ": reads as neither table (" << reference->table.size()
                              << " routines, valid " << reference->valid << ")";

  CVornDisk ours(device, nullptr);
  EXPECT_EQ(ours.ReadTable(), reference->table) << where;
  EXPECT_EQ(ours.IsValid(), reference->valid) << where;

  for (const RoutineEntry& entry : reference->table) {
    if (appended && entry == *appended) {
      EXPECT_TRUE(RoutineIntact(device, entry)) << where << ": the appended routine is listed but not written";
    } else {
      EXPECT_TRUE(RoutineIntact(device, entry)) << where << ": routine " << entry.Title() << " damaged";
    }
  }
}

void CheckFinalState(const Scenario& s, CMemoryDevice& device, const Outcome& outcome) {
  // A finished update leaves the table where the original program expects it:
  // right behind the last routine.
  DiskHeader header = DiskHeader::Decode(device.Sector(0));
  const auto& table = outcome.newReading.table;
  std::uint32_t nextFree = table.empty() ? 1 : table.back().endSector;
  if (s.size != DiskSize::kFull) {
    EXPECT_EQ(header.tableSector, nextFree) << s.Describe();
  }
  EXPECT_EQ(header.routineCount, static_cast<std::int32_t>(table.size())) << s.Describe();
}

// Returns the number of failures injected.
std::uint32_t Exercise(const Scenario& s) {
  SCOPED_TRACE(s.Describe());
  Outcome outcome = DryRun(s);
  if (outcome.refused) {
    // Refusing is only allowed before touching the disk.
    EXPECT_EQ(outcome.writes, 0u);
    EXPECT_EQ(outcome.newReading, outcome.oldReading);
    return 0;
  }
  {
    CMemoryDevice device = BuildDisk(s);
    std::optional<RoutineEntry> appended;
    RunOperation(s, device, appended);
    CheckFinalState(s, device, outcome);
    CheckReading(device, outcome, appended, "after success");
  }
  EXPECT_GT(outcome.writes, 0u);
  std::uint32_t injected = 0;
  for (FaultMode mode : {FaultMode::kNothingWritten, FaultMode::kFirstHalfWritten}) {
    for (std::uint32_t k = 1; k <= outcome.writes; ++k) {
      std::string where = "write " + std::to_string(k) + " of " + std::to_string(outcome.writes) +
                          (mode == FaultMode::kFirstHalfWritten ? " (half written)" : " (nothing written)");
      ++injected;
      CMemoryDevice device = BuildDisk(s);
      CFaultyDevice faulty(device, k, mode);
      std::optional<RoutineEntry> appended;
      EXPECT_THROW(RunOperation(s, faulty, appended), CUsbDeviceException) << where;
      CheckReading(device, outcome, appended, where);
      if (testing::Test::HasFatalFailure()) return injected;

      // The next action on the same disk finishes the job from whatever was left.
      CVornDisk probe(device, nullptr);
      probe.ReadTable();
      bool stillOld = probe.Table() == outcome.oldReading.table && probe.IsValid() == outcome.oldReading.valid;
      if (stillOld) {
        std::optional<RoutineEntry> again;
        RunOperation(s, device, again);
        EXPECT_EQ(ReferenceReadTable(device), outcome.newReading) << where << ", then retried";
        CheckFinalState(s, device, outcome);
      }
    }
  }
  return injected;
}

const std::vector<std::size_t> kTableSizes = {0, 1, 7, 8, 9, 17};

TEST(CrashConsistencyTest, Format) {
  std::uint32_t injected = 0;
  for (std::size_t n : kTableSizes) {
    for (DiskSize size : {DiskSize::kRoomy, DiskSize::kUnknown, DiskSize::kFull}) {
      injected += Exercise({n, {3}, true, std::nullopt, size, Operation::kFormat});
    }
  }
  injected += Exercise({0, {3}, false, std::nullopt, DiskSize::kRoomy, Operation::kFormat});
  EXPECT_EQ(injected, 2u * 19);  // one write each: the header
}

TEST(CrashConsistencyTest, WriteTableRewritesInPlace) {
  std::uint32_t injected = 0;
  for (std::size_t n : kTableSizes) {
    for (DiskSize size : {DiskSize::kRoomy, DiskSize::kUnknown, DiskSize::kFull}) {
      injected += Exercise({n, {3}, true, std::nullopt, size, Operation::kWriteTable});
      injected += Exercise({n, {3}, true, 4, size, Operation::kWriteTable});
    }
  }
  EXPECT_GT(injected, 100u);
}

TEST(CrashConsistencyTest, RemoveLastRoutine) {
  std::uint32_t injected = 0;
  for (std::size_t n : kTableSizes) {
    if (n == 0) continue;  // "Too few tracks", covered elsewhere
    for (DiskSize size : {DiskSize::kRoomy, DiskSize::kUnknown, DiskSize::kFull}) {
      // Long routines, and routines shorter than the table (0 and 1 sector).
      for (std::vector<std::uint32_t> sizes : {std::vector<std::uint32_t>{40}, {1}, {0}, {3, 1, 0}}) {
        injected += Exercise({n, sizes, true, std::nullopt, size, Operation::kRemoveLast});
        injected += Exercise({n, sizes, true, 2, size, Operation::kRemoveLast});
      }
    }
  }
  EXPECT_GT(injected, 400u);
}

TEST(CrashConsistencyTest, AppendRoutine) {
  std::uint32_t injected = 0;
  for (std::size_t n : kTableSizes) {
    for (DiskSize size : {DiskSize::kRoomy, DiskSize::kUnknown}) {
      for (std::uint32_t appendSectors : {0u, 1u, 5u}) {
        Scenario s{n, {3}, true, std::nullopt, size, Operation::kAppend, appendSectors};
        injected += Exercise(s);
        s.tableOffset = 1;
        injected += Exercise(s);
        s.tableOffset = 9;
        injected += Exercise(s);
      }
    }
  }
  injected += Exercise({0, {3}, false, std::nullopt, DiskSize::kRoomy, Operation::kAppend, 4});
  // No room on a full disk: refused before anything is written.
  EXPECT_EQ(Exercise({9, {3}, true, std::nullopt, DiskSize::kFull, Operation::kAppend, 2}), 0u);
  EXPECT_GT(injected, 1000u);
  std::printf("%u failures injected\n", injected);
}

// Repeated failures on one disk, each action starting from what the last one left.
TEST(CrashConsistencyTest, ChainedFailuresNeverLoseTheTable) {
  CMemoryDevice device(400);
  {
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    disk.Format();
  }
  std::vector<RoutineEntry> model;  // what a reading must show (one of old/new)
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  for (int step = 0; step < 300; ++step) {
    CFaultyDevice faulty(device, 1 + next() % 6, next() % 2 ? FaultMode::kFirstHalfWritten : FaultMode::kNothingWritten);
    std::vector<RoutineEntry> before = model;
    std::vector<RoutineEntry> after = model;
    bool remove = !model.empty() && (next() % 3 == 0 || model.size() > 20);
    try {
      CVornDisk disk(faulty, nullptr);
      ASSERT_EQ(disk.ReadTable(), model) << "step " << step;
      if (remove) {
        after.pop_back();
        disk.RemoveLastRoutine();
      } else {
        RoutineEntry entry = MakeRoutine(disk.NextFreeSector(), next() % 4, "R" + std::to_string(step));
        after.push_back(entry);
        disk.AppendRoutine(entry, [&] { WriteRoutineSectors(faulty, entry); });
      }
    } catch (const CUsbDeviceException&) {
    }
    std::optional<ReferenceReading> reading = ReferenceReadTable(device);
    ASSERT_TRUE(reading.has_value()) << "step " << step;
    ASSERT_TRUE(reading->valid) << "step " << step;
    ASSERT_TRUE(reading->table == before || reading->table == after) << "step " << step;
    model = reading->table;
    for (const RoutineEntry& entry : model) {
      ASSERT_TRUE(RoutineIntact(device, entry))
          << "step " << step << (remove ? " remove" : " append") << " failing write " << faulty.WritesSeen()
          << " routine " << entry.Title() << " [" << entry.startSector << "," << entry.endSector << ") of "
          << model.size() << " before " << before.size() << " header table sector "
          << DiskHeader::Decode(device.Sector(0)).tableSector;
    }
  }
}

}  // namespace
}  // namespace vorn
