#include "platform/TempFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace vorn {

TempFile MakeTempFile() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
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

CTempFileList::~CTempFileList() {
  for (const std::string& path : m_paths) ::unlink(path.c_str());
}

}  // namespace vorn
