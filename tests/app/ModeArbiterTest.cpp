#include "app/ModeArbiter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/MessageBox.h"
#include "tests/support/RecordingPresenter.h"

namespace vorn {
namespace {

using test::CRecordingPresenter;

namespace fs = std::filesystem;

// Arbiters in one process: flock locks belong to open files, so two arbiters
// here behave like two instances. The real-process cases are in
// StartupProcessTest.
class ModeArbiterTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vorn-arbiter-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_base = pattern;
    m_dir = m_base + "/vorn3manager";
    SetMessagePresenter(&m_presenter);
    testing::internal::CaptureStderr();  // the detail lines of failures
  }
  void TearDown() override {
    testing::internal::GetCapturedStderr();
    SetMessagePresenter(nullptr);
    fs::remove_all(m_base);
  }
  std::string PathOf(const char* name) const { return m_dir + "/" + name; }

  // True when nobody holds the start-up lock any more.
  bool StartupLockFree() const {
    int fd = ::open(PathOf(kStartupMutexName).c_str(), O_RDWR);
    if (fd < 0) return true;
    bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
  }
  void ExpectOneBox(const char* text) {
    ASSERT_EQ(m_presenter.requests.size(), 1u);
    EXPECT_EQ(m_presenter.requests[0].text, text);
    EXPECT_EQ(m_presenter.requests[0].caption, "VORN3 Manager");
    EXPECT_EQ(m_presenter.requests[0].buttons, MessageButtons::kOk);
    m_presenter.requests.clear();
  }

  std::string m_base, m_dir;
  CRecordingPresenter m_presenter;
};

TEST_F(ModeArbiterTest, CreatorStoresItsModeAsFourLittleEndianBytes) {
  CModeArbiter window(m_dir);
  ASSERT_TRUE(window.ArbitrateMode(RunMode::kMainWindow));
  EXPECT_EQ(fs::file_size(PathOf(kWhoIsRunningName)), 4u);
  std::uint8_t bytes[4] = {};
  int fd = ::open(PathOf(kWhoIsRunningName).c_str(), O_RDONLY);
  ASSERT_EQ(::read(fd, bytes, 4), 4);
  ::close(fd);
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(bytes[1] | bytes[2] | bytes[3], 0);
  EXPECT_TRUE(StartupLockFree());

  CModeArbiter later(m_dir);
  EXPECT_FALSE(later.ArbitrateMode(RunMode::kServer));
  EXPECT_TRUE(m_presenter.requests.empty());
}

TEST_F(ModeArbiterTest, LockThatCannotBeOpenedIsReported) {
  ASSERT_TRUE(fs::create_directories(PathOf(kStartupMutexName)));
  ::chmod(m_dir.c_str(), 0700);
  CModeArbiter arbiter(m_dir);
  EXPECT_FALSE(arbiter.ArbitrateMode(RunMode::kMainWindow));
  ExpectOneBox("Unable to get VORN3MANAGER_STARTUPMUTEX");
}

TEST_F(ModeArbiterTest, UntrustedDirectoryIsReportedAsNoLock) {
  ASSERT_EQ(::mkdir(m_dir.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(m_dir.c_str(), 0777), 0);
  CModeArbiter arbiter(m_dir);
  EXPECT_FALSE(arbiter.ArbitrateMode(RunMode::kServer));
  ExpectOneBox("Unable to get VORN3MANAGER_STARTUPMUTEX");
}

TEST_F(ModeArbiterTest, BlockThatCannotBeOpenedIsReportedAndTheLockReleased) {
  ASSERT_TRUE(fs::create_directories(PathOf(kWhoIsRunningName)));
  ::chmod(m_dir.c_str(), 0700);
  CModeArbiter arbiter(m_dir);
  EXPECT_FALSE(arbiter.ArbitrateMode(RunMode::kList));
  ExpectOneBox("Unable to open VORN3MANAGER_WHOISRUNNING");
  EXPECT_TRUE(StartupLockFree());
}

TEST_F(ModeArbiterTest, HeldBlockTooShortToMapIsReportedNotACrash) {
  // Something holds a block file that is shorter than 4 bytes; reading a
  // mapping past its end would raise SIGBUS.
  ASSERT_EQ(::mkdir(m_dir.c_str(), 0700), 0);
  int holder = ::open(PathOf(kWhoIsRunningName).c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_SH), 0);
  CModeArbiter arbiter(m_dir);
  EXPECT_FALSE(arbiter.ArbitrateMode(RunMode::kServer));
  ExpectOneBox("Unable to open map of VORN3MANAGER_WHOISRUNNING");
  EXPECT_TRUE(StartupLockFree());
  ::close(holder);

  CModeArbiter afterwards(m_dir);
  EXPECT_TRUE(afterwards.ArbitrateMode(RunMode::kServer));
}

}  // namespace
}  // namespace vorn
