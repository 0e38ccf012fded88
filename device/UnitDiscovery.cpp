// Unit half of discovery: one entry per attached VORN unit, in bus order.

#include <usb.h>

#include <cstdio>

#include "device/DeviceDiscovery.h"
#include "device/UsbDevice.h"
#include "device/UsbUnit.h"

namespace vorn {

namespace {

// Opens the unit briefly on a temporary device to read its strings, the way
// the device itself will open it later.
DeviceEntry DescribeUnit(const struct usb_device& device) {
  DeviceEntry entry;
  entry.key = CopyUnitRecord(device);

  CUsbDevice probe;
  probe.Open(entry);
  char text[600];
  std::snprintf(text, sizeof text, "%s - %s (%i)", probe.Manufacturer().c_str(),
                probe.Product().c_str(), static_cast<int>(device.devnum));
  probe.Close();

  entry.text = text;
  entry.name = UnitName(device);
  return entry;
}

}  // namespace

void EnumerateUnits(std::vector<DeviceEntry>& units) {
  units.clear();
  usb_init();
  usb_find_busses();
  usb_find_devices();
  for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      if (IsVornUnit(*device)) units.push_back(DescribeUnit(*device));
    }
  }
}

void FreeUnitEntries(std::vector<DeviceEntry>& units) {
  // Each entry owns its record copy; dropping the entries frees them.
  units.clear();
}

}  // namespace vorn
