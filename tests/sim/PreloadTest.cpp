// The unchanged program, linked against the real libusb, meets the simulated
// units once the simulator is preloaded.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/SimTestBed.h"

namespace vorn {
namespace {

using ::testing::IsEmpty;

std::string Capture(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    ::pclose(pipe);
  }
  return output;
}

TEST(PreloadTest, UnchangedProgramSeesTheSimulatedUnits) {
  test::CSimTestBed bed;
  sim::SimUnitSpec unit;
  unit.devnum = 7;
  unit.image = bed.Image("disk.img", 1000);
  unit.model = "ABCD";
  unit.serial = "123";
  sim::CSimConfigWriter writer;
  writer.Bus("001").Device(1, "1d6b:0002").Unit(unit);
  bed.Install(writer);  // sets VORN_USB_SIM_CONFIG for the child too

  const std::string command = test::CSimTestBed::PreloadPrefix(VORN_SIM_LIBRARY) + VORN_UNIT_PROBE;
  EXPECT_EQ(Capture(command), "VORN7|Calverin - VORN3 Unit (7)|ABCD - 123|1000|1\n");
  EXPECT_THAT(bed.Log().OutOfShape(), IsEmpty());

  // Without the simulator the real library runs and finds no such unit.
  const std::string plain = Capture(VORN_UNIT_PROBE);
  EXPECT_EQ(plain.find("VORN7"), std::string::npos);
}

}  // namespace
}  // namespace vorn
