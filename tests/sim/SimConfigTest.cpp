// The simulator's config language.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/SimConfig.h"
#include "sim/SimConfigWriter.h"

namespace vorn::sim {
namespace {

using ::testing::HasSubstr;

TEST(SimConfigTest, ReadsBusesDevicesAndKnobs) {
  const SimConfig config = ParseSimConfig(R"(# a test world
log events.log
bus 001
  device 1 1d6b:0002
    product "Root Hub"
bus 002
  unit 3
    manufacturer "Calverin"   # trailing comment
    product "VORN3 \"Quoted\""
    image /abs/disk.img
    model "VORN DISK"
    serial 42
    capture live.bin
    baud-file baud.txt
    fault status-checksum after 5
    fault unplug-after 9
  unit 4 aa00:0002
    shape one-configuration
)",
                                          "/base");
  EXPECT_EQ(config.log, "/base/events.log");
  ASSERT_EQ(config.buses.size(), 2u);
  ASSERT_EQ(config.buses[0].devices.size(), 1u);
  const DeviceConfig& hub = config.buses[0].devices[0];
  EXPECT_FALSE(hub.unit);
  EXPECT_EQ(hub.vendor, 0x1d6b);
  EXPECT_FALSE(hub.manufacturerString.has_value());
  EXPECT_EQ(hub.productString, "Root Hub");

  ASSERT_EQ(config.buses[1].devices.size(), 2u);
  const DeviceConfig& unit = config.buses[1].devices[0];
  EXPECT_TRUE(unit.unit);
  EXPECT_EQ(unit.vendor, 0xAA00);
  EXPECT_EQ(unit.product, 0x0001);
  EXPECT_EQ(unit.productString, "VORN3 \"Quoted\"");
  EXPECT_EQ(unit.image, "/abs/disk.img");
  EXPECT_EQ(unit.capture, "/base/live.bin");
  EXPECT_EQ(unit.baudFile, "/base/baud.txt");
  EXPECT_EQ(unit.serial, "42");
  ASSERT_EQ(unit.faults.size(), 2u);
  EXPECT_EQ(unit.faults[0].fault, Fault::StatusChecksum);
  EXPECT_EQ(unit.faults[0].after, 5u);
  EXPECT_EQ(unit.faults[1].fault, Fault::Unplug);
  EXPECT_EQ(unit.faults[1].after, 9u);

  const DeviceConfig& lookalike = config.buses[1].devices[1];
  EXPECT_TRUE(lookalike.unit);
  EXPECT_EQ(lookalike.product, 0x0002);
  EXPECT_EQ(lookalike.shape, Shape::OneConfiguration);
}

TEST(SimConfigTest, ErrorsNameTheLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"unit 3\n", "line 1: 'unit' before any 'bus'"},
      {"bus 1\nunit 3\nunit 3\n", "line 3: device number 3 is taken"},
      {"bus 1\nunit 256\n", "line 2: bad device number"},
      {"bus 1\nunit 3\n  fault sparks\n", "line 3: unknown fault knob 'sparks'"},
      {"bus 1\ndevice 2 1d6b\n", "line 2: ids must read"},
      {"bus 1\ndevice 2 1d6b:0002\n  image x\n", "line 3: 'image' belongs to a unit"},
      {"bus 1\nunit 2\n  model \"open\n", "line 3: unterminated"},
      {"bus 1\n  model x\n", "line 2: 'model' outside a device"},
      {"bus 1\nunit 2\n  shape round\n", "line 3: unknown shape"},
  };
  for (const auto& c : cases) {
    try {
      ParseSimConfig(c.text, "");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const CSimConfigError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.error)) << c.text;
    }
  }
}

TEST(SimConfigTest, WriterOutputReadsBack) {
  SimUnitSpec spec;
  spec.devnum = 7;
  spec.image = "/tmp/a b.img";
  spec.model = "M \\ \"Q\"";
  spec.manufacturer.reset();
  spec.faults = {"bulk-write after 2"};
  CSimConfigWriter writer;
  writer.Log("/tmp/log").Bus("001").Unit(spec).Device(9, "1234:5678", std::string("X"));
  const SimConfig config = ParseSimConfig(writer.Text(), "/ignored");
  ASSERT_EQ(config.buses.size(), 1u);
  ASSERT_EQ(config.buses[0].devices.size(), 2u);
  const DeviceConfig& unit = config.buses[0].devices[0];
  EXPECT_EQ(unit.devnum, 7);
  EXPECT_EQ(unit.image, "/tmp/a b.img");
  EXPECT_EQ(unit.model, "M \\ \"Q\"");
  EXPECT_FALSE(unit.manufacturerString.has_value());
  EXPECT_EQ(unit.faults[0].fault, Fault::BulkWrite);
  EXPECT_EQ(unit.faults[0].after, 2u);
  EXPECT_EQ(config.buses[0].devices[1].vendor, 0x1234);
  EXPECT_EQ(config.buses[0].devices[1].manufacturerString, "X");
}

}  // namespace
}  // namespace vorn::sim
