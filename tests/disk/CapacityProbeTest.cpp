// The capacity probe writes a card's free sectors. Here it is cut off at each
// of its writes in turn (the card pulled: that write and every later one fail,
// and the process may be killed right after a write landed), or cancelled
// there, on disks laid out in several ways: no routine or table byte may
// change, and whatever did change lies in free space.
#include <gtest/gtest.h>

#include <optional>

#include "disk/CapacityProbe.h"
#include "disk/VornDisk.h"
#include "tests/support/FaultyDevice.h"
#include "tests/support/ReferenceTable.h"

namespace vorn {
namespace {

constexpr std::uint32_t kSectors = 1200;

struct Layout {
  const char* name;
  std::size_t routines;
  std::optional<std::uint32_t> tableOffset;  // table moved behind the routines by an earlier cut
  std::uint32_t firstFree;                   // where the probe may begin
};

CMemoryDevice Build(const Layout& layout) {
  CMemoryDevice device(kSectors);
  // Free space holds old data, which the probe must put back.
  for (std::size_t i = 0; i < device.Bytes().size(); ++i) device.Bytes()[i] = static_cast<std::uint8_t>(i * 7 + i / kSectorSize + 3);
  if (layout.routines == 0 && !layout.tableOffset) return device;  // not formatted
  const std::vector<RoutineEntry> table = MakeRoutines(layout.routines, {40, 17});
  for (const RoutineEntry& entry : table) FillRoutine(device, entry);
  const std::uint32_t end = table.empty() ? 1 : table.back().endSector;
  LayOutDisk(device, table, end + layout.tableOffset.value_or(0));
  return device;
}

// A device that sets the cancel flag as its k-th write lands, as Cancel pressed then would.
class CCancellingDevice : public CMemoryDevice {
 public:
  CCancellingDevice(const CMemoryDevice& from, std::uint32_t at) : CMemoryDevice(from), m_at(at) {}
  CCancelFlag flag;
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override {
    CMemoryDevice::WriteSectors(first, count, buffer);
    if (++m_writes == m_at) flag.Cancel();
  }

 private:
  std::uint32_t m_at;
  std::uint32_t m_writes = 0;
};

// Every changed sector lies at or past `firstFree`.
void ExpectOnlyFreeChanged(CMemoryDevice& device, const std::vector<std::uint8_t>& before, std::uint32_t firstFree) {
  for (std::uint32_t s = 0; s < kSectors; ++s) {
    if (std::equal(device.Sector(s), device.Sector(s) + kSectorSize, before.data() + std::size_t{s} * kSectorSize)) {
      continue;
    }
    EXPECT_GE(s, firstFree) << "sector " << s << " outside free space changed";
  }
}

TEST(CapacityProbeTest, ACutAtAnyWriteChangesFreeSectorsOnly) {
  // 9 routines of 40 and 17 sectors end at 1 + 5 * 40 + 4 * 17 = 269; their
  // table takes two sectors.
  const std::vector<Layout> layouts = {
      {"9 routines", 9, std::nullopt, 271},
      {"8 routines, table moved", 8, 30, 229 + 30 + 2},
      {"formatted, empty", 0, 0, 2},
      {"not formatted", 0, std::nullopt, 1},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    CMemoryDevice pristine = Build(layout);
    const std::vector<std::uint8_t> before = pristine.Bytes();

    CMemoryDevice clean = pristine;
    const CheckFinding green = ProbeCapacity(clean);
    EXPECT_EQ(green.level, CheckLevel::kGreen) << green.text;
    EXPECT_TRUE(clean.Bytes() == before);
    const std::uint32_t writes = static_cast<std::uint32_t>(clean.Writes().size());
    const std::vector<std::uint32_t> probed = CapacityProbeSectors(layout.firstFree, kSectors);
    ASSERT_EQ(writes, 2 * probed.size());  // each probe sector once, and once more to put it back
    for (const Transfer& write : clean.Writes()) EXPECT_GE(write.first, layout.firstFree);

    for (std::uint32_t k = 1; k <= writes; ++k) {
      for (FaultMode mode : {FaultMode::kNothingWritten, FaultMode::kAllWritten}) {
        SCOPED_TRACE("write " + std::to_string(k) + (mode == FaultMode::kAllWritten ? " landed" : " lost"));
        CMemoryDevice backing = pristine;
        CFaultyDevice faulty(backing, k, mode);
        const CheckFinding cut = ProbeCapacity(faulty);
        EXPECT_EQ(cut.level, CheckLevel::kRed) << cut.text;
        ExpectOnlyFreeChanged(backing, before, layout.firstFree);
        if (layout.routines > 0) {
          EXPECT_EQ(ReferenceReadTable(backing), ReferenceReadTable(pristine));
        }
      }
      // Cancel: the probe puts back what it wrote before it stops.
      CCancellingDevice cancelling(pristine, k);
      if (k <= writes / 2) {
        EXPECT_THROW(ProbeCapacity(cancelling, &cancelling.flag), CCancelled);
      } else {
        ProbeCapacity(cancelling, &cancelling.flag);  // too late: only its restore was left
      }
      EXPECT_TRUE(cancelling.Bytes() == before);
    }
  }
}

TEST(CapacityProbeTest, AFakeUnformattedCardIsRedAndKeepsItsBytes) {
  // Its header is no landmark (a formatted one's is: the check's fault
  // table), so the wrap shows in the read-back.
  CMemoryDevice blank(4096);
  for (std::uint32_t s = 1; s < 4096; s += 3) blank.Sector(s)[5] = 9;
  blank.WrapAt(2048);
  const std::vector<std::uint8_t> before = blank.Bytes();
  const CheckFinding finding = ProbeCapacity(blank);
  EXPECT_EQ(finding.level, CheckLevel::kRed);
  EXPECT_NE(finding.text.find("reads back what was written to sector"), std::string::npos) << finding.text;
  EXPECT_NE(finding.text.find("holds at most 2048 sectors"), std::string::npos) << finding.text;
  EXPECT_TRUE(blank.Bytes() == before);
}

}  // namespace
}  // namespace vorn
