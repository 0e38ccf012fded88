#include "app/CommandLineInfo.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace vorn {
namespace {

CManagerCommandLineInfo Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "vorn3manager");
  CManagerCommandLineInfo info;
  info.ParseCommandLine(static_cast<int>(args.size()), args.data());
  return info;
}

TEST(CommandLineInfoTest, ServerTakesTheNextTwoArgumentsAsUnitAndBaudRate) {
  auto info = Parse({"-server", "vorn3", "38400"});
  EXPECT_TRUE(info.IsServer());
  EXPECT_FALSE(info.IsListDevices());
  EXPECT_EQ(info.UnitName(), "VORN3");
  EXPECT_EQ(info.BaudRate(), 38400);

  info = Parse({"/SERVER", "Vorn12", "250000"});
  EXPECT_TRUE(info.IsServer());
  EXPECT_EQ(info.UnitName(), "VORN12");
  EXPECT_EQ(info.BaudRate(), 250000);

  // A lone server switch: the flag, no name, baud rate 0.
  info = Parse({"-server"});
  EXPECT_TRUE(info.IsServer());
  EXPECT_EQ(info.UnitName(), "");
  EXPECT_EQ(info.BaudRate(), 0);
}

TEST(CommandLineInfoTest, ListSwitchInAnySpellingAndBesideTheServerSwitch) {
  EXPECT_TRUE(Parse({"/LISTDEVICES"}).IsListDevices());
  EXPECT_TRUE(Parse({"/ListDevices"}).IsListDevices());
  EXPECT_TRUE(Parse({"-listdevices"}).IsListDevices());

  auto info = Parse({"-listdevices", "-server", "A", "9600"});
  EXPECT_TRUE(info.IsListDevices());
  EXPECT_TRUE(info.IsServer());
  EXPECT_EQ(info.UnitName(), "A");
  EXPECT_EQ(info.BaudRate(), 9600);
}

TEST(CommandLineInfoTest, WordsWithoutPrefixAndUnknownSwitchesAreIgnored) {
  auto info = Parse({"server", "listdevices", "-help", "/x", "file.vorn"});
  EXPECT_FALSE(info.IsServer());
  EXPECT_FALSE(info.IsListDevices());
  EXPECT_EQ(info.UnitName(), "");
}

TEST(CommandLineInfoTest, ArgumentsAfterServerAreTakenEvenWhenTheyLookLikeSwitches) {
  auto info = Parse({"-server", "-abc", "1200"});
  EXPECT_EQ(info.UnitName(), "ABC");
  EXPECT_EQ(info.BaudRate(), 1200);

  // "-listdevices" in the name's place is the name, not the list switch.
  info = Parse({"-server", "-listdevices", "/9600"});
  EXPECT_FALSE(info.IsListDevices());
  EXPECT_EQ(info.UnitName(), "LISTDEVICES");
  EXPECT_EQ(info.BaudRate(), 9600);

  // After the baud rate the parser expects switches again.
  info = Parse({"-server", "a", "1", "-server", "b", "2"});
  EXPECT_EQ(info.UnitName(), "B");
  EXPECT_EQ(info.BaudRate(), 2);
  info = Parse({"-server", "a", "1", "-listdevices"});
  EXPECT_TRUE(info.IsListDevices());
}

TEST(CommandLineInfoTest, ParseParamSeesSwitchesWithoutTheirPrefix) {
  CManagerCommandLineInfo info;
  info.ParseParam("server", false, false);  // a plain word
  EXPECT_FALSE(info.IsServer());
  info.ParseParam("Server", true, false);
  info.ParseParam("unit", false, false);
  info.ParseParam("4800", false, true);
  EXPECT_TRUE(info.IsServer());
  EXPECT_EQ(info.UnitName(), "UNIT");
  EXPECT_EQ(info.BaudRate(), 4800);

  // An empty switch ("-" alone) is nothing.
  auto empty = Parse({"-", "/"});
  EXPECT_FALSE(empty.IsServer());
  EXPECT_FALSE(empty.IsListDevices());
}

TEST(CommandLineInfoTest, BaudRateIsACheckedNumber) {
  // Checked, never wrapped: anything but a plain number is 0, which the server refuses.
  for (const auto& [text, value] : std::vector<std::pair<const char*, std::int32_t>>{
           {"9600", 9600}, {"250000", 250000}, {"-5", -5}, {"2147483647", INT_MAX},
           {"-2147483648", INT_MIN}, {"  19200", 0}, {"19200baud", 0}, {"+300", 0}, {"fast", 0},
           {"", 0}, {"2147483648", 0}, {"4294977296", 0}, {"-99999999999999999999999", 0}}) {
    EXPECT_EQ(BaudRateArgument(text), value) << text;
  }
  EXPECT_EQ(Parse({"-server", "a", "0x10"}).BaudRate(), 0);
}

}  // namespace
}  // namespace vorn
