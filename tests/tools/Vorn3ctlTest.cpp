// vorn3ctl run as a user runs it: a separate process on disk image files.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "device/ImageDevice.h"
#include "disk/DiskHeader.h"
#include "disk/DiskText.h"
#include "disk/VornDisk.h"
#include "tools/Command.h"
#include "tests/support/ReferenceTable.h"
#include "tests/support/ShellCommand.h"
#include "tools/WineSetup.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

using Result = test::CommandResult;
using test::ReadFileText;

class Vorn3ctlTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vorn3ctl-test-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
    m_image = (m_dir / "card.img").string();
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // In a forked child of this single-threaded test, before exec: children run
  // headless, whatever display the developer's shell has.
  static void ClearDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(name);
  }

  // Starts vorn3ctl with stdin from /dev/null (not a terminal) and its output
  // in files stdoutSUFFIX and stderrSUFFIX.
  pid_t Start(std::vector<std::string> args, const std::string& suffix) {
    const fs::path out = m_dir / ("stdout" + suffix), err = m_dir / ("stderr" + suffix);
    pid_t pid = ::fork();
    if (pid == 0) {
      int in = ::open("/dev/null", O_RDONLY);
      int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ClearDisplay();
      std::vector<char*> argv;
      for (std::string& word : m_runAs) argv.push_back(word.data());
      argv.push_back(const_cast<char*>(VORN3CTL_PATH));
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid;
  }

  Result Finish(pid_t pid, const std::string& suffix) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileText(m_dir / ("stdout" + suffix)),
            ReadFileText(m_dir / ("stderr" + suffix))};
  }

  Result Run(std::vector<std::string> args) { return Finish(Start(std::move(args), ""), ""); }

  // Starts every command at once and waits for all.
  std::vector<Result> RunTogether(std::vector<std::vector<std::string>> commands) {
    std::vector<pid_t> pids;
    for (std::size_t k = 0; k < commands.size(); ++k) pids.push_back(Start(commands[k], std::to_string(k)));
    std::vector<Result> results;
    for (std::size_t k = 0; k < pids.size(); ++k) results.push_back(Finish(pids[k], std::to_string(k)));
    return results;
  }

  // Runs vorn3ctl on a pseudo-terminal, answers its question with `answer`.
  Result RunOnTerminal(std::vector<std::string> args, const std::string& answer) {
    int master = -1;
    pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
      ClearDisplay();
      std::vector<char*> argv{const_cast<char*>(VORN3CTL_PATH)};
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(VORN3CTL_PATH, argv.data());
      ::_exit(127);
    }
    Result result;
    char buffer[512];
    bool answered = false;
    for (;;) {
      ssize_t got = ::read(master, buffer, sizeof buffer);
      if (got <= 0) break;
      result.out.append(buffer, static_cast<std::size_t>(got));
      if (!answered && result.out.find("[y/N] ") != std::string::npos) {
        std::string line = answer + "\n";
        EXPECT_EQ(::write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        answered = true;
      }
    }
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  void AddRoutines(const std::vector<RoutineEntry>& routines, std::string image = {}) {
    if (image.empty()) image = m_image;
    CImageDevice device(image, false);
    device.Open(CImageDevice::EntryFor(image));
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    for (const RoutineEntry& entry : routines) disk.AppendRoutine(entry, [] {});
    device.Close();
  }

  fs::path m_dir;
  std::string m_image;
  std::vector<std::string> m_runAs;  // a command that runs vorn3ctl as another user
};

TEST_F(Vorn3ctlTest, CreateFormatListAndRemoveAnImage) {
  Result created = Run({"create-image", m_image, "--size", "2M"});
  ASSERT_EQ(created.code, 0) << created.err;
  EXPECT_EQ(fs::file_size(m_image), 2u << 20);
  EXPECT_NE(Run({"create-image", m_image, "--size", "1M"}).code, 0);  // never overwrites

  Result blank = Run({"list", m_image});
  EXPECT_EQ(blank.code, 0);
  EXPECT_NE(blank.out.find("not formatted"), std::string::npos);
  // A header whose count claims every sector of an 8 GiB card holds records
  // is judged at the first record out of line, not after reading them all.
  const std::string lying = (m_dir / "lying.img").string();
  ASSERT_EQ(Run({"create-image", lying, "--size", "8G"}).code, 0);
  DiskHeader header;
  header.routineCount = 16777215 * static_cast<std::int32_t>(kRoutinesPerTableSector);
  std::uint8_t sector[kSectorSize];
  header.Encode(sector);
  std::fstream(lying, std::ios::in | std::ios::out | std::ios::binary).write(reinterpret_cast<char*>(sector), sizeof sector);
  Result judged = Run({"list", lying});
  EXPECT_EQ(judged.code, 0) << judged.err;
  EXPECT_NE(judged.out.find("not formatted"), std::string::npos) << judged.out;
  fs::remove(lying);

  ASSERT_EQ(Run({"format", m_image, "--yes"}).code, 0);
  std::vector<RoutineEntry> routines = MakeRoutines(2, {2048, 10});
  routines[1].baudCode = 5;
  std::memcpy(routines[1].title.data(), "Sixteen \"chars\"\xE9", 16);
  AddRoutines(routines);

  Result listed = Run({"list", m_image});
  ASSERT_EQ(listed.code, 0) << listed.err;
  EXPECT_NE(listed.out.find("Title"), std::string::npos);
  EXPECT_NE(listed.out.find("Size (MB)  Baud Rate (bps)  Frame Rate (ms)  Protocol"), std::string::npos);
  EXPECT_NE(listed.out.find("Routine 0              1.00             9600               25  SV203 Compatible"),
            std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find("DMX"), std::string::npos);

  Result json = Run({"list", m_image, "--json"});
  ASSERT_EQ(json.code, 0);
  EXPECT_NE(json.out.find("\"title\": \"Sixteen \\\"chars\\\"\xC3\xA9\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"baudRate\": \"DMX\""), std::string::npos);
  EXPECT_NE(json.out.find("\"sizeMB\": \"1.00\""), std::string::npos);

  Result removed = Run({"remove-last", m_image, "--yes"});
  ASSERT_EQ(removed.code, 0) << removed.err;
  EXPECT_EQ(Run({"list", m_image, "--json"}).out.find("Sixteen"), std::string::npos);
  ASSERT_EQ(Run({"remove-last", m_image, "--yes"}).code, 0);
  Result empty = Run({"remove-last", m_image, "--yes"});
  EXPECT_EQ(empty.code, 1);
  EXPECT_EQ(empty.err, "vorn3ctl: Too few tracks\n");
}

TEST_F(Vorn3ctlTest, BackupAndRestoreCarryTheRoutinesFromDiskToDisk) {
  // The routines as `list --json` shows them, without the disk's own name and size.
  const auto routinesOf = [this](const std::string& disk) {
    const std::string json = Run({"list", disk, "--json"}).out;
    const std::size_t at = json.find("\"routines\"");
    return at == std::string::npos ? std::string() : json.substr(at);
  };
  ASSERT_EQ(Run({"create-image", m_image, "--size", "2M"}).code, 0);
  ASSERT_EQ(Run({"format", m_image, "--yes"}).code, 0);
  AddRoutines(MakeRoutines(9, {5}));
  const std::string listed = routinesOf(m_image);
  ASSERT_NE(listed.find("Routine 8"), std::string::npos);

  const std::string backup = (m_dir / "backup.img").string();
  Result backedUp = Run({"backup", m_image, backup});
  ASSERT_EQ(backedUp.code, 0) << backedUp.err;
  EXPECT_NE(backedUp.out.find("Backed up 9 routines"), std::string::npos) << backedUp.out;
  EXPECT_EQ(fs::file_size(backup), (1 + 9 * 5 + 2) * 512u);  // header, routines, table as read
  EXPECT_EQ(routinesOf(backup), listed);
  EXPECT_EQ(Run({"backup", m_image, backup}).code, 2);  // replaced only with --force
  const std::string whole = (m_dir / "whole.img").string();
  ASSERT_EQ(Run({"backup", m_image, whole, "--whole", "--quiet"}).code, 0);
  EXPECT_EQ(ReadFileText(whole), ReadFileText(m_image));

  // Onto a card that holds other routines: asked first, then replaced.
  const std::string other = (m_dir / "other.img").string();
  ASSERT_EQ(Run({"create-image", other, "--size", "1M"}).code, 0);
  ASSERT_EQ(Run({"format", other, "--yes"}).code, 0);
  AddRoutines(MakeRoutines(2, {40}), other);
  EXPECT_NE(Run({"restore", backup, other}).code, 0);  // not a terminal, no --yes
  EXPECT_NE(Run({"list", other}).out.find("Routine 1"), std::string::npos);
  Result restored = Run({"restore", backup, other, "--yes"});
  ASSERT_EQ(restored.code, 0) << restored.err;
  EXPECT_EQ(routinesOf(other), listed);

  // Refused, the disk untouched: an image that is no VORN disk, a disk too
  // small for the image, the image itself as the disk.
  const std::string blank = (m_dir / "blank.img").string();
  ASSERT_EQ(Run({"create-image", blank, "--size", "64K"}).code, 0);
  Result notVorn = Run({"restore", blank, other, "--yes"});
  EXPECT_EQ(notVorn.code, 1);
  EXPECT_NE(notVorn.err.find("is not a VORN disk image"), std::string::npos) << notVorn.err;
  const std::string small = (m_dir / "small.img").string();
  ASSERT_EQ(Run({"create-image", small, "--size", "16K"}).code, 0);
  ASSERT_EQ(Run({"format", small, "--yes"}).code, 0);
  Result tooSmall = Run({"restore", backup, small, "--yes"});
  EXPECT_EQ(tooSmall.code, 1);
  EXPECT_NE(tooSmall.err.find("too small"), std::string::npos) << tooSmall.err;
  EXPECT_NE(Run({"list", small, "--json"}).out.find("\"formatted\": true"), std::string::npos);
  EXPECT_EQ(Run({"restore", backup, backup, "--yes"}).code, 2);
}

// A write-protected image is refused by every command that would write it,
// before it converts or asks anything, and stays as it was.
TEST_F(Vorn3ctlTest, WritingCommandsRefuseAReadOnlyImageAtOnce) {
  ASSERT_EQ(Run({"create-image", m_image, "--size", "1M"}).code, 0);
  ASSERT_EQ(Run({"format", m_image, "--yes"}).code, 0);
  AddRoutines(MakeRoutines(2, {4}));
  const std::string song = (m_dir / "song.vorn").string(), copy = (m_dir / "copy.img").string();
  ASSERT_EQ(Run({"make-routine", song, "--title", "Song"}).code, 0);
  ASSERT_EQ(Run({"backup", m_image, copy, "--quiet"}).code, 0);
  fs::permissions(m_image, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  // Root writes any file: the commands then run as nobody.
  if (::geteuid() == 0) m_runAs = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  const std::string before = ReadFileText(m_image);
  const std::string refusal = "vorn3ctl: The disk image " + m_image + " is read-only (Permission denied): nothing was changed.\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"add", m_image, song, "--yes"}, {"format", m_image, "--yes"},
           {"remove-last", m_image, "--yes"}, {"restore", copy, m_image, "--yes"}}) {
    const Result result = Run(args);
    EXPECT_EQ(result.code, 1) << args[0];
    EXPECT_EQ(result.err, refusal) << args[0];
    EXPECT_EQ(result.out, "") << args[0];
  }
  EXPECT_EQ(ReadFileText(m_image), before);
  EXPECT_EQ(Run({"list", m_image}).code, 0);  // reading it is fine
}

// kill -9 at any point of a backup, new or replacing another: the target is
// the old file or the whole new one, and no temporary file outlives the next
// backup (a kill in the moment between the new file's naming and its rename
// over the old one may leave that name until then).
TEST_F(Vorn3ctlTest, ABackupKilledAtAnyPointLeavesNoFileBehind) {
  std::ofstream(m_image) << std::string(24u << 20, 'x');  // data all along: every piece is written
  const std::string target = (m_dir / "backup.img").string();
  const std::set<std::string> expected = {"card.img", "backup.img", "stdout", "stderr"};
  int finished = 0;
  for (int delayMs = 0; delayMs <= 120; delayMs += 4) {
    const bool replacing = delayMs % 8 == 4;
    fs::remove(target);
    if (replacing) std::ofstream(target) << "old";
    const pid_t pid = Start({"backup", m_image, target, "--whole", "--quiet", "--force"}, "");
    ::usleep(static_cast<useconds_t>(delayMs) * 1000);
    ::kill(pid, SIGKILL);
    Finish(pid, "");
    for (const auto& entry : fs::directory_iterator(m_dir)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(expected.count(name) || std::regex_match(name, std::regex(R"(\.backup\.img\.[0-9]+-[0-9]+)")))
          << entry.path() << " after " << delayMs << " ms";
    }
    const bool whole = fs::exists(target) && fs::file_size(target) == (24u << 20);
    finished += whole;
    if (!whole) {
      EXPECT_EQ(fs::exists(target) ? ReadFileText(target) : "", replacing ? "old" : "") << delayMs;
    }
  }
  EXPECT_LT(finished, 31);  // some runs were cut short, or the sweep proves nothing
  // Such a name, as a kill in that moment leaves it (the process is gone).
  const pid_t gone = Start({"--help"}, "");
  Finish(gone, "");
  std::ofstream(m_dir / (".backup.img." + std::to_string(gone) + "-0")) << "half";
  ASSERT_EQ(Run({"backup", m_image, target, "--whole", "--quiet", "--force"}).code, 0);
  for (const auto& entry : fs::directory_iterator(m_dir)) {
    EXPECT_TRUE(expected.count(entry.path().filename().string())) << entry.path();
  }
}

// Two programs writing one image: one of them is refused at once, naming the
// disk, and the image reads as the sum of what the others did.
TEST_F(Vorn3ctlTest, ASecondWriterIsRefusedAndTheImageReadsCorrectly) {
  ASSERT_EQ(Run({"create-image", m_image, "--size", "4M"}).code, 0);
  ASSERT_EQ(Run({"format", m_image, "--yes"}).code, 0);
  const std::string routine = (m_dir / "r.vorn").string(), data = (m_dir / "d.bin").string();
  std::string payload(100000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7 + i / 512);
  std::ofstream(data, std::ios::binary) << payload;
  ASSERT_EQ(Run({"make-routine", routine, "--data", data}).code, 0);
  const std::string inUse = "The disk " + m_image + " is in use by another program";

  // Held by another program: every writer and reader is refused, nothing changes.
  {
    const std::string before = ReadFileText(m_image);
    const int holder = ::open(m_image.c_str(), O_RDWR | O_CLOEXEC);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    ASSERT_EQ(::fcntl(holder, F_OFD_SETLK, &lock), 0);
    for (std::vector<std::string> command :
         std::vector<std::vector<std::string>>{{"add", m_image, routine, "--quiet"},
                                               {"format", m_image, "--yes"},
                                               {"remove-last", m_image, "--yes"},
                                               {"list", m_image},
                                               {"create-image", m_image, "--force"}}) {
      Result refused = Run(command);
      EXPECT_EQ(refused.code, 1) << command[0];
      EXPECT_NE(refused.err.find(command[0] == "create-image" ? "in use by another program" : inUse),
                std::string::npos)
          << command[0] << ": " << refused.err;
    }
    // A reader lets other readers in, but no writer.
    lock.l_type = F_RDLCK;
    ASSERT_EQ(::fcntl(holder, F_OFD_SETLK, &lock), 0);
    EXPECT_EQ(Run({"list", m_image}).code, 0);
    EXPECT_NE(Run({"add", m_image, routine, "--quiet"}).err.find(inUse), std::string::npos);
    ::close(holder);
    EXPECT_EQ(ReadFileText(m_image), before);
  }

  // The real thing: writers started together, again and again. Adds and
  // removals add up whatever their order; after a format only the adds that
  // came after it are left, at most those of the round.
  std::size_t expected = 0;
  for (int round = 0; round < 4; ++round) {
    const bool formatting = round % 2 == 1;
    const auto results = RunTogether({{"add", m_image, routine, "--quiet"},
                                      {"add", m_image, routine, "--quiet"},
                                      {formatting ? "format" : "remove-last", m_image, "--yes"}});
    std::size_t adds = 0, removes = 0;
    bool formatted = false;
    for (std::size_t k = 0; k < results.size(); ++k) {
      const Result& result = results[k];
      if (result.code != 0) {
        const bool refused = result.err.find(inUse) != std::string::npos || result.err == "vorn3ctl: Too few tracks\n";
        EXPECT_TRUE(refused) << result.err;
        continue;
      }
      if (k < 2) ++adds;
      else if (formatting) formatted = true;
      else ++removes;
    }
    CImageDevice device(m_image, false, ImageAccess::kRead);
    device.Open(CImageDevice::EntryFor(m_image));
    CVornDisk disk(device, nullptr);
    const auto& table = disk.ReadTable();
    ASSERT_TRUE(disk.IsValid());
    if (formatted) {
      EXPECT_LE(table.size(), adds) << "round " << round;
    } else {
      EXPECT_EQ(table.size(), expected + adds - removes) << "round " << round;
    }
    expected = table.size();
    // Every routine holds the bytes it was given: no two writers shared sectors.
    for (const RoutineEntry& entry : table) {
      std::string sectors((entry.endSector - entry.dataSector) * std::size_t{512}, '\0');
      device.ReadSectors(entry.dataSector, entry.endSector - entry.dataSector, sectors.data());
      EXPECT_EQ(sectors.substr(0, payload.size()), payload);
    }
  }
}

// Every refused or failed command leaves each file the user named byte for
// byte as it was, and no temporary file behind.
TEST_F(Vorn3ctlTest, RefusedCommandsLeaveEveryNamedFileAsItWas) {
  const auto path = [this](const char* name) { return (m_dir / name).string(); };
  ASSERT_EQ(Run({"create-image", m_image, "--size", "1M"}).code, 0);
  ASSERT_EQ(Run({"format", m_image, "--yes"}).code, 0);
  AddRoutines(MakeRoutines(8, {5}));  // table at 41; a reader touches 41 and 42
  std::ofstream(path("song.wav"), std::ios::binary) << "RIFF" << std::string(1020, '\x01');
  std::ofstream(path("odd.img"), std::ios::binary) << std::string(700, '\0');
  std::ofstream(path("d.bin"), std::ios::binary) << std::string(444, '\x02');
  ASSERT_EQ(Run({"make-routine", path("r.vorn"), "--data", path("d.bin")}).code, 0);  // 512 bytes
  std::ofstream(path("old.vorn"), std::ios::binary) << "an older export";
  ASSERT_EQ(Run({"backup", m_image, path("cut.img")}).code, 0);
  fs::resize_file(path("cut.img"), 42 * 512);  // lacks the last sector its table names
  ASSERT_EQ(Run({"create-image", path("small.img"), "--size", "8K"}).code, 0);

  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(m_dir)) {
    if (entry.path().filename().string().rfind("std", 0) != 0) files[entry.path().string()] = ReadFileText(entry.path());
  }
  const struct {
    std::vector<std::string> args;
    int code;
    const char* says;
  } kRefusals[] = {
      {{"export", m_image, "1", m_image, "--force"}, 2, "is the same file as"},
      {{"export", m_image, "1", path("old.vorn")}, 2, "already exists: give --force"},
      {{"export", m_image, "9", path("old.vorn"), "--force"}, 2, "INDEX"},
      {{"make-routine", path("r.vorn"), "--data", path("r.vorn"), "--force"}, 2, "is the same file as"},
      {{"make-routine", path("old.vorn"), "--data", path("d.bin")}, 2, "already exists"},
      {{"make-routine", path("old.vorn"), "--audio", path("none.wav"), "--force"}, 1, "Could not open file"},
      {{"backup", m_image, m_image, "--force"}, 2, "is the same file as"},
      {{"backup", m_image, path("small.img")}, 2, "already exists"},
      {{"backup", path("none.img"), path("small.img"), "--force"}, 1, "No such disk"},
      {{"create-image", m_image, "--size", "1M"}, 2, "already exists"},
      {{"create-image", path("huge.img"), "--size", "17179869185G"}, 2, "below 2 TiB"},
      {{"create-image", path("huge.img"), "--size", "2199023255552"}, 2, "below 2 TiB"},
      {{"format", path("song.wav"), "--yes"}, 1, "starts like a WAV"},
      {{"format", path("odd.img"), "--yes"}, 1, "not a whole number of 512-byte sectors"},
      {{"format", path("r.vorn"), "--yes"}, 1, "starts like a routine file"},
      {{"add", path("song.wav"), path("r.vorn"), "--yes"}, 1, "starts like a WAV"},
      {{"add", m_image, m_image}, 2, "is the same file as"},
      {{"restore", path("cut.img"), path("small.img"), "--yes"}, 1, "cut short"},
      {{"restore", m_image, path("small.img"), "--yes"}, 1, "too small"},
      {{"restore", m_image, path("song.wav"), "--yes"}, 1, "starts like a WAV"},
  };
  for (const auto& refusal : kRefusals) {
    Result result = Run(refusal.args);
    const std::string what = refusal.args[0] + " " + refusal.args[1];
    EXPECT_EQ(result.code, refusal.code) << what << ": " << result.err;
    EXPECT_NE(result.err.find(refusal.says), std::string::npos) << what << ": " << result.err;
    for (const auto& [name, bytes] : files) EXPECT_TRUE(ReadFileText(name) == bytes) << what << " changed " << name;
    for (const auto& entry : fs::directory_iterator(m_dir)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(files.count(entry.path().string()) || name.rfind("std", 0) == 0) << what << " left " << name;
    }
  }

  // With --force the named file is replaced, and only once the command went through.
  ASSERT_EQ(Run({"export", m_image, "2", path("old.vorn"), "--force"}).code, 0);
  EXPECT_EQ(fs::file_size(path("old.vorn")), 68u + 5 * 512);
  ASSERT_EQ(Run({"format", path("song.wav"), "--yes", "--force"}).code, 0);
  ASSERT_EQ(Run({"create-image", path("song.wav"), "--size", "2K", "--force"}).code, 0);
  EXPECT_EQ(ReadFileText(path("song.wav")), std::string(2048, '\0'));
}

TEST_F(Vorn3ctlTest, DestructiveCommandsNeedYesWithoutATerminal) {
  ASSERT_EQ(Run({"create-image", m_image, "--size", "64K"}).code, 0);
  for (const char* command : {"format", "remove-last"}) {
    Result refused = Run({command, m_image});
    EXPECT_NE(refused.code, 0);
    EXPECT_NE(refused.err.find("--yes"), std::string::npos);
  }
  EXPECT_NE(Run({"list", m_image}).out.find("not formatted"), std::string::npos);
}

TEST_F(Vorn3ctlTest, OnATerminalTheQuestionIsAskedAndAnswered) {
  ASSERT_EQ(Run({"create-image", m_image, "--size", "64K"}).code, 0);
  Result declined = RunOnTerminal({"format", m_image}, "n");
  EXPECT_NE(declined.out.find("This drive must be formatted as an VORN disk and will DELETE ALL DATA."),
            std::string::npos)
      << declined.out;
  EXPECT_NE(declined.out.find("Do you wish to continue? [y/N]"), std::string::npos);
  EXPECT_EQ(declined.code, 1);
  EXPECT_NE(Run({"list", m_image}).out.find("not formatted"), std::string::npos);

  Result agreed = RunOnTerminal({"format", m_image}, "y");
  EXPECT_EQ(agreed.code, 0) << agreed.out;
  Result again = RunOnTerminal({"format", m_image}, "y");
  EXPECT_NE(again.out.find("Are you sure you want to format the disk? [y/N]"), std::string::npos);

  // An existing output is replaced only when the user says so.
  const std::string copy = (m_dir / "copy.img").string();
  ASSERT_EQ(Run({"create-image", copy, "--size", "2K"}).code, 0);
  Result kept = RunOnTerminal({"backup", m_image, copy, "--quiet"}, "n");
  EXPECT_NE(kept.out.find(copy + " already exists. Do you want to replace it? [y/N]"), std::string::npos)
      << kept.out;
  EXPECT_EQ(kept.code, 1);
  EXPECT_EQ(fs::file_size(copy), 2048u);
  EXPECT_EQ(RunOnTerminal({"backup", m_image, copy, "--quiet"}, "y").code, 0);
  EXPECT_EQ(fs::file_size(copy), 1024u);

  // The question names the routine that goes; with none there is nothing to ask.
  Result none = RunOnTerminal({"remove-last", m_image}, "y");
  EXPECT_EQ(none.out.find("Are you sure"), std::string::npos) << none.out;
  EXPECT_NE(none.out.find("Too few tracks"), std::string::npos);
  EXPECT_EQ(none.code, 1);
  AddRoutines(MakeRoutines(2, {1}));
  Result keep = RunOnTerminal({"remove-last", m_image}, "n");
  EXPECT_NE(keep.out.find("Are you sure you want to remove the last track, \"Routine 1\" (routine 2)? [y/N]"),
            std::string::npos)
      << keep.out;
  EXPECT_EQ(keep.code, 1);
  EXPECT_NE(Run({"list", m_image}).out.find("2 routines"), std::string::npos);
}

TEST_F(Vorn3ctlTest, UsageErrorsAreOneLineAndAPointerToHelp) {
  const std::string missing = (m_dir / "nothing.img").string();
  const auto usage = [](const std::string& line, const std::string& command = "") {
    return "vorn3ctl: " + (command.empty() ? "" : command + ": ") + line + "\nTry 'vorn3ctl " +
           (command.empty() ? "" : command + " ") + "--help' for more information.\n";
  };
  struct Row {
    std::vector<std::string> args;
    int code;
    std::string out;  // what standard output starts with
    std::string err;  // standard error, whole
  };
  for (const Row& row : std::vector<Row>{
           {{}, 2, "", usage("missing command")},
           {{"lsit", m_image}, 2, "", usage("unknown command 'lsit'; did you mean 'list'?")},
           {{"frobnicate"}, 2, "", usage("unknown command 'frobnicate'")},
           {{"--frob"}, 2, "", usage("unrecognized option '--frob'")},
           {{"help", "fromat"}, 2, "", usage("unknown command 'fromat'; did you mean 'format'?")},
           {{"help", "list", "format"}, 2, "", usage("help takes one command")},
           {{"list"}, 2, "", usage("missing arguments", "list")},
           {{"list", "a", "b"}, 2, "", usage("unexpected argument 'b'", "list")},
           {{"list", "--jsn", "a"}, 2, "", usage("unrecognized option '--jsn'; did you mean '--json'?", "list")},
           {{"list", "a", "--json=yes"}, 2, "", usage("option '--json' takes no value", "list")},
           {{"create-image", m_image, "--size"}, 2, "", usage("option '--size' needs a value", "create-image")},
           {{"create-image", m_image, "--size", "1000"}, 2, "",
            usage("the size must be a whole number of 512-byte sectors", "create-image")},
           {{"create-image", m_image, "--size", "17179869185G"}, 2, "",
            usage("the size must be below 2 TiB (2^32 - 1 sectors)", "create-image")},
           {{"create-image", m_image, "--size", "64X"}, 2, "",
            usage("invalid size '64X' (bytes, or with K, M or G)", "create-image")},
           {{"create-image", m_image, "--size", ""}, 2, "",
            usage("invalid size '' (bytes, or with K, M or G)", "create-image")},
           {{"create-image", m_image, "--size", "G"}, 2, "",
            usage("invalid size 'G' (bytes, or with K, M or G)", "create-image")},
           {{"make-routine", missing, "--baud", "9600.0"}, 2, "",
            usage("--baud wants 2400, 4800, 9600, 19200, 38400 or 250000 (DMX), not '9600.0'", "make-routine")},
           {{"make-routine", missing, "--baud", "0"}, 2, "",
            usage("--baud wants 2400, 4800, 9600, 19200, 38400 or 250000 (DMX), not '0'", "make-routine")},
           {{"list", missing}, 1, "", "vorn3ctl: No such disk: " + missing + "\n"},
           {{"--help"}, 0, "Usage: vorn3ctl COMMAND [ARGUMENTS]\n", ""},
           {{"help"}, 0, "Usage: vorn3ctl COMMAND [ARGUMENTS]\n", ""},
           {{"help", "list"}, 0, "Usage: vorn3ctl list DISK", ""},
           {{"list", "x", "-h"}, 0, "Usage: vorn3ctl list DISK", ""},
           {{"list", "--", "--help"}, 1, "", "vorn3ctl: No such disk: --help\n"},
           {{"--version"}, 0, "vorn3ctl ", ""}}) {
    const Result result = Run(row.args);
    const std::string shown = row.args.empty() ? "(none)" : row.args[0] + (row.args.size() > 1 ? " " + row.args[1] : "");
    EXPECT_EQ(result.code, row.code) << shown;
    EXPECT_EQ(result.out.substr(0, row.out.size()), row.out) << shown;
    if (row.out.empty()) {
      EXPECT_EQ(result.out, "") << shown;
    }
    EXPECT_EQ(result.err, row.err) << shown;
  }
  EXPECT_FALSE(fs::exists(m_image));
}

TEST_F(Vorn3ctlTest, EveryCommandHasHelpWithAlignedColumns) {
  // The help column starts at the same place in every row of a section.
  const auto checkColumns = [](const std::string& text, const std::string& section) {
    std::istringstream lines(text.substr(text.find(section + ":\n") + section.size() + 2));
    std::string line;
    std::set<std::size_t> columns;
    while (std::getline(lines, line) && !line.empty()) {
      const std::size_t gap = line.find("  ", 2);
      ASSERT_NE(gap, std::string::npos) << line;
      columns.insert(line.find_first_not_of(' ', gap));
    }
    EXPECT_EQ(columns.size(), 1u) << text;
  };
  const Result overview = Run({"help"});
  checkColumns(overview.out, "Commands");
  for (const Command& command : Commands()) {
    const Result help = Run({"help", command.name});
    EXPECT_EQ(help.code, 0) << command.name;
    EXPECT_EQ(help.out.rfind(std::string("Usage: vorn3ctl ") + command.name + " ", 0), 0u) << help.out;
    EXPECT_EQ(Run({command.name, "--help"}).out, help.out);
    EXPECT_NE(overview.out.find(std::string("  ") + command.name + " "), std::string::npos) << command.name;
    checkColumns(help.out, "Options");
  }
}

TEST_F(Vorn3ctlTest, JsonIsValidUtf8ForEveryTitleByte) {
  ASSERT_EQ(Run({"create-image", m_image, "--size", "1M"}).code, 0);
  ASSERT_EQ(Run({"format", m_image, "--yes"}).code, 0);
  // Bytes 1..255 spread over the titles, 16 to a title: every byte a title can hold.
  std::vector<RoutineEntry> routines = MakeRoutines(16, {2});
  std::vector<std::string> titles;
  for (std::size_t k = 0; k < routines.size(); ++k) {
    std::string title;
    for (std::size_t i = 0; i < 16 && 1 + k * 16 + i < 256; ++i) title += static_cast<char>(1 + k * 16 + i);
    routines[k].title.fill('\0');
    std::copy(title.begin(), title.end(), routines[k].title.begin());
    titles.push_back(title);
  }
  AddRoutines(routines);

  const Result json = Run({"list", m_image, "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  nlohmann::json parsed;
  ASSERT_NO_THROW(parsed = nlohmann::json::parse(json.out)) << json.out;  // rejects any invalid UTF-8
  ASSERT_EQ(parsed["routines"].size(), titles.size());
  for (std::size_t k = 0; k < titles.size(); ++k) {
    EXPECT_EQ(parsed["routines"][k]["title"], DiskTextToUtf8(titles[k])) << k;
    EXPECT_EQ(Utf8ToDiskText(parsed["routines"][k]["title"].get<std::string>()), titles[k]) << k;
  }
  EXPECT_EQ(parsed["routines"][8]["title"].get<std::string>().substr(0, 2), "\xC2\x81");  // undefined: C1
  EXPECT_EQ(parsed["routines"][7]["title"].get<std::string>().substr(15), "\xE2\x82\xAC");  // the euro

  // The table shows the same text, controls as '?', and stays in its columns.
  const Result table = Run({"list", m_image});
  ASSERT_EQ(table.code, 0);
  EXPECT_NE(table.out.find("\n????????????????       0.00"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find("\n\xC3\xB1\xC3\xB2\xC3\xB3\xC3\xB4\xC3\xB5\xC3\xB6\xC3\xB7\xC3\xB8\xC3\xB9"
                           "\xC3\xBA\xC3\xBB\xC3\xBC\xC3\xBD\xC3\xBE\xC3\xBF        0.00"),
            std::string::npos)
      << table.out;
}

TEST(WineSetupTest, WindowsPathsMapIntoThePrefixOrAreRefused) {
  const fs::path prefix = "/p";
  struct Case {
    const char* windows;
    const char* unix;  // nullptr: refused
  };
  for (const Case& c : {Case{"C:\\Program Files\\V\\V.exe", "/p/drive_c/Program Files/V/V.exe"},
                        Case{"c:/ZOV/V.exe", "/p/drive_c/ZOV/V.exe"},
                        Case{"D:\\V.exe", "/p/dosdevices/d:/V.exe"}, Case{"V.exe", nullptr},
                        Case{"C:", nullptr}, Case{"C:\\", nullptr}, Case{"C:\\a\\..\\V.exe", nullptr},
                        Case{"C:\\a\\\\V.exe", nullptr}, Case{"C:\\a?.exe", nullptr},
                        Case{"C:\\dir\\", nullptr}, Case{"1:\\V.exe", nullptr},
                        // Names Windows trims or reserves would be a tree the editor never finds.
                        Case{"C:\\ZOV.\\V.exe", nullptr}, Case{"C:\\ZOV \\V.exe", nullptr},
                        Case{"C:\\V.exe.", nullptr}, Case{"C:\\CON\\V.exe", nullptr},
                        Case{"C:\\dir\\nul.exe", nullptr}, Case{"C:\\Com1.txt\\V.exe", nullptr},
                        Case{"C:\\LPT9\\V.exe", nullptr},
                        Case{"C:\\CONSOLE\\V.exe", "/p/drive_c/CONSOLE/V.exe"},
                        Case{"C:\\COM0\\V.exe", "/p/drive_c/COM0/V.exe"},
                        Case{"C:\\.ZOV\\V.exe", "/p/drive_c/.ZOV/V.exe"}}) {
    SCOPED_TRACE(c.windows);
    const std::optional<fs::path> path = PathInPrefix(prefix, c.windows);
    ASSERT_EQ(path.has_value(), c.unix != nullptr);
    if (path) {
      EXPECT_EQ(path->string(), c.unix);
    }
  }
}

TEST_F(Vorn3ctlTest, WineSetupLinksTheModuleOnceAndRefusesWhatItCannotUse) {
  const fs::path module = m_dir / "vorn3manager.exe.so";
  std::ofstream(module) << "module";
  ::setenv("VORN_WINE_MODULE", module.c_str(), 1);
  const fs::path prefix = m_dir / "prefix";
  fs::create_directories(prefix / "drive_c");
  std::ofstream(prefix / "system.reg") << "WINE REGISTRY";

  const std::string windowsPath = "C:\\Program Files\\VORN3 Manager\\VORN3Manager.exe";
  const fs::path link = prefix / "drive_c/Program Files/VORN3 Manager/VORN3Manager.exe";
  for (int run = 0; run < 2; ++run) {  // the second run finds it done
    const Result result = Run({"wine-setup", prefix.string()});
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, windowsPath + "\n");
    EXPECT_EQ(fs::read_symlink(link), module);
  }
  // Windows paths ignore case: another spelling of the same path is the same link.
  const Result upper = Run({"wine-setup", prefix.string(), "--as",
                            "C:\\PROGRAM FILES\\vorn3 manager\\VORN3MANAGER.EXE"});
  EXPECT_EQ(upper.code, 0) << upper.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(prefix / "drive_c"), fs::directory_iterator()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(link.parent_path()), fs::directory_iterator()), 1);
  EXPECT_EQ(fs::read_symlink(link), module);
  const Result empty = Run({"wine-setup", ""});
  EXPECT_EQ(empty.code, 2) << empty.err;
  EXPECT_NE(empty.err.find("PREFIX names no directory"), std::string::npos) << empty.err;
  // A link left by an older module is moved to this one.
  fs::remove(link);
  fs::create_symlink(m_dir / "old/vorn3manager.exe.so", link);
  EXPECT_EQ(Run({"wine-setup", prefix.string()}).code, 0);
  EXPECT_EQ(fs::read_symlink(link), module);
  // A link to another program is left alone.
  fs::create_symlink(m_dir / "editor.exe", prefix / "drive_c/Editor.exe");
  const Result foreign = Run({"wine-setup", prefix.string(), "--as", "C:\\Editor.exe"});
  EXPECT_EQ(foreign.code, 1);
  EXPECT_EQ(fs::read_symlink(prefix / "drive_c/Editor.exe"), m_dir / "editor.exe");

  const Result plain = Run({"wine-setup", m_dir.string()});
  EXPECT_EQ(plain.code, 1);
  EXPECT_NE(plain.err.find("is not a Wine prefix"), std::string::npos) << plain.err;
  const Result drive = Run({"wine-setup", prefix.string(), "--as", "E:\\V.exe"});
  EXPECT_EQ(drive.code, 1);
  EXPECT_NE(drive.err.find("drive E: is not mapped"), std::string::npos) << drive.err;
  std::ofstream(prefix / "drive_c/Other.exe") << "another program";
  const Result taken = Run({"wine-setup", prefix.string(), "--as", "C:\\Other.exe"});
  EXPECT_EQ(taken.code, 1);
  EXPECT_NE(taken.err.find("is not a link to the module"), std::string::npos) << taken.err;
  EXPECT_EQ(ReadFileText(prefix / "drive_c/Other.exe"), "another program");
  ::unsetenv("VORN_WINE_MODULE");
}

}  // namespace
}  // namespace vorn
