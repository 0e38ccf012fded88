#include "audio/ConvertAudio.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>
#include <cstdlib>
#include <filesystem>

#include "audio/Mp3Frames.h"
#include "device/DeviceExceptions.h"
#include "platform/UniqueFile.h"
#include "tests/audio/RoutineFixtures.h"
#include "tests/audio/RecordingControls.h"

namespace vorn {
namespace {

using test::CRecordingPresenter;
using test::CRecordingProgress;
using test::CRecordingStatus;
using test::CScratchDir;

constexpr long kAudioStart = RoutineFileHeader::kEncodedSize;

// One routine file and the result of converting it.
struct Conversion {
  CUniqueFile routineFile;
  CUniqueFile ownedStream;  // set when the stream is a converted file
  std::FILE* stream = nullptr;
  std::uint32_t size = 0;
};

class TmpDirOverride {
 public:
  explicit TmpDirOverride(const std::string& dir) {
    const char* old = std::getenv("TMPDIR");
    m_had = old != nullptr;
    if (old) m_old = old;
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TmpDirOverride() {
    if (m_had) ::setenv("TMPDIR", m_old.c_str(), 1); else ::unsetenv("TMPDIR");
  }

 private:
  bool m_had = false;
  std::string m_old;
};

class ConvertAudioTest : public ::testing::Test {
 protected:
  // Writes a routine file with this audio (and 3 data bytes), opens it at the
  // audio and converts it.
  Conversion Convert(const RoutineFileHeader& header, const std::vector<std::uint8_t>& audio) {
    const std::string path = dir / ("routine" + std::to_string(++files) + ".vorn");
    test::WriteBytes(path, test::RoutineFileBytes(header, audio, {1, 2, 3}));
    Conversion result;
    result.routineFile.reset(std::fopen(path.c_str(), "rb"));
    std::fseek(result.routineFile.get(), kAudioStart, SEEK_SET);
    ConversionContext context{&status, &progress, cancel};
    context.threads = threads;
    ConvertAudio(header, result.routineFile.get(), result.size, result.stream, context);
    if (result.stream && result.stream != result.routineFile.get()) {
      result.ownedStream.reset(result.stream);
    }
    return result;
  }

  // MP3 frames of the disk's kind, made by converting a tone.
  std::vector<std::uint8_t> DiskKindMp3(int frames) {
    const auto wav = test::WavBytes(test::Tone(frames, 440, 660));
    Conversion c = Convert(test::MakeHeader("tone", 0, static_cast<std::uint32_t>(wav.size()), 3), wav);
    std::vector<std::uint8_t> mp3(c.size);
    EXPECT_EQ(std::fread(mp3.data(), 1, mp3.size(), c.stream), mp3.size());
    status.texts.clear();
    progress.calls.clear();
    return mp3;
  }

  static std::vector<std::uint8_t> ReadAll(std::FILE* stream, std::uint32_t size) {
    std::vector<std::uint8_t> bytes(size);
    EXPECT_EQ(std::fread(bytes.data(), 1, size, stream), size);
    return bytes;
  }

  // Nothing a conversion makes may appear in the temporary directory, where
  // a killed process would leave it.
  bool NothingInTmp() const { return std::filesystem::is_empty(tmp.Path()); }

  CScratchDir dir;
  CScratchDir tmp;
  TmpDirOverride tmpOverride{tmp.Path()};
  CRecordingStatus status;
  CRecordingProgress progress;
  int files = 0;
  unsigned threads = 0;
  const CCancelFlag* cancel = nullptr;
};

TEST_F(ConvertAudioTest, NoAudioGivesNothingAndTouchesNothing) {
  Conversion c = Convert(test::MakeHeader("silent", 1, 0, 3), {});
  EXPECT_EQ(c.size, 0u);
  EXPECT_EQ(c.stream, nullptr);
  EXPECT_EQ(std::ftell(c.routineFile.get()), kAudioStart);
  EXPECT_TRUE(NothingInTmp());
  EXPECT_TRUE(status.texts.empty());
  EXPECT_TRUE(progress.calls.empty());
}

TEST_F(ConvertAudioTest, DiskKindMp3PassesThroughUntouched) {
  const auto mp3 = DiskKindMp3(44100);
  Conversion c = Convert(test::MakeHeader("mp3", 1, static_cast<std::uint32_t>(mp3.size()), 3), mp3);
  EXPECT_EQ(c.stream, c.routineFile.get());
  EXPECT_EQ(c.size, mp3.size());
  EXPECT_EQ(std::ftell(c.stream), kAudioStart);
  EXPECT_EQ(ReadAll(c.stream, c.size), mp3);
  EXPECT_TRUE(NothingInTmp());
  EXPECT_TRUE(status.texts.empty());
  EXPECT_TRUE(progress.calls.empty());
}

TEST_F(ConvertAudioTest, DiskKindMp3NotMarkedAsMp3IsConvertedAllTheSame) {
  const auto mp3 = DiskKindMp3(44100);
  Conversion c = Convert(test::MakeHeader("mp3", 0, static_cast<std::uint32_t>(mp3.size()), 3), mp3);
  ASSERT_NE(c.stream, nullptr);
  EXPECT_NE(c.stream, c.routineFile.get());
  EXPECT_TRUE(NothingInTmp());
  EXPECT_EQ(std::ftell(c.routineFile.get()), kAudioStart + static_cast<long>(mp3.size()));
}

TEST_F(ConvertAudioTest, DiskKindMp3CutInsideItsLastFrameIsConvertedToWholeFrames) {
  auto mp3 = DiskKindMp3(44100);
  mp3.resize(mp3.size() - 200);
  Conversion c = Convert(test::MakeHeader("cut", 1, static_cast<std::uint32_t>(mp3.size()), 3), mp3);
  ASSERT_NE(c.stream, c.routineFile.get());
  const auto converted = ReadAll(c.stream, c.size);
  std::size_t at = 0;
  while (at + 4 <= converted.size() && IsAcceptedFrameHeader(&converted[at])) {
    at += 417 + ((converted[at + 2] >> 1) & 1u);
  }
  EXPECT_EQ(at, converted.size());
}

TEST_F(ConvertAudioTest, OneFrameOfAnotherBitrateSendsEverythingThroughConversion) {
  auto mp3 = DiskKindMp3(44100);
  const auto other = test::ReadBytes(VORN_TEST_DATA_DIR "/tone-160k.mp3");
  ASSERT_EQ(other[2] & 0xF0, 0xA0);  // 160 kbit/s
  // 160 kbit/s frames are 522 bytes: one of them, between frames of the disk's kind.
  std::size_t at = 0;
  for (int frame = 0; frame < 10; ++frame) at += 417 + ((mp3[at + 2] >> 1) & 1u);
  mp3.insert(mp3.begin() + static_cast<std::ptrdiff_t>(at), other.begin(), other.begin() + 522);
  Conversion c = Convert(test::MakeHeader("mixed", 1, static_cast<std::uint32_t>(mp3.size()), 3), mp3);
  EXPECT_NE(c.stream, c.routineFile.get());
  EXPECT_EQ(status.texts, std::vector<std::string>{"Converting Audio"});
}

TEST_F(ConvertAudioTest, ConvertedFileIsWholeFramesOfTheDiskKindFromItsFirstByte) {
  const auto wav = test::WavBytes(test::Tone(30000, 300, 500));
  Conversion c = Convert(test::MakeHeader("wav", 0, static_cast<std::uint32_t>(wav.size()), 3), wav);
  ASSERT_NE(c.stream, nullptr);
  EXPECT_EQ(std::ftell(c.stream), 0);
  const auto mp3 = ReadAll(c.stream, c.size);
  std::size_t at = 0;
  int frames = 0;
  while (at + 4 <= mp3.size()) {
    ASSERT_TRUE(IsAcceptedFrameHeader(&mp3[at])) << "frame " << frames << " at " << at;
    at += 417 + ((mp3[at + 2] >> 1) & 1u);
    ++frames;
  }
  EXPECT_EQ(at, mp3.size());
  EXPECT_GE(frames, 30000 / 1152);
  // Input copy and output have no names: the temporary directory stays empty
  // while the converted stream is read.
  EXPECT_TRUE(NothingInTmp());
}

TEST_F(ConvertAudioTest, ShortAudioShowsOneProgressStepAndItsStatus) {
  const auto wav = test::WavBytes(test::Tone(5000, 300, 500));
  Convert(test::MakeHeader("wav", 0, static_cast<std::uint32_t>(wav.size()), 3), wav);
  EXPECT_EQ(progress.calls, (std::vector<std::string>{"range 0 1", "pos 0", "step 1", "stepit"}));
  EXPECT_EQ(status.texts, std::vector<std::string>{"Converting Audio"});
}

TEST_F(ConvertAudioTest, ProgressStepsOncePerMebiFrameStartingAtTheFirstChunk) {
  // 1024 * 1024 + 1000 frames: range 0..2, steps after chunk 0 and chunk 1024.
  const auto wav = test::WavBytes(test::Tone(1048576 + 1000, 300, 500, 0.1));
  Convert(test::MakeHeader("long", 0, static_cast<std::uint32_t>(wav.size()), 3), wav);
  EXPECT_EQ(progress.calls,
            (std::vector<std::string>{"range 0 2", "pos 0", "step 1", "stepit", "stepit"}));
}

TEST_F(ConvertAudioTest, ConvertedAudioDecodesToTheInputBehindTheCodecDelay) {
  // A sweep, so that only the true delay lines the two signals up.
  constexpr int kFrames = 3 * 44100;
  test::Pcm input;
  input.samples.resize(2 * kFrames);
  for (int i = 0; i < kFrames; ++i) {
    const double t = i / 44100.0;
    const double phase = 2 * M_PI * (200 * t + 600 * t * t);  // 200 Hz rising to 3800 Hz
    input.samples[2 * i] = static_cast<std::int16_t>(10000 * std::sin(phase));
    input.samples[2 * i + 1] = static_cast<std::int16_t>(10000 * std::cos(phase));
  }
  const auto wav = test::WavBytes(input);
  Conversion c = Convert(test::MakeHeader("sweep", 0, static_cast<std::uint32_t>(wav.size()), 3), wav);
  ASSERT_NE(c.stream, nullptr);

  const test::Decoded output =
      test::DecodeFile("/proc/self/fd/" + std::to_string(::fileno(c.stream)));
  ASSERT_TRUE(output.ok);
  ASSERT_GE(output.length, static_cast<std::uint32_t>(kFrames));
  for (int channel : {0, 1}) {
    int delay = 0;
    // The encoder and the decoder together delay the audio by about a thousand frames.
    EXPECT_GT(test::BestCorrelation(input.samples, output.samples, channel, 4000, &delay), 0.99)
        << "channel " << channel << ", delay " << delay;
    EXPECT_GT(delay, 0);
    EXPECT_LT(delay, 3000);
  }
}

TEST_F(ConvertAudioTest, OneThreadGivesTheLameCommandLinesBytesAndMoreThreadsTheSameFrames) {
  // 12 seconds: two segments of the parallel plan.
  const test::Pcm music = test::MakeMusic(12.0);
  const auto wav = test::WavBytes(music);
  const RoutineFileHeader header = test::MakeHeader("music", 0, static_cast<std::uint32_t>(wav.size()), 3);
  threads = 1;
  Conversion one = Convert(header, wav);
  const auto single = ReadAll(one.stream, one.size);
  threads = 3;
  Conversion three = Convert(header, wav);
  const auto parallel = ReadAll(three.stream, three.size);
  EXPECT_EQ(single.size(), parallel.size());
  EXPECT_TRUE(single == parallel) << "music of this kind converges within the pre-roll";
  EXPECT_EQ(progress.calls, (std::vector<std::string>{"range 0 1", "pos 0", "step 1", "stepit",
                                                     "range 0 1", "pos 0", "step 1", "stepit"}));

  if (!test::HaveTool("lame")) GTEST_SKIP() << "the lame command line is the reference";
  test::WriteBytes(dir / "music.wav", wav);
  ASSERT_TRUE(test::RunCommand("lame --quiet -h -b 128 --cbr --nores -t '" + (dir / "music.wav") +
                               "' '" + (dir / "lame.mp3") + "'"));
  EXPECT_TRUE(single == test::ReadBytes(dir / "lame.mp3"));
}

TEST_F(ConvertAudioTest, CancelEndsTheConversionWithoutAFile) {
  const auto wav = test::WavBytes(test::MakeMusic(20.0));
  const RoutineFileHeader header = test::MakeHeader("long", 0, static_cast<std::uint32_t>(wav.size()), 3);
  CCancelFlag flag;
  cancel = &flag;
  flag.Cancel();
  EXPECT_THROW(Convert(header, wav), CCancelled);
  // Cancelled once decoding and encoding are under way.
  CCancelFlag later;
  cancel = &later;
  status.onText = [&later](const std::string& text) {
    if (text == "Converting Audio") later.Cancel();
  };
  EXPECT_THROW(Convert(header, wav), CCancelled);
  status.onText = nullptr;
}

TEST_F(ConvertAudioTest, AudioSectionCutShortIsAReadError) {
  const auto wav = test::WavBytes(test::Tone(10000, 300, 500));
  RoutineFileHeader header = test::MakeHeader("cut", 0, static_cast<std::uint32_t>(wav.size() + 5000), 0);
  try {
    Convert(header, wav);  // 3 data bytes follow, then the file ends
    FAIL() << "no exception";
  } catch (const CFileAccessException& e) {
    EXPECT_EQ(e.GetMessage(), "Error reading file");
  }
  EXPECT_TRUE(NothingInTmp());
}

TEST_F(ConvertAudioTest, UndecodableAudioCannotBeOpened) {
  CRecordingPresenter presenter;
  const auto noise = test::PatternBytes(20000);
  try {
    Convert(test::MakeHeader("junk", 0, static_cast<std::uint32_t>(noise.size()), 3), noise);
    FAIL() << "no exception";
  } catch (const CFileAccessException& e) {
    // The decoder's own words and caption, in one error; no box on the way.
    EXPECT_EQ(e.GetMessage().rfind("av", 0), 0u) << e.GetMessage();
    EXPECT_EQ(e.Caption(), "CDirectXUtils Error!");
  }
  EXPECT_TRUE(presenter.requests.empty());
  EXPECT_TRUE(NothingInTmp());
}

TEST_F(ConvertAudioTest, TemporaryFileThatCannotBeCreatedEndsTheConversion) {
  const auto wav = test::WavBytes(test::Tone(1000, 300, 500));
  TmpDirOverride missing(dir / "missing");
  try {
    Convert(test::MakeHeader("wav", 0, static_cast<std::uint32_t>(wav.size()), 3), wav);
    FAIL() << "no exception";
  } catch (const CFileAccessException& e) {
    EXPECT_EQ(e.GetMessage().rfind("Unable to create temporary input audio file", 0), 0u)
        << e.GetMessage();
  }
}

TEST_F(ConvertAudioTest, TemporaryFileThatCannotBeWrittenEndsTheConversion) {
  const auto wav = test::WavBytes(test::Tone(10000, 300, 500));
  const std::string path = dir / "big.vorn";
  test::WriteBytes(path, test::RoutineFileBytes(
      test::MakeHeader("wav", 0, static_cast<std::uint32_t>(wav.size()), 0), wav, {}));
  CUniqueFile file(std::fopen(path.c_str(), "rb"));
  std::fseek(file.get(), kAudioStart, SEEK_SET);

  // A file size limit stands in for a full disk: writes past it fail with EFBIG.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = 8192;
  ::setrlimit(RLIMIT_FSIZE, &limited);
  std::uint32_t size = 0;
  std::FILE* stream = nullptr;
  bool threw = false;
  std::string message;
  try {
    ConvertAudio(test::MakeHeader("wav", 0, static_cast<std::uint32_t>(wav.size()), 0), file.get(),
                 size, stream, ConversionContext{&status, &progress});
  } catch (const CFileAccessException& e) {
    threw = true;
    message = e.GetMessage();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_TRUE(threw);
  EXPECT_EQ(message.rfind("Unable to write temporary input audio file", 0), 0u) << message;
  EXPECT_EQ(stream, nullptr);
}

}  // namespace
}  // namespace vorn
