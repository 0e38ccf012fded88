#include "audio/Mp3Writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/Mp3Frames.h"
#include "audio/SegmentEncoder.h"
#include "platform/Error.h"
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

TEST_F(Mp3WriterTest, OutputThatCannotBeCreatedOrWrittenFailsWithOneErrorNamingFileAndReason) {
  // /dev/full fails every write like a full disk; a short file whose last
  // bytes never reach the disk is no success either.
  struct Case {
    std::string path;
    int frames;  // written before Close
    std::string text;
  };
  const std::string missing = m_dir / "no-such-dir/out.mp3";
  const int all = static_cast<int>(m_tone.Frames());
  for (const Case& c : std::vector<Case>{
           {missing, 0, "Error creating file\n"},
           {"/dev/full", all, "fwrite error: /dev/full: No space left on device"},
           {"/dev/full", 100, "Output file write error: /dev/full: No space left on device"}}) {
    CMp3Writer writer;
    try {
      writer.Open(c.path);
      writer.Write(Frames(m_tone), c.frames);
      writer.Close();
      ADD_FAILURE() << c.text;
    } catch (const CVornError& e) {
      EXPECT_EQ(e.what(), c.text);
      EXPECT_EQ(e.Caption(), kAppName);
    }
  }
  EXPECT_TRUE(m_boxes.requests.empty());
}

}  // namespace
}  // namespace vorn

namespace vorn {
namespace {

// Encodes pcm with the segment encoder; the PCM is published in pieces of
// `piece` frames, as a decoder would, after the workers have started. A
// finished encoding must have told of its last stretch once, before it ended.
std::vector<std::uint8_t> EncodeSegmented(const test::Pcm& pcm, unsigned threads, SegmentPlan plan,
                                          std::size_t piece = 20000, bool* ok = nullptr) {
  std::FILE* out = std::tmpfile();
  EXPECT_NE(out, nullptr);
  bool finished = false;
  std::atomic<int> lastStretch{0};
  {
    CSegmentEncoder encoder(
        out,
        [&pcm](std::uint64_t first, std::int16_t* samples, std::size_t count) {
          const std::size_t frames = std::min<std::size_t>(count, pcm.Frames() - first);
          std::copy_n(pcm.samples.begin() + static_cast<std::ptrdiff_t>(2 * first), 2 * frames, samples);
          return frames;
        },
        threads, plan, nullptr, [&lastStretch] { ++lastStretch; });
    for (std::size_t published = 0; published < pcm.Frames();) {
      published = std::min(pcm.Frames(), published + piece);
      encoder.PcmAvailable(published);
    }
    encoder.PcmEnded(true);
    try {
      encoder.Finish({});
      finished = true;
    } catch (const CVornError&) {
    }
    EXPECT_EQ(lastStretch.load(), finished ? 1 : 0);
  }
  if (ok) *ok = finished;
  std::vector<std::uint8_t> mp3(static_cast<std::size_t>(std::ftell(out)));
  std::rewind(out);
  EXPECT_EQ(std::fread(mp3.data(), 1, mp3.size(), out), mp3.size());
  std::fclose(out);
  return mp3;
}

std::vector<std::size_t> FrameSizes(const std::vector<std::uint8_t>& mp3) {
  std::vector<std::size_t> sizes;
  for (std::size_t at = 0; at + 4 <= mp3.size(); at += sizes.back()) {
    sizes.push_back(417 + ((mp3[at + 2] >> 1) & 1u));
  }
  return sizes;
}

class SegmentEncoderTest : public testing::Test {
 protected:
  test::CScratchDir m_dir;
  CRecordingPresenter m_boxes;
};

TEST_F(SegmentEncoderTest, OneSegmentIsTheSingleEncoderAndSegmentsJoinToTheSameFrames) {
  const test::Pcm music = test::MakeMusic(3.0);
  CMp3Writer writer;
  ASSERT_TRUE(writer.Open(m_dir / "single.mp3"));
  ASSERT_TRUE(writer.Write(Frames(music), static_cast<int>(music.Frames())));
  ASSERT_TRUE(writer.Close());
  const auto single = test::ReadBytes(m_dir / "single.mp3");
  EXPECT_EQ(EncodeSegmented(music, 1, {}), single);

  // Segments of one padding period (49 frames) with a pre-roll, several
  // workers, PCM arriving in pieces that do not line up with anything: every
  // seam carries the single encoder's state, so the frames come out the same.
  // Lengths around where the first segment stops being the last.
  const std::size_t firstSeam = (49 + 8) * kMp3FrameSamples + 2 * kMp3FrameSamples;
  for (const std::size_t frames :
       {std::size_t{0}, std::size_t{1}, std::size_t{1152}, 49 * std::size_t{1152} - 1,
        firstSeam - 1, firstSeam, firstSeam + 1, firstSeam + 1300, music.Frames()}) {
    test::Pcm part;
    part.samples.assign(music.samples.begin(),
                        music.samples.begin() + static_cast<std::ptrdiff_t>(2 * frames));
    ASSERT_TRUE(writer.Open(m_dir / "part.mp3"));
    ASSERT_TRUE(writer.Write(Frames(part), static_cast<int>(frames)));
    ASSERT_TRUE(writer.Close());
    const auto reference = test::ReadBytes(m_dir / "part.mp3");
    // Segments of 3 padding periods shrink to one towards the end once the
    // PCM has ended: lengths that differ from segment to segment join as well.
    for (const auto& [threads, segmentFrames] : {std::pair{2u, 49u}, {3u, 49u}, {2u, 147u}}) {
      bool ok = false;
      const auto split = EncodeSegmented(part, threads, {segmentFrames, 8}, 7777, &ok);
      EXPECT_TRUE(ok);
      EXPECT_EQ(FrameSizes(split), FrameSizes(reference))
          << frames << " frames, " << threads << " threads, segments of " << segmentFrames;
      EXPECT_TRUE(split == reference)
          << frames << " frames, " << threads << " threads, segments of " << segmentFrames;
    }
  }
  // Eight seconds in segments of 3 padding periods: whole ones first, shares
  // of 2 and 1 periods at the end, joined as one encoder would have made them.
  const test::Pcm longer = test::MakeMusic(8.0);
  ASSERT_TRUE(writer.Open(m_dir / "longer.mp3"));
  ASSERT_TRUE(writer.Write(Frames(longer), static_cast<int>(longer.Frames())));
  ASSERT_TRUE(writer.Close());
  EXPECT_TRUE(EncodeSegmented(longer, 2, {147, 8}, 30000) == test::ReadBytes(m_dir / "longer.mp3"));
  test::WriteBytes(m_dir / "split.mp3", EncodeSegmented(music, 4, {49, 8}, music.Frames()));
  ExpectOnlyDiskFrames(m_dir / "split.mp3");
  EXPECT_TRUE(m_boxes.requests.empty());
}

// Signal-to-noise ratio of the segmented output against a single encoder's,
// both decoded and aligned to the source: the whole within 0.5 dB, and no
// 1-second window (each holds a seam) more than 1.5 dB worse.
testing::AssertionResult AsGoodAsOneEncoder(const test::CScratchDir& dir, const test::Pcm& source,
                                            SegmentPlan plan) {
  test::WriteBytes(dir / "one.mp3", EncodeSegmented(source, 1, {}));
  test::WriteBytes(dir / "split.mp3", EncodeSegmented(source, 3, plan));
  const test::Decoded one = test::DecodeFile(dir / "one.mp3");
  const test::Decoded split = test::DecodeFile(dir / "split.mp3");
  if (!one.ok || !split.ok) return testing::AssertionFailure() << "cannot decode";
  int delay = 0;
  test::BestCorrelation(source.samples, one.samples, 0, 3000, &delay);
  const test::SnrProfile reference = test::MeasureSnr(source.samples, one.samples, delay);
  const test::SnrProfile ours = test::MeasureSnr(source.samples, split.samples, delay);
  if (ours.whole < reference.whole - 0.5) {
    return testing::AssertionFailure() << "whole " << ours.whole << " dB against " << reference.whole;
  }
  for (std::size_t w = 0; w < ours.windows.size(); ++w) {
    if (ours.windows[w] < reference.windows[w] - 1.5) {
      return testing::AssertionFailure() << "second " << w << ": " << ours.windows[w] << " dB against "
                                         << reference.windows[w];
    }
  }
  return testing::AssertionSuccess() << "whole " << ours.whole << " dB against " << reference.whole;
}

TEST_F(SegmentEncoderTest, SeamsAreAsCleanAsASingleEncoderAndANaiveSplitIsNot) {
  // Segments of 1.3 s: every 1-second window of the 6 seconds meets a seam or
  // lies next to one. Loud and quiet (-34 dB) music with plucks, bursts, a sweep.
  for (const double level : {1.0, 0.02}) {
    const test::Pcm music = test::MakeMusic(6.0, level);
    EXPECT_TRUE(AsGoodAsOneEncoder(m_dir, music, {49, DefaultSegmentPlan(2).prerollFrames}))
        << "level " << level;
    // Without a pre-roll every segment starts from a cold encoder: the check must see that.
    EXPECT_FALSE(AsGoodAsOneEncoder(m_dir, music, {49, 0})) << "level " << level;
  }
}

TEST_F(SegmentEncoderTest, OutputThatCannotBeWrittenOrPcmThatEndsInFailureStopsTheWorkers) {
  const test::Pcm music = test::MakeMusic(2.0);
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);  // every write reaches the device and fails
  {
    CSegmentEncoder encoder(
        full,
        [&music](std::uint64_t first, std::int16_t* samples, std::size_t count) {
          std::copy_n(music.samples.begin() + static_cast<std::ptrdiff_t>(2 * first), 2 * count, samples);
          return count;
        },
        2, {49, 8}, nullptr);
    encoder.SetOutputName("the full device");
    encoder.PcmAvailable(music.Frames());
    encoder.PcmEnded(true);
    try {
      encoder.Finish({});
      ADD_FAILURE() << "a full output finished";
    } catch (const CVornError& e) {
      EXPECT_STREQ(e.what(), "fwrite error: the full device: No space left on device");
    }
  }
  std::fclose(full);
  EXPECT_TRUE(m_boxes.requests.empty());

  // A decoder that fails half-way: the workers end without a box of their own
  // (the decoder has shown its failure) and without waiting for more.
  // Nor do they tell of a last stretch: there is nothing to make room for.
  std::FILE* out = std::tmpfile();
  int lastStretch = 0;
  {
    CSegmentEncoder encoder(
        out, [](std::uint64_t, std::int16_t*, std::size_t count) { return count; }, 2, {49, 8}, nullptr,
        [&lastStretch] { ++lastStretch; });
    encoder.PcmAvailable(100000);
    encoder.PcmEnded(false);
  }
  std::fclose(out);
  EXPECT_TRUE(m_boxes.requests.empty());
  EXPECT_EQ(lastStretch, 0);
}

TEST(EncoderThreadsTest, TheVariableSetsTheWorkersWhenItHoldsAUsableNumber) {
  const char* saved = std::getenv(kEncoderThreadsVariable);
  const std::string old = saved ? saved : "";
  ::unsetenv(kEncoderThreadsVariable);
  const unsigned cores = DefaultEncoderThreads();
  EXPECT_GE(cores, 1u);
  for (const auto& [text, expected] : std::vector<std::pair<std::string, unsigned>>{
           {"3", 3}, {"1", 1}, {"64", 64}, {"0", cores}, {"65", cores}, {"-2", cores}, {"two", cores},
           {"", cores}, {" 3", cores}}) {
    ::setenv(kEncoderThreadsVariable, text.c_str(), 1);
    EXPECT_EQ(DefaultEncoderThreads(), expected) << '"' << text << '"';
  }
  if (saved) ::setenv(kEncoderThreadsVariable, old.c_str(), 1); else ::unsetenv(kEncoderThreadsVariable);
  EXPECT_EQ(DefaultSegmentPlan(1).segmentFrames, 0u);
  EXPECT_EQ(DefaultSegmentPlan(2).segmentFrames % kPaddingPeriodFrames, 0u);
}

}  // namespace
}  // namespace vorn
