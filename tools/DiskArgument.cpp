#include "tools/DiskArgument.h"

#include <sys/stat.h>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"

namespace vorn {

std::unique_ptr<CSectorDevice> OpenDiskArgument(const std::string& argument) {
  struct stat info {};
  if (::stat(argument.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    auto device = std::make_unique<CImageDevice>(argument, /*durable=*/true);
    device->Open(CImageDevice::EntryFor(argument));
    return device;
  }
  throw CUsbDeviceException("No such disk: " + argument);
}

}  // namespace vorn
