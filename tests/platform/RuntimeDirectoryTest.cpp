#include "platform/RuntimeDirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace vorn {
namespace {

namespace fs = std::filesystem;

class RuntimeDirectoryTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vorn-rtdir-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_base = pattern;
  }
  void TearDown() override { fs::remove_all(m_base); }
  std::string m_base;
};

TEST_F(RuntimeDirectoryTest, XdgRuntimeDirWinsAndAnythingButAnAbsolutePathFallsBack) {
  const std::string fallback = "/tmp/vorn3manager-" + std::to_string(::geteuid());
  EXPECT_EQ(RuntimeDirectoryPath("/run/user/1000", "/tmp"), "/run/user/1000/vorn3manager");
  EXPECT_EQ(RuntimeDirectoryPath(nullptr, "/tmp"), fallback);
  EXPECT_EQ(RuntimeDirectoryPath("", "/tmp"), fallback);
  EXPECT_EQ(RuntimeDirectoryPath("run/user/1000", "/tmp"), fallback);
}

TEST_F(RuntimeDirectoryTest, CreatesAPrivateDirectoryAndReopensIt) {
  const std::string path = RuntimeDirectoryPath(nullptr, m_base);
  std::string error;
  CUniqueFd first = OpenPrivateDirectory(path, &error);
  ASSERT_TRUE(first.IsValid()) << error;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(OpenPrivateDirectory(path, &error).IsValid()) << error;
}

TEST_F(RuntimeDirectoryTest, RefusesDirectoriesOthersCouldTamperWith) {
  std::string error;
  // Open to the group: someone else could plant or hold our files.
  const std::string loose = m_base + "/loose";
  ASSERT_EQ(::mkdir(loose.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(loose.c_str(), 0770), 0);
  EXPECT_FALSE(OpenPrivateDirectory(loose, &error).IsValid());
  EXPECT_NE(error.find("0700"), std::string::npos) << error;

  // A symlink in a shared /tmp must not redirect us, even to our own directory.
  const std::string real = m_base + "/real";
  const std::string link = m_base + "/link";
  ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  EXPECT_FALSE(OpenPrivateDirectory(link, &error).IsValid());

  // A missing parent is an error, not a crash.
  EXPECT_FALSE(OpenPrivateDirectory(m_base + "/missing/dir", &error).IsValid());
}

TEST_F(RuntimeDirectoryTest, RefusesADirectoryOwnedBySomeoneElse) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a directory owned by another user";
  const std::string path = RuntimeDirectoryPath(nullptr, m_base);
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  std::string error;
  EXPECT_FALSE(OpenPrivateDirectory(path, &error).IsValid());
  EXPECT_NE(error.find("owned by user 65534"), std::string::npos) << error;
}

}  // namespace
}  // namespace vorn
