// A VORN disk kept on a simulated unit: format, append, read the table back,
// remove, all through CUsbDevice, without one request out of shape.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "device/DeviceExceptions.h"
#include "device/UsbDevice.h"
#include "device/UsbUnit.h"
#include "disk/VornDisk.h"
#include "tests/support/SimTestBed.h"

namespace vorn {
namespace {

using ::testing::IsEmpty;

class UnitDiskRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::CSimTestBed::Active()) << "simulator not linked first";
    sim::SimUnitSpec unit;
    unit.devnum = 2;
    unit.image = m_bed.Image("disk.img", 4096);
    sim::CSimConfigWriter writer;
    writer.Bus("001").Unit(unit);
    m_bed.Install(writer);
    const struct usb_device* record = FindUnitByName("VORN2");
    ASSERT_NE(record, nullptr);
    m_entry.key = UnitRecord(std::make_shared<const struct usb_device>(*record));
    m_entry.name = "VORN2";
  }

  // One user action: a fresh device and disk, released at its end.
  template <class Action>
  void WithDisk(Action action) {
    CUsbDevice device;
    device.Open(m_entry);
    ASSERT_TRUE(device.Identify());
    {
      CVornDisk disk(device, nullptr);
      disk.ReadTable();
      action(disk, device);
    }
    device.Close();
  }

  static RoutineEntry Routine(const char* title, std::uint32_t start, std::uint32_t length) {
    RoutineEntry entry;
    std::memcpy(entry.title.data(), title, std::min(std::strlen(title), entry.title.size()));
    entry.startSector = start;
    entry.dataSector = start + length / 2;
    entry.endSector = start + length;
    entry.frameRate = 33;
    entry.baudCode = 2;
    return entry;
  }

  static void AppendPattern(CVornDisk& disk, CSectorDevice& device, const char* title,
                            std::uint32_t length) {
    const RoutineEntry entry = Routine(title, disk.NextFreeSector(), length);
    disk.AppendRoutine(entry, [&] {
      std::vector<std::uint8_t> data(length * kSectorSize, static_cast<std::uint8_t>(title[0]));
      device.WriteSectors(entry.startSector, length, data.data());
    });
  }

  test::CSimTestBed m_bed;
  DeviceEntry m_entry;
};

TEST_F(UnitDiskRoundTripTest, FormatAppendReadRemove) {
  WithDisk([](CVornDisk& disk, CSectorDevice&) {
    EXPECT_FALSE(disk.IsValid());  // a blank disk
    disk.Format();
  });
  WithDisk([](CVornDisk& disk, CSectorDevice& device) {
    ASSERT_TRUE(disk.IsValid());
    EXPECT_THAT(disk.Table(), IsEmpty());
    AppendPattern(disk, device, "First", 40);
    AppendPattern(disk, device, "Second", 300);  // more than one 64 KiB piece
  });
  std::vector<RoutineEntry> written;
  WithDisk([&](CVornDisk& disk, CSectorDevice& device) {
    ASSERT_TRUE(disk.IsValid());
    ASSERT_EQ(disk.Table().size(), 2u);
    EXPECT_EQ(disk.Table()[0].Title(), "First");
    EXPECT_EQ(disk.Table()[1].Title(), "Second");
    written = disk.Table();
    std::vector<std::uint8_t> sector(kSectorSize);
    device.ReadSectors(disk.Table()[1].endSector - 1, 1, sector.data());
    EXPECT_EQ(sector[511], 'S');
    disk.RemoveLastRoutine();
  });
  WithDisk([&](CVornDisk& disk, CSectorDevice&) {
    ASSERT_EQ(disk.Table().size(), 1u);
    EXPECT_EQ(disk.Table()[0], written[0]);
  });

  std::ifstream image(m_bed.Path("disk.img"), std::ios::binary);
  unsigned char magic[4] = {};
  image.read(reinterpret_cast<char*>(magic), 4);
  EXPECT_EQ(magic[0], 0x00);
  EXPECT_EQ(magic[1], 0xAA);
  EXPECT_EQ(magic[2], 0x00);
  EXPECT_EQ(magic[3], 0xAA);
  EXPECT_THAT(m_bed.Log().OutOfShape(), IsEmpty());
}

TEST_F(UnitDiskRoundTripTest, ATableReadFromAFailingUnitThrowsItsMessage) {
  WithDisk([](CVornDisk& disk, CSectorDevice&) { disk.Format(); });
  sim::SimUnitSpec unit;
  unit.devnum = 2;
  unit.image = m_bed.Path("disk.img");
  unit.faults = {"status-checksum after 3"};  // identify passes, the header read fails
  sim::CSimConfigWriter writer;
  writer.Bus("001").Unit(unit);
  m_bed.Install(writer);
  m_entry.key = UnitRecord(std::make_shared<const struct usb_device>(*FindUnitByName("VORN2")));

  CUsbDevice device;
  device.Open(m_entry);
  ASSERT_TRUE(device.Identify());
  CVornDisk disk(device, nullptr);
  try {
    disk.ReadTable();
    FAIL() << "read";
  } catch (const CUsbDeviceException& error) {
    EXPECT_EQ(error.GetMessage(), "Invalid checksum");
  }
  device.Close();
}

}  // namespace
}  // namespace vorn
