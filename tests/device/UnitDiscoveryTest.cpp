// Unit discovery and lookup by name on simulated buses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <usb.h>

#include "device/DeviceDiscovery.h"
#include "device/DeviceExceptions.h"
#include "device/UsbDevice.h"
#include "device/UsbUnit.h"
#include "tests/support/SimTestBed.h"

namespace vorn {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class UnitDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test::CSimTestBed::Active()) << "simulator not linked first"; }

  sim::SimUnitSpec Unit(int devnum, const std::string& product = "VORN3 Unit") {
    sim::SimUnitSpec spec;
    spec.devnum = devnum;
    spec.product = product;
    spec.image = m_bed.Image("disk" + std::to_string(devnum) + ".img", 64);
    return spec;
  }

  static std::vector<std::string> Names(const std::vector<DeviceEntry>& entries) {
    std::vector<std::string> names;
    for (const DeviceEntry& entry : entries) names.push_back(entry.name);
    return names;
  }

  test::CSimTestBed m_bed;
};

TEST_F(UnitDiscoveryTest, ListsUnitsInBusOrderAndSkipsOtherDevices) {
  sim::CSimConfigWriter writer;
  writer.Bus("001")
      .Device(1, "1d6b:0002", std::string("Linux Foundation"), std::string("Root Hub"))
      .Unit(Unit(4, "VORN3 Second"))
      .Unit(Unit(2, "VORN3 First"))
      .Device(5, "aa00:0002", std::string("Calverin"), std::string("Not A Unit"));
  writer.Bus("002").Unit(Unit(3, "VORN3 Other Bus"));
  m_bed.Install(writer);

  std::vector<DeviceEntry> units;
  EnumerateUnits(units);
  EXPECT_THAT(Names(units), ElementsAre("VORN4", "VORN2", "VORN3"));
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].text, "Calverin - VORN3 Second (4)");
  EXPECT_EQ(units[1].text, "Calverin - VORN3 First (2)");
  EXPECT_EQ(units[2].text, "Calverin - VORN3 Other Bus (3)");

  // Every entry owns a copy of the record, not libusb's own.
  const struct usb_device* live = FindUnitByName("VORN2");
  ASSERT_NE(live, nullptr);
  EXPECT_NE(units[1].Unit(), live);
  EXPECT_EQ(units[1].Unit()->devnum, 2);

  // The enumeration released every unit it opened: each one opens again.
  for (const DeviceEntry& entry : units) {
    CUsbDevice device;
    device.Open(entry);
    EXPECT_TRUE(device.Identify());
    device.Close();
  }
  EXPECT_THAT(m_bed.Log().OutOfShape(), IsEmpty());

  FreeUnitEntries(units);
  EXPECT_THAT(units, IsEmpty());
  FreeUnitEntries(units);  // harmless on an empty list
}

TEST_F(UnitDiscoveryTest, FindByNameSkipsAWrongProductWithTheSameNumber) {
  sim::CSimConfigWriter writer;
  writer.Bus("001").Device(3, "aa00:0002", std::string("Calverin"), std::string("VORN3 Unit"));
  writer.Bus("002").Unit(Unit(4)).Unit(Unit(3));
  m_bed.Install(writer);

  const struct usb_device* found = FindUnitByName("VORN3");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->devnum, 3);
  EXPECT_STREQ(found->bus->dirname, "002");
  EXPECT_EQ(FindUnitByName("vorn3"), nullptr);  // names match exactly
  EXPECT_EQ(FindUnitByName("VORN5"), nullptr);
  EXPECT_EQ(FindUnitByName("VORN03"), nullptr);

  std::vector<DeviceEntry> units;
  EnumerateUnits(units);
  EXPECT_THAT(Names(units), ElementsAre("VORN4", "VORN3"));
}

TEST_F(UnitDiscoveryTest, AFailingUnitEndsTheWalkAndKeepsTheEntriesBefore) {
  sim::SimUnitSpec broken = Unit(3);
  broken.faults = {"manufacturer-string"};
  sim::CSimConfigWriter writer;
  writer.Bus("001").Unit(Unit(2)).Unit(broken).Unit(Unit(4));
  m_bed.Install(writer);

  std::vector<DeviceEntry> units;
  try {
    EnumerateUnits(units);
    FAIL() << "enumerated";
  } catch (const CUsbDeviceException& error) {
    EXPECT_EQ(error.GetMessage(), "COULD NOT RETRIEVE MANUFACTURER STRING");
  }
  EXPECT_THAT(Names(units), ElementsAre("VORN2"));
}

TEST_F(UnitDiscoveryTest, NothingAttachedGivesAnEmptyList) {
  sim::CSimConfigWriter writer;
  writer.Bus("001").Device(1, "1d6b:0002");
  m_bed.Install(writer);
  std::vector<DeviceEntry> units;
  units.push_back(DeviceEntry{});  // emptied first
  EnumerateUnits(units);
  EXPECT_THAT(units, IsEmpty());
  EXPECT_EQ(FindUnitByName("VORN1"), nullptr);
}

TEST_F(UnitDiscoveryTest, AnEntryFromAnUnpluggedWorldNoLongerOpens) {
  sim::CSimConfigWriter first;
  first.Bus("001").Unit(Unit(2));
  m_bed.Install(first);
  std::vector<DeviceEntry> units;
  EnumerateUnits(units);
  ASSERT_EQ(units.size(), 1u);

  sim::CSimConfigWriter second;  // the unit was pulled and plugged back in
  second.Bus("001").Unit(Unit(2));
  m_bed.Install(second);
  EXPECT_NE(FindUnitByName("VORN2"), nullptr);

  CUsbDevice device;
  try {
    device.Open(units[0]);
    FAIL() << "opened";
  } catch (const CUsbDeviceException& error) {
    EXPECT_EQ(error.GetMessage(), "Unable to open device");
  }
}

}  // namespace
}  // namespace vorn
