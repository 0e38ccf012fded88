#include "platform/WaitForEvents.h"

#include <linux/futex.h>

#include <algorithm>
#include <array>

#include "platform/NamedEvent.h"
#include "platform/posix/Futex.h"
#include "platform/posix/PosixObjects.h"

namespace vorn {
namespace {

// Where the kernel has no futex_waitv, each event is slept on in turn for this
// long, so a signal on any of them is seen within about (count x slice).
constexpr auto kFallbackSlice = std::chrono::microseconds(500);

}  // namespace

int WaitForFirstEvent(std::span<CNamedEvent* const> events,
                      std::optional<std::chrono::milliseconds> timeout) {
  if (events.empty() || events.size() > FUTEX_WAITV_MAX) return kWaitFailed;
  FutexDeadline deadline;
  if (timeout) deadline = std::chrono::steady_clock::now() + *timeout;

  std::array<std::uint32_t*, FUTEX_WAITV_MAX> words{};
  for (std::size_t i = 0; i < events.size(); ++i) words[i] = events[i]->Backend().StateWord();
  const std::span<std::uint32_t* const> wordSpan(words.data(), events.size());

  for (;;) {
    for (std::size_t i = 0; i < events.size(); ++i) {
      // An object cut short under us would kill the process on the next touch.
      if (!events[i]->Backend().IsIntact()) return kWaitObjectLost;
      if (events[i]->Backend().TryConsume()) return static_cast<int>(i);
    }
    if (deadline && std::chrono::steady_clock::now() >= *deadline) return kWaitTimedOut;

    // Sleep until some word is no longer 0; a set arriving between the checks
    // above and the sleep makes the kernel return at once (value changed).
    FutexResult result = FutexWaitAny(wordSpan, 0, deadline);
    if (result == FutexResult::kUnsupported) {
      result = FutexResult::kWoken;
      for (std::uint32_t* word : wordSpan) {
        FutexDeadline slice = std::chrono::steady_clock::now() + kFallbackSlice;
        if (deadline) slice = std::min(*slice, *deadline);
        const FutexResult one = FutexWait(word, 0, slice);
        if (one == FutexResult::kFailed) result = one;
        if (one == FutexResult::kWoken) break;
      }
    }
    if (result == FutexResult::kFailed) return kWaitFailed;
    // Woken, timed out or spurious: look at the words again.
  }
}

}  // namespace vorn
