// The simulated unit seen through raw libusb 0.1 calls: its records, the
// protocol it answers, and its refusal of anything out of shape.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <usb.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/support/SimTestBed.h"

namespace vorn {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

constexpr int kIn = 0x81;
constexpr int kOut = 0x02;
constexpr int kLiveOut = 0x06;

class SimUnitTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::CSimTestBed::Active()) << "simulator not linked first"; }

  // Installs one unit numbered 5 (plus a plain device before it) and returns
  // libusb's record of the unit.
  struct usb_device* Install(sim::SimUnitSpec spec = {}) {
    spec.devnum = 5;
    if (spec.image.empty()) spec.image = m_bed.Image("disk.img", 256);
    if (spec.capture.empty()) spec.capture = m_bed.Path("live.bin");
    if (spec.baudFile.empty()) spec.baudFile = m_bed.Path("baud.txt");
    sim::CSimConfigWriter writer;
    writer.Bus("001").Device(1, "1d6b:0002").Unit(spec);
    m_bed.Install(writer);
    usb_init();
    usb_find_busses();
    usb_find_devices();
    struct usb_bus* bus = usb_get_busses();
    if (bus == nullptr || bus->devices == nullptr) return nullptr;
    return bus->devices->next;
  }

  // Opens on configuration `value` and claims interface 0.
  usb_dev_handle* OpenClaimed(struct usb_device* record, int value) {
    usb_dev_handle* handle = usb_open(record);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(usb_set_configuration(handle, value), 0);
    EXPECT_EQ(usb_claim_interface(handle, 0), 0);
    EXPECT_EQ(usb_set_altinterface(handle, 0), 0);
    return handle;
  }

  static int Command(usb_dev_handle* handle, int request, std::uint32_t first, std::uint32_t count) {
    char block[8] = {static_cast<char>(first), static_cast<char>(first >> 8),
                     static_cast<char>(first >> 16), static_cast<char>(first >> 24),
                     static_cast<char>(count), static_cast<char>(count >> 8),
                     static_cast<char>(count >> 16), static_cast<char>(count >> 24)};
    return usb_control_msg(handle, 0x40, request, 0, 0, block, 8, 5000);
  }

  std::vector<std::string> OutOfShape() const { return m_bed.Log().OutOfShape(); }

  test::CSimTestBed m_bed;
};

TEST_F(SimUnitTest, RecordsLookLikeARealUnit) {
  struct usb_device* unit = Install();
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(unit->devnum, 5);
  EXPECT_STREQ(unit->filename, "005");
  EXPECT_STREQ(unit->bus->dirname, "001");
  EXPECT_EQ(unit->descriptor.idVendor, 0xAA00);
  EXPECT_EQ(unit->descriptor.idProduct, 0x0001);
  EXPECT_EQ(unit->descriptor.iManufacturer, 1);
  EXPECT_EQ(unit->descriptor.iProduct, 2);
  ASSERT_EQ(unit->descriptor.bNumConfigurations, 2);

  const usb_config_descriptor& disk = unit->config[0];
  EXPECT_EQ(disk.bConfigurationValue, 1);
  const usb_interface_descriptor& diskAlt = disk.interface[0].altsetting[0];
  EXPECT_EQ(diskAlt.bInterfaceNumber, 0);
  ASSERT_EQ(diskAlt.bNumEndpoints, 2);
  EXPECT_EQ(diskAlt.endpoint[0].bEndpointAddress, kIn);
  EXPECT_EQ(diskAlt.endpoint[1].bEndpointAddress, kOut);
  EXPECT_EQ(diskAlt.endpoint[0].bmAttributes, USB_ENDPOINT_TYPE_BULK);

  const usb_config_descriptor& live = unit->config[1];
  EXPECT_EQ(live.bConfigurationValue, 2);
  const usb_interface_descriptor& liveAlt = live.interface[0].altsetting[0];
  ASSERT_EQ(liveAlt.bNumEndpoints, 1);
  EXPECT_EQ(liveAlt.endpoint[0].bEndpointAddress, kLiveOut);

  usb_dev_handle* handle = usb_open(unit);
  ASSERT_NE(handle, nullptr);
  char text[8];
  EXPECT_EQ(usb_get_string_simple(handle, 1, text, sizeof text), 7);
  EXPECT_STREQ(text, "Calveri");  // cut to the buffer, terminated
  EXPECT_EQ(usb_close(handle), 0);
}

TEST_F(SimUnitTest, IdentifyBlockIsAtaShapedAndStatusConfirmsIt) {
  sim::SimUnitSpec spec;
  spec.model = "ABCD";
  spec.serial = "123";
  usb_dev_handle* handle = OpenClaimed(Install(spec), 1);
  ASSERT_EQ(usb_control_msg(handle, 0x40, 0xA1, 0, 0, nullptr, 0, 5000), 0);
  unsigned char block[512];
  ASSERT_EQ(usb_bulk_read(handle, kIn, reinterpret_cast<char*>(block), 512, 5000), 512);
  EXPECT_EQ(block[54], 'B');
  EXPECT_EQ(block[55], 'A');
  EXPECT_EQ(block[56], 'D');
  EXPECT_EQ(block[57], 'C');
  EXPECT_EQ(block[58], ' ');
  EXPECT_EQ(block[20], '2');
  EXPECT_EQ(block[21], '1');
  EXPECT_EQ(block[22], ' ');
  EXPECT_EQ(block[23], '3');
  EXPECT_EQ(block[120] | block[121] << 8 | block[122] << 16 | block[123] << 24, 256);

  unsigned char sum = 0;
  for (unsigned char b : block) sum ^= b;
  unsigned char status[128];
  ASSERT_EQ(usb_bulk_read(handle, kIn, reinterpret_cast<char*>(status), 128, 5000), 128);
  EXPECT_EQ(status[0], 0xFF);
  EXPECT_EQ(status[1], 0xFF);
  EXPECT_EQ(status[2], sum);
  bool tailUsed = false;
  for (int i = 3; i < 128; ++i) tailUsed |= status[i] != 0;
  EXPECT_TRUE(tailUsed);  // hosts must not rely on the tail being blank
  usb_release_interface(handle, 0);
  usb_close(handle);
  EXPECT_THAT(OutOfShape(), IsEmpty());
}

TEST_F(SimUnitTest, RefusesWhatARealUnitWouldRefuse) {
  usb_dev_handle* handle = OpenClaimed(Install(), 1);
  char data[1024] = {};
  char status[128];

  EXPECT_EQ(usb_bulk_read(handle, kIn, data, 512, 5000), -ETIMEDOUT);           // before a command
  EXPECT_EQ(usb_control_msg(handle, 0xC0, 0xA0, 0, 0, data, 8, 5000), -EPIPE);  // wrong type
  EXPECT_EQ(usb_control_msg(handle, 0x40, 0xA0, 0, 0, data, 4, 5000), -EPIPE);  // wrong length
  EXPECT_EQ(usb_control_msg(handle, 0x40, 0xA1, 0, 0, data, 8, 5000), -EPIPE);  // identify with data
  EXPECT_EQ(usb_control_msg(handle, 0x40, 0xA0, 1, 0, data, 8, 5000), -EPIPE);  // nonzero value
  EXPECT_EQ(usb_control_msg(handle, 0x40, 0xA0, 0, 0, data, 8, 1000), -EPIPE);  // wrong time-out
  EXPECT_EQ(usb_control_msg(handle, 0x40, 0xA3, 0, 0, data, 1, 1000), -EPIPE);  // baud on disk config
  EXPECT_EQ(usb_control_msg(handle, 0x40, 0xA7, 0, 0, data, 8, 5000), -EPIPE);  // unknown request

  ASSERT_EQ(Command(handle, 0xA0, 0, 2), 8);
  EXPECT_EQ(usb_bulk_read(handle, kIn, data, 512, 5000), -EOVERFLOW);  // not the announced length
  ASSERT_EQ(Command(handle, 0xA0, 0, 2), 8);
  EXPECT_EQ(usb_bulk_read(handle, 0, data, 1024, 5000), -EINVAL);   // an index, not an address
  EXPECT_EQ(usb_bulk_read(handle, kLiveOut, data, 1024, 5000), -EINVAL);  // other configuration
  ASSERT_EQ(Command(handle, 0xA0, 0, 2), 8);
  EXPECT_EQ(Command(handle, 0xA0, 0, 2), -EPIPE);  // a command over an unfinished one
  ASSERT_EQ(Command(handle, 0xA2, 0, 1), 8);
  EXPECT_EQ(usb_bulk_read(handle, kIn, status, 128, 5000), -ETIMEDOUT);  // status before the data
  EXPECT_EQ(usb_bulk_write(handle, kOut, data, 512, 5000), -ETIMEDOUT);  // the write was dropped

  EXPECT_EQ(usb_release_interface(handle, 1), -EINVAL);
  EXPECT_EQ(usb_release_interface(handle, 0), 0);
  EXPECT_EQ(Command(handle, 0xA0, 0, 1), -EINVAL);  // interface no longer claimed
  EXPECT_EQ(usb_set_altinterface(handle, 0), -EINVAL);
  EXPECT_EQ(usb_set_configuration(handle, 3), -EINVAL);
  EXPECT_STREQ(usb_strerror(), "Invalid argument");
  usb_close(handle);
  EXPECT_EQ(usb_close(handle), -EINVAL);  // closed twice

  EXPECT_THAT(OutOfShape(), SizeIs(19));
  EXPECT_THAT(OutOfShape()[0], HasSubstr("005 OUT-OF-SHAPE bulk read of 512 bytes with nothing due"));
}

TEST_F(SimUnitTest, SectorsBeyondTheDiskFailInTheStatus) {
  usb_dev_handle* handle = OpenClaimed(Install(), 1);
  std::vector<char> data(2 * 512, 'x');
  ASSERT_EQ(Command(handle, 0xA0, 255, 2), 8);
  ASSERT_EQ(usb_bulk_read(handle, kIn, data.data(), 1024, 5000), 1024);
  unsigned char status[128];
  ASSERT_EQ(usb_bulk_read(handle, kIn, reinterpret_cast<char*>(status), 128, 5000), 128);
  EXPECT_NE(status[0], 0xFF);
  EXPECT_THAT(OutOfShape(), ElementsAre(HasSubstr("beyond the disk")));
  usb_close(handle);
}

TEST_F(SimUnitTest, LiveConfigurationRecordsBaudAndCapturesBlocks) {
  usb_dev_handle* handle = OpenClaimed(Install(), 2);
  char code = 4;
  ASSERT_EQ(usb_control_msg(handle, 0x40, 0xA3, 0, 0, &code, 1, 1000), 1);

  std::vector<char> first(128), second(256);
  for (std::size_t i = 0; i < first.size(); ++i) first[i] = static_cast<char>(i);
  for (std::size_t i = 0; i < second.size(); ++i) second[i] = static_cast<char>(255 - i);
  ASSERT_EQ(usb_bulk_write(handle, kLiveOut, first.data(), 128, 6000), 128);
  ASSERT_EQ(usb_bulk_write(handle, kLiveOut, second.data(), 256, 6000), 256);

  EXPECT_EQ(usb_bulk_write(handle, kLiveOut, first.data(), 100, 6000), -EPIPE);  // not whole 128s
  EXPECT_EQ(usb_bulk_write(handle, kLiveOut, first.data(), 128, 5000), -EINVAL);  // wrong time-out
  EXPECT_EQ(usb_bulk_write(handle, kOut, first.data(), 128, 5000), -EINVAL);  // disk endpoint
  EXPECT_EQ(Command(handle, 0xA0, 0, 1), -EPIPE);  // disk requests belong to configuration 1
  code = 6;
  EXPECT_EQ(usb_control_msg(handle, 0x40, 0xA3, 0, 0, &code, 1, 1000), -EPIPE);  // no such code
  EXPECT_EQ(usb_release_interface(handle, 0), 0);
  usb_close(handle);

  std::ifstream capture(m_bed.Path("live.bin"), std::ios::binary);
  const std::vector<char> captured{std::istreambuf_iterator<char>(capture), {}};
  std::vector<char> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(captured, expected);

  std::ifstream baud(m_bed.Path("baud.txt"));
  int recorded = -1;
  baud >> recorded;
  EXPECT_EQ(recorded, 4);
  EXPECT_THAT(m_bed.Log().Matching("baud"), ElementsAre(HasSubstr("001/005 baud 4")));
  EXPECT_THAT(m_bed.Log().Matching("capture"), SizeIs(2));
  EXPECT_THAT(OutOfShape(), SizeIs(5));
}

TEST_F(SimUnitTest, ClaimsAreExclusiveAndConfigurationWaitsForRelease) {
  struct usb_device* unit = Install();
  usb_dev_handle* first = OpenClaimed(unit, 1);
  usb_dev_handle* second = usb_open(unit);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(usb_claim_interface(second, 0), -EBUSY);
  EXPECT_EQ(usb_set_configuration(second, 2), -EBUSY);
  usb_close(first);  // closing gives the interface up
  EXPECT_EQ(usb_set_configuration(second, 2), 0);
  EXPECT_EQ(usb_claim_interface(second, 0), 0);
  usb_close(second);
}

TEST_F(SimUnitTest, UnplugRemovesTheUnitFromTheNextScan) {
  sim::SimUnitSpec spec;
  spec.faults = {"unplug-after 1"};
  struct usb_device* unit = Install(spec);
  usb_dev_handle* handle = OpenClaimed(unit, 1);
  ASSERT_EQ(usb_control_msg(handle, 0x40, 0xA1, 0, 0, nullptr, 0, 5000), 0);
  char block[512];
  EXPECT_EQ(usb_bulk_read(handle, kIn, block, 512, 5000), -ENODEV);
  EXPECT_STREQ(usb_strerror(), "No such device");
  EXPECT_EQ(usb_open(unit), nullptr);
  usb_close(handle);

  usb_find_busses();
  usb_find_devices();
  struct usb_bus* bus = usb_get_busses();
  ASSERT_NE(bus, nullptr);
  ASSERT_NE(bus->devices, nullptr);
  EXPECT_EQ(bus->devices->devnum, 1);
  EXPECT_EQ(bus->devices->next, nullptr);
}

TEST_F(SimUnitTest, ABrokenConfigLeavesAnEmptyWorld) {
  std::ofstream(m_bed.Path("broken.conf")) << "bus 001\nunit 300\n";
  ::setenv("VORN_USB_SIM_CONFIG", m_bed.Path("broken.conf").c_str(), 1);
  usb_init();
  usb_find_busses();
  usb_find_devices();
  EXPECT_EQ(usb_get_busses(), nullptr);
}

}  // namespace
}  // namespace vorn
