// The preview's reading of a routine against hostile routines: each row
// plants one fault and expects the picture to say what is wrong, while the
// reading stays bounded (lanes and columns capped, sectors read capped).
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "audio/Mp3Frames.h"
#include "disk/ControlLanes.h"
#include "disk/RoutinePreview.h"
#include "disk/VornDisk.h"
#include "tests/support/MemoryDevice.h"

namespace vorn {
namespace {

constexpr int kAudioFrames = 383;  // 10.0 s of silent frames

std::vector<std::uint8_t> MiniSscSweep(int frames, int servos = 2) {
  std::vector<std::uint8_t> data;
  for (int f = 0; f < frames; ++f) {
    for (int s = 0; s < servos; ++s) data.insert(data.end(), {255, static_cast<std::uint8_t>(s), static_cast<std::uint8_t>(f % 255)});
  }
  return data;
}

struct Planted {
  const char* name;
  int protocol;
  std::uint8_t frameRate;
  std::vector<std::uint8_t> control;
  std::uint32_t extraControlSectors;  // claimed beyond the data (zeros)
  std::uint32_t pastTheEnd;           // sectors the entry claims past the device's end
  const char* note;                   // in one of the picture's notes ("" for none expected)
  std::size_t lanes;
};

TEST(RoutinePreviewTest, HostileRoutinesStayBoundedAndSayWhatIsWrong) {
  std::vector<std::uint8_t> dmx;
  for (int f = 0; f < 500; ++f) {
    for (int slot = 0; slot < 24; ++slot) dmx.push_back(slot == 3 ? static_cast<std::uint8_t>(f) : slot == 7 ? 9 : 0);
  }
  // 256 servos set, then two million lines that move none of them.
  std::string flood;
  for (int servo = 0; servo < 256; ++servo) flood += "SV" + std::to_string(servo) + " M9\r";
  for (int line = 0; line < 2000000; ++line) flood += "W\r";
  const std::vector<Planted> rows = {
      {"sound MiniSSC", 0, 20, MiniSscSweep(500), 0, 0, "", 2},
      {"all 255", 0, 20, std::vector<std::uint8_t>(70000, 255), 0, 0, "does not decode as MiniSSC (servo number 255 at byte 1)", 1},
      {"0 ms frame period", 0, 0, MiniSscSweep(500), 0, 0, "the frame period is 0 ms", 2},
      {"huge control data", 0, 20, MiniSscSweep(10), 140000, 0, "only its first 64 MB are decoded", 2},
      {"past the end", 0, 20, MiniSscSweep(500), 0, 5000, "runs past the end of the disk", 2},
      {"unknown protocol", 6, 20, MiniSscSweep(500), 0, 0, "the protocol is Unknown (code 6)", 1},
      {"SV203 without lines", 1, 20, MiniSscSweep(500), 0, 0, "does not decode as SV203", 1},
      {"SV203 flood of lines", 1, 20, {flood.begin(), flood.end()}, 0, 0, "command 'W' in the line ending at byte", 256},
      {"DMX", 5, 20, dmx, 0, 0, "a frame is taken to be 24 bytes, the period", 1},
      {"control longer than audio", 0, 40, MiniSscSweep(500), 0, 0, "plays 20.0 s, the audio 10.0 s", 2},
  };
  for (const Planted& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::uint8_t> mp3;
    for (int i = 0; i < kAudioFrames; ++i) mp3.insert(mp3.end(), g_silentMp3Frame.begin(), g_silentMp3Frame.end());
    const std::size_t pad = (kSectorSize - mp3.size() % kSectorSize) % kSectorSize;
    mp3.insert(mp3.end(), g_mp3SectorFiller.begin(), g_mp3SectorFiller.begin() + static_cast<std::ptrdiff_t>(pad));
    std::vector<std::uint8_t> control = row.control;
    control.resize((control.size() + kSectorSize - 1) / kSectorSize * kSectorSize + row.extraControlSectors * kSectorSize, 0);
    const auto mp3Sectors = static_cast<std::uint32_t>(mp3.size() / kSectorSize);
    const auto controlSectors = static_cast<std::uint32_t>(control.size() / kSectorSize);
    CMemoryDevice device(1 + mp3Sectors + controlSectors);
    RoutineEntry entry;
    entry.startSector = 1;
    entry.dataSector = 1 + mp3Sectors;
    entry.endSector = entry.dataSector + controlSectors + row.pastTheEnd;
    entry.frameRate = row.frameRate;
    entry.controllerSettings[0] = static_cast<std::uint8_t>(row.protocol);
    std::copy(mp3.begin(), mp3.end(), device.Sector(1));
    std::copy(control.begin(), control.end(), device.Sector(entry.dataSector));

    std::size_t batches = 0;
    const RoutinePicture picture = PreviewRoutine(device, entry, {{}, [&](std::uint64_t, const std::vector<PeakColumn>&) { ++batches; }});
    EXPECT_NEAR(picture.audioSeconds, 10.0, 0.05);
    EXPECT_GT(batches, 0u);
    const std::vector<std::string> notes = picture.AllNotes();
    if (*row.note != '\0') {
      EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [&](const std::string& n) { return n.find(row.note) != std::string::npos; }))
          << ::testing::PrintToString(notes);
    }
    EXPECT_EQ(picture.control.lanes.size(), row.lanes);
    EXPECT_LE(picture.control.columns, kMaxLaneColumns);
    EXPECT_LE(picture.peaks.size(), kMaxPeakColumns);
    std::uint64_t read = 0;
    for (const Transfer& t : device.Transfers()) read += t.count;
    EXPECT_LE(read * kSectorSize, mp3.size() + kMaxControlBytes);
  }
}

// The waveform comes in batches from the first pieces read on, in order,
// in a number of columns that does not grow with the routine.
TEST(RoutinePreviewTest, ALongRoutinesColumnsComeEarlyInOrderAndCapped) {
  constexpr int kFrames = 40 * 60 * 44100 / 1152;  // 40 minutes of silent frames, 38 MB
  CMemoryDevice device(static_cast<std::uint32_t>(2 + static_cast<std::uint64_t>(kFrames) * kSilentFrameSize / kSectorSize));
  std::uint8_t* at = device.Sector(1);
  for (int i = 0; i < kFrames; ++i) at = std::copy(g_silentMp3Frame.begin(), g_silentMp3Frame.end(), at);
  RoutineEntry entry;
  entry.startSector = 1;
  entry.dataSector = entry.endSector = device.SectorCount() - 1;

  std::optional<std::uint64_t> readBeforeFirst;
  std::uint64_t next = 0;
  const auto sectorsRead = [&] {
    std::uint64_t read = 0;
    for (const Transfer& t : device.Transfers()) read += t.count;
    return read;
  };
  const RoutinePicture picture = PreviewRoutine(device, entry, {{}, [&](std::uint64_t first, const std::vector<PeakColumn>& columns) {
    if (!readBeforeFirst) readBeforeFirst = sectorsRead();
    EXPECT_EQ(first, next);
    next = first + columns.size();
  }});
  ASSERT_TRUE(readBeforeFirst);
  EXPECT_LE(*readBeforeFirst, 64u + 128u + 256u);  // the first pieces, not the 76,000 sectors
  EXPECT_EQ(next, picture.peaks.size());
  EXPECT_LE(picture.peaks.size(), kMaxPeakColumns);
  EXPECT_GT(picture.peaks.size(), kMaxPeakColumns / 2);
  EXPECT_NEAR(picture.audioSeconds, kFrames * 1152 / 44100.0, 0.1);
}

}  // namespace
}  // namespace vorn
