#include "platform/DirectXProbe.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>

namespace vorn {
namespace {

TEST(DirectXProbeTest, PackingCountsLettersFromOneAndIgnoresEverythingElse) {
  struct Row {
    std::uint32_t major, minor;
    char letter;
    std::uint32_t packed;
  };
  const Row rows[] = {
      {8, 1, ' ', 0x80100}, {8, 1, 'a', 0x80101}, {8, 1, 'b', 0x80102}, {9, 0, 'c', 0x90003},
      {9, 0, 'C', 0x90003}, {9, 0, ' ', 0x90000}, {9, 0, 'z', 0x9001a}, {8, 1, '1', 0x80100},
      {8, 1, '\0', 0x80100}, {3, 0, 'a', 0x30001},
  };
  for (const Row& row : rows)
    EXPECT_EQ(PackDirectXVersion(row.major, row.minor, row.letter), row.packed)
        << row.major << "." << row.minor << "'" << row.letter << "'";
  // 8.2 is the last version start-up refuses.
  EXPECT_LT(PackDirectXVersion(8, 2, 'z'), kMinimumDirectXVersion);
}

TEST(DirectXProbeTest, TextCarriesTheLetterLowerCasedAndIsCutToTheBuffer) {
  char text[16];
  FormatDirectXVersion(9, 0, 'C', text, sizeof text);
  EXPECT_STREQ(text, "9.0c");
  FormatDirectXVersion(9, 0, ' ', text, sizeof text);
  EXPECT_STREQ(text, "9.0");

  char small[3] = {'x', 'x', 'x'};
  FormatDirectXVersion(9, 0, 'c', small, sizeof small);
  EXPECT_EQ(small[0], '9');
  EXPECT_EQ(small[1], '.');
  EXPECT_EQ(small[2], '\0');

  char untouched = 'x';
  FormatDirectXVersion(9, 0, ' ', &untouched, 0);
  EXPECT_EQ(untouched, 'x');
  FormatDirectXVersion(9, 0, ' ', &untouched, 1);
  EXPECT_EQ(untouched, '\0');
}

// The machines we build on have the decoders; the probe must say 9.0 there.
TEST(DirectXProbeTest, ReportsNineWhenFfmpegDecodesWavAndMp3) {
  ASSERT_TRUE(DecoderBackEndAvailable());
  std::uint32_t packed = 123;
  char text[256];
  std::memset(text, 'x', sizeof text);
  EXPECT_TRUE(ProbeDirectXVersion(&packed, text, sizeof text));
  EXPECT_EQ(packed, 0x00090000u);
  EXPECT_STREQ(text, "9.0");

  // Either output may be absent.
  EXPECT_TRUE(ProbeDirectXVersion(nullptr, text, sizeof text));
  EXPECT_TRUE(ProbeDirectXVersion(&packed, nullptr, 0));
  char three[3];
  EXPECT_TRUE(ProbeDirectXVersion(nullptr, three, sizeof three));
  EXPECT_STREQ(three, "9.");
}

TEST(DirectXProbeTest, MissingDecodersGiveZeroAndEmptyText) {
  ::setenv(kForceNoDecoderEnv, "1", 1);
  std::uint32_t packed = 0x90000;
  char text[8] = "junk";
  bool found = ProbeDirectXVersion(&packed, text, sizeof text);
  ::unsetenv(kForceNoDecoderEnv);
  EXPECT_FALSE(found);
  EXPECT_EQ(packed, 0u);
  EXPECT_STREQ(text, "");
}

}  // namespace
}  // namespace vorn
