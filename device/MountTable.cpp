#include "device/MountTable.h"

#include <array>
#include <fstream>
#include <sstream>
#include <string_view>

namespace vorn {
namespace {

// The kernel writes space, tab, newline and backslash in paths as \ooo.
std::string Unescape(const std::string& text) {
  auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && octal(text[i + 1]) && octal(text[i + 2]) &&
        octal(text[i + 3])) {
      out += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) |
                               (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::vector<MountRecord> ReadMountInfo(const std::string& path) {
  // id parent major:minor root mount-point options [optional fields] - type source super-options
  std::vector<MountRecord> mounts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint, field;
    if (!(fields >> id >> parent >> device >> root >> mountPoint)) continue;
    while (fields >> field && field != "-") {
    }
    std::string type, source;
    fields >> type >> source;
    mounts.push_back({device, Unescape(mountPoint), Unescape(source)});
  }
  return mounts;
}

std::vector<std::string> ReadSwapPartitions(const std::string& path) {
  std::vector<std::string> partitions;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, type;
    if (fields >> name >> type && type == "partition") partitions.push_back(Unescape(name));
  }
  return partitions;
}

bool IsSystemMountPoint(const std::string& mountPoint) {
  static constexpr std::array<std::string_view, 8> kSystem = {
      "/", "/boot", "/boot/efi", "/boot/firmware", "/efi", "/usr", "/var", "/home"};
  std::string_view point = mountPoint;
  while (point.size() > 1 && point.back() == '/') point.remove_suffix(1);
  for (std::string_view system : kSystem) {
    if (point == system) return true;
  }
  return false;
}

}  // namespace vorn
