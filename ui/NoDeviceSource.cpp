#include "ui/DeviceSource.h"

namespace vorn {
namespace {

class CNoDeviceSource final : public CDeviceSource {
 public:
  void EnumerateDrives(std::vector<DeviceEntry>& drives) override { drives.clear(); }
  void EnumerateUnits(std::vector<DeviceEntry>& units) override { units.clear(); }
  void FreeUnitEntries(std::vector<DeviceEntry>& units) override { units.clear(); }
  // Never asked for: with nothing listed, nothing can be selected.
  std::unique_ptr<CSectorDevice> NewDriveDevice() override { return nullptr; }
  std::unique_ptr<CSectorDevice> NewUnitDevice() override { return nullptr; }
};

}  // namespace

std::unique_ptr<CDeviceSource> MakeNoDeviceSource() { return std::make_unique<CNoDeviceSource>(); }

}  // namespace vorn
