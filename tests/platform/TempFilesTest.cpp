#include "platform/TempFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace vorn {
namespace {

TEST(TempFilesTest, NamesCarryThePrefixAreUniqueAndDeletedByTheList) {
  std::string a, b;
  {
    CTempFileList list;
    a = MakeTempFile();
    b = MakeTempFile();
    list.Add(a);
    list.Add(b);
    EXPECT_NE(a, b);
    EXPECT_EQ(std::filesystem::path(a).filename().string().rfind("zov", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_FALSE(std::filesystem::exists(a));
  EXPECT_FALSE(std::filesystem::exists(b));
}

TEST(TempFilesTest, MissingDirectoryIsAnError) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/nonexistent/dir", 1);
  EXPECT_THROW(MakeTempFile(), std::system_error);
  if (old) ::setenv("TMPDIR", saved.c_str(), 1); else ::unsetenv("TMPDIR");
}

}  // namespace
}  // namespace vorn
