#include "device/UsbUnit.h"

#include <usb.h>

#include <memory>

namespace vorn {

bool IsVornUnit(const struct usb_device& device) {
  return device.descriptor.idVendor == kUnitVendorId &&
         device.descriptor.idProduct == kUnitProductId;
}

std::string UnitName(const struct usb_device& device) {
  return "VORN" + std::to_string(static_cast<int>(device.devnum));
}

UnitRecord CopyUnitRecord(const struct usb_device& device) {
  return std::make_shared<const struct usb_device>(device);
}

struct usb_device* FindUnitByName(const std::string& name) {
  usb_init();
  usb_find_busses();
  usb_find_devices();
  for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      if (IsVornUnit(*device) && UnitName(*device) == name) return device;
    }
  }
  return nullptr;
}

}  // namespace vorn
