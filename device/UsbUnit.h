#pragma once
// Telling VORN units apart from other USB devices, naming them and finding one
// by its name on libusb's bus list.

#include <string>

#include "device/DeviceEntry.h"
#include "device/UsbProtocol.h"

struct usb_device;  // libusb 0.1 device record (usb.h)

namespace vorn {

// True when the record's device descriptor carries the unit's vendor and product id.
bool IsVornUnit(const struct usb_device& device);

// "VORN%i" with the record's device number, e.g. VORN3.
std::string UnitName(const struct usb_device& device);

// A copy of the record for a unit entry to own; usb_open takes the copy.
UnitRecord CopyUnitRecord(const struct usb_device& device);

// Rescans the buses and returns libusb's own record of the first unit, in bus
// and device order, whose name equals `name` exactly; nullptr when none does.
struct usb_device* FindUnitByName(const std::string& name);

}  // namespace vorn
