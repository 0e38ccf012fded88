#pragma once
// Waiting for the first of several named events, in priority order: when more
// than one is set, the earliest in the list wins and only it is consumed.
// Implemented by each back end (platform/posix/, platform/win32/).

#include <chrono>
#include <optional>
#include <span>

namespace vorn {

class CNamedEvent;

inline constexpr int kWaitTimedOut = -1;
inline constexpr int kWaitFailed = -2;
// An event's object was cut short by its creator while we held it.
inline constexpr int kWaitObjectLost = -3;

// Returns the index of the event taken, kWaitTimedOut, kWaitObjectLost, or
// kWaitFailed (no events, too many, or the system refused the wait). No time-out: for ever.
int WaitForFirstEvent(std::span<CNamedEvent* const> events,
                      std::optional<std::chrono::milliseconds> timeout = std::nullopt);

}  // namespace vorn
