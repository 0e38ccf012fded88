// The disk check against a table of planted faults: each row damages a
// freshly built disk in one way and expects the check to name that damage
// (and nothing worse elsewhere). Every row runs in-process and, where the
// fault survives being written to an image, through vorn3ctl as well.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <nlohmann/json.hpp>

#include "audio/Mp3Frames.h"
#include "device/DeviceExceptions.h"
#include "disk/DiskCheck.h"
#include "disk/DiskHeader.h"
#include "disk/VornDisk.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/ShellCommand.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

// A memory disk one of whose sectors the device refuses to read.
class CBadSectorDevice : public CMemoryDevice {
 public:
  using CMemoryDevice::CMemoryDevice;
  std::optional<std::uint32_t> badSector;
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    if (badSector && *badSector >= first && *badSector < first + count) {
      throw CUsbDeviceException("Unable to read sector");
    }
    CMemoryDevice::ReadSectors(first, count, buffer);
  }
};

constexpr int kAudioFrames = 383;  // 10.0 s of silent frames

// 10 s of MiniSSC commands at 20 ms: 500 frames of 2 servos sweeping.
std::vector<std::uint8_t> Sweep(int frames = 500) {
  std::vector<std::uint8_t> data;
  for (int f = 0; f < frames; ++f) {
    for (std::uint8_t servo : {0, 1}) data.insert(data.end(), {255, servo, static_cast<std::uint8_t>(f % 255)});
  }
  return data;
}

struct Routine {
  std::uint8_t frameRate = 20;
  std::vector<std::uint8_t> control = Sweep();
};

// Appends a routine of silent frames, padded as the import pads, and its control data.
RoutineEntry Append(CVornDisk& disk, CMemoryDevice& device, const Routine& routine) {
  std::vector<std::uint8_t> mp3;
  for (int i = 0; i < kAudioFrames; ++i) mp3.insert(mp3.end(), g_silentMp3Frame.begin(), g_silentMp3Frame.end());
  const std::size_t pad = (kSectorSize - mp3.size() % kSectorSize) % kSectorSize;
  mp3.insert(mp3.end(), g_mp3SectorFiller.begin(), g_mp3SectorFiller.begin() + static_cast<std::ptrdiff_t>(pad));
  std::vector<std::uint8_t> data = routine.control;
  data.resize((data.size() + kSectorSize - 1) / kSectorSize * kSectorSize, 0);

  RoutineEntry entry;
  entry.startSector = disk.NextFreeSector();
  entry.dataSector = entry.startSector + static_cast<std::uint32_t>(mp3.size() / kSectorSize);
  entry.endSector = entry.dataSector + static_cast<std::uint32_t>(data.size() / kSectorSize);
  entry.frameRate = routine.frameRate;
  disk.AppendRoutine(entry, [&] {
    device.WriteSectors(entry.startSector, static_cast<std::uint32_t>(mp3.size() / kSectorSize), mp3.data());
    if (!data.empty()) device.WriteSectors(entry.dataSector, static_cast<std::uint32_t>(data.size() / kSectorSize), data.data());
  });
  return entry;
}

std::uint8_t* FrameOf(CMemoryDevice& device, const RoutineEntry& entry, int frame) {
  return device.Sector(entry.startSector) + static_cast<std::size_t>(frame) * kSilentFrameSize;
}

struct Fault {
  const char* name;
  Routine second;  // the routine planted on; the first stays sound
  std::function<void(CBadSectorDevice&, const RoutineEntry&)> plant;
  CheckLevel level;
  std::optional<std::size_t> routine;
  const char* text;  // in the finding at `level`
  bool inBytes = true;  // false: the fault is the device's, an image of its bytes is sound
};

TEST(DiskCheckTest, EachPlantedFaultIsNamedAndACleanDiskIsGreen) {
  const auto none = [](CBadSectorDevice&, const RoutineEntry&) {};
  std::vector<std::uint8_t> all255(70000, 255);
  std::vector<std::uint8_t> badPosition = Sweep();
  badPosition[3 * 77 + 2] = 255;
  const std::vector<Fault> faults = {
      {"clean", {}, none, CheckLevel::kGreen, 2, "audio 0:10.0, control data 0:10.0 (500 frames of 2 servos)"},
      {"frame header", {},
       [](CBadSectorDevice& d, const RoutineEntry& e) { std::fill_n(FrameOf(d, e, 50), 4, 0); },
       CheckLevel::kRed, 2, "not frames of the disk's kind from frame 51 (byte 20900, at 0:01.3)"},
      // Side information claiming more Huffman values than a granule holds.
      {"frame body", {},
       [](CBadSectorDevice& d, const RoutineEntry& e) { std::fill_n(FrameOf(d, e, 100) + 6, 30, 0xFF); },
       CheckLevel::kRed, 2, "the decoder rejects 1 MP3 frame, the first at 0:02.6"},
      {"unreadable sector", {},
       [](CBadSectorDevice& d, const RoutineEntry& e) { d.badSector = e.startSector + 100; },
       CheckLevel::kRed, 2, "cannot be read: Unable to read sector (1 unreadable sector)"},
      {"table past the end", {},
       [](CBadSectorDevice& d, const RoutineEntry&) {
         DiskHeader header = DiskHeader::Decode(d.Sector(0));
         header.tableSector = d.SectorCount() - 1;
         header.routineCount = 20;
         header.Encode(d.Sector(0));
       },
       CheckLevel::kRed, std::nullopt, "lies past the end of the disk (4096 sectors)"},
      {"control longer than audio", {40, Sweep()}, none, CheckLevel::kAmber, 2,
       "the control data plays 0:20.0, the audio 0:10.0: the unit will cut one short"},
      {"position 255", {20, badPosition}, none, CheckLevel::kRed, 2, "malformed: position 255 at byte 233"},
      {"all 255", {20, all255}, none, CheckLevel::kRed, 2, "servo number 255 at byte 1 (23333 bad commands)"},
      {"0 ms frame period", {0, Sweep()}, none, CheckLevel::kRed, 2, "the frame period is 0 ms"},
      {"card wraps at half its size", {},
       [](CBadSectorDevice& d, const RoutineEntry&) { d.WrapAt(d.SectorCount() / 2); },
       CheckLevel::kRed, std::nullopt, "the card wraps around and holds 2048 sectors (1 MB), not the 4096", false},
  };

  const fs::path image = fs::temp_directory_path() / ("check-test-" + std::to_string(::getpid()) + ".img");
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.name);
    CBadSectorDevice device(4096);
    CVornDisk disk(device, nullptr);
    disk.Format();
    Append(disk, device, {});
    const RoutineEntry planted = Append(disk, device, fault.second);
    fault.plant(device, planted);
    const std::vector<std::uint8_t> before = device.Bytes();

    // With the capacity probe, which must leave every byte as it found it.
    const std::vector<CheckFinding> findings = CheckDisk(device, nullptr, {.capacity = true});
    EXPECT_TRUE(device.Bytes() == before);
    EXPECT_EQ(WorstLevel(findings), fault.level);
    const bool named = std::any_of(findings.begin(), findings.end(), [&](const CheckFinding& f) {
      return f.level == fault.level && f.routine == fault.routine && f.text.find(fault.text) != std::string::npos;
    });
    EXPECT_TRUE(named);
    for (const CheckFinding& finding : findings) {
      if (finding.routine == 1) {
        EXPECT_EQ(finding.level, CheckLevel::kGreen) << finding.text;
      }
    }

    // The same through vorn3ctl, where the fault lives in the bytes.
    if (!fault.inBytes || device.badSector) continue;
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(device.Bytes().data()), static_cast<std::streamsize>(device.Bytes().size()));
    const test::CommandResult json = test::RunShellCommand(std::string(VORN3CTL_PATH) + " check --json --capacity '" + image.string() + "'");
    EXPECT_EQ(json.code, fault.level == CheckLevel::kGreen ? 0 : fault.level == CheckLevel::kAmber ? 3 : 1) << json.err;
    const auto document = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << json.out;
    EXPECT_EQ(document["result"], CheckLevelName(fault.level));
    ASSERT_EQ(document["findings"].size(), findings.size());
    for (std::size_t k = 0; k < findings.size(); ++k) {
      EXPECT_EQ(document["findings"][k]["text"], findings[k].text);
      EXPECT_EQ(document["findings"][k]["routine"].is_null(), !findings[k].routine);
    }
  }
  fs::remove(image);
}

}  // namespace
}  // namespace vorn
