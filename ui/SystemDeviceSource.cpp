#include "device/DeviceDiscovery.h"
#include "device/DriveAccess.h"
#include "device/UsbDevice.h"
#include "ui/DeviceSource.h"

namespace vorn {
namespace {

class CSystemDeviceSource final : public CDeviceSource {
 public:
  void EnumerateDrives(std::vector<DeviceEntry>& drives) override { vorn::EnumerateDrives(drives); }
  void EnumerateUnits(std::vector<DeviceEntry>& units) override { vorn::EnumerateUnits(units); }
  void FreeUnitEntries(std::vector<DeviceEntry>& units) override { vorn::FreeUnitEntries(units); }
  std::unique_ptr<CSectorDevice> NewDriveDevice() override { return std::make_unique<CDriveAccess>(); }
  std::unique_ptr<CSectorDevice> NewUnitDevice() override { return std::make_unique<CUsbDevice>(); }
};

}  // namespace

std::unique_ptr<CDeviceSource> MakeSystemDeviceSource() {
  return std::make_unique<CSystemDeviceSource>();
}

}  // namespace vorn
