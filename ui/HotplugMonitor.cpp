#include "ui/HotplugMonitor.h"

namespace vorn {

CHotplugMonitor::CHotplugMonitor(QObject* parent, int settleMs)
    : CHotplugMonitor(OpenUdevEventSource(), parent, settleMs) {}

CHotplugMonitor::CHotplugMonitor(std::unique_ptr<CDeviceEventSource> source, QObject* parent,
                                 int settleMs)
    : QObject(parent), m_source(std::move(source)) {
  m_settle.setSingleShot(true);
  m_settle.setInterval(settleMs);
  connect(&m_settle, &QTimer::timeout, this, &CHotplugMonitor::DevicesChanged);
  if (!m_source) return;
  m_notifier = std::make_unique<QSocketNotifier>(m_source->Fd(), QSocketNotifier::Read);
  connect(m_notifier.get(), &QSocketNotifier::activated, this, &CHotplugMonitor::OnReadable);
}

CHotplugMonitor::~CHotplugMonitor() {
  m_notifier.reset();  // stop watching the descriptor before the source closes it
}

void CHotplugMonitor::OnReadable() {
  // Drain every waiting event; each plug-in sends a burst, and the timer turns
  // the burst into one refresh once it has settled.
  bool relevant = false;
  while (const std::optional<DeviceEvent> event = m_source->Receive()) {
    if (CallsForRefresh(*event)) relevant = true;
  }
  if (relevant) m_settle.start();
}

}  // namespace vorn
