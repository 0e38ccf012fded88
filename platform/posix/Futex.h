#pragma once
// Thin wrappers over the futex system calls on 32-bit words in shared memory
// (never FUTEX_PRIVATE: the words are shared between processes).

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace vorn {

using FutexDeadline = std::optional<std::chrono::steady_clock::time_point>;

enum class FutexResult { kWoken, kTimedOut, kUnsupported, kFailed };

// Wakes every waiter on `word`.
void FutexWakeAll(std::uint32_t* word);

// Sleeps while *word == expected, until woken or the deadline. A spurious or
// "value already changed" return counts as kWoken: the caller re-checks.
FutexResult FutexWait(std::uint32_t* word, std::uint32_t expected, FutexDeadline deadline);

// Sleeps while every words[i] == expected, on all of them at once
// (futex_waitv, Linux >= 5.16); kUnsupported where the kernel lacks it.
FutexResult FutexWaitAny(std::span<std::uint32_t* const> words, std::uint32_t expected,
                         FutexDeadline deadline);

// Whether FutexWaitAny may be tried; tests switch it off to exercise the
// fallback of short waits in turn. Starts on; turns itself off on ENOSYS.
void SetFutexWaitvEnabled(bool enabled);
bool IsFutexWaitvEnabled();

}  // namespace vorn
