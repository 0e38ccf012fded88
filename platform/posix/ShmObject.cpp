#include "platform/posix/ShmObject.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace vorn {

std::string ShmPath(const std::string& name) { return "/" + name; }

CUniqueFd OpenTrustedShm(const std::string& name, std::string& reason, bool& missing) {
  const std::string path = ShmPath(name);
  missing = false;
  // glibc's shm_open adds O_NOFOLLOW and O_CLOEXEC itself.
  CUniqueFd fd(::shm_open(path.c_str(), O_RDWR, 0));
  if (!fd.IsValid()) {
    missing = errno == ENOENT;
    reason = path + ": " + std::strerror(errno);
    return {};
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    reason = path + ": " + std::strerror(errno);
    return {};
  }
  if (!S_ISREG(st.st_mode)) {
    reason = path + ": not a shared-memory object";
    return {};
  }
  if (st.st_uid != ::geteuid()) {
    reason = path + ": owned by uid " + std::to_string(st.st_uid) + ", not by uid " +
             std::to_string(::geteuid()) + "; ignored";
    return {};
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    reason = path + ": writable by other users; ignored";
    return {};
  }
  return fd;
}

CUniqueFd CreateExclusiveShm(const std::string& name, std::size_t size) {
  const std::string path = ShmPath(name);
  CUniqueFd fd(::shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
  if (!fd.IsValid()) {
    throw std::system_error(errno, std::generic_category(), "cannot create " + path);
  }
  if (::ftruncate(fd.Get(), static_cast<off_t>(size)) != 0) {
    const int error = errno;
    ::shm_unlink(path.c_str());
    throw std::system_error(error, std::generic_category(), "cannot size " + path);
  }
  return fd;
}

long long ShmSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

}  // namespace vorn
