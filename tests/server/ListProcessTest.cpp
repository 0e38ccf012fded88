// The list mode as a real process: vorn3manager -listdevices against the unit
// simulator, with the list objects made as the show editor makes them.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"
#include "platform/UniqueFd.h"
#include "server/ListDevices.h"
#include "tests/server/SimWorld.h"

namespace vorn::test {
namespace {

using namespace std::chrono_literals;

// The list objects have fixed machine-wide names: tests that use them (here and
// in the client's tests) take turns.
class ListObjectsTest : public testing::Test {
 protected:
  void SetUp() override {
    m_lock.Reset(::open("/tmp/vorn-list-objects.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_TRUE(m_lock.IsValid());
    ASSERT_EQ(::flock(m_lock.Get(), LOCK_EX), 0);
    ::shm_unlink((std::string("/") + kListBlockName).c_str());
    ::shm_unlink((std::string("/") + kListEventName).c_str());
  }
  CUniqueFd m_lock;
};

std::string Unit(int devnum) {
  return "unit " + std::to_string(devnum) + "\nmanufacturer Calverin\nproduct Unit\n";
}

TEST_F(ListObjectsTest, PublishesTheUnitsInBusOrder) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(3) + "device 4 aa00:0002\n" + Unit(5));
  CSharedBlock block;
  block.Create(kListBlockName, 1024);
  std::memset(block.Data(), 0xEE, 1024);
  CNamedEvent event;
  event.Create(kListEventName, EventReset::kManual);

  CChildProcess manager = world.StartManager({"-listdevices"});
  ASSERT_TRUE(manager.WaitFor(10s));
  EXPECT_EQ(manager.ExitCode(), 0) << world.Stderr();
  EXPECT_TRUE(event.IsSet());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.Data()), 14),
            std::string("VORN3\0VORN5\0\0\xEE", 14));
}

TEST_F(ListObjectsTest, NoUnitGivesAnEmptyList) {
  CSimWorld world;
  world.WriteConfig("bus 001\ndevice 3 1234:5678\n");
  CSharedBlock block;
  block.Create(kListBlockName, 1024);
  std::memset(block.Data(), 0xEE, 1024);
  CNamedEvent event;
  event.Create(kListEventName, EventReset::kAuto);
  CChildProcess manager = world.StartManager({"-listdevices"});
  ASSERT_TRUE(manager.WaitFor(10s));
  EXPECT_TRUE(event.IsSet());
  EXPECT_EQ(block.Data()[0], 0);
  EXPECT_EQ(block.Data()[1], 0xEE);
}

TEST_F(ListObjectsTest, AsManyNamesAsFitIn1024Bytes) {
  CSimWorld world;
  std::string config = "bus 001\n";
  for (int devnum = 100; devnum < 230; ++devnum) config += Unit(devnum);
  world.WriteConfig(config);
  CSharedBlock block;
  block.Create(kListBlockName, 4096);
  std::memset(block.Data(), 0xEE, 4096);
  CNamedEvent event;
  event.Create(kListEventName, EventReset::kManual);
  CChildProcess manager = world.StartManager({"-listdevices"});
  ASSERT_TRUE(manager.WaitFor(30s));
  ASSERT_TRUE(event.IsSet()) << world.Stderr();
  std::string expected;
  for (int devnum = 100; devnum < 227; ++devnum) expected += "VORN" + std::to_string(devnum) + '\0';
  expected += '\0';
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.Data()), expected.size()), expected);
  EXPECT_EQ(block.Data()[expected.size()], 0xEE);
}

TEST_F(ListObjectsTest, WithoutTheBlockNothingIsSignalled) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(3));
  CNamedEvent event;
  event.Create(kListEventName, EventReset::kManual);
  CChildProcess manager = world.StartManager({"-listdevices"});
  ASSERT_TRUE(manager.WaitFor(10s));
  EXPECT_EQ(manager.ExitCode(), 1);  // nothing was published
  EXPECT_FALSE(event.IsSet());
  EXPECT_EQ(world.Stderr(), "");
}

TEST_F(ListObjectsTest, WithoutTheEventTheListIsStillWritten) {
  CSimWorld world;
  world.WriteConfig("bus 001\n" + Unit(7));
  CSharedBlock block;
  block.Create(kListBlockName, 1024);
  CChildProcess manager = world.StartManager({"-listdevices"});
  ASSERT_TRUE(manager.WaitFor(10s));
  EXPECT_EQ(CountOf(world.Stderr(), "Could not open event"), 1) << world.Stderr();
  EXPECT_EQ(manager.ExitCode(), 1);  // the editor was never told
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block.Data()), 7), std::string("VORN7\0\0", 7));
}

}  // namespace
}  // namespace vorn::test
