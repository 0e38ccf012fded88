#pragma once
// The kernel's device events as the window sees them, and where they come from.
// The decision whether an event calls for a new disk list is kept apart from
// libudev, so that it can be checked without a kernel to send events.

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace vorn {

// One device event: subsystem ("usb", "block", ...), action ("add", "remove",
// "change", ...) and the event's properties (DISK_MEDIA_CHANGE, DEVTYPE, ...).
struct DeviceEvent {
  std::string subsystem;
  std::string action;
  std::map<std::string, std::string> properties;
};

// Whether the list of disks may have changed: a usb or block device was added
// or removed, or a block device reports new or removed media
// (action "change" with DISK_MEDIA_CHANGE=1). Other block changes are left
// alone: udev sends one whenever a writer closes a disk node, so every import
// and format of ours would otherwise rebuild the list.
bool CallsForRefresh(const DeviceEvent& event);

// A queue of device events behind a file descriptor that polls readable while
// events wait.
class CDeviceEventSource {
 public:
  virtual ~CDeviceEventSource() = default;
  virtual int Fd() const = 0;
  // The next waiting event; none when the queue is empty (never blocks).
  virtual std::optional<DeviceEvent> Receive() = 0;
};

// The udev monitor on the usb and block subsystems; null when its socket cannot
// be opened (no netlink, e.g. in a sandbox).
std::unique_ptr<CDeviceEventSource> OpenUdevEventSource();

}  // namespace vorn
