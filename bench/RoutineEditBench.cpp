// Removing the first routine of a disk with MIB MiB of routines behind it,
// through CDriveAccess (O_DSYNC, as shipped) on a drive whose node is an image
// file in DIR, against dd copying the same bytes over the same place in 1 MiB
// pieces with oflag=dsync and reading them back once with iflag=direct. Both
// start from a fresh image with its pages out of the cache. Prints the best of
// RUNS for each, the time ratio, and the sectors the edit wrote against those
// that had to move.
//
//   routine_edit_bench DIR [MIB [RUNS]]

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/DriveTree.h"
#include "device/DriveAccess.h"
#include "device/ImageDevice.h"
#include "disk/RoutineEdit.h"
#include "disk/VornDisk.h"

namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t kMiBSectors = 2048;
constexpr std::uint32_t kFirstMiB = 4;   // the routine removed
constexpr std::uint32_t kBehindEach = 10;  // MiB per routine behind it

vorn::DriveRoots MakeTree(const fs::path& dir, std::uint64_t bytes) { return vorn::bench::MakeDriveTree(dir, bytes); }

// A fresh disk: the routines with their bytes, the table behind them, the
// whole file synced and dropped from the cache.
std::vector<vorn::RoutineEntry> BuildImage(const fs::path& image, std::uint64_t bytes, std::uint32_t behindMiB) {
  fs::remove(image);
  std::ofstream(image).close();
  fs::resize_file(image, bytes);
  vorn::CImageDevice device(image.string(), false);
  device.Open(vorn::CImageDevice::EntryFor(image.string()));
  vorn::CVornDisk disk(device, nullptr);
  disk.ReadTable();
  disk.Format();
  std::vector<std::uint32_t> sizes = {kFirstMiB};
  for (std::uint32_t left = behindMiB; left > 0; left -= std::min(left, kBehindEach)) {
    sizes.push_back(std::min(left, kBehindEach));
  }
  std::vector<std::uint8_t> piece(std::size_t{kMiBSectors} * vorn::kSectorSize);
  for (std::size_t k = 0; k < sizes.size(); ++k) {
    vorn::RoutineEntry entry;
    const std::string title = "Routine " + std::to_string(k + 1);
    std::copy(title.begin(), title.end(), entry.title.begin());
    entry.startSector = disk.NextFreeSector();
    entry.dataSector = entry.startSector + sizes[k] * kMiBSectors / 2;
    entry.endSector = entry.startSector + sizes[k] * kMiBSectors;
    disk.AppendRoutine(entry, [&] {
      for (std::uint32_t m = 0; m < sizes[k]; ++m) {
        for (std::size_t i = 0; i < piece.size(); i += 64) piece[i] = static_cast<std::uint8_t>(k * 31 + m + i / 64);
        device.WriteSectors(entry.startSector + m * kMiBSectors, kMiBSectors, piece.data());
      }
    });
  }
  device.Close();
  const int fd = ::open(image.c_str(), O_RDONLY);
  ::fsync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
  return disk.Table();
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [MIB [RUNS]]\n", argv[0]);
    return 2;
  }
  const fs::path dir = argv[1];
  const std::uint32_t behind = argc > 2 ? static_cast<std::uint32_t>(std::atoi(argv[2])) : 200;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  const std::uint64_t bytes = std::uint64_t{kFirstMiB + behind + 8} << 20;
  const vorn::DriveRoots roots = MakeTree(dir, bytes);
  const fs::path image = dir / "dev/sda";
  double bestEdit = 1e9, bestPeer = 1e9;
  vorn::EditReport report;
  std::uint64_t mustMove = 0;
  try {
    for (int run = 0; run < runs; ++run) {
      // The edit: remove routine 1 of the disk.
      std::vector<vorn::RoutineEntry> table = BuildImage(image, bytes, behind);
      mustMove = std::uint64_t{table.back().endSector} - table[1].startSector;
      {
        vorn::CDriveAccess drive(roots);
        drive.Open(vorn::DeviceEntry{0, "", ""});
        vorn::CVornDisk disk(drive, nullptr);
        disk.ReadTable();
        vorn::CRoutineEdit edit(disk.Table());
        edit.Remove({0});
        vorn::EditOptions options;
        options.identity = vorn::DiskIdentity(drive);
        options.recordRoot = (dir / "state").string();
        const auto start = std::chrono::steady_clock::now();
        report = vorn::ApplyEdit(disk, edit, options);
        bestEdit = std::min(bestEdit, Seconds(start));
        drive.Close();
      }
      // The peer: the same bytes to the same place, then read back once.
      table = BuildImage(image, bytes, behind);
      const std::uint64_t from = std::uint64_t{table[1].startSector} * vorn::kSectorSize;
      const std::uint64_t to = std::uint64_t{table[0].startSector} * vorn::kSectorSize;
      const std::string img = image.string();
      const std::string copy = "dd if=" + img + " of=" + img + " bs=1M iflag=skip_bytes,count_bytes oflag=seek_bytes,dsync conv=notrunc status=none skip=" +
                               std::to_string(from) + " seek=" + std::to_string(to) + " count=" + std::to_string(mustMove * vorn::kSectorSize);
      const std::string readBack = "dd if=" + img + " of=/dev/null bs=1M iflag=direct,skip_bytes,count_bytes status=none skip=" +
                                   std::to_string(to - to % 4096) + " count=" + std::to_string(mustMove * vorn::kSectorSize + 4096);
      const auto start = std::chrono::steady_clock::now();
      if (std::system(copy.c_str()) != 0 || std::system(readBack.c_str()) != 0) {
        std::fprintf(stderr, "dd failed\n");
        return 1;
      }
      bestPeer = std::min(bestPeer, Seconds(start));
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  const double mib = static_cast<double>(mustMove) * vorn::kSectorSize / (1 << 20);
  std::printf("remove the first routine (%u MiB) with %.0f MiB behind it, best of %d\n", kFirstMiB, mib, runs);
  std::printf("  edit (CDriveAccess, O_DSYNC, read-back)  %6.3f s  %7.1f MiB/s\n", bestEdit, mib / bestEdit);
  std::printf("  dd bs=1M oflag=dsync + iflag=direct      %6.3f s  %7.1f MiB/s\n", bestPeer, mib / bestPeer);
  std::printf("ratio edit / dd %.2f   (goal <= 1.3)\n", bestEdit / bestPeer);
  std::printf("sectors written %llu, had to move %llu: ratio %.4f   (goal <= 1.02); kept in the record meanwhile: %llu\n",
              static_cast<unsigned long long>(report.writtenSectors), static_cast<unsigned long long>(mustMove),
              static_cast<double>(report.writtenSectors) / static_cast<double>(mustMove),
              static_cast<unsigned long long>(report.stashedSectors));
  return 0;
}
