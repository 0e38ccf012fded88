#include "audio/Mp3Frames.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "device/DeviceExceptions.h"
#include "tests/audio/AudioTestSupport.h"

namespace vorn {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::uint8_t kAccepted[4] = {0xFF, 0xFB, 0x90, 0x44};
constexpr long kAudioStart = 68;  // where a routine file's audio begins

std::vector<std::uint8_t> Frame(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  const std::size_t size = 417 + ((b2 >> 1) & 1u);
  std::vector<std::uint8_t> frame(size, 0x55);
  frame[0] = 0xFF;
  frame[1] = b1;
  frame[2] = b2;
  frame[3] = b3;
  return frame;
}

// A file with 68 bytes of header stand-in, then the frames; positioned at the
// first audio byte.
FilePtr RoutineFile(const std::vector<std::vector<std::uint8_t>>& frames) {
  FilePtr file(std::tmpfile());
  std::vector<std::uint8_t> bytes(kAudioStart, 0xAA);
  for (const auto& f : frames) bytes.insert(bytes.end(), f.begin(), f.end());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::fseek(file.get(), kAudioStart, SEEK_SET);
  return file;
}

RoutineFileHeader Header(std::uint32_t audioSize, std::uint32_t format = 1) {
  RoutineFileHeader header;
  header.audioFormat = format;
  header.audioSize = audioSize;
  return header;
}

TEST(Mp3FramesTest, SilentFrameAndFillerBytes) {
  const std::vector<std::uint8_t> sideInfo = {
      0x00, 0x00, 0x00, 0x00, 0x00, 0x4B, 0x80, 0x00, 0x00, 0x08, 0x00, 0x00, 0x09, 0x70, 0x00, 0x00,
      0x01, 0x00, 0x00, 0x01, 0x2E, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x25, 0xC0, 0x00, 0x00, 0x04};
  EXPECT_EQ(std::vector<std::uint8_t>(g_silentMp3Frame.begin(), g_silentMp3Frame.begin() + 4),
            (std::vector<std::uint8_t>{0xFF, 0xFB, 0x93, 0x4C}));
  EXPECT_EQ(std::vector<std::uint8_t>(g_silentMp3Frame.begin() + 4, g_silentMp3Frame.begin() + 36),
            sideInfo);
  for (std::size_t i = 36; i < kSilentFrameSize; ++i) ASSERT_EQ(g_silentMp3Frame[i], 0xFF) << i;
  for (std::size_t i = 0; i < 512; ++i) {
    ASSERT_EQ(g_mp3SectorFiller[i], g_silentMp3Frame[i % kSilentFrameSize]) << i;
  }
  EXPECT_TRUE(IsAcceptedFrameHeader(g_silentMp3Frame.data()));
}

TEST(Mp3FramesTest, SilentFramesDecodeToSilence) {
  test::CScratchDir dir;
  std::vector<std::uint8_t> stream;
  for (int i = 0; i < 20; ++i) stream.insert(stream.end(), g_silentMp3Frame.begin(), g_silentMp3Frame.end());
  test::WriteBytes(dir / "silence.mp3", stream);
  test::CRecordingPresenter boxes;
  const test::Decoded decoded = test::DecodeFile(dir / "silence.mp3");
  ASSERT_TRUE(decoded.ok);
  EXPECT_GT(decoded.length, 15u * 1152);
  for (std::int16_t s : decoded.samples) ASSERT_EQ(s, 0);
  EXPECT_TRUE(boxes.requests.empty());
}

TEST(Mp3FramesTest, HeaderMaskLeavesOnlyTheFreeBitsFree) {
  for (std::uint8_t b1 : {0xFA, 0xFB}) {
    for (std::uint8_t b2 : {0x90, 0x91, 0x92, 0x93}) {
      for (int b3 = 0; b3 < 256; b3 += 17) {
        const std::uint8_t h[4] = {0xFF, b1, b2, static_cast<std::uint8_t>(b3)};
        EXPECT_TRUE(IsAcceptedFrameHeader(h)) << int(b1) << " " << int(b2) << " " << b3;
      }
    }
  }
  const std::uint8_t rejected[][4] = {
      {0xFE, 0xFB, 0x90, 0x44},  // syncword
      {0xFF, 0xF3, 0x90, 0x44},  // MPEG-2
      {0xFF, 0xF2, 0x90, 0x44},  // MPEG-2 with CRC
      {0xFF, 0xFD, 0x90, 0x44},  // Layer II
      {0xFF, 0xFB, 0xA0, 0x44},  // 160 kbit/s
      {0xFF, 0xFB, 0x94, 0x44},  // 48,000 Hz
      {0xFF, 0xFB, 0x98, 0x44},  // 32,000 Hz
      {0x49, 0x44, 0x33, 0x04},  // "ID3"
  };
  for (const auto& h : rejected) EXPECT_FALSE(IsAcceptedFrameHeader(h)) << int(h[1]) << int(h[2]);
}

TEST(Mp3FramesTest, OtherAudioFormatsAreNeverPassedThrough) {
  auto file = RoutineFile({Frame(0xFB, 0x90, 0x44), Frame(0xFB, 0x90, 0x44)});
  for (std::uint32_t format : {0u, 2u}) {
    EXPECT_FALSE(IsCompatibleMp3(Header(834, format), file.get()));
    EXPECT_EQ(std::ftell(file.get()), kAudioStart);
  }
  EXPECT_FALSE(IsCompatibleMp3(Header(0), file.get()));  // no audio: nothing to pass through
}

TEST(Mp3FramesTest, WalkMeasuresFramesByTheirPaddingBit) {
  // Padded and unpadded frames mixed: a walk that ignored the padding bit would
  // land inside a frame body (0x55) and reject the stream.
  auto file = RoutineFile({Frame(0xFB, 0x92, 0x44), Frame(0xFA, 0x90, 0x00), Frame(0xFB, 0x93, 0xFF),
                           Frame(0xFB, 0x90, 0x44)});
  const std::uint32_t size = 418 + 417 + 418 + 417;
  EXPECT_TRUE(IsCompatibleMp3(Header(size), file.get()));
  EXPECT_EQ(std::fgetc(file.get()), 0xFF);  // back at the first audio byte
}

TEST(Mp3FramesTest, OnlyAudioEndingOnAFrameBoundaryPassesThrough) {
  // Audio cut inside its last frame (the rest of the section belongs to the
  // routine's data) would end the routine on the disk in a partial frame.
  auto file = RoutineFile({Frame(0xFB, 0x90, 0x44), Frame(0xFB, 0x90, 0x44), Frame(0xFB, 0x90, 0x44)});
  for (const auto& [size, passes] : std::vector<std::pair<std::uint32_t, bool>>{
           {1251, true}, {834, true}, {417, true}, {1250, false}, {1000, false}, {835, false}, {4, false}}) {
    EXPECT_EQ(IsCompatibleMp3(Header(size), file.get()), passes) << size;
    EXPECT_EQ(std::ftell(file.get()), kAudioStart);
  }
}

TEST(Mp3FramesTest, OneForeignFrameAnywhereRejectsTheStream) {
  const std::vector<std::uint8_t> foreign[] = {Frame(0xFB, 0xA0, 0x44), Frame(0xFB, 0x94, 0x44),
                                               Frame(0xF3, 0x90, 0x44), Frame(0xF2, 0x90, 0x44)};
  for (const auto& bad : foreign) {
    for (int at = 0; at < 3; ++at) {
      std::vector<std::vector<std::uint8_t>> frames(3, Frame(0xFB, 0x90, 0x44));
      frames[static_cast<std::size_t>(at)] = bad;
      auto file = RoutineFile(frames);
      EXPECT_FALSE(IsCompatibleMp3(Header(1251), file.get())) << at;
      EXPECT_EQ(std::ftell(file.get()), kAudioStart);
    }
  }
  auto tagged = RoutineFile({{'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0}, Frame(0xFB, 0x90, 0x44)});
  EXPECT_FALSE(IsCompatibleMp3(Header(427), tagged.get()));
}

TEST(Mp3FramesTest, AudioSizeBeyondTheFramesThrows) {
  auto file = RoutineFile({Frame(0xFB, 0x90, 0x44), Frame(0xFB, 0x90, 0x44)});
  try {
    IsCompatibleMp3(Header(2000), file.get());
    FAIL() << "no exception";
  } catch (const CFileAccessException& e) {
    EXPECT_EQ(e.GetMessage(), "Unable to read mp3 frame");
  }
}

TEST(Mp3FramesTest, AStreamThatCannotSeekCannotBeCheckedAndSaysSo) {
  // Frames of the disk's kind arriving through a pipe: the walk cannot hop over
  // the bodies nor come back, so it must not answer as if it had checked them.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 3; ++i) {
    const auto frame = Frame(0xFB, 0x90, 0x44);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
  }
  ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fds[1]);
  FilePtr pipe(::fdopen(fds[0], "rb"));
  ASSERT_TRUE(pipe);
  try {
    IsCompatibleMp3(Header(1251), pipe.get());
    FAIL() << "no exception";
  } catch (const CFileAccessException& e) {
    EXPECT_EQ(e.GetMessage(), "Unable to read mp3 frame");
  }
}

}  // namespace
}  // namespace vorn
