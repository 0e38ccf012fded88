#include "audio/Mp3EndFinder.h"

#include <gtest/gtest.h>

#include <vector>

#include "audio/Mp3Frames.h"
#include "tests/audio/RoutineFixtures.h"

namespace vorn {
namespace {

std::vector<std::uint8_t> MakeFrames(int frames) { return test::DiskKindFrames(frames); }

// The MP3 region as the import leaves it: the data, then the sector filler.
std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> data) {
  std::size_t tail = data.size() % 512;
  if (tail != 0) data.insert(data.end(), g_mp3SectorFiller.begin(), g_mp3SectorFiller.begin() + (512 - tail));
  return data;
}

std::uint64_t FindEnd(const std::vector<std::uint8_t>& region, std::size_t piece) {
  CMp3EndFinder finder;
  for (std::size_t at = 0; at < region.size(); at += piece) {
    finder.Feed(region.data() + at, std::min(piece, region.size() - at));
  }
  return finder.End();
}

TEST(Mp3EndFinderTest, WholeFramesEndWhereTheFillerBegins) {
  for (int frames : {1, 2, 3, 10, 157}) {
    const auto data = MakeFrames(frames);
    for (std::size_t piece : {1u, 4u, 512u, 65536u}) {
      EXPECT_EQ(FindEnd(Padded(data), piece), data.size()) << frames << " frames, pieces " << piece;
    }
  }
}

TEST(Mp3EndFinderTest, FramesFillingTheLastSectorKeepTheWholeRegion) {
  // 1253 frames of 417/418 bytes alternate; search a count whose length is a
  // multiple of 512 so that nothing was padded.
  for (int frames = 1; frames < 2000; ++frames) {
    const std::size_t size = static_cast<std::size_t>(frames) * 417 + frames / 2;
    if (size % 512 != 0) continue;
    const auto data = MakeFrames(frames);
    EXPECT_EQ(FindEnd(data, 4096), data.size());
    return;
  }
  FAIL() << "no frame count fills whole sectors";
}

TEST(Mp3EndFinderTest, AudioCutInsideAFrameEndsAtTheCut) {
  const auto frames = MakeFrames(5);
  for (std::size_t cut : {std::size_t{1000}, std::size_t{1500}, frames.size() - 3}) {
    std::vector<std::uint8_t> data(frames.begin(), frames.begin() + cut);
    EXPECT_EQ(FindEnd(Padded(data), 300), cut);
  }
}

TEST(Mp3EndFinderTest, EmptyRegionHasNoData) {
  CMp3EndFinder finder;
  EXPECT_EQ(finder.End(), 0u);
}

}  // namespace
}  // namespace vorn
