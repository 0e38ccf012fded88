#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "platform/posix/Futex.h"
#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"
#include "platform/UniqueFd.h"
#include "platform/WaitForEvents.h"

namespace vorn {
namespace {

using namespace std::chrono_literals;

std::string UniqueName(const std::string& what) {
  static int counter = 0;
  return "VORNTEST_" + std::to_string(::getpid()) + "_" + std::to_string(++counter) + "_" + what;
}

// An object made behind our classes' back, the way a careless or hostile
// program could leave one under a name we use.
CUniqueFd MakeRawObject(const std::string& name, mode_t mode, off_t size) {
  CUniqueFd fd(::shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
  EXPECT_TRUE(fd.IsValid());
  EXPECT_EQ(::ftruncate(fd.Get(), size), 0);
  EXPECT_EQ(::fchmod(fd.Get(), mode), 0);
  return fd;
}

TEST(SharedBlockTest, OpenerSeesTheCreatorsBytesAndTheWholeSize) {
  const std::string name = UniqueName("SHAREDMEM");
  CSharedBlock created;
  created.Create(name, 300);
  std::memcpy(created.Data(), "\x7e\x00hello", 7);

  CSharedBlock opened;
  ASSERT_TRUE(opened.Open(name)) << opened.Failure();
  ASSERT_TRUE(opened.Map()) << opened.Failure();
  EXPECT_EQ(opened.Size(), 300u);
  EXPECT_EQ(std::memcmp(opened.Data(), "\x7e\x00hello", 7), 0);
  opened.Data()[299] = 0x5a;
  EXPECT_EQ(created.Data()[299], 0x5a);

  struct stat st {};
  CUniqueFd raw(::shm_open(("/" + name).c_str(), O_RDONLY, 0));
  ASSERT_TRUE(raw.IsValid());
  ASSERT_EQ(::fstat(raw.Get(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SharedBlockTest, CreatingAnExistingNameFailsAndTheCreatorRemovesItsName) {
  const std::string name = UniqueName("SHAREDMEM");
  {
    CSharedBlock first;
    first.Create(name, 16);
    CSharedBlock second;
    EXPECT_THROW(second.Create(name, 16), std::system_error);
  }
  CSharedBlock later;
  EXPECT_FALSE(later.Open(name));
  EXPECT_NE(later.Failure().find(name), std::string::npos);
}

TEST(SharedBlockTest, EmptyObjectOpensButCannotBeMapped) {
  const std::string name = UniqueName("SHAREDMEM");
  CUniqueFd raw = MakeRawObject(name, 0600, 0);
  CSharedBlock block;
  ASSERT_TRUE(block.Open(name));
  EXPECT_FALSE(block.Map());
  ::shm_unlink(("/" + name).c_str());
}

TEST(SharedBlockTest, ObjectsOthersMayWriteOrOwnAreTreatedAsMissing) {
  const std::string writable = UniqueName("SHAREDMEM");
  CUniqueFd raw = MakeRawObject(writable, 0622, 64);
  CSharedBlock block;
  EXPECT_FALSE(block.Open(writable));
  EXPECT_NE(block.Failure().find("writable by other users"), std::string::npos);
  CNamedEvent event;
  EXPECT_FALSE(event.Open(writable));
  ::shm_unlink(("/" + writable).c_str());

  const std::string groupWritable = UniqueName("SHAREDMEM");
  CUniqueFd rawGroup = MakeRawObject(groupWritable, 0660, 64);
  EXPECT_FALSE(block.Open(groupWritable));
  ::shm_unlink(("/" + groupWritable).c_str());

  if (::geteuid() != 0) GTEST_SKIP() << "giving an object away needs root";
  const std::string foreign = UniqueName("SHAREDMEM");
  CUniqueFd rawForeign = MakeRawObject(foreign, 0600, 64);
  ASSERT_EQ(::fchown(rawForeign.Get(), 65534, 65534), 0);
  EXPECT_FALSE(block.Open(foreign));
  EXPECT_NE(block.Failure().find("owned by uid 65534"), std::string::npos);
  EXPECT_FALSE(event.Open(foreign));
  ::shm_unlink(("/" + foreign).c_str());
}

TEST(NamedEventTest, LayoutIsStateWordThenFlagsWord) {
  const std::string manualName = UniqueName("EVENT");
  const std::string autoName = UniqueName("EVENT");
  CNamedEvent manual;
  manual.Create(manualName, EventReset::kManual, true);
  CNamedEvent automatic;
  automatic.Create(autoName, EventReset::kAuto);

  CSharedBlock view;
  ASSERT_TRUE(view.Open(manualName));
  ASSERT_TRUE(view.Map());
  ASSERT_EQ(view.Size(), 8u);
  const std::array<std::uint8_t, 8> setManual = {1, 0, 0, 0, 1, 0, 0, 0};
  EXPECT_EQ(std::memcmp(view.Data(), setManual.data(), 8), 0);
  manual.Reset();
  EXPECT_EQ(view.Data()[0], 0);

  ASSERT_TRUE(view.Open(autoName));
  ASSERT_TRUE(view.Map());
  automatic.Set();
  const std::array<std::uint8_t, 8> setAuto = {1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(view.Data(), setAuto.data(), 8), 0);

  // A word other than 0 or 1 counts as set, and is taken (cleared) once.
  view.Data()[0] = 2;
  EXPECT_TRUE(automatic.IsSet());
  EXPECT_TRUE(automatic.Wait(0ms));
  EXPECT_EQ(view.Data()[0], 0);
  EXPECT_FALSE(automatic.Wait(0ms));

  // Cut below 8 bytes, the event is no longer touched: no set, no wait.
  ASSERT_EQ(::truncate(("/dev/shm/" + autoName).c_str(), 0), 0);
  EXPECT_FALSE(automatic.IsIntact());
  EXPECT_FALSE(automatic.Set());
  EXPECT_FALSE(automatic.IsSet());
  CNamedEvent* const one[] = {&automatic};
  EXPECT_EQ(WaitForFirstEvent(one, 0ms), kWaitObjectLost);
}

TEST(NamedEventTest, AutoResetIsTakenOnceManualResetStaysSet) {
  const std::string autoName = UniqueName("EVENT");
  const std::string manualName = UniqueName("EVENT");
  CNamedEvent creatorAuto, creatorManual;
  creatorAuto.Create(autoName, EventReset::kAuto);
  creatorManual.Create(manualName, EventReset::kManual);
  CNamedEvent autoEvent, manualEvent;
  ASSERT_TRUE(autoEvent.Open(autoName));
  ASSERT_TRUE(manualEvent.Open(manualName));
  EXPECT_FALSE(autoEvent.IsManualReset());
  EXPECT_TRUE(manualEvent.IsManualReset());

  creatorAuto.Set();
  EXPECT_TRUE(autoEvent.Wait(0ms));
  EXPECT_FALSE(autoEvent.Wait(0ms));
  EXPECT_FALSE(creatorAuto.IsSet());

  creatorManual.Set();
  EXPECT_TRUE(manualEvent.Wait(0ms));
  EXPECT_TRUE(manualEvent.Wait(0ms));
  creatorManual.Reset();
  EXPECT_FALSE(manualEvent.Wait(20ms));
}

TEST(NamedEventTest, TooSmallObjectIsNotAnEvent) {
  const std::string name = UniqueName("EVENT");
  CUniqueFd raw = MakeRawObject(name, 0600, 4);
  CNamedEvent event;
  EXPECT_FALSE(event.Open(name));
  EXPECT_NE(event.Failure().find("needs 8"), std::string::npos);
  ::shm_unlink(("/" + name).c_str());
}

TEST(WaitForEventsTest, EarlierEventWinsAndOnlyItIsConsumed) {
  CNamedEvent quit, ready;
  quit.Create(UniqueName("QUIT"), EventReset::kAuto);
  ready.Create(UniqueName("READY"), EventReset::kAuto);
  const std::array<CNamedEvent*, 2> pair = {&quit, &ready};
  quit.Set();
  ready.Set();
  EXPECT_EQ(WaitForFirstEvent(pair, 0ms), 0);
  EXPECT_TRUE(ready.IsSet());
  EXPECT_EQ(WaitForFirstEvent(pair, 0ms), 1);
  EXPECT_EQ(WaitForFirstEvent(pair, 30ms), kWaitTimedOut);
}

// Another process sets the second event while we sleep on both.
void ExpectWokenAcrossProcesses() {
  const std::string firstName = UniqueName("A");
  const std::string secondName = UniqueName("B");
  CNamedEvent first, second;
  first.Create(firstName, EventReset::kAuto);
  second.Create(secondName, EventReset::kAuto);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CNamedEvent other;
    if (!other.Open(secondName)) ::_exit(2);
    std::this_thread::sleep_for(50ms);
    other.Set();
    ::_exit(0);
  }
  const std::array<CNamedEvent*, 2> pair = {&first, &second};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForFirstEvent(pair, 5000ms), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4000ms);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(WaitForEventsTest, SetInAnotherProcessWakesTheWaiter) { ExpectWokenAcrossProcesses(); }

TEST(WaitForEventsTest, FallbackWithoutWaitvStillWakes) {
  SetFutexWaitvEnabled(false);
  ExpectWokenAcrossProcesses();
  SetFutexWaitvEnabled(true);
}

}  // namespace
}  // namespace vorn
