#include "disk/OutputFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "device/DeviceExceptions.h"
#include "platform/FileLock.h"

namespace vorn {
namespace {

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The mode a newly created file gets: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Whether the file at `target` is held by another program (a disk image the
// window or another vorn3ctl has open).
bool InUse(const std::string& target) {
  CUniqueFd fd(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  return fd.IsValid() && IsFileLockedByOthers(fd.Get());
}

// A template for mkstemp beside `target`: ".NAME.XXXXXX".
std::string TempNameBeside(const std::string& target) {
  return DirectoryOf(target) + "/." + BaseOf(target) + ".XXXXXX";
}

// The name an unnamed file takes for the moment between getting a name and
// being renamed over the file it replaces: ".NAME.PID-N".
std::string ReplacingNameBeside(const std::string& target, int attempt) {
  return DirectoryOf(target) + "/." + BaseOf(target) + "." + std::to_string(::getpid()) + "-" +
         std::to_string(attempt);
}

// A kill in that moment leaves the name behind. The next output to the same
// file removes such names whose process has gone, when they are ours.
void RemoveLeftNamesBeside(const std::string& target) {
  const std::string prefix = "." + BaseOf(target) + ".";
  const std::string directory = DirectoryOf(target);
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = name.substr(prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == rest.size() ||
        rest.find_first_not_of("0123456789-") != std::string::npos || rest.find('-', dash + 1) != std::string::npos) {
      continue;
    }
    const long pid = std::strtol(rest.c_str(), nullptr, 10);
    if (pid <= 0 || pid > INT_MAX || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    const std::string path = directory + "/" + name;
    struct stat left {};
    if (::lstat(path.c_str(), &left) == 0 && S_ISREG(left.st_mode) && left.st_uid == ::geteuid()) {
      ::unlink(path.c_str());
    }
  }
  ::closedir(dir);
}

// Renames `from` to `to` unless `to` exists; false with errno EEXIST if it does.
// Where the filesystem lacks the no-replace rename, a hard link does the same.
bool PlaceWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace

const std::string* SameFileAmong(const std::string& output, const std::vector<std::string>& inputs) {
  struct stat out {};
  if (::stat(output.c_str(), &out) != 0) return nullptr;
  for (const std::string& input : inputs) {
    struct stat in {};
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) return &input;
  }
  return nullptr;
}

COutputFile::COutputFile(const std::string& path, const std::vector<std::string>& inputs,
                         const ReplaceCheck& mayReplace)
    : m_path(path), m_target(path) {
  if (path.empty() || path.back() == '/') throw CFileAccessException("'" + path + "' names no file");
  struct stat link {};
  if (::lstat(path.c_str(), &link) == 0) {
    m_replaces = true;
    // A symbolic link stays; the file it points at is replaced.
    if (S_ISLNK(link.st_mode)) {
      if (char* resolved = ::realpath(path.c_str(), nullptr)) {
        m_target = resolved;
        std::free(resolved);
      }
    }
  }
  struct stat out {};
  const bool exists = ::stat(m_target.c_str(), &out) == 0;
  if (exists) {
    if (const std::string* input = SameFileAmong(path, inputs)) {
      throw CFileAccessException(path + " is the same file as " + *input + "; nothing was written");
    }
    if (!S_ISREG(out.st_mode)) {
      throw CFileAccessException(path + " is not a regular file; nothing was written");
    }
    if (InUse(m_target)) {
      throw CFileAccessException(path + " is in use by another program; nothing was written");
    }
  }
  // A name that is taken (a dangling link included) is replaced only when asked.
  if (m_replaces && mayReplace) mayReplace(path);
  RemoveLeftNamesBeside(m_target);

  // A file with no name in the target's directory, given one only at the
  // commit: a command killed before then (kill -9, a power cut) leaves
  // nothing behind, where a named temporary file would stay for good.
  m_fd.Reset(::open(DirectoryOf(m_target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (m_fd.IsValid()) {
    m_unnamed = true;
    m_tempPath = "/proc/self/fd/" + std::to_string(m_fd.Get());
  } else {
    // A filesystem without unnamed files: the named one, removed on every
    // way out but a kill.
    m_tempPath = TempNameBeside(m_target);
    m_fd.Reset(::mkostemp(m_tempPath.data(), O_CLOEXEC));
  }
  if (!m_fd.IsValid()) {
    const int error = errno;
    m_tempPath.clear();
    Fail("Could not create ", error);
  }
  // A replaced file keeps its permissions; a new one gets the usual ones.
  ::fchmod(m_fd.Get(), exists ? (out.st_mode & 0777) : NewFileMode());
}

COutputFile::~COutputFile() {
  m_stream.reset();
  m_fd.Reset();
  if (!m_committed && !m_unnamed && !m_tempPath.empty()) ::unlink(m_tempPath.c_str());
}

int COutputFile::Fd() const { return m_stream ? ::fileno(m_stream.get()) : m_fd.Get(); }

std::FILE* COutputFile::Stream() {
  if (!m_stream) {
    m_stream.reset(::fdopen(m_fd.Get(), "wb+"));
    if (!m_stream) Fail("Error writing ", errno);
    m_fd.Release();
  }
  return m_stream.get();
}

void COutputFile::Fail(const std::string& what, int error) const {
  throw CFileAccessException(what + m_path + ": " + std::strerror(error));
}

void COutputFile::Commit() {
  if (m_stream && std::fflush(m_stream.get()) != 0) Fail("Error writing ", errno);
  if (::fsync(Fd()) != 0) Fail("Error writing ", errno);
  if (m_unnamed) {
    // The unnamed file gets its name while it is still open: for a new output
    // the target's own (refused when someone made it meanwhile); for a
    // replaced one a temporary name, renamed over the old file at once.
    const std::string self = m_tempPath;
    for (int attempt = 0;; ++attempt) {
      m_tempPath = m_replaces ? ReplacingNameBeside(m_target, attempt) : m_target;
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_tempPath.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      const int error = errno;
      if (error == EEXIST && !m_replaces) {
        m_tempPath = self;
        throw CFileAccessException(m_path + " was created by another program meanwhile; it was kept");
      }
      if (error != EEXIST || attempt >= 100) {
        m_tempPath = self;
        Fail("Could not write ", error);
      }
    }
    m_unnamed = false;  // from here it has a name, removed if the rest fails
    // Renamed over the old file at once: the name lives for as short a time
    // as can be (a kill within it leaves it for the next output to remove).
    if (m_replaces && ::rename(m_tempPath.c_str(), m_target.c_str()) != 0) Fail("Could not write ", errno);
    m_tempPath.clear();
    m_committed = true;
  }
  const int closed = m_stream ? std::fclose(m_stream.release()) : ::close(m_fd.Release());
  if (closed != 0) Fail("Error writing ", errno);
  if (m_committed) {
    SyncDirectory();
    return;
  }

  if (m_replaces) {
    if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0) Fail("Could not write ", errno);
  } else if (!PlaceWithoutReplacing(m_tempPath, m_target)) {
    const int error = errno;
    if (error == EEXIST) {
      throw CFileAccessException(m_path + " was created by another program meanwhile; it was kept");
    }
    Fail("Could not write ", error);
  }
  m_committed = true;
  SyncDirectory();
}

// The new name is durable once its directory is.
void COutputFile::SyncDirectory() const {
  CUniqueFd directory(::open(DirectoryOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.IsValid()) ::fsync(directory.Get());
}

}  // namespace vorn
