#include "audio/RoutineFileHeader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>

namespace vorn {
namespace {

TEST(RoutineFileHeaderTest, DecodesEveryFieldAtItsOffsetLittleEndian) {
  std::array<std::uint8_t, 68> raw{};
  raw[0] = 1;
  std::memcpy(raw.data() + 1, "Hello", 6);
  raw[20] = 0x01; raw[21] = 0x02; raw[22] = 0x03; raw[23] = 0x04;  // audioFormat
  raw[24] = 0xE8; raw[25] = 0x03;                                  // audioSize 1000
  raw[28] = 0x70; raw[29] = 0x11; raw[30] = 0x01;                  // dataSize 70000
  raw[32] = 25;
  raw[33] = 5;
  for (int i = 0; i < 32; ++i) raw[34 + i] = static_cast<std::uint8_t>(0xA0 + i);
  raw[66] = 0x55; raw[67] = 0x66;

  const RoutineFileHeader h = RoutineFileHeader::Decode(raw.data());
  EXPECT_EQ(h.version, 1);
  EXPECT_STREQ(h.title.data(), "Hello");
  EXPECT_EQ(h.audioFormat, 0x04030201u);
  EXPECT_EQ(h.audioSize, 1000u);
  EXPECT_EQ(h.dataSize, 70000u);
  EXPECT_EQ(h.frameRate, 25);
  EXPECT_EQ(h.baudCode, 5);
  EXPECT_EQ(h.controllerSettings[0], 0xA0);
  EXPECT_EQ(h.controllerSettings[31], 0xA0 + 31);
  EXPECT_EQ(h.reserved[0], 0x55);
  EXPECT_EQ(h.reserved[1], 0x66);

  std::array<std::uint8_t, 68> again{};
  h.Encode(again.data());
  EXPECT_EQ(again, raw);
}

TEST(RoutineFileHeaderTest, EncodeWritesExactly68Bytes) {
  std::array<std::uint8_t, 70> out;
  out.fill(0xEE);
  RoutineFileHeader h;
  h.audioSize = 0xFFFFFFFFu;
  h.Encode(out.data());
  EXPECT_EQ(out[68], 0xEE);
  EXPECT_EQ(out[69], 0xEE);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[27], 0xFF);
}

}  // namespace
}  // namespace vorn
