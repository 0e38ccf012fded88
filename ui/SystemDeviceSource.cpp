#include "device/DeviceDiscovery.h"
#include "device/DriveAccess.h"
#include "device/UsbDevice.h"
#include "platform/MessageBox.h"
#include "ui/DeviceSource.h"

namespace vorn {
namespace {

class CSystemDeviceSource final : public CDeviceSource {
 public:
  void EnumerateDrives(std::vector<DeviceEntry>& drives) override { vorn::EnumerateDrives(drives); }
  void EnumerateUnits(std::vector<DeviceEntry>& units) override { vorn::EnumerateUnits(units); }
  void FreeUnitEntries(std::vector<DeviceEntry>& units) override { vorn::FreeUnitEntries(units); }
  std::unique_ptr<CSectorDevice> NewDriveDevice() override {
    auto drive = std::make_unique<CDriveAccess>();
    // The window asks before a mounted card is unmounted.
    drive->SetUnmountQuestion([](const std::vector<DriveMount>& mounts) { return AskYesNo(MountQuestion(mounts)); });
    return drive;
  }
  std::unique_ptr<CSectorDevice> NewUnitDevice() override { return std::make_unique<CUsbDevice>(); }
};

}  // namespace

std::unique_ptr<CDeviceSource> MakeSystemDeviceSource() {
  return std::make_unique<CSystemDeviceSource>();
}

}  // namespace vorn
