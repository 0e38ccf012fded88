#pragma once
// Helpers for disk-layout tests: a reader that follows the original program's
// table reading step by step (no size checks, reads until the device fails), so
// tests can prove that disks we write read the same in it; and builders of
// routine tables laid end to end.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/RoutineEntry.h"
#include "tests/support/MemoryDevice.h"

namespace vorn {

struct ReferenceReading {
  bool valid = false;
  std::vector<RoutineEntry> table;
  bool operator==(const ReferenceReading&) const = default;
};

// The table as the original reader sees it; nothing when it throws.
std::optional<ReferenceReading> ReferenceReadTable(CSectorDevice& device);

// `count` well-formed routines from sector 1 on; routine k has `sizes[k % n]`
// sectors (half MP3, half data) and the title "Routine <k>".
std::vector<RoutineEntry> MakeRoutines(std::size_t count, const std::vector<std::uint32_t>& sizes = {3});

// One routine of `sectors` sectors starting at `start`.
RoutineEntry MakeRoutine(std::uint32_t start, std::uint32_t sectors, const std::string& title);

// Fills the sectors of `entry` with a pattern derived from its title, and checks it.
void FillRoutine(CMemoryDevice& device, const RoutineEntry& entry);
bool RoutineIntact(CMemoryDevice& device, const RoutineEntry& entry);
// Writes the same pattern through a device, one WriteSectors call per sector,
// as an import would.
void WriteRoutineSectors(CSectorDevice& device, const RoutineEntry& entry);

// Writes a header and table the way the original program lays them out:
// the table at `tableSector` (default: behind the last routine).
void LayOutDisk(CMemoryDevice& device, const std::vector<RoutineEntry>& table,
                std::optional<std::uint32_t> tableSector = std::nullopt);

}  // namespace vorn
