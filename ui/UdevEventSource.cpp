// The udev monitor as a CDeviceEventSource.
#include <libudev.h>

#include "ui/DeviceEvent.h"

namespace vorn {
namespace {

std::string OrEmpty(const char* text) { return text ? text : ""; }

struct UdevDeleter {
  void operator()(udev* u) const { udev_unref(u); }
};
struct MonitorDeleter {
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
struct DeviceDeleter {
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

class CUdevEventSource final : public CDeviceEventSource {
 public:
  // False when the monitor cannot be set up.
  bool Open() {
    m_udev.reset(udev_new());
    if (!m_udev) return false;
    m_monitor.reset(udev_monitor_new_from_netlink(m_udev.get(), "udev"));
    if (!m_monitor) return false;
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor.get(), "usb", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor.get(), "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_monitor.get()) < 0) {
      return false;
    }
    return udev_monitor_get_fd(m_monitor.get()) >= 0;
  }

  int Fd() const override { return udev_monitor_get_fd(m_monitor.get()); }

  std::optional<DeviceEvent> Receive() override {
    // The monitor's socket is non-blocking: no device means the queue is empty.
    std::unique_ptr<udev_device, DeviceDeleter> device(udev_monitor_receive_device(m_monitor.get()));
    if (!device) return std::nullopt;
    DeviceEvent event;
    event.subsystem = OrEmpty(udev_device_get_subsystem(device.get()));
    event.action = OrEmpty(udev_device_get_action(device.get()));
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_device_get_properties_list_entry(device.get())) {
      event.properties[OrEmpty(udev_list_entry_get_name(entry))] =
          OrEmpty(udev_list_entry_get_value(entry));
    }
    return event;
  }

 private:
  std::unique_ptr<udev, UdevDeleter> m_udev;
  std::unique_ptr<udev_monitor, MonitorDeleter> m_monitor;
};

}  // namespace

std::unique_ptr<CDeviceEventSource> OpenUdevEventSource() {
  auto source = std::make_unique<CUdevEventSource>();
  if (!source->Open()) return nullptr;
  return source;
}

}  // namespace vorn
