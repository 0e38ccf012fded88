#pragma once
// Device arrival, removal and media change, from the kernel's device events
// (by default the libudev monitor on the usb and block subsystems), read on the
// user-interface thread through a socket notifier. A burst of events from one
// plug-in (the USB device, its interfaces, its disks and partitions) becomes
// one DevicesChanged.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

#include "ui/DeviceEvent.h"

namespace vorn {

class CHotplugMonitor : public QObject {
  Q_OBJECT

 public:
  // Watches the udev monitor.
  explicit CHotplugMonitor(QObject* parent = nullptr, int settleMs = 250);
  // Watches `source`; a null source watches nothing.
  CHotplugMonitor(std::unique_ptr<CDeviceEventSource> source, QObject* parent, int settleMs);
  ~CHotplugMonitor() override;

  // False when there are no events to watch (the udev socket could not be
  // opened): the window then refreshes only on request.
  bool IsActive() const { return m_notifier != nullptr; }

 signals:
  void DevicesChanged();

 private:
  void OnReadable();

  std::unique_ptr<CDeviceEventSource> m_source;
  std::unique_ptr<QSocketNotifier> m_notifier;
  QTimer m_settle;
};

}  // namespace vorn
