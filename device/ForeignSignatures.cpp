#include "device/ForeignSignatures.h"

#include <blkid/blkid.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/DeviceExceptions.h"
#include "platform/UniqueFd.h"

namespace vorn {
namespace {

constexpr std::uint64_t kProbedSectors = 2048;  // 1 MiB at either end
constexpr std::uint32_t kChunk = 128;
constexpr int kMostSignatures = 64;  // a bound, should a wipe not take

struct ProbeFree {
  void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};

// Sectors [first, end) of the device into the same place of `copy`.
void CopySectors(CSectorDevice& device, int copy, std::uint64_t first, std::uint64_t end) {
  std::vector<std::uint8_t> buffer(kChunk * kSectorSize);
  for (std::uint64_t sector = first; sector < end;) {
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunk, end - sector));
    device.ReadSectors(static_cast<std::uint32_t>(sector), count, buffer.data());
    const auto bytes = static_cast<std::size_t>(count) * kSectorSize;
    if (::pwrite(copy, buffer.data(), bytes, static_cast<off_t>(sector * kSectorSize)) != static_cast<ssize_t>(bytes)) {
      throw CUsbDeviceException(std::string("Unable to look for old file systems: ") + std::strerror(errno));
    }
    sector += count;
  }
}

std::string Value(blkid_probe probe, const char* name) {
  const char* value = nullptr;
  if (blkid_probe_lookup_value(probe, name, &value, nullptr) != 0 || value == nullptr) return {};
  return value;
}

}  // namespace

std::vector<ForeignSignature> EraseForeignSignatures(CSectorDevice& device, std::uint64_t keptSectors) {
  // A sparse copy of both ends in memory: libblkid reads where it expects its
  // magic, and the device (a unit on USB, a descriptor from udisks2) need not
  // be a file it can open.
  const std::uint64_t sectors = device.GetSectorCount() != 0 ? device.GetSectorCount() : kProbedSectors;
  CUniqueFd copy(::memfd_create("vorn-signatures", MFD_CLOEXEC));
  if (!copy.IsValid() || ::ftruncate(copy.Get(), static_cast<off_t>(sectors * kSectorSize)) != 0) {
    throw CUsbDeviceException(std::string("Unable to look for old file systems: ") + std::strerror(errno));
  }
  const std::uint64_t headEnd = std::min(sectors, kProbedSectors);
  CopySectors(device, copy.Get(), 0, headEnd);
  CopySectors(device, copy.Get(), std::max(headEnd, sectors > kProbedSectors ? sectors - kProbedSectors : 0), sectors);

  std::unique_ptr<blkid_struct_probe, ProbeFree> probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), copy.Get(), 0, static_cast<blkid_loff_t>(sectors * kSectorSize)) != 0) {
    throw CUsbDeviceException("Unable to look for old file systems: libblkid failed");
  }
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_MAGIC | BLKID_SUBLKS_TYPE | BLKID_SUBLKS_BADCSUM);
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_MAGIC | BLKID_PARTS_FORCE_GPT);

  std::vector<ForeignSignature> found;
  for (int round = 0; round < kMostSignatures && blkid_do_probe(probe.get()) == 0; ++round) {
    ForeignSignature signature;
    std::string offset = Value(probe.get(), "SBMAGIC_OFFSET");
    const char* magic = "SBMAGIC";
    signature.type = Value(probe.get(), "TYPE");
    if (offset.empty()) {
      offset = Value(probe.get(), "PTMAGIC_OFFSET");
      magic = "PTMAGIC";
      signature.type = Value(probe.get(), "PTTYPE");
    }
    std::size_t length = 0;
    if (offset.empty() || blkid_probe_lookup_value(probe.get(), magic, nullptr, &length) != 0) continue;
    signature.offset = std::strtoull(offset.c_str(), nullptr, 10);
    signature.length = static_cast<std::uint32_t>(length);
    // Wiped in the copy too, so that the next probe finds what lies beneath.
    if (blkid_do_wipe(probe.get(), 0) != 0) break;
    if ((signature.offset + signature.length + kSectorSize - 1) / kSectorSize > sectors) continue;
    if (signature.offset / kSectorSize < keptSectors) continue;  // the bytes just written are ours
    found.push_back(signature);
  }

  std::vector<std::uint8_t> buffer;
  for (const ForeignSignature& signature : found) {
    const std::uint64_t first = signature.offset / kSectorSize;
    const std::uint64_t end = (signature.offset + signature.length + kSectorSize - 1) / kSectorSize;
    buffer.assign((end - first) * kSectorSize, 0);
    const auto count = static_cast<std::uint32_t>(end - first);
    device.ReadSectors(static_cast<std::uint32_t>(first), count, buffer.data());
    std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(signature.offset - first * kSectorSize),
                signature.length, 0);
    device.WriteSectors(static_cast<std::uint32_t>(first), count, buffer.data());
  }
  return found;
}

}  // namespace vorn
