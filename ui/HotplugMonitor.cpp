#include "ui/HotplugMonitor.h"

#include <libudev.h>

#include <cstring>

namespace vorn {
namespace {

struct DeviceDeleter {
  void operator()(udev_device* d) const { udev_device_unref(d); }
};

std::string OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

bool IsDeviceListEvent(const std::string& subsystem, const std::string& action, bool mediaChange) {
  if (subsystem != "usb" && subsystem != "block") return false;
  if (action == "add" || action == "remove") return true;
  return subsystem == "block" && action == "change" && mediaChange;
}

void CHotplugMonitor::UdevDeleter::operator()(udev* u) const { udev_unref(u); }
void CHotplugMonitor::MonitorDeleter::operator()(udev_monitor* m) const { udev_monitor_unref(m); }

CHotplugMonitor::CHotplugMonitor(QObject* parent, int settleMs) : QObject(parent) {
  m_settle.setSingleShot(true);
  m_settle.setInterval(settleMs);
  connect(&m_settle, &QTimer::timeout, this, &CHotplugMonitor::DevicesChanged);

  m_udev.reset(udev_new());
  if (!m_udev) return;
  m_monitor.reset(udev_monitor_new_from_netlink(m_udev.get(), "udev"));
  if (!m_monitor) return;
  if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor.get(), "usb", nullptr) < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(m_monitor.get(), "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(m_monitor.get()) < 0) {
    m_monitor.reset();
    return;
  }
  const int fd = udev_monitor_get_fd(m_monitor.get());
  if (fd < 0) {
    m_monitor.reset();
    return;
  }
  m_notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(m_notifier.get(), &QSocketNotifier::activated, this, &CHotplugMonitor::OnReadable);
}

CHotplugMonitor::~CHotplugMonitor() {
  m_notifier.reset();  // stop watching the socket before it closes
}

void CHotplugMonitor::OnReadable() {
  // Drain every queued event; the socket is non-blocking, so this ends when empty.
  bool relevant = false;
  while (true) {
    std::unique_ptr<udev_device, DeviceDeleter> device(udev_monitor_receive_device(m_monitor.get()));
    if (!device) break;
    const std::string media = OrEmpty(udev_device_get_property_value(device.get(), "DISK_MEDIA_CHANGE"));
    if (IsDeviceListEvent(OrEmpty(udev_device_get_subsystem(device.get())),
                          OrEmpty(udev_device_get_action(device.get())), media == "1")) {
      relevant = true;
    }
  }
  if (relevant) m_settle.start();
}

}  // namespace vorn
