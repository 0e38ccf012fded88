#include "device/PhysicalDriveInfo.h"

namespace vorn {

std::string PhysicalDrivePath(int number) {
  return "\\\\.\\PhysicalDrive" + std::to_string(number);
}

std::string StripDevicePath(const std::string& path) {
  auto decoration = [](char c) { return c == '\\' || c == '.'; };
  std::size_t begin = 0;
  std::size_t end = path.size();
  while (begin < end && decoration(path[begin])) ++begin;
  while (end > begin && decoration(path[end - 1])) --end;
  return path.substr(begin, end - begin);
}

}  // namespace vorn
