#include "disk/RoutineCells.h"

#include "disk/DiskText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace vorn {
namespace {

TEST(RoutineCellsTest, ColumnsAreTheWindowsFive) {
  const auto& columns = RoutineColumns();
  EXPECT_STREQ(columns[0].name, "Title");
  EXPECT_STREQ(columns[1].name, "Size (MB)");
  EXPECT_STREQ(columns[2].name, "Baud Rate (bps)");
  EXPECT_STREQ(columns[3].name, "Frame Rate (ms)");
  EXPECT_STREQ(columns[4].name, "Protocol");
  EXPECT_EQ(columns[0].width, 150);
  EXPECT_EQ(columns[1].width, 75);
}

TEST(RoutineCellsTest, CellTextsOfARoutine) {
  RoutineEntry entry;
  std::memcpy(entry.title.data(), "Finale", 6);
  entry.startSector = 1;
  entry.endSector = 2049;  // 2048 sectors = 1 MB
  entry.baudCode = 2;
  entry.frameRate = 33;
  entry.controllerSettings[0] = 4;
  auto cells = RoutineCellTexts(entry);
  EXPECT_EQ(cells[0], "Finale");
  EXPECT_EQ(cells[1], "1.00");
  EXPECT_EQ(cells[2], "9600");
  EXPECT_EQ(cells[3], "33");
  EXPECT_EQ(cells[4], "SV203 Compatible");

  entry.endSector = 1 + 3;  // 1536 bytes
  EXPECT_EQ(SizeCellText(entry), "0.00");
  entry.endSector = 1 + 1024 * 1024;  // 512 MB: no overflow in the byte count
  EXPECT_EQ(SizeCellText(entry), "512.00");
}

TEST(RoutineCellsTest, BaudRateShowsDmxAndNeverReadsOutsideTheTable) {
  RoutineEntry entry;
  entry.baudCode = 0;
  EXPECT_EQ(BaudRateCellText(entry), "2400");
  entry.baudCode = 4;
  EXPECT_EQ(BaudRateCellText(entry), "38400");
  entry.baudCode = 5;
  EXPECT_EQ(BaudRateCellText(entry), "DMX");
  for (int code : {6, 7, 100, 255}) {
    entry.baudCode = static_cast<std::uint8_t>(code);
    EXPECT_EQ(BaudRateCellText(entry), "Unknown") << code;
  }
}

TEST(RoutineCellsTest, ProtocolNamesAndSixteenCharacterTitles) {
  RoutineEntry entry;
  std::memcpy(entry.title.data(), "SixteenCharsLong", 16);
  EXPECT_EQ(RoutineCellTexts(entry)[0], "SixteenCharsLong");
  for (int code = 0; code < 256; ++code) {
    entry.controllerSettings[0] = static_cast<std::uint8_t>(code);
    std::string name = RoutineCellTexts(entry)[4];
    if (code == 0 || code == 2 || code == 3 || code == 9) {
      EXPECT_EQ(name, "MiniSSC Compatible") << code;
    } else if (code == 1 || code == 4) {
      EXPECT_EQ(name, "SV203 Compatible") << code;
    } else if (code == 5 || code == 7 || code == 11) {
      EXPECT_EQ(name, "DMX Compatible") << code;
    } else {
      EXPECT_EQ(name, "Unknown") << code;
    }
  }
}

TEST(DiskTextTest, EveryByteDecodesAndComesBackUnchanged) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  const std::string utf8 = DiskTextToUtf8(all);
  EXPECT_EQ(Utf8ToDiskText(utf8), all);
  for (const auto& [byte, text] : std::vector<std::pair<char, std::string>>{
           {'A', "A"}, {'\x80', "\xE2\x82\xAC"}, {'\x93', "\xE2\x80\x9C"}, {'\x9F', "\xC5\xB8"},
           {'\x81', "\xC2\x81"}, {'\x9D', "\xC2\x9D"}, {'\xA0', "\xC2\xA0"}, {'\xE9', "\xC3\xA9"},
           {'\xFF', "\xC3\xBF"}}) {
    EXPECT_EQ(DiskTextToUtf8(std::string(1, byte)), text) << int(static_cast<unsigned char>(byte));
  }
}

TEST(DiskTextTest, TextTheCodePageCannotHoldIsRefusedByName) {
  for (const auto& [utf8, message] : std::vector<std::pair<std::string, std::string>>{
           {"\xC5\x9D", "'\xC5\x9D' (U+015D) cannot be stored"},        // a letter it lacks
           {"ok \xF0\x9F\x8E\xB5", "(U+1F3B5)"},                         // beyond 16 bits
           {"\xE9t\xE9", "not UTF-8 text (byte 0xE9)"},                   // Latin-1 bytes
           {"\xC0\xA9", "not UTF-8 text (byte 0xC0)"},                    // overlong
           {"\xED\xA0\x80", "not UTF-8 text (byte 0xED)"},               // a surrogate
           {"\xE2\x82", "not UTF-8 text (byte 0xE2)"}}) {                // cut short
    try {
      Utf8ToDiskText(utf8);
      ADD_FAILURE() << "accepted " << utf8;
    } catch (const CDiskTextError& error) {
      EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(Utf8ToDiskTextLossy("\xC5\x9Dow \xE9 \xE2\x82\xAC"), "?ow ? \x80");
}

}  // namespace
}  // namespace vorn
