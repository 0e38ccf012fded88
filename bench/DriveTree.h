#pragma once
// The smallest tree the drive back end accepts, for the benches that write
// through CDriveAccess: one removable disk "sda" of `bytes` bytes in a sysfs
// under `dir`, no mounts, no swap. The node dir/dev/sda is the caller's to make
// (a sparse file, or the image under test).

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "device/DriveRoots.h"

namespace vorn::bench {

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << text << "\n";
}

inline DriveRoots MakeDriveTree(const std::filesystem::path& dir, std::uint64_t bytes) {
  const std::filesystem::path disk = dir / "sys/block/sda";
  WriteText(disk / "dev", "8:0");
  WriteText(disk / "size", std::to_string(bytes / 512));
  WriteText(disk / "removable", "1");
  WriteText(disk / "queue/logical_block_size", "512");
  WriteText(dir / "mountinfo", "");
  WriteText(dir / "swaps", "Filename Type Size Used Priority");
  std::filesystem::create_directories(dir / "dev");
  DriveRoots roots;
  roots.sysfs = (dir / "sys").string();
  roots.dev = (dir / "dev").string();
  roots.mountinfo = (dir / "mountinfo").string();
  roots.swaps = (dir / "swaps").string();
  return roots;
}

}  // namespace vorn::bench
