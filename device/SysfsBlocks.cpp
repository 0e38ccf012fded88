#include "device/SysfsBlocks.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vorn {
namespace fs = std::filesystem;

namespace {

constexpr int kMaxMappingDepth = 8;

std::vector<std::string> EntryNames(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::optional<std::string> ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t')) {
    text.pop_back();
  }
  return text;
}

CSysfsBlocks::CSysfsBlocks(std::string sysfsRoot) : m_root(std::move(sysfsRoot)) {
  const fs::path blockDir = fs::path(m_root) / "block";
  for (const std::string& disk : EntryNames(blockDir)) {
    const fs::path diskDir = blockDir / disk;
    BlockDevice whole{disk, disk, diskDir.string(), ReadSmallFile((diskDir / "dev").string()).value_or(""), 0};
    m_devices.push_back(whole);
    for (const std::string& entry : EntryNames(diskDir)) {
      const fs::path partDir = diskDir / entry;
      std::optional<std::string> number = ReadSmallFile((partDir / "partition").string());
      if (!number) continue;
      BlockDevice part{entry, disk, partDir.string(),
                       ReadSmallFile((partDir / "dev").string()).value_or(""), 0};
      try {
        part.partition = static_cast<std::uint32_t>(std::stoul(*number));
      } catch (const std::exception&) {
        continue;
      }
      // Partitions count from 1; a 0 would pass the partition for a whole disk.
      if (part.partition == 0) continue;
      m_devices.push_back(part);
    }
  }
}

const BlockDevice* CSysfsBlocks::ByName(const std::string& name) const {
  for (const BlockDevice& device : m_devices) {
    if (device.name == name) return &device;
  }
  return nullptr;
}

const BlockDevice* CSysfsBlocks::ByDevice(const std::string& majorMinor) const {
  if (majorMinor.empty()) return nullptr;
  for (const BlockDevice& device : m_devices) {
    if (device.device == majorMinor) return &device;
  }
  return nullptr;
}

std::vector<const BlockDevice*> CSysfsBlocks::PartitionsOf(const std::string& disk) const {
  std::vector<const BlockDevice*> parts;
  for (const BlockDevice& device : m_devices) {
    if (device.disk == disk && device.partition != 0) parts.push_back(&device);
  }
  std::stable_sort(parts.begin(), parts.end(),
                   [](const BlockDevice* a, const BlockDevice* b) { return a->partition < b->partition; });
  return parts;
}

std::vector<std::string> CSysfsBlocks::Underlying(const std::string& name) const {
  std::vector<std::string> out;
  Collect(name, 0, out);
  return out;
}

void CSysfsBlocks::Collect(const std::string& name, int depth, std::vector<std::string>& out) const {
  const BlockDevice* device = ByName(name);
  if (device == nullptr || depth > kMaxMappingDepth) return;
  const std::vector<std::string> slaves = EntryNames(fs::path(device->dir) / "slaves");
  if (slaves.empty()) {
    out.push_back(name);
    return;
  }
  for (const std::string& slave : slaves) Collect(slave, depth + 1, out);
}

bool CSysfsBlocks::HasHolders(const BlockDevice& device) const {
  return !EntryNames(fs::path(device.dir) / "holders").empty();
}

bool CSysfsBlocks::OnRemovableBus(const BlockDevice& disk) const {
  std::error_code error;
  const fs::path root = fs::canonical(m_root, error);
  if (error) return false;
  fs::path dir = fs::canonical(disk.dir, error);
  if (error) return false;
  // Walk up the device's ancestors: a card reader hangs below a USB device, an
  // SD slot's card below an MMC host.
  for (int i = 0; i < 64 && dir.has_relative_path() && dir != root; ++i, dir = dir.parent_path()) {
    const fs::path subsystem = dir / "subsystem";
    if (!fs::is_symlink(subsystem, error)) continue;
    const std::string bus = fs::read_symlink(subsystem, error).filename().string();
    if (!error && (bus == "usb" || bus == "mmc")) return true;
  }
  return false;
}

std::optional<std::string> CSysfsBlocks::Attribute(const BlockDevice& device,
                                                   const std::string& file) const {
  return ReadSmallFile((fs::path(device.dir) / file).string());
}

}  // namespace vorn
