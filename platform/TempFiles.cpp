#include "platform/TempFiles.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace vorn {

std::string MakeTempFile() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  path += "/";
  path += kTempPrefix;
  path += "XXXXXX";
  int fd = ::mkstemp(path.data());
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot create a temporary file in " +
                                                                path.substr(0, path.rfind('/')));
  }
  ::close(fd);
  return path;
}

CTempFileList::~CTempFileList() {
  for (const std::string& path : m_paths) ::unlink(path.c_str());
}

}  // namespace vorn
