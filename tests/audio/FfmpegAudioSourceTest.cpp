#include "audio/FfmpegAudioSource.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <thread>

#include "audio/FfmpegError.h"
#include "platform/Error.h"
#include "tests/audio/AudioTestSupport.h"

namespace vorn {
namespace {

using test::CRecordingPresenter;
using test::Decoded;
using test::DecodeFile;

constexpr std::uint32_t kTenSeconds = 441000;

// 10 s of 440 Hz left, 1000 Hz right, in every format the tests decode: the WAV
// written by the code itself, the others made from it when a test first asks
// for them, with the Debian lame and ffmpeg tools.
class FfmpegAudioSourceTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = std::make_unique<test::CScratchDir>();
    s_tone = test::MakeTone(44100, {440.0, 1000.0}, 10.0);
    test::WriteWav(Path("tone.wav"), s_tone);
    s_toolsMissing = !test::HaveTool("ffmpeg") || !test::HaveTool("lame");
  }
  static void TearDownTestSuite() { s_dir.reset(); }

  void SetUp() override {
    if (s_toolsMissing) GTEST_SKIP() << "ffmpeg and lame are needed to make the fixtures";
  }

  static std::string Path(const std::string& name) { return *s_dir / name; }

  // The tone in the format its name says, made on first use.
  static std::string Tone(const std::string& extension) {
    const std::string wav = Path("tone.wav");
    const std::string path = Path("tone." + extension);
    if (test::FileExists(path)) return path;
    bool made = false;
    if (extension == "mp3") {
      made = test::RunCommand("lame --quiet -b 128 '" + wav + "' '" + path + "'");
    } else if (extension == "flac") {
      made = test::FfmpegConvert(wav, "-c:a flac", path);
    } else if (extension == "ogg") {
      made = test::FfmpegConvert(wav, "-c:a libvorbis -q:a 5", path);
    } else if (extension == "m4a") {
      made = test::FfmpegConvert(wav, "-c:a aac -b:a 160k", path);
    }
    EXPECT_TRUE(made || extension == "wav") << path;
    return path;
  }

  // The file with 4 KiB of noise written over its middle.
  static std::string Corrupted(const std::string& extension) {
    const std::string name = "tone." + extension;
    std::vector<std::uint8_t> bytes = test::ReadBytes(Tone(extension));
    std::srand(7);
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 4096; ++i) {
      bytes[i] = static_cast<std::uint8_t>(std::rand());
    }
    test::WriteBytes(Path("corrupt-" + name), bytes);
    return Path("corrupt-" + name);
  }

  static std::string Truncated(const std::string& extension, double keep) {
    const std::string name = "tone." + extension;
    std::vector<std::uint8_t> bytes = test::ReadBytes(Tone(extension));
    bytes.resize(static_cast<std::size_t>(static_cast<double>(bytes.size()) * keep));
    test::WriteBytes(Path("cut-" + name), bytes);
    return Path("cut-" + name);
  }

  // Opens path expecting the one decoder error ("<label>: <reason>", the
  // decoder's caption) and no box shown on the way; gives its text.
  static std::string OpenFails(CFfmpegAudioSource& source, const std::string& path,
                               const std::string& label) {
    CRecordingPresenter boxes;
    std::string text;
    try {
      source.Open(path);
      ADD_FAILURE() << path << " opened";
    } catch (const CVornError& e) {
      text = e.what();
      EXPECT_EQ(e.Caption(), "CDirectXUtils Error!");
      EXPECT_EQ(e.Icon(), MessageIcon::kError);
    }
    EXPECT_TRUE(boxes.requests.empty()) << path;
    if (!label.empty()) {
      EXPECT_EQ(text.rfind(label + ": ", 0), 0u) << text;
    }
    EXPECT_NE(text.find(": "), std::string::npos) << text;
    EXPECT_GT(text.size(), text.find(": ") + 2) << text;
    return text;
  }

  static inline std::unique_ptr<test::CScratchDir> s_dir;
  static inline test::Pcm s_tone;
  static inline bool s_toolsMissing = false;
};

struct FormatCase {
  const char* extension;
  std::uint32_t extraFrames;  // codec padding the container does not trim
  double minCorrelation;      // 1 for lossless
};

void PrintTo(const FormatCase& format, std::ostream* out) { *out << format.extension; }

std::string FormatName(const testing::TestParamInfo<FormatCase>& format) {
  return format.param.extension;
}

class FfmpegAudioSourceFormatTest : public FfmpegAudioSourceTest,
                                    public testing::WithParamInterface<FormatCase> {};

TEST_P(FfmpegAudioSourceFormatTest, DecodesToTenSecondsOfTheSameStereoAudio) {
  CRecordingPresenter boxes;
  const Decoded decoded = DecodeFile(Tone(GetParam().extension));
  ASSERT_TRUE(decoded.ok);
  EXPECT_TRUE(boxes.requests.empty());
  EXPECT_GE(decoded.length, kTenSeconds);
  EXPECT_LE(decoded.length, kTenSeconds + GetParam().extraFrames);
  ASSERT_EQ(decoded.samples.size(), decoded.length * 2u);
  if (GetParam().minCorrelation >= 1.0) {
    EXPECT_TRUE(std::equal(s_tone.samples.begin(), s_tone.samples.end(), decoded.samples.begin()));
  } else {
    // Distinct tones per channel: swapped channels would not correlate.
    EXPECT_GT(test::BestCorrelation(s_tone.samples, decoded.samples, 0, 2048), GetParam().minCorrelation);
    EXPECT_GT(test::BestCorrelation(s_tone.samples, decoded.samples, 1, 2048), GetParam().minCorrelation);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FfmpegAudioSourceFormatTest,
                         testing::Values(FormatCase{"wav", 0, 1.0}, FormatCase{"flac", 0, 1.0},
                                         FormatCase{"mp3", 1152, 0.99},
                                         FormatCase{"ogg", 0, 0.99},
                                         FormatCase{"m4a", 2048, 0.99}),
                         FormatName);

TEST_F(FfmpegAudioSourceTest, MonoIsMappedToBothChannelsAtFullLevel) {
  // 48 kHz mono WAV made by the code; 22,050 Hz mono MP3 (MPEG-2) made by ffmpeg.
  test::WriteWav(Path("mono48.wav"), test::MakeTone(48000, {440.0}, 10.0, 0.5));
  ASSERT_TRUE(test::FfmpegConvert(Path("mono48.wav"), "-ar 22050 -c:a libmp3lame -b:a 64k",
                                  Path("mono22.mp3")));
  for (const char* name : {"mono48.wav", "mono22.mp3"}) {
    CRecordingPresenter boxes;
    const Decoded decoded = DecodeFile(Path(name));
    ASSERT_TRUE(decoded.ok) << name;
    EXPECT_TRUE(boxes.requests.empty());
    EXPECT_NEAR(static_cast<double>(decoded.length), kTenSeconds, 2.0) << name;
    int peak = 0;
    for (std::size_t i = 0; i + 1 < decoded.samples.size(); i += 2) {
      ASSERT_EQ(decoded.samples[i], decoded.samples[i + 1]) << name << " frame " << i / 2;
      peak = std::max(peak, std::abs(static_cast<int>(decoded.samples[i])));
    }
    EXPECT_NEAR(peak, 16384, 16384 * 0.05) << name;
  }
}

TEST_F(FfmpegAudioSourceTest, StereoAt48kHzKeepsItsChannelsApart) {
  // Left: a tone, right: silence. Resampling must not bleed one into the other.
  test::Pcm pcm = test::MakeTone(48000, {440.0, 0.0}, 10.0, 0.5);
  test::WriteWav(Path("left48.wav"), pcm);
  ASSERT_TRUE(test::FfmpegConvert(Path("left48.wav"), "-c:a libvorbis", Path("left48.ogg")));
  for (const char* name : {"left48.wav", "left48.ogg"}) {
    const Decoded decoded = DecodeFile(Path(name));
    ASSERT_TRUE(decoded.ok) << name;
    EXPECT_NEAR(static_cast<double>(decoded.length), kTenSeconds, 2.0) << name;
    int leftPeak = 0, rightPeak = 0;
    for (std::size_t i = 0; i + 1 < decoded.samples.size(); i += 2) {
      leftPeak = std::max(leftPeak, std::abs(static_cast<int>(decoded.samples[i])));
      rightPeak = std::max(rightPeak, std::abs(static_cast<int>(decoded.samples[i + 1])));
    }
    EXPECT_NEAR(leftPeak, 16384, 16384 * 0.05) << name;
    EXPECT_LT(rightPeak, 100) << name;
  }
}

TEST_F(FfmpegAudioSourceTest, SurroundIsMixedDownToStereo) {
  ASSERT_TRUE(test::FfmpegConvert(Tone("wav"), "-af 'pan=5.1|FL=c0|FR=c1|FC=c0|LFE=c1|BL=c0|BR=c1' -c:a flac",
                                  Path("surround.flac")));
  const Decoded decoded = DecodeFile(Path("surround.flac"));
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.length, kTenSeconds);
}

TEST_F(FfmpegAudioSourceTest, ReadSeekAndLengthServeThePcmFile) {
  CRecordingPresenter boxes;
  CFfmpegAudioSource source;
  ASSERT_TRUE(source.Open(Path("tone.wav")));
  EXPECT_EQ(source.GetLength(), kTenSeconds);

  // GetLength leaves the position at the start.
  std::int32_t frames[1024];
  ASSERT_EQ(source.Read(frames, nullptr, 1024, true), 1024);
  EXPECT_EQ(0, std::memcmp(frames, s_tone.samples.data(), sizeof frames));

  // Planar reads give the same samples, sign-extended, and either side may be null.
  std::int32_t left[1024], right[1024];
  ASSERT_TRUE(source.Seek(0));
  EXPECT_EQ(source.Read(left, right, 1024, false), 1024);
  for (int i = 0; i < 1024; ++i) {
    ASSERT_EQ(left[i], s_tone.samples[2 * static_cast<std::size_t>(i)]);
    ASSERT_EQ(right[i], s_tone.samples[2 * static_cast<std::size_t>(i) + 1]);
  }
  EXPECT_EQ(source.Read(nullptr, right, 1024, false), 1024);
  EXPECT_EQ(right[0], s_tone.samples[2 * 1024 + 1]);
  EXPECT_EQ(source.Read(left, right, 0, false), 0);
  EXPECT_EQ(source.Read(nullptr, nullptr, 16, true), 0);

  // Near the end: the remainder, then nothing.
  ASSERT_TRUE(source.Seek(kTenSeconds - 100));
  EXPECT_EQ(source.Read(frames, nullptr, 1024, true), 100);
  EXPECT_EQ(source.Read(frames, nullptr, 1024, true), 0);
  EXPECT_TRUE(source.Seek(kTenSeconds + 5000));
  EXPECT_EQ(source.Read(frames, nullptr, 1024, true), 0);
  EXPECT_EQ(source.GetLength(), kTenSeconds);
  EXPECT_TRUE(boxes.requests.empty());
}

TEST_F(FfmpegAudioSourceTest, PcmFileHasNoNameAndEndsWithClose) {
  // Nothing of the PCM is ever in the temporary directory, so nothing can be
  // left there however the process ends.
  const test::CScratchDir tmp;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", tmp.Path().c_str(), 1);
  {
    CFfmpegAudioSource source;
    EXPECT_TRUE(source.Open(Path("tone.wav")));
    EXPECT_TRUE(std::filesystem::is_empty(tmp.Path()));
    EXPECT_EQ(source.GetPcmPath().rfind("/proc/self/fd/", 0), 0u) << source.GetPcmPath();
    source.Close();
    source.Close();  // twice is harmless
    EXPECT_EQ(source.GetLength(), 0u);
    EXPECT_TRUE(source.Open(Tone("flac")));  // and the source can be used again
    EXPECT_EQ(source.GetLength(), kTenSeconds);
  }
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
  EXPECT_TRUE(std::filesystem::is_empty(tmp.Path()));
}

void WriteText(const std::string& path, const std::string& text) {
  test::WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

TEST_F(FfmpegAudioSourceTest, UndecodableInputsFailWithOneError) {
  test::WriteBytes(Path("notes.txt"), std::vector<std::uint8_t>(3000, 'x'));
  // Containers that make the demuxer open other files or addresses, and files
  // that are not files: each is refused at once, before anything is read
  // from elsewhere (a live playlist would otherwise be reloaded for ever).
  const std::string tone = Tone("mp3");
  WriteText(Path("live.m3u8"),
            "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXT-X-MEDIA-SEQUENCE:1\n#EXTINF:10,\n" + tone + "\n");
  WriteText(Path("remote.m3u8"),
            "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nhttp://127.0.0.1:9/a.ts\n#EXT-X-ENDLIST\n");
  WriteText(Path("list.ffconcat"), "ffconcat version 1.0\nfile '" + tone + "'\n");
  WriteText(Path("tone.sdp"), "v=0\no=- 0 0 IN IP4 127.0.0.1\ns=x\nc=IN IP4 127.0.0.1\nt=0 0\n"
                              "m=audio 9 RTP/AVP 0\n");
  ASSERT_EQ(mkfifo(Path("fifo.wav").c_str(), 0600), 0);
  struct Case {
    std::string path;
    const char* label;  // the step that fails; FFmpeg probes text as it likes
    const char* says;   // in the text of the box
  } cases[] = {
      {Path("missing.wav"), "avformat_open_input", "No such file"},
      {Path("notes.txt"), "", ""},
      {Path("live.m3u8"), "avformat_open_input", "not audio the program reads (hls)"},
      {Path("remote.m3u8"), "avformat_open_input", "not audio the program reads (hls)"},
      {Path("list.ffconcat"), "avformat_open_input", "not audio the program reads (concat)"},
      {Path("tone.sdp"), "avformat_open_input", "not audio the program reads (sdp)"},
      {Path("fifo.wav"), "avformat_open_input", "not a regular file"},
      {s_dir->Path(), "avformat_open_input", "not a regular file"},
  };
  for (const Case& c : cases) {
    CFfmpegAudioSource source;
    const std::string text = OpenFails(source, c.path, c.label);
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_TRUE(source.GetPcmPath().empty());  // the PCM file went with the failure
  }
}

TEST_F(FfmpegAudioSourceTest, TheCancelFlagAndTheTimeLimitEndADecoding) {
  // The flag is looked at by every read: set, the decoding ends without a box.
  CCancelFlag cancel;
  cancel.Cancel();
  for (const char* extension : {"wav", "mp3", "m4a"}) {
    CRecordingPresenter boxes;
    CFfmpegAudioSource source;
    source.SetCancelFlag(&cancel);
    EXPECT_THROW(source.Open(Tone(extension)), CCancelled) << extension;
    EXPECT_TRUE(boxes.requests.empty());
    EXPECT_TRUE(source.GetPcmPath().empty());
  }
  // Set while the decoding runs, from another thread, as the window's Cancel does.
  {
    CCancelFlag later;
    CFfmpegAudioSource source;
    source.SetCancelFlag(&later);
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      later.Cancel();
    });
    bool cancelled = false;
    try {
      source.Open(Tone("flac"));
    } catch (const CCancelled&) {
      cancelled = true;
    }
    canceller.join();
    // A fast machine may finish the 10 s first; then the flag came too late.
    if (!cancelled) {
      EXPECT_GE(source.GetLength(), kTenSeconds);
    }
  }
  // A decoding that runs past its time limit fails like any other step.
  CFfmpegAudioSource source;
  source.SetTimeLimit(std::chrono::seconds(0));
  const std::string text = OpenFails(source, Tone("wav"), "avformat_open_input");
  EXPECT_NE(text.find("did not end within"), std::string::npos) << text;
}

TEST_F(FfmpegAudioSourceTest, DecodingErrorsInMidStreamFail) {
  for (const std::string& path : {Corrupted("flac"), Corrupted("mp3"), Corrupted("m4a")}) {
    CFfmpegAudioSource source;
    OpenFails(source, path, "");
  }
}

TEST_F(FfmpegAudioSourceTest, CutStreamsWithoutDecodingErrorsGiveWhatIsThere) {
  // A file cut short, even inside a frame, is whole up to its unfinished end.
  for (const std::string& path : {Truncated("wav", 0.5), Truncated("mp3", 0.5), Truncated("flac", 0.5)}) {
    CRecordingPresenter boxes;
    const Decoded decoded = DecodeFile(path);
    EXPECT_TRUE(decoded.ok) << path;
    // Up to two FLAC blocks of 4608 frames go with the cut.
    EXPECT_LE(decoded.length, kTenSeconds / 2 + 1000) << path;
    EXPECT_GE(decoded.length, kTenSeconds / 2 - 2 * 4608) << path;
    EXPECT_TRUE(boxes.requests.empty());
  }
}

TEST_F(FfmpegAudioSourceTest, PcmFileThatCannotBeMadeFailsTheOpen) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", Path("no-such-dir").c_str(), 1);
  CFfmpegAudioSource source;
  const std::string text = OpenFails(source, Path("tone.wav"), "");
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
  EXPECT_NE(text.find("temporary file"), std::string::npos) << text;
}

TEST_F(FfmpegAudioSourceTest, PcmFileThatCannotBeWrittenFailsTheOpen) {
  // A file size limit stands in for a full disk: writes past it fail with EFBIG.
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  CFfmpegAudioSource source;
  const std::string text = OpenFails(source, Path("tone.wav"), "");
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(text.rfind("Unable to write the decoded audio", 0), 0u) << text;
  EXPECT_NE(text.find("File too large"), std::string::npos) << text;  // the system's reason
}

}  // namespace
}  // namespace vorn

namespace vorn {
namespace {

#if defined(__SANITIZE_ADDRESS__)
#define VORN_PEAK_MEMORY_TELLS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORN_PEAK_MEMORY_TELLS 0
#endif
#endif
#ifndef VORN_PEAK_MEMORY_TELLS
#define VORN_PEAK_MEMORY_TELLS 1
#endif

// Any rate the decoder reads converts, the lowest included, and the output
// is resampled in pieces: a 1 Hz WAV makes 44,100 frames of every sample,
// which must never be asked for in one piece of memory. So ten times the
// audio at 1 Hz may not raise the peak memory a shorter one reached.
TEST(FfmpegAudioSourceRateTest, EveryRateConvertsInMemoryThatDoesNotGrowWithTheAudio) {
  const test::CScratchDir dir;
  long peak = 0;  // KiB, after the first 1 Hz decoding
  for (const auto& [rate, samples] : std::vector<std::pair<int, std::size_t>>{
           {1, 30}, {1, 300}, {50, 300}, {400, 400}, {401, 401}, {8000, 8000}, {96000, 96000}}) {
    test::Pcm pcm;
    pcm.sampleRate = rate;
    pcm.channels = 1;
    pcm.samples.assign(samples, 8000);
    test::WriteWav(dir / "rate.wav", pcm);
    CFfmpegAudioSource source;
    try {
      EXPECT_TRUE(source.Open(dir / "rate.wav")) << rate;
    } catch (const CVornError& e) {
      ADD_FAILURE() << rate << " Hz: " << e.what();
      continue;
    }
    const double expected = static_cast<double>(samples) * kPcmSampleRate / rate;
    // Within a percent, and one input sample (the resampler's filter may drop one).
    EXPECT_NEAR(source.GetLength(), expected, expected * 0.01 + 64 + kPcmSampleRate / rate) << rate << " Hz";
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    if (peak == 0) peak = usage.ru_maxrss;
    // (The address sanitizer holds freed memory back, so its peak says nothing.)
    if (VORN_PEAK_MEMORY_TELLS) {
      EXPECT_LT(usage.ru_maxrss - peak, 16 * 1024) << rate << " Hz, " << samples << " samples: KiB more";
    }
  }
}

}  // namespace
}  // namespace vorn
