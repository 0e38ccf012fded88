#include "platform/TempFiles.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace vorn {
namespace {

TEST(TempFilesTest, NamesCarryThePrefixAreUniqueAndDeletedByTheList) {
  std::string a, b;
  {
    CTempFileList list;
    TempFile first = MakeTempFile();
    TempFile second = MakeTempFile();
    a = first.path;
    b = second.path;
    list.Add(a);
    list.Add(b);
    EXPECT_NE(a, b);
    // The descriptor handed back is the file named, open for writing and reading.
    ASSERT_EQ(::write(first.fd.Get(), "zov", 3), 3);
    EXPECT_EQ(std::filesystem::file_size(a), 3u);
    EXPECT_NE(::fcntl(first.fd.Get(), F_GETFD) & FD_CLOEXEC, 0);
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
