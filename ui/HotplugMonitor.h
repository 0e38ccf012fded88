#pragma once
// Device arrival, removal and media change, from the kernel's device events
// (libudev monitor on the usb and block subsystems) read on the user-interface
// thread through a socket notifier. A burst of events from one plug-in (the USB
// device, its interfaces, its disks and partitions) becomes one DevicesChanged.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <string>

struct udev;
struct udev_monitor;

namespace vorn {

// Whether one device event means the list of disks may have changed: any add or
// remove of a usb or block device, and a block change that reports new media.
bool IsDeviceListEvent(const std::string& subsystem, const std::string& action,
                       bool mediaChange);

class CHotplugMonitor : public QObject {
  Q_OBJECT

 public:
  explicit CHotplugMonitor(QObject* parent = nullptr, int settleMs = 250);
  ~CHotplugMonitor() override;

  // False when the event socket could not be opened (no netlink, e.g. in a
  // sandbox): the window then refreshes only on request.
  bool IsActive() const { return m_notifier != nullptr; }

 signals:
  void DevicesChanged();

 private:
  void OnReadable();

  struct UdevDeleter {
    void operator()(udev* u) const;
  };
  struct MonitorDeleter {
    void operator()(udev_monitor* m) const;
  };
  std::unique_ptr<udev, UdevDeleter> m_udev;
  std::unique_ptr<udev_monitor, MonitorDeleter> m_monitor;
  std::unique_ptr<QSocketNotifier> m_notifier;
  QTimer m_settle;
};

}  // namespace vorn
