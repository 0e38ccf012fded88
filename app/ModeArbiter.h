#pragma once
// Which run modes may run beside the instances already running.
//
// Two objects in the per-user run-time directory (platform/RuntimeDirectory.h)
// settle it:
//  - "VORN3MANAGER_STARTUPMUTEX", a lock file held with flock(LOCK_EX) while
//    one starting instance looks at and perhaps writes the block, so two
//    instances starting together cannot both believe they came first;
//  - "VORN3MANAGER_WHOISRUNNING", a 4-byte file holding the mode of the
//    instance that created it (32-bit little-endian). Every instance holds it
//    with flock(LOCK_SH) until it ends. It "exists" while any live process
//    holds that lock: an instance that takes an exclusive lock on it without
//    waiting knows nobody else runs, becomes its creator and stores its mode.
//    The kernel drops the locks of a process that dies, so a crashed instance
//    never leaves a stale block behind; a leftover file is simply reused.
//
// Allowed: anything when nothing runs; beside servers only another server.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/UniqueFd.h"

namespace vorn {

enum class RunMode : std::int32_t { kServer = 0, kList = 1, kMainWindow = 2 };

inline constexpr const char* kStartupMutexName = "VORN3MANAGER_STARTUPMUTEX";
inline constexpr const char* kWhoIsRunningName = "VORN3MANAGER_WHOISRUNNING";

inline constexpr const char* kNoStartupMutexText = "Unable to get VORN3MANAGER_STARTUPMUTEX";
inline constexpr const char* kNoWhoIsRunningText = "Unable to open VORN3MANAGER_WHOISRUNNING";
inline constexpr const char* kNoWhoIsRunningMapText =
    "Unable to open map of VORN3MANAGER_WHOISRUNNING";

// One instance's claim. The block stays held as long as the arbiter lives.
class CModeArbiter {
 public:
  // Uses the per-user run-time directory, looked up when arbitrating.
  CModeArbiter() = default;
  // Uses the given directory (created 0700 when missing, owner checked).
  explicit CModeArbiter(std::string directory) : m_directory(std::move(directory)) {}

  // True when this instance may run the mode. A failure to reach the shared
  // objects is shown in a message box (caption "VORN3 Manager") and gives
  // false; a refusal gives false silently. The start-up lock is released
  // before returning, on every path.
  bool ArbitrateMode(RunMode mode);

 private:
  bool Claim(RunMode mode);

  std::optional<std::string> m_directory;
  CUniqueFd m_block;
};

// The process's own claim: its block stays held until the process ends.
bool ArbitrateMode(RunMode mode);

}  // namespace vorn
