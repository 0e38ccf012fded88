// A program linked against the real libusb only, as production code is: lists
// the units with their identity. The preload test runs it under LD_PRELOAD.

#include <cstdio>
#include <vector>

#include "device/DeviceDiscovery.h"
#include "device/DeviceExceptions.h"
#include "device/UsbDevice.h"

int main() {
  try {
    std::vector<vorn::DeviceEntry> units;
    vorn::EnumerateUnits(units);
    for (const vorn::DeviceEntry& entry : units) {
      vorn::CUsbDevice device;
      device.Open(entry);
      const bool identified = device.Identify();
      std::printf("%s|%s|%s|%u|%d\n", entry.name.c_str(), entry.text.c_str(), device.GetName().c_str(),
                  device.GetSectorCount(), identified ? 1 : 0);
      device.Close();
    }
    vorn::FreeUnitEntries(units);
  } catch (const vorn::CUsbDeviceException& error) {
    std::printf("error|%s\n", error.GetMessage().c_str());
    return 1;
  }
  return 0;
}
