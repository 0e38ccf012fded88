// The server mode as a real process: vorn3manager -server against the unit
// simulator, driven through the named objects as the show editor drives it.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "platform/LittleEndian.h"
#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"
#include "platform/UniqueFd.h"
#include "tests/server/SimWorld.h"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10s;

// The editor's side, made of raw objects so that a test can leave one out,
// shape the block as it likes, or set events in any order.
class CTestEditor {
 public:
  CTestEditor(const std::string& unit, std::size_t blockSize,
              std::set<std::string> leaveOut = {})
      : m_unit(unit) {
    for (const char* suffix : {"_SHAREDMEM", "_READYEVENT", "_QUITEVENT", "_DATAREADYEVENT",
                               "_DATADONEEVENT"}) {
      ::shm_unlink(("/" + unit + suffix).c_str());  // left by an aborted run
    }
    if (!leaveOut.count("_SHAREDMEM")) block.Create(unit + "_SHAREDMEM", blockSize);
    if (!leaveOut.count("_READYEVENT")) ready.Create(unit + "_READYEVENT", EventReset::kManual);
    if (!leaveOut.count("_QUITEVENT")) quit.Create(unit + "_QUITEVENT", EventReset::kManual);
    dataReady.Create(unit + "_DATAREADYEVENT", EventReset::kAuto);
    dataDone.Create(unit + "_DATADONEEVENT", EventReset::kAuto);
  }

  // Puts a block of N = `payload` with bytes 0x40 + i after the length word;
  // the rest of the block keeps `fill`.
  void PutBlock(int payload, std::uint8_t fill = 0xA5) {
    std::memset(block.Data(), fill, block.Size());
    PutLe16(block.Data(), static_cast<std::uint16_t>(payload));
    for (int i = 0; i < payload && 2 + static_cast<std::size_t>(i) < block.Size(); ++i) {
      block.Data()[2 + i] = static_cast<std::uint8_t>(0x40 + i);
    }
  }
  std::string Bytes(std::size_t count) const {
    return std::string(reinterpret_cast<const char*>(block.Data()), count);
  }
  // For blocks the server must refuse: it ends instead of answering.
  void Send(int payload) {
    PutBlock(payload);
    dataReady.Set();
  }
  bool SendAndWait(int payload, std::uint8_t fill = 0xA5) {
    PutBlock(payload, fill);
    dataReady.Set();
    return dataDone.Wait(kWait);
  }

  std::string m_unit;
  CSharedBlock block;
  CNamedEvent ready, quit, dataReady, dataDone;
};

// Writes `value` straight into an object's first 4 bytes (an event's state
// word), as a careless or hostile client might.
void PokeWord(const std::string& object, std::uint32_t value) {
  CUniqueFd fd(::open(("/dev/shm/" + object).c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(fd.IsValid());
  ASSERT_EQ(::pwrite(fd.Get(), &value, sizeof value, 0), static_cast<ssize_t>(sizeof value));
}

void CutShort(const std::string& object, off_t size) {
  ASSERT_EQ(::truncate(("/dev/shm/" + object).c_str(), size), 0);
}

std::string OneUnit(int devnum, const std::string& extra = {}) {
  const std::string n = std::to_string(devnum);
  return "bus 001\nunit " + n + "\nmanufacturer Calverin\nproduct \"VORN unit\"\ncapture capture" +
         n + ".bin\nbaud-file baud" + n + ".txt\n" + extra;
}

TEST(ServerProcessTest, BlocksGoOutWholeInMultiplesOf128) {
  CSimWorld world;
  world.WriteConfig(OneUnit(201));
  CTestEditor editor(UnitName(201), 512);
  CChildProcess server = world.StartManager({"-server", "vorn201", "38400"});
  ASSERT_TRUE(editor.ready.Wait(kWait)) << world.Stderr();
  EXPECT_EQ(world.Read("baud201.txt").substr(0, 1), "4");

  std::string expected;
  for (int payload : {0, 126, 127}) {
    ASSERT_TRUE(editor.SendAndWait(payload)) << "N=" << payload << "\n" << world.Stderr();
    expected += editor.Bytes(payload == 127 ? 256 : 128);
  }
  editor.quit.Set();
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_EQ(server.ExitCode(), 0) << world.Stderr();
  EXPECT_EQ(world.Read("capture201.bin").size(), 128u + 128u + 256u);
  EXPECT_EQ(world.Read("capture201.bin"), expected);
  EXPECT_EQ(world.Stderr(), "");
}

TEST(ServerProcessTest, QuitWinsOverAPendingBlock) {
  CSimWorld world;
  world.WriteConfig(OneUnit(202));
  CTestEditor editor(UnitName(202), 128);
  // Quit set before start: the unit is still opened and ready signalled.
  editor.PutBlock(10);
  editor.dataReady.Set();
  editor.quit.Set();
  CChildProcess server = world.StartManager({"-server", "VORN202", "9600"});
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_EQ(server.ExitCode(), 0) << world.Stderr();
  EXPECT_TRUE(editor.ready.IsSet());
  EXPECT_EQ(world.Read("baud202.txt").substr(0, 1), "2");
  EXPECT_FALSE(editor.dataDone.IsSet());
  EXPECT_EQ(world.Read("capture202.bin"), "");
}

// The unit's capture file is a pipe the test fills, so the server's bulk write
// stays in progress until the test drains it: the editor may then set data
// ready again while a block is still being sent.
TEST(ServerProcessTest, DataReadyGivenDuringASendIsClearedAndOneDataDoneFollows) {
  CSimWorld world;
  ASSERT_EQ(::mkfifo(world.Path("capture215.bin").c_str(), 0600), 0);
  CUniqueFd reader(::open(world.Path("capture215.bin").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(reader.IsValid());
  {
    CUniqueFd filler(::open(world.Path("capture215.bin").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(filler.IsValid());
    const std::string chunk(4096, 'f');
    while (::write(filler.Get(), chunk.data(), chunk.size()) > 0) {
    }
  }
  auto drain = [&reader] {
    std::string bytes;
    char buffer[4096];
    for (ssize_t got; (got = ::read(reader.Get(), buffer, sizeof buffer)) > 0;) {
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
  };

  world.WriteConfig(OneUnit(215));
  CTestEditor editor(UnitName(215), 128);
  CChildProcess server = world.StartManager({"-server", "VORN215", "9600"});
  ASSERT_TRUE(editor.ready.Wait(kWait)) << world.Stderr();

  editor.PutBlock(5);
  editor.dataReady.Set();
  // The auto-reset event is taken when the server starts on the block.
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  while (editor.dataReady.IsSet() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(editor.dataReady.IsSet());
  editor.dataReady.Set();  // too early: the block is still on its way
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(editor.dataDone.IsSet());

  std::string sent = drain();
  ASSERT_TRUE(editor.dataDone.Wait(kWait)) << world.Stderr();
  EXPECT_FALSE(editor.dataReady.IsSet());
  // No second send for the early signal, and no second data done.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(editor.dataDone.IsSet());
  sent += drain();
  ASSERT_GE(sent.size(), 128u);
  EXPECT_EQ(sent.substr(sent.size() - 128), editor.Bytes(128));
  EXPECT_EQ(sent.find_first_not_of('f'), sent.size() - 128);

  editor.quit.Set();
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_EQ(server.ExitCode(), 0) << world.Stderr();
  EXPECT_EQ(CountOf(world.Read("sim.log"), "capture 128"), 1);
}

TEST(ServerProcessTest, BaudRateOutsideTheTableIsFatalBeforeReady) {
  CSimWorld world;
  world.WriteConfig(OneUnit(203));
  CTestEditor editor(UnitName(203), 128);
  CChildProcess server = world.StartManager({"-server", "VORN203", "1200"});
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_NE(server.ExitCode(), 0);
  EXPECT_FALSE(editor.ready.IsSet());
  EXPECT_EQ(CountOf(world.Stderr(), "FATAL SERVER VORN203 ERROR: Unsupported baud rate"), 1)
      << world.Stderr();
  EXPECT_FALSE(world.Exists("baud203.txt"));
}

TEST(ServerProcessTest, MissingReadyEventIsReportedAndServingGoesOn) {
  CSimWorld world;
  world.WriteConfig(OneUnit(204));
  CTestEditor editor(UnitName(204), 256, {"_READYEVENT"});
  CChildProcess server = world.StartManager({"-server", "VORN204", "250000"});
  ASSERT_TRUE(editor.SendAndWait(5)) << world.Stderr();
  ASSERT_TRUE(editor.SendAndWait(200)) << world.Stderr();
  editor.quit.Set();
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_EQ(server.ExitCode(), 0);
  EXPECT_EQ(CountOf(world.Stderr(), "could not open readyEvent"), 1) << world.Stderr();
  EXPECT_EQ(world.Read("capture204.bin").size(), 128u + 256u);
  EXPECT_EQ(world.Read("baud204.txt").substr(0, 1), "5");
}

TEST(ServerProcessTest, MissingQuitEventEndsBeforeTheUnitIsOpened) {
  CSimWorld world;
  world.WriteConfig(OneUnit(205));
  CTestEditor editor(UnitName(205), 128, {"_QUITEVENT"});
  CChildProcess server = world.StartManager({"-server", "VORN205", "9600"});
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_NE(server.ExitCode(), 0);
  EXPECT_EQ(CountOf(world.Stderr(), "could not open quitevent"), 1) << world.Stderr();
  EXPECT_EQ(CountOf(world.Stderr(), "FATAL SERVER"), 0);
  EXPECT_EQ(CountOf(world.Read("sim.log"), " open"), 0) << world.Read("sim.log");
  EXPECT_FALSE(world.Exists("baud205.txt"));
}

TEST(ServerProcessTest, OnlyTheNamedUnitIsServed) {
  CSimWorld world;
  // Bus 1 holds a number 206 that is not a unit; bus 2 the units 206 and 207.
  world.WriteConfig(
      "bus 001\ndevice 206 aa00:0002\n"
      "bus 002\nunit 206\nmanufacturer Calverin\nproduct Unit\ncapture capture206.bin\n"
      "unit 207\nmanufacturer Calverin\nproduct Unit\ncapture capture207.bin\n"
      "baud-file baud207.txt\n");
  CTestEditor editor(UnitName(206), 128);
  CChildProcess server = world.StartManager({"-server", "vorn206", "4800"});
  ASSERT_TRUE(editor.ready.Wait(kWait)) << world.Stderr();
  ASSERT_TRUE(editor.SendAndWait(3));
  editor.quit.Set();
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_EQ(server.ExitCode(), 0) << world.Stderr();
  EXPECT_EQ(world.Read("capture206.bin").size(), 128u);
  EXPECT_EQ(world.Read("capture207.bin"), "");
  EXPECT_FALSE(world.Exists("baud207.txt"));
}

TEST(ServerProcessTest, FailingBulkWriteIsFatalWithoutDataDone) {
  CSimWorld world;
  world.WriteConfig(OneUnit(208, "fault bulk-write\n"));
  CTestEditor editor(UnitName(208), 128);
  CChildProcess server = world.StartManager({"-server", "VORN208", "19200"});
  ASSERT_TRUE(editor.ready.Wait(kWait)) << world.Stderr();
  editor.Send(1);
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_NE(server.ExitCode(), 0);
  EXPECT_FALSE(editor.dataDone.IsSet());
  const std::string err = world.Stderr();
  EXPECT_EQ(CountOf(err, "FATAL SERVER VORN208 ERROR: error -"), 1) << err;
  EXPECT_EQ(CountOf(err, "during usb_bulk_write"), 1) << err;
}

// The length word is the editor's: a wrong one ends the server instead of
// sending whatever lies beyond the block.
TEST(ServerProcessTest, BlockLengthsBeyondTheBlockAreRefused) {
  struct Case {
    int devnum;
    int payload;
    std::size_t blockSize;
  };
  for (const Case& c : {Case{209, -1, 512}, Case{210, 32766, 32768}, Case{211, 127, 128}}) {
    SCOPED_TRACE("N=" + std::to_string(c.payload));
    CSimWorld world;
    world.WriteConfig(OneUnit(c.devnum));
    CTestEditor editor(UnitName(c.devnum), c.blockSize);
    CChildProcess server = world.StartManager({"-server", UnitName(c.devnum), "9600"});
    ASSERT_TRUE(editor.ready.Wait(kWait)) << world.Stderr();
    editor.Send(c.payload);
    ASSERT_TRUE(server.WaitFor(kWait));
    EXPECT_NE(server.ExitCode(), 0);
    EXPECT_FALSE(editor.dataDone.IsSet());
    EXPECT_EQ(CountOf(world.Stderr(), "Invalid block length " + std::to_string(c.payload)), 1)
        << world.Stderr();
    EXPECT_EQ(world.Read("capture" + std::to_string(c.devnum) + ".bin"), "");
  }
}

TEST(ServerProcessTest, UnitsWithoutTheLiveConfigurationAreFatal) {
  struct Case {
    int devnum;
    const char* shape;
    const char* message;
  };
  for (const Case& c : {Case{212, "one-configuration", "COULD NOT SELECT CONFIGURATION"},
                        Case{213, "no-endpoints", "COULD NOT FIND ENDPOINTS"}}) {
    SCOPED_TRACE(c.shape);
    CSimWorld world;
    world.WriteConfig(OneUnit(c.devnum, std::string("shape ") + c.shape + "\n"));
    CTestEditor editor(UnitName(c.devnum), 128);
    CChildProcess server = world.StartManager({"-server", UnitName(c.devnum), "9600"});
    ASSERT_TRUE(server.WaitFor(kWait));
    EXPECT_NE(server.ExitCode(), 0);
    EXPECT_FALSE(editor.ready.IsSet());
    EXPECT_EQ(CountOf(world.Stderr(), "FATAL SERVER " + UnitName(c.devnum) + " ERROR: "), 1);
    EXPECT_EQ(CountOf(world.Stderr(), c.message), 1) << world.Stderr();
  }
}

TEST(ServerProcessTest, ObjectsOthersMayWriteAreNotOpened) {
  CSimWorld world;
  world.WriteConfig(OneUnit(214));
  CTestEditor editor(UnitName(214), 128);
  ASSERT_EQ(::chmod(("/dev/shm/" + UnitName(214) + "_SHAREDMEM").c_str(), 0666), 0);
  CChildProcess server = world.StartManager({"-server", "VORN214", "9600"});
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_NE(server.ExitCode(), 0);
  const std::string err = world.Stderr();
  EXPECT_EQ(CountOf(err, "writable by other users"), 1) << err;
  EXPECT_EQ(CountOf(err, "FATAL SERVER VORN214 ERROR: Could not create file-mapping object."), 1);
  EXPECT_FALSE(editor.ready.IsSet());
}

// Objects the client cuts short after the server mapped them: the server must
// end with its fatal error (status 1), never by a signal from touching a page
// past an object's new end.
TEST(ServerProcessTest, ObjectsCutShortWhileServingEndItWithAFatalError) {
  struct Case {
    int devnum;
    const char* object;  // cut to 0 bytes
    bool blockFirst;     // a block is answered before the cut
    const char* message;
  };
  for (const Case& c : {Case{216, "_SHAREDMEM", false, "Invalid block length 0 (0 bytes to send, the block holds 0)"},
                        Case{217, "_DATADONEEVENT", false, "an event object was cut short"},
                        Case{218, "_QUITEVENT", true, "an event object was cut short"}}) {
    SCOPED_TRACE(c.object);
    CSimWorld world;
    world.WriteConfig(OneUnit(c.devnum));
    CTestEditor editor(UnitName(c.devnum), 8192);
    CChildProcess server = world.StartManager({"-server", UnitName(c.devnum), "9600"});
    ASSERT_TRUE(editor.ready.Wait(kWait)) << world.Stderr();
    if (c.blockFirst) {
      ASSERT_TRUE(editor.SendAndWait(3)) << world.Stderr();
    }
    editor.PutBlock(126);
    CutShort(UnitName(c.devnum) + c.object, 0);
    editor.dataReady.Set();
    ASSERT_TRUE(server.WaitFor(kWait));
    EXPECT_EQ(server.ExitCode(), 1) << world.Stderr();
    const std::string err = world.Stderr();
    EXPECT_EQ(CountOf(err, "FATAL SERVER " + UnitName(c.devnum) + " ERROR: " + c.message), 1) << err;
  }
}

// A state word other than 0 or 1 counts as set: it is taken (and cleared, for
// an auto-reset event) instead of leaving the server spinning on it.
TEST(ServerProcessTest, StateWordsOtherThanOneCountAsSet) {
  CSimWorld world;
  world.WriteConfig(OneUnit(219) + OneUnit(220).substr(8));
  CTestEditor first(UnitName(219), 128);
  first.PutBlock(7);
  PokeWord(UnitName(219) + "_DATAREADYEVENT", 2);
  CChildProcess server = world.StartManager({"-server", UnitName(219), "9600"});
  ASSERT_TRUE(first.dataDone.Wait(kWait)) << world.Stderr();
  EXPECT_FALSE(first.dataReady.IsSet());
  EXPECT_EQ(world.Read("capture219.bin"), first.Bytes(128));
  PokeWord(UnitName(219) + "_QUITEVENT", 0xFFFFFFFF);
  first.dataReady.Set();  // wakes the wait, which finds quit first
  ASSERT_TRUE(server.WaitFor(kWait));
  EXPECT_EQ(server.ExitCode(), 0) << world.Stderr();
  EXPECT_EQ(world.Read("capture219.bin").size(), 128u);

  CTestEditor second(UnitName(220), 128);
  PokeWord(UnitName(220) + "_QUITEVENT", 7);
  CChildProcess quitting = world.StartManager({"-server", UnitName(220), "9600"});
  ASSERT_TRUE(quitting.WaitFor(kWait));
  EXPECT_EQ(quitting.ExitCode(), 0) << world.Stderr();
  EXPECT_TRUE(second.ready.IsSet());
}

}  // namespace
}  // namespace vorn::test
