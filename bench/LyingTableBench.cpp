// What a routine count that lies costs the table reader: a sparse image whose
// header claims a routine for every 8th sector of the disk, over a table of
// zeros. Our reader (CVornDisk::ReadTable, which stops at the first record out
// of line) against the original reading order, run in the same process on the
// same file: read every table sector the count names, keep every record, then
// check the chain. Prints time, sectors read and records held by each, and the
// ratio ours/original. The original runs second, so the peak memory the
// process reached after each shows what each held.
//
// Usage: lying_table_bench [SIZE_MIB [WORK_DIR]]   (default 1024 MiB, $TMPDIR or /tmp)
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/ImageDevice.h"
#include "disk/DiskHeader.h"
#include "disk/VornDisk.h"

namespace vorn {
namespace {

class CCountingDevice final : public CSectorDevice {
 public:
  explicit CCountingDevice(CSectorDevice& inner) : m_inner(inner) {}
  std::uint32_t GetSectorCount() override { return m_inner.GetSectorCount(); }
  std::string GetName() override { return m_inner.GetName(); }
  void ReadSectors(std::uint32_t f, std::uint32_t c, void* b) override {
    reads += c;
    m_inner.ReadSectors(f, c, b);
  }
  void WriteSectors(std::uint32_t f, std::uint32_t c, const void* b) override { m_inner.WriteSectors(f, c, b); }
  void Open(const DeviceEntry& e) override { m_inner.Open(e); }
  void Close() override { m_inner.Close(); }
  bool Identify() override { return true; }
  long reads = 0;

 private:
  CSectorDevice& m_inner;
};

long PeakKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// The original order: all the records the count names, then the check.
std::size_t OriginalRead(CSectorDevice& device) {
  std::array<std::uint8_t, kSectorSize> sector{};
  device.ReadSectors(0, 1, sector.data());
  const DiskHeader header = DiskHeader::Decode(sector.data());
  std::vector<RoutineEntry> table;
  std::uint32_t current = header.tableSector;
  device.ReadSectors(current, 1, sector.data());
  for (std::int32_t k = 0; k < header.routineCount; ++k) {
    table.push_back(RoutineEntry::Decode(sector.data() + (k % 8) * RoutineEntry::kEncodedSize));
    if (k % 8 == 7 && k + 1 < header.routineCount) device.ReadSectors(++current, 1, sector.data());
  }
  bool valid = !table.empty() && table.front().startSector != 0;
  for (std::size_t k = 0; valid && k + 1 < table.size(); ++k) valid = table[k].endSector == table[k + 1].startSector;
  return table.size();
}

}  // namespace
}  // namespace vorn

int main(int argc, char** argv) {
  using namespace vorn;
  using Clock = std::chrono::steady_clock;
  const long mib = argc > 1 ? std::atol(argv[1]) : 1024;
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = argc > 2 ? argv[2] : (tmp ? tmp : "/tmp");
  const std::string path = dir + "/lying-table-bench.img";
  const std::uint32_t sectors = static_cast<std::uint32_t>(mib * 2048);
  // 7 sectors in 8 for the table from sector 1: the most a header may claim
  // on this disk before the size check alone refuses it.
  const std::int32_t count = static_cast<std::int32_t>((sectors - 2) / 8 * 8);

  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::array<std::uint8_t, kSectorSize> header{};
    DiskHeader{kDiskMagic, count, 1, kFormatNumber}.Encode(header.data());
    std::fwrite(header.data(), 1, header.size(), file);
    std::fclose(file);
  }
  if (::truncate(path.c_str(), static_cast<off_t>(sectors) * kSectorSize) != 0) return 1;

  CImageDevice image(path, false);
  image.Open(CImageDevice::EntryFor(path));
  CCountingDevice device(image);

  const auto t0 = Clock::now();
  CVornDisk disk(device, nullptr);
  const std::size_t ours = disk.ReadTable().size();
  const auto t1 = Clock::now();
  const long oursReads = device.reads;
  const long oursPeak = PeakKiB();
  device.reads = 0;
  const std::size_t original = OriginalRead(device);
  const auto t2 = Clock::now();
  const long originalPeak = PeakKiB();
  image.Close();
  ::unlink(path.c_str());

  const double oursMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
  const double originalMs = std::chrono::duration<double, std::milli>(t2 - t1).count();
  std::printf("%ld MiB sparse image, header claims %d routines over a table of zeros\n", mib, count);
  std::printf("ours:     %10.3f ms, %9ld sectors read, %9zu records held, peak %ld KiB, %s\n", oursMs,
              oursReads, ours, oursPeak, disk.IsValid() ? "valid" : "not formatted");
  std::printf("original: %10.3f ms, %9ld sectors read, %9zu records held, peak %ld KiB\n", originalMs,
              device.reads, original, originalPeak);
  std::printf("ratio ours/original: time %.6f, sectors read %.6f\n", oursMs / originalMs,
              static_cast<double>(oursReads) / static_cast<double>(device.reads));
  return 0;
}
