// Writes a number of MiB through CDriveAccess::WriteSectors in the 128-sector
// pieces a routine import uses, to a drive whose node is an image file in DIR,
// and prints the seconds it took. bench/drive_write.sh runs it beside dd;
// bench/drive_verify.sh runs it with and without the read-back after writing.
//
//   drive_write_bench DIR MIB dsync|fdatasync [verify]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/DeviceExceptions.h"
#include "bench/DriveTree.h"
#include "device/DriveAccess.h"
#include "device/VerifyingDevice.h"

namespace {

namespace fs = std::filesystem;

// The drive's node: a sparse file, like the peer's target.
vorn::DriveRoots MakeTree(const fs::path& dir, std::uint64_t bytes) {
  vorn::DriveRoots roots = vorn::bench::MakeDriveTree(dir, bytes);
  fs::remove(dir / "dev/sda");
  std::ofstream(dir / "dev/sda").close();
  fs::resize_file(dir / "dev/sda", bytes);
  return roots;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s DIR MIB dsync|fdatasync [verify]\n", argv[0]);
    return 2;
  }
  const fs::path dir = argv[1];
  const std::uint64_t mib = std::strtoull(argv[2], nullptr, 10);
  const std::string mode = argv[3];
  const bool verify = argc == 5 && std::string(argv[4]) == "verify";
  const auto durability = mode == "fdatasync" ? vorn::CSectorFile::Durability::kSyncAfterWrite
                                              : vorn::CSectorFile::Durability::kSyncEachWrite;
  constexpr std::uint32_t kPiece = 128;  // sectors per WriteSectors, as the import writes
  const std::uint64_t bytes = mib << 20;
  const vorn::DriveRoots roots = MakeTree(dir, bytes);

  std::vector<std::uint8_t> piece(kPiece * vorn::kSectorSize);
  for (std::size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<std::uint8_t>(i * 13);
  try {
    vorn::CDriveAccess drive(roots, durability);
    drive.Open(vorn::DeviceEntry{0, "", ""});
    vorn::CVerifyingDevice verifier(drive);
    vorn::CSectorDevice& target = verify ? static_cast<vorn::CSectorDevice&>(verifier) : drive;
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t sectors = static_cast<std::uint32_t>(bytes / vorn::kSectorSize);
    for (std::uint32_t first = 0; first < sectors; first += kPiece) {
      piece[0] = static_cast<std::uint8_t>(first);  // no two pieces alike
      target.WriteSectors(first, kPiece, piece.data());
    }
    if (verify) verifier.Verify();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    drive.Close();
    std::printf("%.3f\n", took.count());
  } catch (const vorn::CUsbDeviceException& error) {
    std::fprintf(stderr, "%s\n", error.GetMessage().c_str());
    return 1;
  }
  return 0;
}
