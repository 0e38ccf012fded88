#include "audio/Mp3Writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "audio/Mp3Frames.h"
#include "tests/audio/AudioTestSupport.h"

namespace vorn {
namespace {

using test::CRecordingPresenter;

constexpr int kChunkFrames = CMp3Writer::kChunkSamples / 2;

const std::int32_t* Frames(const test::Pcm& pcm, std::size_t first = 0) {
  return reinterpret_cast<const std::int32_t*>(pcm.samples.data()) + first;
}

bool Encode(const std::string& path, const test::Pcm& pcm) {
  CMp3Writer writer;
  return writer.Open(path) && writer.Write(Frames(pcm), static_cast<int>(pcm.Frames())) &&
         writer.Close();
}

// Walks the file frame by frame; every header must be of the disk's kind as our
// encoder sets it, and the frames must fill the file exactly (no tags).
void ExpectOnlyDiskFrames(const std::string& path) {
  const std::vector<std::uint8_t> mp3 = test::ReadBytes(path);
  ASSERT_FALSE(mp3.empty());
  std::size_t at = 0, frames = 0;
  while (at < mp3.size()) {
    ASSERT_LE(at + 36, mp3.size()) << "frame " << frames;
    const std::uint8_t* h = mp3.data() + at;
    ASSERT_TRUE(IsAcceptedFrameHeader(h)) << "frame " << frames;
    EXPECT_EQ(h[1], 0xFB) << "no CRC";
    EXPECT_EQ(h[2] & 0x01, 0) << "private bit";
    EXPECT_EQ(h[3] >> 6, 1) << "joint stereo";
    EXPECT_EQ((h[3] >> 3) & 1, 0) << "copyright bit";
    EXPECT_EQ((h[3] >> 2) & 1, 1) << "original bit";
    EXPECT_EQ(h[3] & 3, 0) << "emphasis";
    // main_data_begin, the first 9 bits of the side information: 0 without a reservoir.
    ASSERT_EQ((h[4] << 1) | (h[5] >> 7), 0) << "frame " << frames;
    if (frames == 0) {
      EXPECT_NE(std::memcmp(h + 36, "Info", 4), 0);
      EXPECT_NE(std::memcmp(h + 36, "Xing", 4), 0);
    }
    at += 417 + ((h[2] >> 1) & 1u);
    ++frames;
  }
  EXPECT_EQ(at, mp3.size());

  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  RoutineFileHeader header;
  header.audioFormat = RoutineFileHeader::kAudioFormatMp3;
  header.audioSize = static_cast<std::uint32_t>(mp3.size());
  EXPECT_TRUE(IsCompatibleMp3(header, file));
  std::fclose(file);
}

class Mp3WriterTest : public testing::Test {
 protected:
  test::CScratchDir m_dir;
  CRecordingPresenter m_boxes;
  test::Pcm m_tone = test::MakeTone(44100, {440.0, 1000.0}, 3.0);
};

TEST_F(Mp3WriterTest, SilenceAndToneEncodeToFramesOfTheDiskKindOnly) {
  test::Pcm silence;
  silence.samples.assign(44100 * 2, 0);
  ASSERT_TRUE(Encode(m_dir / "silence.mp3", silence));
  ExpectOnlyDiskFrames(m_dir / "silence.mp3");
  EXPECT_GE(test::ReadBytes(m_dir / "silence.mp3").size(), 39u * 417);

  ASSERT_TRUE(Encode(m_dir / "tone.mp3", m_tone));
  ExpectOnlyDiskFrames(m_dir / "tone.mp3");
  EXPECT_TRUE(m_boxes.requests.empty());
}

TEST_F(Mp3WriterTest, HowTheSamplesArriveDoesNotChangeTheFile) {
  ASSERT_TRUE(Encode(m_dir / "whole.mp3", m_tone));

  // Pieces smaller than, equal to and larger than a chunk, and empty ones.
  CMp3Writer pieces;
  ASSERT_TRUE(pieces.Open(m_dir / "pieces.mp3"));
  const std::size_t sizes[] = {0, 1, 7, 1000, kChunkFrames - 1008, kChunkFrames, 0,
                               3 * kChunkFrames + 5};
  std::size_t done = 0;
  for (std::size_t size : sizes) {
    ASSERT_TRUE(pieces.Write(Frames(m_tone, done), static_cast<int>(size)));
    done += size;
  }
  ASSERT_TRUE(pieces.Write(Frames(m_tone, done), static_cast<int>(m_tone.Frames() - done)));
  ASSERT_TRUE(pieces.Close());

  // The planar entry packs the two lists into the same frames.
  std::vector<std::int32_t> left, right;
  for (std::size_t i = 0; i < m_tone.Frames(); ++i) {
    left.push_back(m_tone.samples[2 * i]);
    right.push_back(m_tone.samples[2 * i + 1]);
  }
  CMp3Writer planar;
  ASSERT_TRUE(planar.Open(m_dir / "planar.mp3"));
  ASSERT_TRUE(planar.WritePlanar(left.data(), right.data(), static_cast<int>(left.size()), 0, 0));
  ASSERT_TRUE(planar.Close());

  const auto whole = test::ReadBytes(m_dir / "whole.mp3");
  EXPECT_EQ(whole, test::ReadBytes(m_dir / "pieces.mp3"));
  EXPECT_EQ(whole, test::ReadBytes(m_dir / "planar.mp3"));
  EXPECT_TRUE(m_boxes.requests.empty());
}

TEST_F(Mp3WriterTest, ShortAndExactChunkWritesAreEncodedAtClose) {
  for (int frames : {100, kChunkFrames}) {
    const std::string path = m_dir / ("part" + std::to_string(frames) + ".mp3");
    CMp3Writer writer;
    ASSERT_TRUE(writer.Open(path));
    ASSERT_TRUE(writer.Write(Frames(m_tone), frames));
    ASSERT_TRUE(writer.Close());
    ExpectOnlyDiskFrames(path);
    const test::Decoded decoded = test::DecodeFile(path);
    ASSERT_TRUE(decoded.ok);
    EXPECT_GE(decoded.length, static_cast<std::uint32_t>(frames));
    const auto loud = std::count_if(decoded.samples.begin(), decoded.samples.end(),
                                    [](std::int16_t s) { return std::abs(s) > 8000; });
    EXPECT_GT(loud, frames / 4) << frames;
  }
  EXPECT_TRUE(m_boxes.requests.empty());
}

TEST_F(Mp3WriterTest, DecodedEncodingMatchesTheInput) {
  ASSERT_TRUE(Encode(m_dir / "tone.mp3", m_tone));
  const test::Decoded decoded = test::DecodeFile(m_dir / "tone.mp3");
  ASSERT_TRUE(decoded.ok);
  EXPECT_GE(decoded.length, m_tone.Frames());
  int delay = -1;
  EXPECT_GT(test::BestCorrelation(m_tone.samples, decoded.samples, 0, 3000, &delay), 0.99);
  EXPECT_GT(test::BestCorrelation(m_tone.samples, decoded.samples, 1, 3000), 0.99);
  EXPECT_LT(delay, 2000);
}

TEST_F(Mp3WriterTest, EncodesExactlyAsTheLameCommandLineWithTheDiskSettings) {
  if (!test::HaveTool("lame")) GTEST_SKIP() << "the lame command line is the reference";
  test::WriteWav(m_dir / "tone.wav", m_tone);
  ASSERT_TRUE(test::RunCommand("lame --quiet -h -b 128 --cbr --nores -t '" + (m_dir / "tone.wav") +
                               "' '" + (m_dir / "lame.mp3") + "'"));
  ASSERT_TRUE(Encode(m_dir / "ours.mp3", m_tone));
  EXPECT_EQ(test::ReadBytes(m_dir / "ours.mp3"), test::ReadBytes(m_dir / "lame.mp3"));
}

TEST_F(Mp3WriterTest, OutputThatCannotBeCreatedOrWrittenFails) {
  {
    CMp3Writer writer;
    EXPECT_FALSE(writer.Open(m_dir / "no-such-dir/out.mp3"));
    EXPECT_FALSE(writer.Write(Frames(m_tone), 10));  // not started: nothing to feed
    EXPECT_FALSE(writer.Close());
  }
  ASSERT_EQ(m_boxes.requests.size(), 1u);
  EXPECT_EQ(m_boxes.requests[0].text, "Error creating file\n");
  EXPECT_EQ(m_boxes.requests[0].caption, kAppName);

  // /dev/full fails every write like a full disk.
  m_boxes.requests.clear();
  {
    CMp3Writer writer;
    ASSERT_TRUE(writer.Open("/dev/full"));
    EXPECT_FALSE(writer.Write(Frames(m_tone), static_cast<int>(m_tone.Frames())));
  }
  ASSERT_EQ(m_boxes.requests.size(), 1u);
  EXPECT_EQ(m_boxes.requests[0].text, "fwrite error");

  // A short file whose last bytes never reach the disk is not a success.
  m_boxes.requests.clear();
  {
    CMp3Writer writer;
    ASSERT_TRUE(writer.Open("/dev/full"));
    ASSERT_TRUE(writer.Write(Frames(m_tone), 100));
    EXPECT_FALSE(writer.Close());
  }
  ASSERT_EQ(m_boxes.requests.size(), 1u);
  EXPECT_EQ(m_boxes.requests[0].text, "Output file write error");
}

}  // namespace
}  // namespace vorn
