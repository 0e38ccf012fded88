// The drive back end's readers on any kernel table and sysfs attribute text:
// the input is cut at NUL bytes into the mount table, the swap table and the
// attribute files of one disk with one partition in a scratch sysfs tree. A
// scan never fails, gives each letter once, and takes a geometry only from
// plain numbers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "device/LinuxDriveSource.h"
#include "device/MountTable.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace vorn;
namespace fs = std::filesystem;

namespace {

// The files the pieces of the input go to, in order.
const char* const kFiles[] = {
    "mountinfo",
    "swaps",
    "sys/block/sdb/size",
    "sys/block/sdb/queue/logical_block_size",
    "sys/block/sdb/removable",
    "sys/block/sdb/dev",
    "sys/block/sdb/sdb1/partition",
    "sys/block/sdb/sdb1/size",
    "sys/block/sdb/sdb1/dev",
};

bool PlainNumber(const std::string& text) {
  std::string trimmed = text;
  while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == ' ' || trimmed.back() == '\t')) {
    trimmed.pop_back();
  }
  return !trimmed.empty() && trimmed.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string root = vorn::fuzz::ScratchDir();
  static const bool laidOut = [&] {
    fs::create_directories(root + "/sys/block/sdb/queue");
    fs::create_directories(root + "/sys/block/sdb/sdb1");
    fs::create_directories(root + "/dev");
    vorn::fuzz::WriteScratch("dev/sdb", "", 0);
    vorn::fuzz::WriteScratch("dev/sdb1", "", 0);
    return true;
  }();
  (void)laidOut;

  std::vector<std::string> pieces(std::size(kFiles));
  const char* text = reinterpret_cast<const char*>(data);
  std::size_t piece = 0;
  for (std::size_t i = 0; i < size && piece < pieces.size(); ++i) {
    if (data[i] == 0) {
      ++piece;
    } else {
      pieces[piece] += text[i];
    }
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    vorn::fuzz::WriteScratch(kFiles[i], pieces[i].data(), pieces[i].size());
  }

  for (const MountRecord& mount : ReadMountInfo(root + "/mountinfo")) {
    VORN_FUZZ_CHECK(!mount.device.empty());
    VORN_FUZZ_CHECK(mount.mountPoint.size() <= pieces[0].size());
    IsSystemMountPoint(mount.mountPoint);
  }
  for (const std::string& swap : ReadSwapPartitions(root + "/swaps")) {
    VORN_FUZZ_CHECK(swap.size() <= pieces[1].size());
  }

  DriveRoots roots;
  roots.sysfs = root + "/sys";
  roots.dev = root + "/dev";
  roots.mountinfo = root + "/mountinfo";
  roots.swaps = root + "/swaps";
  CLinuxDriveSource source(roots);
  const DriveScan scan = source.Scan();
  VORN_FUZZ_CHECK(scan.drives.size() <= 1);
  for (const ScannedDrive& drive : scan.drives) {
    if (drive.geometryValid) {
      VORN_FUZZ_CHECK(PlainNumber(pieces[2]) && PlainNumber(pieces[3]));
      VORN_FUZZ_CHECK(drive.geometry.bytesPerSector > 0 && drive.geometry.diskSize > 0);
    }
  }
  std::set<char> letters;
  for (const ScannedVolume& volume : scan.volumes) {
    VORN_FUZZ_CHECK(volume.letter >= 'C' && volume.letter <= 'Z');
    VORN_FUZZ_CHECK(letters.insert(volume.letter).second);
  }
  return 0;
}
