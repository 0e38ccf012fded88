// Routines in every audio format the import meets, added with vorn3ctl to a
// disk image and with AddRoutine to a simulated unit on USB: both disks end up
// with the same sectors, and MP3 of the disk's kind is stored unchanged.
#include <gtest/gtest.h>

#include <memory>

#include "audio/Mp3Frames.h"
#include "device/UsbDevice.h"
#include "device/UsbUnit.h"
#include "disk/VornDisk.h"
#include "tests/audio/RoutineFixtures.h"
#include "tests/support/SimTestBed.h"
#include "tools/Command.h"

namespace vorn {
namespace {

constexpr std::uint64_t kDiskSectors = 16384;

class UnitImportTest : public ::testing::Test {
 protected:
  // A 2-second tone as WAV, and made from it with the fixture tools: MP3 of
  // the disk's kind, MP3 of another bitrate, FLAC and Ogg Vorbis.
  std::vector<std::string> MakeAudio() {
    const std::string wav = dir / "tone.wav";
    test::WriteWav(wav, test::Tone(2 * 44100, 440, 660));
    std::vector<std::string> files = {wav};
    const std::vector<std::pair<std::string, std::string>> made = {
        {"kind.mp3", "lame --quiet -b 128 --cbr --nores -t"},
        {"160k.mp3", "lame --quiet -b 160 --cbr -t"},
    };
    for (const auto& [name, command] : made) {
      EXPECT_TRUE(test::RunCommand(command + " '" + wav + "' '" + (dir / name) + "'")) << name;
      files.push_back(dir / name);
    }
    EXPECT_TRUE(test::FfmpegConvert(wav, "-c:a flac", dir / "tone.flac"));
    files.push_back(dir / "tone.flac");
    EXPECT_TRUE(test::FfmpegConvert(wav, "-c:a libvorbis -q:a 5", dir / "tone.ogg"));
    files.push_back(dir / "tone.ogg");
    return files;
  }

  test::CScratchDir dir;
  test::CSimTestBed bed;
};

TEST_F(UnitImportTest, EveryFormatLandsAlikeOnAnImageAndOnAUnit) {
  ASSERT_TRUE(test::CSimTestBed::Active()) << "simulator not linked first";
  std::vector<std::string> routines;
  for (const std::string& audio : MakeAudio()) {
    const std::string routine = audio + ".vorn";
    test::WriteBytes(dir / "data.bin", test::PatternBytes(3000 + routines.size()));
    ASSERT_EQ(RunVorn3ctl({"make-routine", routine, "--audio", audio, "--data", dir / "data.bin",
                           "--title", std::filesystem::path(audio).filename().string()}), 0);
    routines.push_back(routine);
  }
  ASSERT_EQ(test::ReadBytes(routines[1])[20], 1);  // the disk's kind, marked as such

  // An image, by the command line.
  const std::string image = dir / "disk.img";
  ASSERT_EQ(RunVorn3ctl({"create-image", image, "--size", std::to_string(kDiskSectors * kSectorSize)}), 0);
  std::vector<std::string> add = {"add", image, "--yes", "--quiet"};
  add.insert(add.end(), routines.begin(), routines.end());
  ASSERT_EQ(RunVorn3ctl(add), 0);

  // A unit, by one import as the window runs it.
  sim::SimUnitSpec spec;
  spec.devnum = 3;
  spec.image = bed.Image("unit.img", kDiskSectors);
  sim::CSimConfigWriter writer;
  writer.Bus("001").Unit(spec);
  bed.Install(writer);
  const struct usb_device* record = FindUnitByName("VORN3");
  ASSERT_NE(record, nullptr);
  DeviceEntry entry;
  entry.key = UnitRecord(std::make_shared<const struct usb_device>(*record));
  entry.name = "VORN3";
  {
    CUsbDevice device;
    device.Open(entry);
    ASSERT_TRUE(device.Identify());
    {
      CVornDisk disk(device, nullptr);
      disk.ReadTable();
      for (const std::string& routine : routines) disk.AddRoutine(routine, nullptr);
      ASSERT_EQ(disk.Table().size(), routines.size());
    }
    device.Close();
  }

  const auto onImage = test::ReadBytes(image);
  const auto onUnit = test::ReadBytes(spec.image);
  ASSERT_EQ(onImage.size(), onUnit.size());
  const DiskHeader header = DiskHeader::Decode(onImage.data());
  EXPECT_EQ(header.routineCount, static_cast<std::int32_t>(routines.size()));
  const std::size_t used = (header.tableSector + 1) * std::size_t{kSectorSize};
  EXPECT_TRUE(std::equal(onImage.begin(), onImage.begin() + static_cast<std::ptrdiff_t>(used), onUnit.begin()));

  // The MP3 of the disk's kind went through unchanged, the others were converted.
  const auto mp3 = test::ReadBytes(dir / "kind.mp3");
  const RoutineEntry second = RoutineEntry::Decode(onImage.data() + header.tableSector * std::size_t{kSectorSize} +
                                                   RoutineEntry::kEncodedSize);
  EXPECT_EQ(second.dataSector - second.startSector, (mp3.size() + kSectorSize - 1) / kSectorSize);
  EXPECT_TRUE(std::equal(mp3.begin(), mp3.end(), onImage.begin() + std::ptrdiff_t{second.startSector} * kSectorSize));
  for (int k : {0, 2, 3, 4}) {
    const RoutineEntry routine = RoutineEntry::Decode(onImage.data() + header.tableSector * std::size_t{kSectorSize} +
                                                      k * RoutineEntry::kEncodedSize);
    const std::uint8_t* start = onImage.data() + std::size_t{routine.startSector} * kSectorSize;
    EXPECT_TRUE(IsAcceptedFrameHeader(start)) << routine.Title();
    EXPECT_GT(routine.dataSector - routine.startSector, 2 * 44100 / 1152 * 417 / kSectorSize) << routine.Title();
  }
}

}  // namespace
}  // namespace vorn
