#include "device/VolumeProbe.h"

#include <blkid/blkid.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace vorn {
namespace {

struct ProbeDeleter {
  void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using ProbePtr = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

std::string Value(blkid_probe probe, const char* name) {
  const char* data = nullptr;
  if (blkid_probe_lookup_value(probe, name, &data, nullptr) != 0 || data == nullptr) return {};
  return data;
}

bool AllHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string FileSystemName(const std::string& type, const std::string& version) {
  if (type == "vfat") return version == "FAT32" ? "FAT32" : "FAT";
  if (type == "exfat") return "exFAT";
  if (type == "ntfs") return "NTFS";
  std::string upper = type;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

}  // namespace

std::uint32_t SerialFromUuid(const std::string& uuid) {
  if (uuid.size() == 9 && uuid[4] == '-') {
    const std::string hex = uuid.substr(0, 4) + uuid.substr(5);
    if (AllHex(hex)) return static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
  }
  if (uuid.size() == 16 && AllHex(uuid)) {
    return static_cast<std::uint32_t>(std::stoul(uuid.substr(8), nullptr, 16));
  }
  return 0;
}

VolumeLabel ProbeVolume(const std::string& node) {
  VolumeLabel result;
  ProbePtr probe(blkid_new_probe_from_filename(node.c_str()));
  if (!probe) return result;
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID |
                                                     BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
  blkid_probe_enable_partitions(probe.get(), 0);
  if (blkid_do_safeprobe(probe.get()) != 0) return result;  // nothing, or ambiguous
  const std::string type = Value(probe.get(), "TYPE");
  if (type.empty()) return result;
  result.found = true;
  result.fileSystem = FileSystemName(type, Value(probe.get(), "VERSION"));
  result.label = Value(probe.get(), "LABEL");
  result.serial = SerialFromUuid(Value(probe.get(), "UUID"));
  return result;
}

}  // namespace vorn
