// vorn3ctl make-routine, add and export, run in-process on disk images.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "audio/Mp3Frames.h"
#include "audio/RoutineFileHeader.h"
#include "device/ImageDevice.h"
#include "disk/VornDisk.h"
#include "tests/audio/RoutineFixtures.h"
#include "tools/Command.h"

namespace vorn {
namespace {

using test::CScratchDir;

RoutineFileHeader HeaderOf(const std::string& path) {
  const auto bytes = test::ReadBytes(path);
  EXPECT_GE(bytes.size(), RoutineFileHeader::kEncodedSize);
  return RoutineFileHeader::Decode(bytes.data());
}

std::vector<RoutineEntry> TableOf(const std::string& image) {
  CImageDevice device(image, false);
  device.Open(CImageDevice::EntryFor(image));
  CVornDisk disk(device, nullptr);
  auto table = disk.ReadTable();
  device.Close();
  return table;
}

std::vector<std::uint8_t> RoutineSectors(const std::string& image, const RoutineEntry& entry) {
  const auto bytes = test::ReadBytes(image);
  return {bytes.begin() + std::ptrdiff_t{entry.startSector} * kSectorSize,
          bytes.begin() + std::ptrdiff_t{entry.endSector} * kSectorSize};
}

class ImportCommandsTest : public ::testing::Test {
 protected:
  ImportCommandsTest() {
    test::WriteBytes(Path("tone.wav"), test::WavBytes(test::Tone(22050, 440, 660)));
    test::WriteBytes(Path("frames.mp3"), test::DiskKindFrames(7));
    test::WriteBytes(Path("data.bin"), test::PatternBytes(1024, 5));
    test::WriteBytes(Path("odd.bin"), test::PatternBytes(700, 6));
  }
  std::string Path(const std::string& name) const { return dir / name; }
  static int Ctl(std::vector<std::string> args) { return RunVorn3ctl(args); }

  std::string NewImage(const std::string& name) {
    const std::string image = Path(name);
    EXPECT_EQ(Ctl({"create-image", image, "--size", "4M"}), 0);
    return image;
  }

  CScratchDir dir;
};

TEST_F(ImportCommandsTest, MakeRoutineWritesAVersion1FileAndMarksDiskKindMp3) {
  ASSERT_EQ(Ctl({"make-routine", Path("wav.vorn"), "--audio", Path("tone.wav"), "--data", Path("odd.bin"),
                 "--title", "Tone", "--baud", "DMX", "--frame-ms", "25", "--protocol", "5"}), 0);
  RoutineFileHeader h = HeaderOf(Path("wav.vorn"));
  EXPECT_EQ(h.version, 1);
  EXPECT_STREQ(h.title.data(), "Tone");
  EXPECT_EQ(h.audioFormat, 0u);
  EXPECT_EQ(h.audioSize, test::ReadBytes(Path("tone.wav")).size());
  EXPECT_EQ(h.dataSize, 700u);
  EXPECT_EQ(h.baudCode, 5);
  EXPECT_EQ(h.frameRate, 25);
  EXPECT_EQ(h.controllerSettings[0], 5);
  EXPECT_EQ(test::ReadBytes(Path("wav.vorn")).size(), 68 + h.audioSize + 700);

  ASSERT_EQ(Ctl({"make-routine", Path("mp3.vorn"), "--audio", Path("frames.mp3")}), 0);
  h = HeaderOf(Path("mp3.vorn"));
  EXPECT_EQ(h.audioFormat, 1u);
  EXPECT_STREQ(h.title.data(), "mp3");  // the name of the file made
  EXPECT_EQ(h.dataSize, 0u);

  // 160 kbit/s frames are MP3, but not of the kind the disk stores.
  ASSERT_EQ(Ctl({"make-routine", Path("160.vorn"), "--audio", VORN_TEST_DATA_DIR "/tone-160k.mp3"}), 0);
  EXPECT_EQ(HeaderOf(Path("160.vorn")).audioFormat, 0u);
}

TEST_F(ImportCommandsTest, MakeRoutineStoresATitleInTheDisksCodePage) {
  // 18 characters, 27 bytes of UTF-8: fits, one byte per character on the disk.
  ASSERT_EQ(Ctl({"make-routine", Path("a.vorn"), "--title", "\xC3\x89t\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cna\xC3\xAFve\xE2\x80\x9D \xC3\x80 \xC3\xBF"}), 0);
  EXPECT_EQ(std::string(HeaderOf(Path("a.vorn")).title.data()), "\xC9t\xE9 \x80 \x93na\xEFve\x94 \xC0 \xFF");
  // A name the code page lacks gives a title all the same.
  ASSERT_EQ(Ctl({"make-routine", Path("\xC5\x9Dow-\xC3\xA9t\xC3\xA9-and-a-long-name.vorn")}), 0);
  EXPECT_EQ(std::string(HeaderOf(Path("\xC5\x9Dow-\xC3\xA9t\xC3\xA9-and-a-long-name.vorn")).title.data()),
            "?ow-\xE9t\xE9-and-a-long");
}

TEST_F(ImportCommandsTest, MakeRoutineTakesTheSettingsFile) {
  std::vector<std::uint8_t> settings(32);
  for (std::size_t i = 0; i < settings.size(); ++i) settings[i] = static_cast<std::uint8_t>(100 + i);
  test::WriteBytes(Path("settings.bin"), settings);
  ASSERT_EQ(Ctl({"make-routine", Path("s.vorn"), "--settings", Path("settings.bin")}), 0);
  const RoutineFileHeader h = HeaderOf(Path("s.vorn"));
  EXPECT_TRUE(std::equal(settings.begin(), settings.end(), h.controllerSettings.begin()));
  EXPECT_EQ(h.audioSize, 0u);
}

TEST_F(ImportCommandsTest, MakeRoutineRefusesWhatAFileCannotHold) {
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--title", "Nineteen characters"}), 2);
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--title", "Ni\xC3\xB1" "eteen characters"}), 2);
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--title", "\xC5\x9Dow"}), 2);  // no such letter
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--title", "\xE9t\xE9"}), 2);   // Latin-1, not UTF-8
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--frame-ms", "+20"}), 2);
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--protocol", "0x10"}), 2);
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--baud", "1200"}), 2);
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--frame-ms", "256"}), 2);
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--protocol", "1", "--settings", Path("data.bin")}), 2);
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--settings", Path("data.bin")}), 1);  // 1024 bytes
  EXPECT_EQ(Ctl({"make-routine", Path("x.vorn"), "--audio", Path("nothing.wav")}), 1);
  EXPECT_FALSE(std::ifstream(Path("x.vorn")).good());
}

TEST_F(ImportCommandsTest, AddImportsInOrderAndStopsAtTheFirstFailure) {
  const std::string image = NewImage("disk.img");
  ASSERT_EQ(Ctl({"make-routine", Path("a.vorn"), "--audio", Path("frames.mp3"), "--data", Path("data.bin"), "--title", "A"}), 0);
  ASSERT_EQ(Ctl({"make-routine", Path("b.vorn"), "--audio", Path("tone.wav"), "--title", "B"}), 0);
  test::WriteBytes(Path("broken.vorn"), std::vector<std::uint8_t>(10, 1));

  // Unformatted, and nobody to ask: refused without --yes.
  EXPECT_EQ(Ctl({"add", image, Path("a.vorn")}), 2);
  EXPECT_TRUE(TableOf(image).empty());

  EXPECT_EQ(Ctl({"add", image, Path("a.vorn"), Path("b.vorn"), "--yes", "--quiet"}), 0);
  EXPECT_EQ(Ctl({"add", image, Path("a.vorn"), Path("broken.vorn"), Path("b.vorn")}), 1);
  const auto table = TableOf(image);
  ASSERT_EQ(table.size(), 3u);
  EXPECT_EQ(table[0].Title(), "A");
  EXPECT_EQ(table[1].Title(), "B");
  EXPECT_EQ(table[2].Title(), "A");
  EXPECT_EQ(table[0].startSector, 1u);

  // The number of encoder threads is checked before anything is imported.
  for (const char* threads : {"0", "65", "two", "-1", ""}) {
    EXPECT_EQ(Ctl({"add", image, Path("b.vorn"), "--threads", threads}), 2) << threads;
  }
  EXPECT_EQ(TableOf(image).size(), 3u);
  EXPECT_EQ(Ctl({"add", image, Path("b.vorn"), "--threads", "1", "--quiet"}), 0);
  EXPECT_EQ(Ctl({"add", image, Path("b.vorn"), "--threads=3", "--quiet"}), 0);
  const auto more = TableOf(image);
  ASSERT_EQ(more.size(), 5u);
  EXPECT_EQ(RoutineSectors(image, more[3]), RoutineSectors(image, more[4]));
}

TEST_F(ImportCommandsTest, AudioThatNamesOtherFilesAndFilesThatAreNotFilesAreRefused) {
  const std::string image = NewImage("disk.img");
  ASSERT_EQ(Ctl({"make-routine", Path("a.vorn"), "--audio", Path("frames.mp3"), "--title", "A"}), 0);
  ASSERT_EQ(Ctl({"add", image, Path("a.vorn"), "--yes", "--quiet"}), 0);
  const auto before = test::ReadBytes(image);

  // Playlists whose audio would come from elsewhere: a live one (reloaded for
  // ever once opened: the add would never end) and one naming a local file
  // (whose audio the add would import).
  auto writeText = [](const std::string& path, const std::string& text) {
    test::WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
  };
  writeText(Path("live.m3u8"), "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n" + Path("frames.mp3") + "\n");
  writeText(Path("local.m3u8"),
            "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n" + Path("frames.mp3") + "\n#EXT-X-ENDLIST\n");
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  for (const char* playlist : {"live.m3u8", "local.m3u8"}) {
    const std::string routine = Path(std::string(playlist) + ".vorn");
    ASSERT_EQ(Ctl({"make-routine", routine, "--audio", Path(playlist)}), 0);
    EXPECT_EQ(Ctl({"add", image, routine, "--quiet"}), 1) << playlist;
  }
  // A FIFO with no writer: as routine file, audio or control data.
  EXPECT_EQ(Ctl({"add", image, Path("fifo"), "--quiet"}), 1);
  EXPECT_EQ(Ctl({"make-routine", Path("f.vorn"), "--audio", Path("fifo")}), 1);
  EXPECT_EQ(Ctl({"make-routine", Path("f.vorn"), "--data", Path("fifo")}), 1);
  EXPECT_FALSE(test::FileExists(Path("f.vorn")));
  EXPECT_EQ(test::ReadBytes(image), before);

  // Audio that is audio still goes in.
  ASSERT_EQ(Ctl({"make-routine", Path("b.vorn"), "--audio", Path("tone.wav"), "--title", "B"}), 0);
  EXPECT_EQ(Ctl({"add", image, Path("b.vorn"), "--quiet"}), 0);
  EXPECT_EQ(TableOf(image).size(), 2u);
}

// A stop request (Ctrl-C, a termination) ends an add as a cancel does: status
// 130, the disk as before the routine being imported, no temporary file left.
TEST_F(ImportCommandsTest, AStopRequestEndsAnAddWithNothingLeftBehind) {
  const std::string image = NewImage("disk.img");
  ASSERT_EQ(Ctl({"format", image, "--yes"}), 0);
  // Three minutes on one thread: seconds of conversion to stop in.
  test::WriteBytes(Path("long.wav"), test::WavBytes(test::Tone(180 * 44100, 440, 660)));
  ASSERT_EQ(Ctl({"make-routine", Path("long.vorn"), "--audio", Path("long.wav"), "--title", "Long"}), 0);
  const std::vector<std::uint8_t> before = test::ReadBytes(image);
  const std::filesystem::path temp = Path("temp");
  std::filesystem::create_directory(temp);
  const char* oldTemp = std::getenv("TMPDIR");
  const std::string savedTemp = oldTemp ? oldTemp : "";
  ::setenv("TMPDIR", temp.c_str(), 1);

  int code = -1;
  std::thread add([&] { code = Ctl({"add", image, Path("long.vorn"), "--threads", "1", "--quiet"}); });
  // The conversion has begun once it holds its first temporary file (which
  // has no name in the directory); the stop handler was set before the disk
  // was opened.
  const auto holdsTempFile = [&temp] {
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
      if (!error && target.rfind(temp.string() + "/", 0) == 0) return true;
    }
    return false;
  };
  bool converting = false;
  for (int i = 0; i < 2000 && !converting; ++i) {
    converting = holdsTempFile();
    if (!converting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(converting);
  if (converting) ::kill(::getpid(), SIGTERM);
  add.join();
  if (oldTemp) ::setenv("TMPDIR", savedTemp.c_str(), 1); else ::unsetenv("TMPDIR");

  EXPECT_EQ(code, kExitCancelled);
  EXPECT_TRUE(std::filesystem::is_empty(temp));
  EXPECT_TRUE(test::ReadBytes(image) == before);
}

// Whether process `pid` holds a file of `dir` open (unnamed ones included).
bool HoldsFileIn(pid_t pid, const std::filesystem::path& dir) {
  std::error_code error;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    if (!error && target.rfind(dir.string() + "/", 0) == 0) return true;
  }
  return false;
}

// kill -9 at any moment of an add, of one file or of a batch converting on
// several threads, leaves nothing in the temporary directory: the sweep kills
// the real program after growing delays, many of them inside the conversion.
TEST_F(ImportCommandsTest, AnAddKilledAtAnyMomentLeavesNoTemporaryFile) {
  const std::string image = Path("disk.img");
  ASSERT_EQ(Ctl({"create-image", image, "--size", "64M"}), 0);
  ASSERT_EQ(Ctl({"format", image, "--yes"}), 0);
  test::WriteBytes(Path("long.wav"), test::WavBytes(test::Tone(20 * 44100, 440, 660)));
  for (const char* name : {"a.vorn", "b.vorn"}) {
    ASSERT_EQ(Ctl({"make-routine", Path(name), "--audio", Path("long.wav")}), 0);
  }
  const std::filesystem::path temp = Path("temp");
  std::filesystem::create_directory(temp);
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"one file", {"add", image, Path("a.vorn"), "--threads", "1", "--quiet"}},
      {"batch", {"add", image, Path("a.vorn"), Path("b.vorn"), "--threads", "2", "--quiet"}},
  };
  for (const Case& c : cases) {
    int caught = 0;  // kills that landed while temporary files were open
    for (int delay : {0, 3, 10, 25, 50, 80, 120, 170, 230, 300, 400, 550, 750, 1000}) {
      std::vector<char*> argv{const_cast<char*>(VORN3CTL_PATH)};
      for (const std::string& arg : c.args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ::setenv("TMPDIR", temp.c_str(), 1);
        ::execv(VORN3CTL_PATH, argv.data());
        ::_exit(127);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      if (HoldsFileIn(child, temp)) ++caught;
      ::kill(child, SIGKILL);
      int status = 0;
      ::waitpid(child, &status, 0);
      EXPECT_TRUE(std::filesystem::is_empty(temp)) << c.name << ", killed after " << delay << " ms";
      std::filesystem::remove_all(temp);
      std::filesystem::create_directory(temp);
    }
    EXPECT_GE(caught, 2) << c.name << ": too few kills inside the conversion to tell";
  }
}

TEST_F(ImportCommandsTest, ExportGivesBackTheFileThatWasAdded) {
  const std::string image = NewImage("disk.img");
  ASSERT_EQ(Ctl({"make-routine", Path("a.vorn"), "--audio", Path("frames.mp3"), "--data", Path("data.bin"),
                 "--title", "Passed through", "--baud", "19200", "--frame-ms", "40", "--protocol", "4"}), 0);
  ASSERT_EQ(Ctl({"make-routine", Path("b.vorn"), "--audio", Path("tone.wav"), "--data", Path("odd.bin")}), 0);
  ASSERT_EQ(Ctl({"add", image, Path("a.vorn"), Path("b.vorn"), "--yes", "--quiet"}), 0);

  // MP3 passed through and data of whole sectors: the same bytes come back.
  ASSERT_EQ(Ctl({"export", image, "1", Path("a-back.vorn")}), 0);
  EXPECT_EQ(test::ReadBytes(Path("a-back.vorn")), test::ReadBytes(Path("a.vorn")));

  // A converted routine comes back as MP3 of the disk's kind that imports
  // unchanged: a second disk gets the same sectors.
  ASSERT_EQ(Ctl({"export", image, "2", Path("b-back.vorn")}), 0);
  const RoutineFileHeader h = HeaderOf(Path("b-back.vorn"));
  EXPECT_EQ(h.audioFormat, 1u);
  // Whole frames, cut where the sector filler began.
  const auto back = test::ReadBytes(Path("b-back.vorn"));
  std::size_t at = 68;
  while (at < 68 + h.audioSize) {
    ASSERT_TRUE(IsAcceptedFrameHeader(&back[at])) << at;
    at += 417 + ((back[at + 2] >> 1) & 1u);
  }
  EXPECT_EQ(at, 68 + h.audioSize);
  EXPECT_EQ(h.dataSize, 1024u);  // 700 bytes, kept with their sector's zeros
  const std::string copy = NewImage("copy.img");
  ASSERT_EQ(Ctl({"add", copy, Path("b-back.vorn"), "--yes", "--quiet"}), 0);
  const auto original = TableOf(image)[1];
  const auto copied = TableOf(copy)[0];
  EXPECT_EQ(RoutineSectors(copy, copied), RoutineSectors(image, original));

  EXPECT_EQ(Ctl({"export", image, "3", Path("c.vorn")}), 2);
  EXPECT_EQ(Ctl({"export", image, "0", Path("c.vorn")}), 2);
}

}  // namespace
}  // namespace vorn
