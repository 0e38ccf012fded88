#include "app/ModeArbiter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/LittleEndian.h"
#include "platform/MessageBox.h"
#include "platform/RuntimeDirectory.h"
#include "platform/Mapping.h"

namespace vorn {
namespace {

constexpr std::size_t kBlockSize = 4;

// A failure to reach the shared objects: the user sees `text`; `detail` says
// why on stderr, since the fixed text alone cannot tell a Linux user what to fix.
struct StartupObjectFailure {
  const char* text;
  std::string detail;
};

[[noreturn]] void Fail(const char* text, const std::string& what) {
  throw StartupObjectFailure{text, what + ": " + std::strerror(errno)};
}

int FlockRetrying(int fd, int operation) {
  int result;
  do {
    result = ::flock(fd, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// Holds the start-up lock for one scope.
class CStartupLockHold {
 public:
  explicit CStartupLockHold(int fd) : m_fd(fd), m_held(FlockRetrying(fd, LOCK_EX) == 0) {}
  CStartupLockHold(const CStartupLockHold&) = delete;
  CStartupLockHold& operator=(const CStartupLockHold&) = delete;
  ~CStartupLockHold() {
    if (m_held) ::flock(m_fd, LOCK_UN);
  }
  bool Held() const { return m_held; }

 private:
  int m_fd;
  bool m_held;
};

}  // namespace

bool CModeArbiter::ArbitrateMode(RunMode mode) {
  try {
    return Claim(mode);
  } catch (const StartupObjectFailure& failure) {
    std::fprintf(stderr, "vorn3manager: %s\n", failure.detail.c_str());
    ShowMessageBox(failure.text, kAppName);
    return false;
  }
}

bool CModeArbiter::Claim(RunMode mode) {
  std::string why;
  CUniqueFd dir = m_directory ? OpenPrivateDirectory(*m_directory, &why) : OpenRuntimeDirectory(&why);
  if (!dir.IsValid()) throw StartupObjectFailure{kNoStartupMutexText, why};

  const int openFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  CUniqueFd lock(::openat(dir.Get(), kStartupMutexName, openFlags, 0600));
  if (!lock.IsValid()) Fail(kNoStartupMutexText, std::string("cannot open ") + kStartupMutexName);

  CStartupLockHold hold(lock.Get());
  if (!hold.Held()) return false;

  CUniqueFd block(::openat(dir.Get(), kWhoIsRunningName, openFlags, 0600));
  if (!block.IsValid()) Fail(kNoWhoIsRunningText, std::string("cannot open ") + kWhoIsRunningName);

  // Only holders of the start-up lock ever ask for an exclusive lock on the
  // block, so a refusal here means another live instance holds it shared.
  bool existed;
  if (FlockRetrying(block.Get(), LOCK_EX | LOCK_NB) == 0)
    existed = false;
  else if (errno == EWOULDBLOCK)
    existed = true;
  else
    Fail(kNoWhoIsRunningText, std::string("cannot lock ") + kWhoIsRunningName);

  if (!existed && ::ftruncate(block.Get(), kBlockSize) != 0)
    Fail(kNoWhoIsRunningText, std::string("cannot size ") + kWhoIsRunningName);
  if (existed) {
    // Touching a mapping beyond the end of the file would kill us with SIGBUS.
    struct stat st {};
    if (::fstat(block.Get(), &st) != 0) Fail(kNoWhoIsRunningMapText, "cannot inspect block");
    if (st.st_size < static_cast<off_t>(kBlockSize))
      throw StartupObjectFailure{kNoWhoIsRunningMapText,
                                 std::string(kWhoIsRunningName) + " is shorter than 4 bytes"};
  }
  CMapping map;
  if (!map.Map(block.Get(), kBlockSize))
    Fail(kNoWhoIsRunningMapText, std::string("cannot map ") + kWhoIsRunningName);
  std::uint8_t* value = map.Data();

  bool allowed;
  if (!existed) {
    PutLe32(value, static_cast<std::uint32_t>(mode));
    allowed = true;
  } else {
    auto stored = static_cast<std::int32_t>(GetLe32(value));
    allowed = stored == static_cast<std::int32_t>(RunMode::kServer) && mode == RunMode::kServer;
  }
  // From exclusive (creator) or nothing (later instance) to shared. Nobody
  // else can hold it exclusively while we hold the start-up lock, so this
  // never waits.
  if (FlockRetrying(block.Get(), LOCK_SH | LOCK_NB) != 0)
    Fail(kNoWhoIsRunningText, std::string("cannot share ") + kWhoIsRunningName);

  m_block = std::move(block);
  return allowed;
}

bool ArbitrateMode(RunMode mode) {
  static CModeArbiter processArbiter;
  return processArbiter.ArbitrateMode(mode);
}

}  // namespace vorn
