// Which device events rebuild the disk list, and the monitor's handling of them,
// with events fed through a pipe instead of the kernel's socket.
#include "ui/HotplugMonitor.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <fcntl.h>
#include <unistd.h>

#include <deque>
#include <memory>

#include "EventLoop.h"

namespace vorn {
namespace {

DeviceEvent Event(const char* subsystem, const char* action,
                  std::map<std::string, std::string> properties = {}) {
  return DeviceEvent{subsystem, action, std::move(properties)};
}

TEST(HotplugFilterTest, AddRemoveOfUsbAndBlockAndMediaChangesRefresh) {
  EXPECT_TRUE(CallsForRefresh(Event("usb", "add", {{"DEVTYPE", "usb_device"}})));
  EXPECT_TRUE(CallsForRefresh(Event("usb", "remove", {{"DEVTYPE", "usb_interface"}})));
  EXPECT_TRUE(CallsForRefresh(Event("block", "add", {{"DEVTYPE", "partition"}})));
  EXPECT_TRUE(CallsForRefresh(Event("block", "remove", {{"DEVTYPE", "disk"}})));
  // A card put into or taken out of a reader.
  EXPECT_TRUE(CallsForRefresh(Event("block", "change", {{"DISK_MEDIA_CHANGE", "1"}})));

  // The change udev sends when a writer closes a disk node (after our own
  // imports and formats), and other changes, leave the list alone.
  EXPECT_FALSE(CallsForRefresh(Event("block", "change", {{"DEVTYPE", "disk"}})));
  EXPECT_FALSE(CallsForRefresh(Event("block", "change", {{"DISK_MEDIA_CHANGE", "0"}})));
  EXPECT_FALSE(CallsForRefresh(Event("block", "change", {{"DISK_EJECT_REQUEST", "1"}})));
  EXPECT_FALSE(CallsForRefresh(Event("usb", "change", {{"DISK_MEDIA_CHANGE", "1"}})));
  EXPECT_FALSE(CallsForRefresh(Event("usb", "bind")));
  EXPECT_FALSE(CallsForRefresh(Event("usb", "unbind")));
  EXPECT_FALSE(CallsForRefresh(Event("net", "add")));
  EXPECT_FALSE(CallsForRefresh(Event("", "")));
}

// Events queued by the test; a byte per event in a pipe makes the read end
// poll readable while events wait, like the udev socket. Test and monitor both
// run on the test's thread.
class CPipeEventSource final : public CDeviceEventSource {
 public:
  struct Queue {
    std::deque<DeviceEvent> events;
    int writeFd = -1;
    int receives = 0;

    void Push(std::initializer_list<DeviceEvent> burst) {
      for (const DeviceEvent& event : burst) {
        events.push_back(event);
        const char byte = 1;
        EXPECT_EQ(::write(writeFd, &byte, 1), 1);
      }
    }
  };

  explicit CPipeEventSource(std::shared_ptr<Queue> queue) : m_queue(std::move(queue)) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    m_readFd = fds[0];
    m_queue->writeFd = fds[1];
  }
  ~CPipeEventSource() override {
    ::close(m_readFd);
    ::close(m_queue->writeFd);
  }

  int Fd() const override { return m_readFd; }
  std::optional<DeviceEvent> Receive() override {
    ++m_queue->receives;
    char byte;
    if (::read(m_readFd, &byte, 1) != 1 || m_queue->events.empty()) return std::nullopt;
    DeviceEvent event = m_queue->events.front();
    m_queue->events.pop_front();
    return event;
  }

 private:
  std::shared_ptr<Queue> m_queue;
  int m_readFd = -1;
};

TEST(HotplugMonitorTest, ABurstOfRelevantEventsGivesOneChangeAndOthersNone) {
  auto queue = std::make_shared<CPipeEventSource::Queue>();
  CHotplugMonitor monitor(std::make_unique<CPipeEventSource>(queue), nullptr, /*settleMs=*/50);
  ASSERT_TRUE(monitor.IsActive());
  QSignalSpy changes(&monitor, &CHotplugMonitor::DevicesChanged);

  // A unit plugged in: the device, its interface, its disk and partition.
  queue->Push({Event("usb", "add"), Event("usb", "bind"), Event("block", "add"),
               Event("block", "add", {{"DEVTYPE", "partition"}})});
  ASSERT_TRUE(test::WaitUntil([&] { return changes.count() > 0; }, 5000));
  test::WaitUntil([] { return false; }, 150);
  EXPECT_EQ(changes.count(), 1);
  EXPECT_TRUE(queue->events.empty());

  // Our own write closing a disk node: read, and nothing more.
  const int receives = queue->receives;
  queue->Push({Event("block", "change"), Event("net", "add")});
  ASSERT_TRUE(test::WaitUntil([&] { return queue->events.empty(); }, 5000));
  test::WaitUntil([] { return false; }, 150);
  EXPECT_GT(queue->receives, receives);
  EXPECT_EQ(changes.count(), 1);

  // A card taken out of a reader.
  queue->Push({Event("block", "change", {{"DISK_MEDIA_CHANGE", "1"}})});
  ASSERT_TRUE(test::WaitUntil([&] { return changes.count() == 2; }, 5000));
}

TEST(HotplugMonitorTest, WithoutAnEventSourceItWatchesNothing) {
  CHotplugMonitor monitor(nullptr, nullptr, 0);
  EXPECT_FALSE(monitor.IsActive());
}

}  // namespace
}  // namespace vorn
