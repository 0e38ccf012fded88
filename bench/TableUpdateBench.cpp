// What the crash-safe table updates cost: appending a routine and removing it
// again through CVornDisk on a durable image file, against the original write
// order (routine, then header, then the table behind the routine) done by hand
// on the same file in the same process. Prints writes and time per update and
// the ratio ours/original.
//
// Usage: table_update_bench [WORK_DIR]   (default: $TMPDIR or /tmp)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/ImageDevice.h"
#include "disk/DiskHeader.h"
#include "disk/VornDisk.h"

namespace vorn {
namespace {

constexpr std::uint32_t kRoutineSectors = 1024;  // 512 KiB, written in 128-sector pieces
constexpr int kRounds = 20;

// Counts the writes that reach the image.
class CCountingDevice final : public CSectorDevice {
 public:
  explicit CCountingDevice(CSectorDevice& inner) : m_inner(inner) {}
  std::uint32_t GetSectorCount() override { return m_inner.GetSectorCount(); }
  std::string GetName() override { return m_inner.GetName(); }
  void ReadSectors(std::uint32_t f, std::uint32_t c, void* b) override { m_inner.ReadSectors(f, c, b); }
  void WriteSectors(std::uint32_t f, std::uint32_t c, const void* b) override {
    ++writes;
    m_inner.WriteSectors(f, c, b);
  }
  void Open(const DeviceEntry& e) override { m_inner.Open(e); }
  void Close() override { m_inner.Close(); }
  bool Identify() override { return true; }
  long writes = 0;

 private:
  CSectorDevice& m_inner;
};

void WriteRoutine(CSectorDevice& device, std::uint32_t start) {
  static std::vector<std::uint8_t> piece(128 * kSectorSize, 0x5A);
  for (std::uint32_t s = start; s < start + kRoutineSectors; s += 128) device.WriteSectors(s, 128, piece.data());
}

RoutineEntry Entry(std::uint32_t start, int k) {
  RoutineEntry entry;
  std::snprintf(entry.title.data(), entry.title.size(), "R%d", k);
  entry.startSector = start;
  entry.dataSector = start + kRoutineSectors / 2;
  entry.endSector = start + kRoutineSectors;
  return entry;
}

// The original order: header first, then the table, no protection.
void OriginalWriteTable(CSectorDevice& device, const std::vector<RoutineEntry>& table) {
  std::uint32_t tableSector = table.empty() ? 1 : table.back().endSector;
  std::vector<std::uint8_t> sector(kSectorSize);
  DiskHeader header;
  header.routineCount = static_cast<std::int32_t>(table.size());
  header.tableSector = tableSector;
  header.Encode(sector.data());
  device.WriteSectors(0, 1, sector.data());
  std::fill(sector.begin(), sector.end(), 0);
  for (std::size_t k = 0; k < table.size(); ++k) {
    table[k].Encode(sector.data() + 62 * (k % 8));
    if (k % 8 == 7 || k + 1 == table.size()) {
      device.WriteSectors(tableSector + static_cast<std::uint32_t>(k / 8), 1, sector.data());
      std::fill(sector.begin(), sector.end(), 0);
    }
  }
}

struct Figures {
  double seconds = 0;
  long writes = 0;
};

Figures RunOurs(const std::string& path, int routines) {
  CImageDevice image(path, true);
  image.Open(CImageDevice::EntryFor(path));
  CCountingDevice device(image);
  {
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    disk.Format();
    for (int k = 0; k < routines; ++k) {
      RoutineEntry e = Entry(disk.NextFreeSector(), k);
      disk.AppendRoutine(e, [&] { WriteRoutine(device, e.startSector); });
    }
  }
  device.writes = 0;
  auto begin = std::chrono::steady_clock::now();
  for (int round = 0; round < kRounds; ++round) {
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    RoutineEntry e = Entry(disk.NextFreeSector(), 1000 + round);
    disk.AppendRoutine(e, [&] { WriteRoutine(device, e.startSector); });
    disk.RemoveLastRoutine();
  }
  Figures f{std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), device.writes};
  image.Close();
  return f;
}

Figures RunOriginal(const std::string& path, int routines) {
  CImageDevice image(path, true);
  image.Open(CImageDevice::EntryFor(path));
  CCountingDevice device(image);
  std::vector<RoutineEntry> table;
  for (int k = 0; k < routines; ++k) table.push_back(Entry(table.empty() ? 1 : table.back().endSector, k));
  OriginalWriteTable(device, table);
  device.writes = 0;
  auto begin = std::chrono::steady_clock::now();
  for (int round = 0; round < kRounds; ++round) {
    CVornDisk disk(device, nullptr);  // the same reading as ours
    disk.ReadTable();
    RoutineEntry e = Entry(disk.NextFreeSector(), 1000 + round);
    WriteRoutine(device, e.startSector);
    table.push_back(e);
    OriginalWriteTable(device, table);
    table.pop_back();
    OriginalWriteTable(device, table);
  }
  Figures f{std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), device.writes};
  image.Close();
  return f;
}

}  // namespace
}  // namespace vorn

int main(int argc, char** argv) {
  using namespace vorn;
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
  std::string path = dir + "/table-update-bench-" + std::to_string(::getpid()) + ".img";
  {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::ftruncate(fd, 256ll << 20) != 0) {
      std::perror(path.c_str());
      return 1;
    }
    ::close(fd);
  }
  std::printf("append (%u-sector routine) + remove-last, %d rounds, durable image in %s\n", kRoutineSectors,
              kRounds, dir.c_str());
  std::printf("%9s  %22s  %22s  %11s  %11s\n", "routines", "ours s/update (writes)", "original s/update (writes)",
              "time ratio", "write ratio");
  for (int routines : {0, 8, 64, 200}) {
    Figures best{1e9, 0}, bestPeer{1e9, 0};
    for (int rep = 0; rep < 3; ++rep) {
      Figures ours = RunOurs(path, routines);
      Figures peer = RunOriginal(path, routines);
      if (ours.seconds < best.seconds) best = ours;
      if (peer.seconds < bestPeer.seconds) bestPeer = peer;
    }
    double n = 2.0 * kRounds;
    std::printf("%9d  %14.5f (%5.1f)  %14.5f (%5.1f)      %11.2f  %11.2f\n", routines, best.seconds / n,
                best.writes / n, bestPeer.seconds / n, bestPeer.writes / n, best.seconds / bestPeer.seconds,
                static_cast<double>(best.writes) / static_cast<double>(bestPeer.writes));
  }
  ::unlink(path.c_str());
  return 0;
}
