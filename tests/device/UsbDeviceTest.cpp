// CUsbDevice against simulated units: the protocol's round trips, and every
// fault the simulator can play mapped to the message the user sees.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

#include "device/DeviceDiscovery.h"
#include "device/DeviceExceptions.h"
#include "device/UsbDevice.h"
#include "device/UsbUnit.h"
#include "tests/support/SimTestBed.h"

namespace vorn {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr std::uint32_t kImageSectors = 2048;

class UsbDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::CSimTestBed::Active()) << "simulator not linked first"; }

  // One bus with one unit numbered 3, shaped by `spec`.
  DeviceEntry InstallUnit(sim::SimUnitSpec spec = {}) {
    spec.devnum = 3;
    if (spec.image.empty()) spec.image = m_bed.Image("disk.img", kImageSectors);
    sim::CSimConfigWriter writer;
    writer.Bus("001").Unit(spec);
    m_bed.Install(writer);
    return EntryFor(FindUnitByName("VORN3"));
  }

  static DeviceEntry EntryFor(const struct usb_device* record) {
    DeviceEntry entry;
    if (record != nullptr) entry.key = UnitRecord(std::make_shared<const struct usb_device>(*record));
    entry.name = "VORN3";
    return entry;
  }

  std::vector<std::uint8_t> ImageBytes() {
    std::ifstream file(m_bed.Path("disk.img"), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
  }

  test::CSimTestBed m_bed;
};

std::vector<std::uint8_t> RandomSectors(std::uint32_t count, unsigned seed) {
  std::vector<std::uint8_t> data(count * kSectorSize);
  std::mt19937 random(seed);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  return data;
}

TEST_F(UsbDeviceTest, WritesAndReadsBackThroughTheUnit) {
  const DeviceEntry entry = InstallUnit();
  ASSERT_NE(entry.Unit(), nullptr);
  std::unique_ptr<CSectorDevice> device = std::make_unique<CUsbDevice>();
  device->Open(entry);

  const auto data = RandomSectors(128, 7);
  device->WriteSectors(100, 128, data.data());
  std::vector<std::uint8_t> back(data.size(), 0xEE);
  device->ReadSectors(100, 128, back.data());
  EXPECT_EQ(back, data);

  // The sectors landed where they were addressed, byte for byte.
  const auto image = ImageBytes();
  ASSERT_EQ(image.size(), kImageSectors * kSectorSize);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin() + 100 * kSectorSize));
  EXPECT_EQ(image[100 * kSectorSize - 1], 0);

  std::vector<std::uint8_t> one(2 * kSectorSize, 0xEE);
  device->ReadSectors(0, 1, one.data());
  EXPECT_EQ(one[kSectorSize - 1], 0);
  EXPECT_EQ(one[kSectorSize], 0xEE);  // exactly one sector filled

  device->Close();
  EXPECT_THAT(m_bed.Log().OutOfShape(), IsEmpty());
}

TEST_F(UsbDeviceTest, CountZeroSendsTheCommandAndExpectsChecksumZero) {
  const DeviceEntry entry = InstallUnit();
  CUsbDevice device;
  device.Open(entry);
  device.ReadSectors(5, 0, nullptr);
  device.WriteSectors(5, 0, nullptr);
  device.Close();
  const auto log = m_bed.Log();
  EXPECT_EQ(log.Matching("read").size(), 1u);
  EXPECT_EQ(log.Matching("write").size(), 1u);
  EXPECT_THAT(log.Matching("status"), ::testing::Each(HasSubstr("status 0x00")));
  EXPECT_THAT(log.OutOfShape(), IsEmpty());
}

TEST_F(UsbDeviceTest, IdentifyGivesModelSerialAndSize) {
  sim::SimUnitSpec spec;
  spec.model = "ABCD";
  spec.serial = "123";
  const DeviceEntry entry = InstallUnit(spec);
  CUsbDevice device;
  EXPECT_EQ(device.GetName(), "");
  EXPECT_EQ(device.GetSectorCount(), 0u);
  device.Open(entry);
  EXPECT_EQ(device.Manufacturer(), "Calverin");
  EXPECT_EQ(device.Product(), "VORN3 Unit");
  ASSERT_TRUE(device.Identify());
  EXPECT_EQ(device.GetName(), "ABCD - 123");
  EXPECT_EQ(device.Model(), "ABCD");
  EXPECT_EQ(device.Serial(), "123");
  EXPECT_EQ(device.GetSectorCount(), kImageSectors);
  device.Close();
  EXPECT_THAT(m_bed.Log().OutOfShape(), IsEmpty());
}

TEST_F(UsbDeviceTest, UnconfirmedIdentifyKeepsThePreviousIdentity) {
  sim::SimUnitSpec spec;
  spec.faults = {"status-checksum after 3"};  // the second identify's status
  const DeviceEntry entry = InstallUnit(spec);
  CUsbDevice device;
  device.Open(entry);
  ASSERT_TRUE(device.Identify());
  EXPECT_FALSE(device.Identify());
  EXPECT_EQ(device.GetName(), "VORN DISK - 0001");
  EXPECT_EQ(device.GetSectorCount(), kImageSectors);
}

TEST_F(UsbDeviceTest, ManufacturerIndexZeroCannotBeOpened) {
  sim::SimUnitSpec spec;
  spec.manufacturer.reset();
  const DeviceEntry entry = InstallUnit(spec);
  CUsbDevice device;
  try {
    device.Open(entry);
    FAIL() << "opened";
  } catch (const CUsbDeviceException& error) {
    EXPECT_EQ(error.GetMessage(), "COULD NOT RETRIEVE MANUFACTURER STRING");
  }
  EXPECT_THAT(m_bed.Log().OutOfShape(), IsEmpty());  // index 0 is never asked for
}

TEST_F(UsbDeviceTest, ClosedAndMisshapenDevicesRefuseWithoutTouchingTheBus) {
  CUsbDevice closed;
  closed.Close();  // nothing held: nothing to do
  std::vector<std::uint8_t> buffer(kSectorSize);
  EXPECT_THROW(closed.ReadSectors(0, 1, buffer.data()), CUsbDeviceException);
  EXPECT_THROW(closed.Open(DeviceEntry{}), CUsbDeviceException);

  sim::SimUnitSpec spec;
  spec.shape = "no-endpoints";
  const DeviceEntry entry = InstallUnit(spec);
  CUsbDevice device;
  try {
    device.Open(entry);
    FAIL() << "opened";
  } catch (const CUsbDeviceException& error) {
    EXPECT_EQ(error.GetMessage(), "COULD NOT FIND ENDPOINTS");
  }
  // The handle stays for Close; transfers are refused, not sent to no endpoint.
  EXPECT_THROW(device.ReadSectors(0, 1, buffer.data()), CUsbDeviceException);
  EXPECT_THROW(device.WriteSectors(0, 1, buffer.data()), CUsbDeviceException);
  EXPECT_THROW(device.Identify(), CUsbDeviceException);
  EXPECT_THAT(m_bed.Log().Matching("read"), IsEmpty());
  EXPECT_THAT(m_bed.Log().Matching("write"), IsEmpty());
  EXPECT_THAT(m_bed.Log().Matching("identify"), IsEmpty());
  device.Close();
}

TEST_F(UsbDeviceTest, OversizedCountIsRefusedBeforeTheCommand) {
  const DeviceEntry entry = InstallUnit();
  CUsbDevice device;
  device.Open(entry);
  try {
    device.ReadSectors(0, 0x800000u, nullptr);  // 4 GiB: beyond one bulk transfer
    FAIL() << "read";
  } catch (const CUsbDeviceException& error) {
    EXPECT_EQ(error.GetMessage(), "Unable to send read sector command (err=-22)");
  }
  EXPECT_THAT(m_bed.Log().Matching("read"), IsEmpty());
}

// ---- every fault knob, as the user reads it ----

enum class Step { Open, Read, Write, Identify, Close };

struct FaultCase {
  const char* knob;
  Step step;
  const char* message;  // the whole text, or its start when it ends in '*'
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.knob << " / " << c.message; }

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  static const char* const kSteps[] = {"Open", "Read", "Write", "Identify", "Close"};
  std::string name = info.param.knob;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name + "_" + kSteps[static_cast<int>(info.param.step)];
}

class UsbDeviceFaultTest : public UsbDeviceTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UsbDeviceFaultTest, ShowsTheMessage) {
  const FaultCase& c = GetParam();
  sim::SimUnitSpec spec;
  spec.faults = {c.knob};
  const DeviceEntry entry = InstallUnit(spec);
  ASSERT_NE(entry.Unit(), nullptr);

  CUsbDevice device;
  std::vector<std::uint8_t> buffer(4 * kSectorSize, 0x11);
  std::string message;
  bool identified = true;
  try {
    device.Open(entry);
    switch (c.step) {
      case Step::Open: break;
      case Step::Read: device.ReadSectors(8, 4, buffer.data()); break;
      case Step::Write: device.WriteSectors(8, 4, buffer.data()); break;
      case Step::Identify: identified = device.Identify(); break;
      case Step::Close: device.Close(); break;
    }
  } catch (const CUsbDeviceException& error) {
    message = error.GetMessage();
  }
  const std::string expected = c.message;
  if (expected == "false") {
    EXPECT_FALSE(identified);
  } else if (!expected.empty() && expected.back() == '*') {
    EXPECT_THAT(message, StartsWith(expected.substr(0, expected.size() - 1)));
  } else {
    EXPECT_EQ(message, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Knobs, UsbDeviceFaultTest,
    ::testing::Values(
        FaultCase{"open", Step::Open, "Unable to open device"},
        FaultCase{"manufacturer-string", Step::Open, "COULD NOT RETRIEVE MANUFACTURER STRING"},
        FaultCase{"product-string", Step::Open, "COULD NOT RETRIEVE PRODUCT STRING"},
        FaultCase{"set-configuration", Step::Open, "COULD NOT SELECT CONFIGURATION"},
        FaultCase{"claim", Step::Open, "COULD NOT CLAIM INTERFACE"},
        FaultCase{"altsetting", Step::Open, "COULD NOT SET ALTERNATE INTERFACE"},
        FaultCase{"release", Step::Close, "COULD NOT RELEASE INTERFACE"},
        FaultCase{"control", Step::Read, "Unable to send read sector command (err=-32)"},
        FaultCase{"control", Step::Write, "Unable to send write sector command (err=-32)"},
        FaultCase{"control", Step::Identify, "Unable to query device id (err=-32)"},
        FaultCase{"control-timeout", Step::Read, "Unable to send read sector command (err=-110)"},
        FaultCase{"data-timeout", Step::Read, "Unable to read sector (err=-110, Connection timed out)"},
        FaultCase{"data-timeout", Step::Write, "Unable to write sector (err=-110, Connection timed out)"},
        FaultCase{"data-timeout", Step::Identify, "Unable to read device id (err=-110, Connection timed out)"},
        FaultCase{"data-short", Step::Read, "Unable to read sector (err=1024, *"},
        FaultCase{"data-short", Step::Write, "Unable to write sector (err=1024, *"},
        FaultCase{"data-short", Step::Identify, "Unable to read device id (err=256, *"},
        FaultCase{"status-timeout", Step::Read,
                  "Unable to read device id checksum (err=-110, Connection timed out)"},
        FaultCase{"status-short", Step::Write, "Unable to read device id checksum (err=64, *"},
        FaultCase{"status-checksum", Step::Read, "Invalid checksum"},
        FaultCase{"status-checksum", Step::Write, "Invalid checksum"},
        FaultCase{"status-checksum", Step::Identify, "false"},
        FaultCase{"status-bytes", Step::Read, "Invalid checksum"},
        FaultCase{"status-bytes", Step::Identify, "false"},
        FaultCase{"bulk-write", Step::Write, "Unable to write sector (err=-5, Input/output error)"},
        FaultCase{"unplug-after 0", Step::Read, "Unable to send read sector command (err=-19)"},
        FaultCase{"unplug-after 1", Step::Write, "Unable to write sector (err=-19, No such device)"},
        FaultCase{"unplug-after 2", Step::Read,
                  "Unable to read device id checksum (err=-19, No such device)"}),
    CaseName);

}  // namespace
}  // namespace vorn
