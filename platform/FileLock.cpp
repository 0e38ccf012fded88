#include "platform/FileLock.h"

#include <fcntl.h>

#include <cerrno>

namespace vorn {
namespace {

struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // to the end, however far the file grows
  lock.l_pid = 0;  // must be 0 for open-file-description locks
  return lock;
}

}  // namespace

int TryLockFile(int fd, FileLockMode mode) {
  struct flock lock = WholeFile(mode == FileLockMode::kExclusive ? F_WRLCK : F_RDLCK);
  int result;
  do {
    result = ::fcntl(fd, F_OFD_SETLK, &lock);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

bool IsLockConflict(int error) { return error == EAGAIN || error == EACCES; }

bool IsFileLockedByOthers(int fd) {
  // Asking for a writer's lock reports any lock held elsewhere; the test needs
  // no write access.
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace vorn
