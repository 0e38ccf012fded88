#pragma once
// One discovered disk, as the device combo shows it.

#include <memory>
#include <string>
#include <variant>

struct usb_device;  // libusb 0.1 device record (usb.h)

namespace vorn {

// A unit entry owns a copy of libusb's device record; copies of the entry share it.
// (Spelled `struct usb_device`: usb.h also declares a function of that name.)
using UnitRecord = std::shared_ptr<const struct usb_device>;

struct DeviceEntry {
  // Drive entry: the physical drive number 0..25. Unit entry: the record copy.
  // An image entry (ours: a disk image file) carries no key; its text is the path.
  std::variant<std::monostate, int, UnitRecord> key;
  std::string text;
  std::string name;  // "VORN%i" for a unit, empty otherwise

  const int* DriveNumber() const { return std::get_if<int>(&key); }
  const struct usb_device* Unit() const {
    const UnitRecord* record = std::get_if<UnitRecord>(&key);
    return record ? record->get() : nullptr;
  }
};

}  // namespace vorn
