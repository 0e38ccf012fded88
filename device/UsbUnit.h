#pragma once
// Telling VORN units apart from other USB devices, naming them and finding one
// by its name on libusb's bus list.

#include <string>

#include "device/DeviceEntry.h"
#include "device/UsbProtocol.h"

struct usb_device;  // libusb 0.1 device record (usb.h)
struct usb_dev_handle;
struct usb_config_descriptor;
struct usb_interface_descriptor;
struct usb_endpoint_descriptor;

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

// The descriptors of a claimed unit interface, owned by libusb's record.
struct UnitInterface {
  const usb_config_descriptor* config = nullptr;
  const usb_interface_descriptor* interface = nullptr;
  const usb_endpoint_descriptor* endpoints = nullptr;  // at least the count asked for
};

// The one way a unit is set up on an open handle: selects configuration
// `configIndex` (0 the first), claims alternate setting 0 of its interface 0
// and selects that setting, and requires `endpointCount` endpoints there.
// Throws CUsbDeviceException with the failing step's message; a record whose
// descriptors lack the configuration, interface or endpoints is refused with
// that step's message and the shape found, never read past its end.
UnitInterface ClaimUnitInterface(usb_dev_handle* handle, const struct usb_device& record,
                                 int configIndex, int endpointCount);

}  // namespace vorn
