#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace vorn {

std::string RegularFile::Reason() const {
  return notRegular ? "not a regular file" : std::strerror(error);
}

RegularFile OpenRegularFile(const std::string& path) {
  RegularFile result;
  CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (!fd.IsValid() || ::fstat(fd.Get(), &st) != 0) {
    result.error = errno;
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.notRegular = true;
    return result;
  }
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    result.error = errno;
    return result;
  }
  result.fd = std::move(fd);
  return result;
}

CUniqueFile OpenRegularFileStream(const std::string& path, std::string& reason) {
  RegularFile opened = OpenRegularFile(path);
  if (!opened.fd.IsValid()) {
    reason = opened.Reason();
    return nullptr;
  }
  CUniqueFile stream(::fdopen(opened.fd.Get(), "rb"));
  if (!stream) {
    reason = std::strerror(errno);
    return nullptr;
  }
  opened.fd.Release();  // the stream owns it now
  return stream;
}

}  // namespace vorn
