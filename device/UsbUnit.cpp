#include "device/UsbUnit.h"

#include <usb.h>

#include <memory>

#include "device/DeviceExceptions.h"

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

namespace vorn {

UnitInterface ClaimUnitInterface(usb_dev_handle* handle, const struct usb_device& record,
                                 int configIndex, int endpointCount) {
  // A unit short of the configuration, interface or endpoints it needs fails
  // with the message of that step rather than reading past libusb's records.
  const int configurations = record.descriptor.bNumConfigurations;
  if (record.config == nullptr || configIndex >= configurations) {
    throw CUsbDeviceException("COULD NOT SELECT CONFIGURATION");
  }
  UnitInterface claimed;
  claimed.config = &record.config[configIndex];
  if (usb_set_configuration(handle, claimed.config->bConfigurationValue) != 0) {
    throw CUsbDeviceException("COULD NOT SELECT CONFIGURATION");
  }

  const usb_config_descriptor& config = *claimed.config;
  if (config.bNumInterfaces < 1 || config.interface == nullptr ||
      config.interface[0].num_altsetting < 1 || config.interface[0].altsetting == nullptr) {
    throw CUsbDeviceException("COULD NOT CLAIM INTERFACE");
  }
  claimed.interface = &config.interface[0].altsetting[0];
  if (usb_claim_interface(handle, claimed.interface->bInterfaceNumber) != 0) {
    throw CUsbDeviceException("COULD NOT CLAIM INTERFACE");
  }
  if (usb_set_altinterface(handle, claimed.interface->bAlternateSetting) != 0) {
    throw CUsbDeviceException("COULD NOT SET ALTERNATE INTERFACE");
  }

  if (claimed.interface->bNumEndpoints < endpointCount || claimed.interface->endpoint == nullptr) {
    throw CUsbDeviceException("COULD NOT FIND ENDPOINTS");
  }
  claimed.endpoints = claimed.interface->endpoint;
  return claimed;
}

}  // namespace vorn
