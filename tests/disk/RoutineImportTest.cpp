#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <tuple>

#include "audio/Mp3Frames.h"
#include "device/DeviceExceptions.h"
#include "disk/RoutineImport.h"
#include "disk/VornDisk.h"
#include "platform/UniqueFile.h"
#include "tests/audio/RoutineFixtures.h"
#include "tests/audio/RecordingControls.h"
#include "tests/support/FaultyDevice.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/ReferenceTable.h"

namespace vorn {
namespace {

using test::CRecordingPresenter;
using test::CScratchDir;

std::vector<std::uint8_t> Sectors(CMemoryDevice& device, std::uint32_t first, std::uint32_t count) {
  return {device.Sector(first), device.Sector(first) + std::size_t{count} * kSectorSize};
}

// The bytes a section of `bytes` leaves in its sectors: the bytes, then the tail
// of the last sector from the pattern (none: zeros).
std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> bytes, const std::uint8_t* pattern) {
  const std::size_t tail = bytes.size() % kSectorSize;
  if (tail == 0) return bytes;
  for (std::size_t i = 0; i < kSectorSize - tail; ++i) bytes.push_back(pattern ? pattern[i] : 0);
  return bytes;
}

class RoutineImportTest : public ::testing::Test {
 protected:
  RoutineImportTest() : device(4096) {
    std::fill(device.Bytes().begin(), device.Bytes().end(), 0xEE);  // stale bytes
    CVornDisk disk(device, nullptr);
    disk.Format();
    device.ClearTransfers();
  }

  std::string File(const RoutineFileHeader& header, const std::vector<std::uint8_t>& audio,
                    const std::vector<std::uint8_t>& data) {
    const std::string path = dir / ("r" + std::to_string(++files) + ".vorn");
    test::WriteBytes(path, test::RoutineFileBytes(header, audio, data));
    return path;
  }

  // One import of these files, as the window's worker does it.
  void Import(const std::vector<std::string>& paths) {
    CVornDisk disk(device, &status);
    disk.ReadTable();
    for (const std::string& path : paths) disk.AddRoutine(path, &progress);
  }

  std::vector<RoutineEntry> TableOnDisk() {
    auto reading = ReferenceReadTable(device);
    EXPECT_TRUE(reading && reading->valid);
    return reading ? reading->table : std::vector<RoutineEntry>{};
  }

  CScratchDir dir;
  CMemoryDevice device;
  test::CRecordingStatus status;
  test::CRecordingProgress progress;
  int files = 0;
};

TEST_F(RoutineImportTest, HeaderOnlyFileAppendsAnEmptyRoutineAndWritesOnlyTheTable) {
  Import({File(test::MakeHeader("Empty", 1, 0, 0), {}, {})});
  const auto table = TableOnDisk();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].startSector, 1u);
  EXPECT_EQ(table[0].dataSector, 1u);
  EXPECT_EQ(table[0].endSector, 1u);
  EXPECT_EQ(device.Writes(), (std::vector<Transfer>{{true, 1, 1}, {true, 0, 1}}));
  EXPECT_EQ(status.texts, (std::vector<std::string>{"Ready", "Writing MP3", "Writing Data", "Ready"}));
}

TEST_F(RoutineImportTest, HeaderFieldsReachTheEntry) {
  RoutineFileHeader header = test::MakeHeader("Fifteen chars!!", 0, 0, 10);
  header.frameRate = 33;
  header.baudCode = 5;
  header.controllerSettings[0] = 7;
  RoutineFileHeader longTitle = test::MakeHeader("Eighteen chars....", 0, 0, 0);
  Import({File(header, {}, test::PatternBytes(10)), File(longTitle, {}, {})});
  const auto table = TableOnDisk();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(std::string(table[0].title.data(), 16), std::string("Fifteen chars!!\0", 16));
  EXPECT_EQ(table[0].frameRate, 33);
  EXPECT_EQ(table[0].baudCode, 5);
  EXPECT_EQ(table[0].controllerSettings, header.controllerSettings);
  // Of a longer title the first 16 characters, without NUL.
  EXPECT_EQ(std::string(table[1].title.data(), 16), "Eighteen chars..");
}

TEST_F(RoutineImportTest, DataIsPaddedWithZerosToWholeSectors) {
  const auto exact = test::PatternBytes(512, 1);
  const auto oneMore = test::PatternBytes(513, 2);
  Import({File(test::MakeHeader("a", 0, 0, 512), {}, exact),
          File(test::MakeHeader("b", 0, 0, 513), {}, oneMore)});
  const auto table = TableOnDisk();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].endSector - table[0].dataSector, 1u);
  EXPECT_EQ(Sectors(device, table[0].dataSector, 1), exact);
  EXPECT_EQ(table[1].endSector - table[1].dataSector, 2u);
  EXPECT_EQ(Sectors(device, table[1].dataSector, 2), Padded(oneMore, nullptr));
  EXPECT_EQ(device.Sector(table[1].dataSector + 1)[1], 0);
  EXPECT_EQ(device.Sector(table[1].dataSector + 1)[511], 0);
}

TEST_F(RoutineImportTest, Mp3IsPaddedFromTheSilentFrame) {
  // Two frames, 835 bytes: 2 sectors, the second 323 MP3 bytes and the silent frame's first 189.
  const auto mp3 = test::DiskKindFrames(2);
  ASSERT_EQ(mp3.size(), 835u);
  Import({File(test::MakeHeader("mp3", 1, 835, 0), mp3, {})});
  auto table = TableOnDisk();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].dataSector - table[0].startSector, 2u);
  const auto second = Sectors(device, table[0].startSector + 1, 1);
  EXPECT_TRUE(std::equal(second.begin(), second.begin() + 323, mp3.begin() + 512));
  EXPECT_TRUE(std::equal(second.begin() + 323, second.end(), g_silentMp3Frame.begin()));

  // One frame, 417 bytes: the frame and the silent frame's first 95 bytes.
  const auto one = test::DiskKindFrames(1);
  const std::vector<std::uint8_t> data = {0xFB, 0x90, 0x44, 0x00};
  Import({File(test::MakeHeader("one", 1, 417, 4), one, data)});
  table = TableOnDisk();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[1].dataSector - table[1].startSector, 1u);
  auto sector = Sectors(device, table[1].startSector, 1);
  EXPECT_TRUE(std::equal(sector.begin(), sector.begin() + 417, one.begin()));
  EXPECT_TRUE(std::equal(sector.begin() + 417, sector.end(), g_silentMp3Frame.begin()));
  EXPECT_EQ(Sectors(device, table[1].dataSector, 1), Padded(data, nullptr));
}

TEST_F(RoutineImportTest, LargeSectionsGoInPiecesOf128Sectors) {
  const auto data = test::PatternBytes(70000, 3);
  Import({File(test::MakeHeader("big", 0, 0, 70000), {}, data)});
  const auto table = TableOnDisk();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].endSector - table[0].dataSector, 137u);
  EXPECT_EQ(Sectors(device, 1, 137), Padded(data, nullptr));
  // No table was live on the formatted empty disk, so nothing moves first.
  EXPECT_EQ(device.Writes(),
            (std::vector<Transfer>{{true, 1, 128}, {true, 129, 8}, {true, 137, 1}, {true, 138, 1}, {true, 0, 1}}));
  EXPECT_EQ(progress.calls,
            (std::vector<std::string>{"range 0 1", "pos 0", "step 1",                  // no MP3
                                      "range 0 138", "pos 0", "step 1", "pos 0", "pos 128", "pos 136"}));
}

// A cancel stops the import before its next piece, or before the header moves
// when the last piece has gone; the table reads as before either way.
TEST_F(RoutineImportTest, ACancelStopsBeforeTheNextPieceAndLeavesTheTable) {
  const auto data = test::PatternBytes(70000, 3);
  const std::string path = File(test::MakeHeader("big", 0, 0, 70000), {}, data);
  struct CCancellingBar final : CProgressBar {
    CCancelFlag flag;
    int at = -1;
    void SetRange(int, int) override {}
    void SetPos(int position) override {
      if (position == at) flag.Cancel();
    }
    void SetStep(int) override {}
    void StepIt() override {}
  };
  for (const int at : {0, 128, 136}) {
    CCancellingBar bar;
    bar.at = at;
    device.ClearTransfers();
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    EXPECT_THROW(disk.AddRoutine(path, &bar, &bar.flag), CCancelled) << at;
    EXPECT_TRUE(TableOnDisk().empty());
    const std::vector<Transfer> writes = device.Writes();
    // The piece whose position cancels is written; the check comes before the next.
    EXPECT_EQ(writes.size(), at == 0 ? 0u : at == 128 ? 2u : 3u) << at;
    for (const Transfer& write : writes) EXPECT_NE(write.first, 0u);  // the header never moved
  }
  CCancelFlag before;
  before.Cancel();
  device.ClearTransfers();
  CVornDisk disk(device, nullptr);
  disk.ReadTable();
  EXPECT_THROW(disk.AddRoutine(path, nullptr, &before), CCancelled);
  EXPECT_TRUE(device.Writes().empty());
}

TEST_F(RoutineImportTest, TwoFilesInOneGoLieEndToEndWithTheTableBehind) {
  const auto mp3 = test::DiskKindFrames(5);
  Import({File(test::MakeHeader("one", 1, static_cast<std::uint32_t>(mp3.size()), 600), mp3, test::PatternBytes(600)),
          File(test::MakeHeader("two", 0, 0, 100), {}, test::PatternBytes(100))});
  const auto table = TableOnDisk();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0].startSector, 1u);
  EXPECT_EQ(table[0].dataSector, 1u + 5u);  // 2087 bytes of MP3
  EXPECT_EQ(table[0].endSector, 6u + 2u);
  EXPECT_EQ(table[1].startSector, table[0].endSector);
  EXPECT_EQ(DiskHeader::Decode(device.Sector(0)).tableSector, table[1].endSector);
  // Passed through byte for byte.
  EXPECT_EQ(Sectors(device, 1, 5), Padded(mp3, g_mp3SectorFiller.data()));
}

TEST_F(RoutineImportTest, BrokenFilesFailBeforeTheDiskIsTouched) {
  RoutineFileHeader version2 = test::MakeHeader("v2", 0, 0, 10);
  version2.version = 2;
  const std::string v2 = File(version2, {}, test::PatternBytes(10));
  const std::string shortFile = dir / "short.vorn";
  test::WriteBytes(shortFile, std::vector<std::uint8_t>(67, 1));
  const std::string missing = dir / "missing.vorn";

  CVornDisk disk(device, &status);
  disk.ReadTable();
  device.ClearTransfers();
  try {
    disk.AddRoutine(v2, &progress);
    FAIL();
  } catch (const CFileAccessException& e) {
    EXPECT_EQ(e.GetMessage(), "Unsupported file version");
  }
  try {
    disk.AddRoutine(shortFile, &progress);
    FAIL();
  } catch (const CFileAccessException& e) {
    EXPECT_EQ(e.GetMessage(), "Error reading file");
  }
  try {
    disk.AddRoutine(missing, &progress);
    FAIL();
  } catch (const CDriveAccessException& e) {
    EXPECT_EQ(e.GetMessage(), "Could not open file " + missing + ": No such file or directory");
  }
  // Not files at all: a FIFO without a writer would block the open for ever.
  const std::string fifo = dir / "fifo.vorn";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir.Path(), std::string("/dev/zero")}) {
    try {
      disk.AddRoutine(path, &progress);
      FAIL() << path;
    } catch (const CDriveAccessException& e) {
      EXPECT_EQ(e.GetMessage(), "Could not open file " + path + ": not a regular file");
    }
  }
  EXPECT_TRUE(device.Writes().empty());
  EXPECT_TRUE(disk.Table().empty());
}

// Ten minutes of silence are a small FLAC file but 106 MB of PCM and 9.6 MB of
// MP3: on a 2 MB disk the import is refused by the length the stream states,
// before anything is decoded. A file size limit of 4 MB stands in for a small
// temporary directory: a refusal only after decoding would hit it first.
TEST_F(RoutineImportTest, AudioTooLongForTheDiskIsRefusedBeforeItIsDecoded) {
  if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg makes the FLAC file";
  const std::string flac = dir / "silence.flac";
  ASSERT_TRUE(test::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i anullsrc=r=44100:cl=stereo -t 600 "
                               "-c:a flac '" + flac + "'"));
  const auto audio = test::ReadBytes(flac);
  const std::string path = File(test::MakeHeader("long", 0, static_cast<std::uint32_t>(audio.size()), 0), audio, {});
  const auto before = device.Bytes();
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4 << 20;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (const bool batch : {false, true}) {
    CVornDisk disk(device, &status);
    disk.ReadTable();
    try {
      if (batch) {
        disk.AddRoutines({path}, &progress, ImportOptions{});
      } else {
        disk.AddRoutine(path, &progress);
      }
      ADD_FAILURE() << "imported";
    } catch (const CVornError& e) {
      EXPECT_STREQ(e.what(), "Not enough free space on the disk for this routine") << batch;
    }
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(device.Bytes() == before);
}

TEST_F(RoutineImportTest, SectionsCutShortFailAndAppendNothing) {
  Import({File(test::MakeHeader("first", 0, 0, 100), {}, test::PatternBytes(100))});
  const auto before = TableOnDisk();

  // The frame headers are all there (the check reads no further), the last
  // frame's body is not.
  const auto frames = test::DiskKindFrames(3);
  const std::vector<std::uint8_t> cutAudio(frames.begin(), frames.begin() + 1000);
  const std::string audioCut = File(test::MakeHeader("cut", 1, 1252, 0), cutAudio, {});
  const std::string dataCut = File(test::MakeHeader("cut", 0, 0, 2000), {}, test::PatternBytes(1000));

  for (const std::string& path : {audioCut, dataCut}) {
    CVornDisk disk(device, &status);
    disk.ReadTable();
    try {
      disk.AddRoutine(path, &progress);
      FAIL() << path;
    } catch (const CFileAccessException& e) {
      EXPECT_EQ(e.GetMessage().rfind("Error reading file: the ", 0), 0u) << e.GetMessage();
    }
    EXPECT_EQ(disk.Table(), before);
    EXPECT_EQ(TableOnDisk(), before);
    EXPECT_EQ(Sectors(device, before[0].dataSector, 1), Padded(test::PatternBytes(100), nullptr));
  }
  // The next import goes where the failed ones would have gone.
  Import({File(test::MakeHeader("next", 0, 0, 10), {}, test::PatternBytes(10))});
  const auto after = TableOnDisk();
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[1].startSector, before[0].endSector);
}

TEST_F(RoutineImportTest, RoutineThatDoesNotFitIsRefusedWithTheDiskUntouched) {
  CMemoryDevice small(40);
  {
    CVornDisk disk(small, nullptr);
    disk.Format();
  }
  const auto before = small.Bytes();
  small.ClearTransfers();
  CVornDisk disk(small, nullptr);
  disk.ReadTable();
  EXPECT_THROW(disk.AddRoutine(File(test::MakeHeader("big", 0, 0, 40 * 512), {}, test::PatternBytes(40 * 512)), nullptr),
               CUsbDeviceException);
  EXPECT_TRUE(small.Writes().empty());
  EXPECT_EQ(small.Bytes(), before);
  // One that just fits: 37 data sectors from sector 1, the table at 38, the
  // sector a reader looks at behind it at 39.
  disk.AddRoutine(File(test::MakeHeader("fits", 0, 0, 37 * 512), {}, test::PatternBytes(37 * 512)), nullptr);
  EXPECT_EQ(disk.Table().size(), 1u);
}

TEST_F(RoutineImportTest, ConvertedAudioIsStoredAsFramesOfTheDiskKind) {
  const auto wav = test::WavBytes(test::Tone(20000, 500, 700));
  Import({File(test::MakeHeader("wav", 0, static_cast<std::uint32_t>(wav.size()), 5), wav, test::PatternBytes(5))});
  const auto table = TableOnDisk();
  ASSERT_EQ(table.size(), 1u);
  const auto region = Sectors(device, table[0].startSector, table[0].dataSector - table[0].startSector);
  // Whole frames of the kind, then the filler's silent frame(s) to the end.
  std::size_t at = 0;
  while (at + 4 <= region.size()) {
    ASSERT_TRUE(IsAcceptedFrameHeader(&region[at])) << at;
    at += 417 + ((region[at + 2] >> 1) & 1u);
  }
  EXPECT_EQ(status.texts, (std::vector<std::string>{"Ready", "Converting Audio", "Writing MP3", "Writing Data", "Ready"}));
  EXPECT_EQ(Sectors(device, table[0].dataSector, 1), Padded(test::PatternBytes(5), nullptr));
}

// The batch import converts file k+1 while file k is written; the disk must end
// up exactly as after one-by-one imports, and a failure or a cancel must leave
// it as after the files before the failing one.
class RoutineBatchTest : public RoutineImportTest {
 protected:
  RoutineBatchTest() : reference(4096) {
    reference.Bytes() = device.Bytes();
    const auto wav = test::WavBytes(test::MakeMusic(3.0));
    const auto mp3 = test::DiskKindFrames(9);
    const auto wav2 = test::WavBytes(test::Tone(30000, 300, 500));
    files = {File(test::MakeHeader("music", 0, static_cast<std::uint32_t>(wav.size()), 700), wav,
                  test::PatternBytes(700, 1)),
             File(test::MakeHeader("frames", 1, static_cast<std::uint32_t>(mp3.size()), 3), mp3,
                  test::PatternBytes(3, 2)),
             File(test::MakeHeader("empty", 1, 0, 0), {}, {}),
             File(test::MakeHeader("tone", 0, static_cast<std::uint32_t>(wav2.size()), 513), wav2,
                  test::PatternBytes(513, 3))};
  }

  // Imports with AddRoutines on `target`; the indices reported as added.
  std::vector<std::size_t> Batch(CSectorDevice& target, const std::vector<std::string>& paths,
                                 const CCancelFlag* cancel = nullptr,
                                 const std::function<void(std::size_t)>& then = {}) {
    std::vector<std::size_t> added;
    CVornDisk disk(target, &status);
    disk.ReadTable();
    ImportOptions options;
    options.threads = 2;
    options.cancel = cancel;
    options.added = [&](std::size_t index) {
      added.push_back(index);
      if (then) then(index);
    };
    disk.AddRoutines(paths, &progress, options);
    return added;
  }

  // The first `count` files imported one by one onto the reference device.
  void ReferenceImport(std::size_t count) {
    CVornDisk disk(reference, nullptr);
    disk.ReadTable();
    for (std::size_t i = 0; i < count; ++i) disk.AddRoutine(files[i], nullptr);
  }

  CMemoryDevice reference;
  std::vector<std::string> files;
};

TEST_F(RoutineBatchTest, BatchLeavesTheDiskAsOneByOneImportsAndShowsEachFileInTurn) {
  ReferenceImport(files.size());
  EXPECT_EQ(Batch(device, files), (std::vector<std::size_t>{0, 1, 2, 3}));
  EXPECT_TRUE(device.Bytes() == reference.Bytes());
  // The conversion running ahead shows up only once the file before it is on the disk.
  EXPECT_EQ(status.texts,
            (std::vector<std::string>{"Ready", "Converting Audio", "Writing MP3", "Writing Data", "Ready",
                                      "Writing MP3", "Writing Data", "Ready",
                                      "Writing MP3", "Writing Data", "Ready",
                                      "Converting Audio", "Writing MP3", "Writing Data", "Ready"}));
}

TEST_F(RoutineBatchTest, FailureOrCancelStopsTheBatchAtThatFileWithNothingOfItOnTheDisk) {
  CRecordingPresenter boxes;  // none: the decoder's failure is the batch's one error
  const auto junk = test::PatternBytes(20000, 9);
  const std::string undecodable = File(test::MakeHeader("junk", 0, static_cast<std::uint32_t>(junk.size()), 0),
                                       junk, {});
  ReferenceImport(1);
  try {
    Batch(device, {files[0], undecodable, files[3]});
    FAIL();
  } catch (const CFileAccessException& e) {
    EXPECT_EQ(e.GetMessage().rfind("avformat_open_input: ", 0), 0u) << e.GetMessage();
    EXPECT_EQ(e.Caption(), "CDirectXUtils Error!");
  }
  EXPECT_TRUE(boxes.requests.empty());
  EXPECT_TRUE(device.Bytes() == reference.Bytes());

  // Cancelled once the first file is on the disk: the conversion running
  // ahead ends and nothing more is written.
  CMemoryDevice fresh(4096);
  fresh.Bytes() = reference.Bytes();
  CCancelFlag cancel;
  EXPECT_THROW(Batch(fresh, {files[3], files[0]}, &cancel, [&](std::size_t) { cancel.Cancel(); }),
               CCancelled);
  CVornDisk check(fresh, nullptr);
  ASSERT_EQ(check.ReadTable().size(), 2u);
  EXPECT_EQ(check.Table()[1].Title(), "tone");

  // The disk fails under the first file while the second converts: the batch
  // ends with the device's error, the second is never written.
  CMemoryDevice backing(4096);
  backing.Bytes() = reference.Bytes();
  const auto before = backing.Bytes();
  CFaultyDevice faulty(backing, 2);
  EXPECT_THROW(Batch(faulty, {files[3], files[0]}), CUsbDeviceException);
  EXPECT_EQ(faulty.WritesSeen(), 2u);
  CVornDisk after(backing, nullptr);
  EXPECT_EQ(after.ReadTable().size(), 1u);
}

// A device that takes larger transfers gets the same bytes and the progress
// bar the same steps; only the pieces are grouped, end to end, up to its size.
TEST(WriteFromFileTest, PiecesGoInTransfersOfTheDevicesSizeWithTheSameProgressSteps) {
  struct CSizedDevice final : CMemoryDevice {
    CSizedDevice(std::uint32_t size) : CMemoryDevice(2048), transfer(size) {}
    std::uint32_t TransferSectors() override { return transfer; }
    std::uint32_t transfer;
  };
  CScratchDir dir;
  for (const std::uint32_t bytes : {512u, 1024u, 70000u, 3u * 65536u, 300001u}) {
    test::WriteBytes(dir / "section", test::PatternBytes(bytes, 7));
    std::vector<std::uint8_t> reference;
    std::vector<std::string> steps;
    for (const std::uint32_t transfer : {128u, 256u, 300u, 8192u}) {
      SCOPED_TRACE(std::to_string(bytes) + " bytes, transfers of " + std::to_string(transfer));
      CSizedDevice device(transfer);
      test::CRecordingProgress progress;
      CUniqueFile file(std::fopen((dir / "section").c_str(), "rb"));
      ASSERT_TRUE(WriteFromFile(device, file.get(), 5, bytes, g_mp3SectorFiller.data(), &progress));
      const std::uint32_t sectors = (bytes + kSectorSize - 1) / kSectorSize;
      if (transfer == 128) std::tie(reference, steps) = std::tie(device.Bytes(), progress.calls);
      EXPECT_EQ(device.Bytes(), reference);
      EXPECT_EQ(progress.calls, steps);
      std::uint32_t next = 5;
      for (const Transfer& write : device.Writes()) {
        EXPECT_EQ(write.first, next);
        EXPECT_LE(write.count, std::max(128u, transfer / 128 * 128));
        next += write.count;
      }
      EXPECT_EQ(next, 5 + sectors);
      if (transfer >= sectors) {
        EXPECT_EQ(device.Writes().size(), 1u);
      }
    }
  }
}

TEST(WriteFromFileTest, StopsWithFalseWhenTheFileEndsEarly) {
  CScratchDir dir;
  const std::string path = dir / "bytes";
  test::WriteBytes(path, test::PatternBytes(1200));
  CMemoryDevice device(16);
  CUniqueFile file(std::fopen(path.c_str(), "rb"));
  EXPECT_FALSE(WriteFromFile(device, file.get(), 2, 1500, nullptr, nullptr));
  // The whole sectors before the shortfall are written; the short tail is not.
  EXPECT_EQ(device.Writes(), (std::vector<Transfer>{{true, 2, 2}}));
}

}  // namespace
}  // namespace vorn
