// Show sets refused before anything is written, and a parallel sync cut off at
// every write of its disks: each disk then reads as its old show, the new one,
// or the new show's first routines, which a second sync completes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "disk/ShowSet.h"
#include "disk/ShowSync.h"
#include "disk/VornDisk.h"
#include "tests/audio/RoutineFixtures.h"
#include "tests/support/FaultyDevice.h"
#include "tests/support/MemoryDevice.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

// Disks told apart by name, as two cards are by their identity.
class CNamedMemory : public CMemoryDevice {
 public:
  CNamedMemory(std::string name, std::uint32_t sectors) : CMemoryDevice(sectors), m_name(std::move(name)) {}
  std::string GetName() override { return m_name; }

 private:
  std::string m_name;
};

class ShowSyncTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (fs::path(m_dir.Path()) / name).string(); }

  void Routine(const std::string& name, int frames, std::uint32_t seed, std::uint32_t dataBytes) {
    const auto mp3 = test::DiskKindFrames(frames, seed);
    const auto data = test::PatternBytes(dataBytes, static_cast<std::uint8_t>(seed));
    test::WriteBytes(Path(name), test::RoutineFileBytes(test::MakeHeader(name.c_str(), 1,
                                                                         static_cast<std::uint32_t>(mp3.size()),
                                                                         dataBytes),
                                                        mp3, data));
  }
  std::string Text(const std::string& path, const std::string& text) {
    test::WriteBytes(path, {text.begin(), text.end()});
    return path;
  }

  test::CScratchDir m_dir;
};

TEST_F(ShowSyncTest, ShowSetsThatCannotBeUsedAreRefusedWithTheName) {
  Routine("r1.vorn", 20, 1, 700);
  ::mkfifo(Path("pipe.vorn").c_str(), 0600);
  fs::create_directory(Path("folder.vorn"));
  Text(Path("list.m3u"), "#EXTM3U\n#EXTINF:12,Intro\nr1.vorn\n#EXTINF:40,Storm\nr2.vorn\n#EXTINF:30,Finale\n");
  auto cut = test::ReadBytes(Path("r1.vorn"));
  cut.resize(cut.size() - 10);
  test::WriteBytes(Path("cut.vorn"), cut);
  Text(Path("other.toml"), "[[routine]]\nfile = \"r1.vorn\"\n");
  const struct {
    std::string text;
    std::string said;
  } rows[] = {
      {"[[routine]]\nfile = \"gone.vorn\"\n", "gone.vorn: No such file"},
      {"[[routine]]\nfile = \"set.toml\"\n", "set.toml is the show set itself"},
      {"[[routine]]\nfile = \"pipe.vorn\"\n", "pipe.vorn: not a regular file"},
      {"[[routine]]\nfile = \"folder.vorn\"\n", "folder.vorn: not a regular file"},
      {"[[routine]]\nfile = \"list.m3u\"\n", "list.m3u is not a routine file"},
      {"[[routine]]\nfile = \"other.toml\"\n", "other.toml is not a routine file"},
      {"[[routine]]\nfile = \"cut.vorn\"\n", "cut.vorn ends early"},
      {"[[routine]]\nfile = \"r1.vorn\"\ntitle = \"Seventeen letters\"\n", "has 17 characters"},
      {"[[routine]]\nfile = \"r1.vorn\"\ntitle = \"\xe6\x97\xa5\"\n", "cannot be stored"},
      {"[[routine]]\nfile = \"r1.vorn\"\nbaud = 1200\n", "baud wants"},
      {"[[routine]]\nfile = \"r1.vorn\"\nframe-ms = 300\n", "frame-ms wants"},
      {"[[routine]]\nfile = \"r1.vorn\"\ntilte = \"x\"\n", "no setting 'tilte'"},
      {"[[routine]]\nfile = \"r1.vorn\"\nsettings = \"r1.vorn\"\n", "must hold exactly 32 bytes"},
      {"[[routine]]\ntitle = \"x\"\n", "without file"},
      {"routine = \"r1.vorn\"\n", "routines are given as [[routine]]"},
      {"[[routine]\nfile = \"r1.vorn\"\n", "line 1"},
      {"# nothing yet\n", "names no routines"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const std::string set = Text(Path("set.toml"), row.text);
    try {
      LoadShowSet(set);
      ADD_FAILURE() << "accepted";
    } catch (const CShowSetError& error) {
      EXPECT_NE(std::string(error.what()).find(row.said), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("set.toml"), std::string::npos) << error.what();
    }
  }
  // The show set itself a FIFO: refused at once rather than waiting for a writer.
  ::mkfifo(Path("set-pipe.toml").c_str(), 0600);
  EXPECT_THROW(LoadShowSet(Path("set-pipe.toml")), CShowSetError);
  // And what is accepted comes back the same through its text.
  test::WriteBytes(Path("dmx.settings"), test::PatternBytes(32));
  const ShowSet good = LoadShowSet(Text(Path("good.toml"), "[[routine]]\nfile = \"r1.vorn\"\ntitle = \"Intro\"\n"
                                                          "baud = \"DMX\"\nprotocol = 3\n"
                                                          "[[routine]]\nfile = \"r1.vorn\"\nsettings = \"dmx.settings\"\n"));
  const ShowSet again = LoadShowSet(Text(Path("again.toml"), ShowSetText(good)));
  ASSERT_EQ(again.routines.size(), 2u);
  EXPECT_EQ(again.routines[0].title, "Intro");
  EXPECT_EQ(again.routines[0].settings.baudCode, 5);
  EXPECT_EQ(again.routines[0].settings.protocol, 3);
  ASSERT_TRUE(again.routines[1].settings.controllerSettings);
  EXPECT_EQ((*again.routines[1].settings.controllerSettings)[31], test::PatternBytes(32)[31]);
}

// Both disks of one sync fail at write n (the card pulled mid-transfer, the
// process killed), for every n until the sync needs fewer writes.
TEST_F(ShowSyncTest, ASyncCutOffAtAnyWriteLeavesEachDiskOldNewOrAPrefix) {
  Routine("a.vorn", 30, 1, 900);
  Routine("b.vorn", 50, 2, 100);
  Routine("c.vorn", 20, 3, 2000);
  Routine("x.vorn", 60, 4, 0);
  const auto show = CConvertedShow::Prepare(
      LoadShowSet(Text(Path("new.toml"), "[[routine]]\nfile = \"a.vorn\"\n[[routine]]\nfile = \"b.vorn\"\n"
                                         "[[routine]]\nfile = \"c.vorn\"\ntitle = \"Finale\"\n")),
      "");
  const auto old = CConvertedShow::Prepare(
      LoadShowSet(Text(Path("old.toml"), "[[routine]]\nfile = \"a.vorn\"\n[[routine]]\nfile = \"x.vorn\"\n"
                                         "[[routine]]\nfile = \"c.vorn\"\n")),
      "");
  const std::vector<RoutineEntry> target = show->Table();
  // Whether `disk` holds the first `count` routines of the show, bytes included.
  const auto holdsPrefix = [&](CSectorDevice& disk, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
      std::vector<std::uint8_t> bytes(std::size_t{target[k].endSector - target[k].startSector} * kSectorSize);
      if (!bytes.empty()) disk.ReadSectors(target[k].startSector, target[k].endSector - target[k].startSector, bytes.data());
      if (SectorImageHash(bytes.data(), bytes.size()) != show->Routines()[k].imageHash) return false;
    }
    return true;
  };
  bool cut = true;
  std::uint32_t n = 1;
  for (; cut; ++n) {
    SCOPED_TRACE("write " + std::to_string(n));
    CNamedMemory used("used", 4096), blank("blank", 4096);
    ASSERT_TRUE(SyncShow(*old, {{"used", &used}}, {})[0].Succeeded());
    const std::vector<RoutineEntry> before = CVornDisk(used, nullptr).ReadTable();
    CFaultyDevice usedFaulty(used, n, FaultMode::kFirstHalfWritten), blankFaulty(blank, n, FaultMode::kFirstHalfWritten);
    const auto results = SyncShow(*show, {{"used", &usedFaulty}, {"blank", &blankFaulty}}, {});
    cut = usedFaulty.Failed() || blankFaulty.Failed();
    for (CNamedMemory* disk : {&used, &blank}) {
      SCOPED_TRACE(disk->GetName());
      CVornDisk reader(*disk, nullptr);
      const std::vector<RoutineEntry> table = reader.ReadTable();
      const bool isOld = disk == &used ? table == before : !reader.IsValid();
      const bool isPrefix = table.size() <= target.size() && std::equal(table.begin(), table.end(), target.begin()) &&
                            holdsPrefix(*disk, table.size());
      EXPECT_TRUE(isOld || isPrefix) << table.size() << " routines";
      // A second sync finishes it.
      const auto again = SyncShow(*show, {{disk->GetName(), disk}}, {});
      ASSERT_TRUE(again[0].Succeeded()) << again[0].failure->what();
      EXPECT_EQ(CVornDisk(*disk, nullptr).ReadTable(), target);
      EXPECT_TRUE(holdsPrefix(*disk, target.size()));
    }
    EXPECT_EQ(results[0].Succeeded(), !usedFaulty.Failed());
    EXPECT_EQ(results[1].Succeeded(), !blankFaulty.Failed());
  }
  EXPECT_GT(n, 8u);  // the sweep went through every write of both disks
}

}  // namespace
}  // namespace vorn
