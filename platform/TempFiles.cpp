#include "platform/TempFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

namespace vorn {

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  return (dir && *dir) ? dir : "/tmp";
}

TempFile MakeTempFile() {
  std::string path = TempDirectory();
  path += "/";
  path += kTempPrefix;
  path += "XXXXXX";
  int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot create a temporary file in " +
                                                                path.substr(0, path.rfind('/')));
  }
  return TempFile{CUniqueFd(fd), std::move(path)};
}

TempFile MakeUnnamedTempFile() {
  const std::string dir = TempDirectory();
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: the name lives only for as long
    // as the two calls take.
    TempFile named = MakeTempFile();
    ::unlink(named.path.c_str());
    fd = named.fd.Release();
  }
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot create a temporary file in " + dir);
  }
  return TempFile{CUniqueFd(fd), "/proc/self/fd/" + std::to_string(fd)};
}

CTempFileList::~CTempFileList() {
  for (const std::string& path : m_paths) ::unlink(path.c_str());
}

}  // namespace vorn
