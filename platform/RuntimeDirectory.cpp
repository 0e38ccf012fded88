#include "platform/RuntimeDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vorn {
namespace {

std::string Describe(const std::string& what, const std::string& path, int err) {
  return what + " " + path + ": " + std::strerror(err);
}

}  // namespace

std::string RuntimeDirectoryPath(const char* xdgRuntimeDir, const std::string& fallbackBase) {
  // A relative XDG_RUNTIME_DIR is invalid and must be ignored.
  if (xdgRuntimeDir && xdgRuntimeDir[0] == '/') return std::string(xdgRuntimeDir) + "/vorn3manager";
  return fallbackBase + "/vorn3manager-" + std::to_string(::geteuid());
}

CUniqueFd OpenPrivateDirectory(const std::string& path, std::string* error) {
  auto fail = [&](std::string why) {
    if (error) *error = std::move(why);
    return CUniqueFd();
  };
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return fail(Describe("cannot create", path, errno));

  // O_NOFOLLOW: a symlink planted in a shared /tmp must not redirect us.
  CUniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.IsValid()) return fail(Describe("cannot open", path, errno));

  struct stat st {};
  if (::fstat(dir.Get(), &st) != 0) return fail(Describe("cannot inspect", path, errno));
  if (st.st_uid != ::geteuid())
    return fail(path + " is owned by user " + std::to_string(st.st_uid) + ", not by us");
  if ((st.st_mode & 077) != 0) return fail(path + " is open to other users (mode must be 0700)");
  return dir;
}

CUniqueFd OpenRuntimeDirectory(std::string* error) {
  return OpenPrivateDirectory(RuntimeDirectoryPath(std::getenv("XDG_RUNTIME_DIR"), "/tmp"), error);
}

}  // namespace vorn
