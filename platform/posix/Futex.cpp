#include "platform/posix/Futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <vector>

#ifndef SYS_futex_waitv
#define SYS_futex_waitv 449
#endif

namespace vorn {
namespace {

std::atomic<bool> g_waitvEnabled{true};

timespec ToMonotonicTimespec(std::chrono::steady_clock::time_point when) {
  // libstdc++'s steady_clock is CLOCK_MONOTONIC, the clock both calls use below.
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

FutexResult FromErrno(int error) {
  switch (error) {
    case EAGAIN:
    case EINTR:
      return FutexResult::kWoken;
    case ETIMEDOUT:
      return FutexResult::kTimedOut;
    case ENOSYS:
      return FutexResult::kUnsupported;
    default:
      return FutexResult::kFailed;
  }
}

}  // namespace

void FutexWakeAll(std::uint32_t* word) {
  ::syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

FutexResult FutexWait(std::uint32_t* word, std::uint32_t expected, FutexDeadline deadline) {
  // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC time, so retries after
  // EINTR never stretch the wait.
  timespec ts{};
  const timespec* timeout = nullptr;
  if (deadline) {
    ts = ToMonotonicTimespec(*deadline);
    timeout = &ts;
  }
  const long rc = ::syscall(SYS_futex, word, FUTEX_WAIT_BITSET, expected, timeout, nullptr,
                            FUTEX_BITSET_MATCH_ANY);
  return rc == 0 ? FutexResult::kWoken : FromErrno(errno);
}

FutexResult FutexWaitAny(std::span<std::uint32_t* const> words, std::uint32_t expected,
                         FutexDeadline deadline) {
  if (!g_waitvEnabled.load(std::memory_order_relaxed)) return FutexResult::kUnsupported;
  if (words.empty() || words.size() > FUTEX_WAITV_MAX) return FutexResult::kFailed;
  futex_waitv waiters[FUTEX_WAITV_MAX] = {};
  for (std::size_t i = 0; i < words.size(); ++i) {
    waiters[i].val = expected;
    waiters[i].uaddr = reinterpret_cast<std::uintptr_t>(words[i]);
    waiters[i].flags = FUTEX_32;
  }
  timespec ts{};
  const timespec* timeout = nullptr;
  if (deadline) {
    ts = ToMonotonicTimespec(*deadline);
    timeout = &ts;
  }
  const long rc = ::syscall(SYS_futex_waitv, waiters, static_cast<unsigned>(words.size()), 0u,
                            timeout, CLOCK_MONOTONIC);
  if (rc >= 0) return FutexResult::kWoken;
  const FutexResult result = FromErrno(errno);
  if (result == FutexResult::kUnsupported) g_waitvEnabled.store(false);
  return result;
}

void SetFutexWaitvEnabled(bool enabled) { g_waitvEnabled.store(enabled); }
bool IsFutexWaitvEnabled() { return g_waitvEnabled.load(); }

}  // namespace vorn
