#pragma once
// Cancelling a long action from another thread: the window's Cancel button (or
// a stop signal) sets the flag, the action's loops and blocking calls look at it
// and end by throwing CCancelled, leaving the disk as it was before the action.

#include <atomic>
#include <stdexcept>

namespace vorn {

class CCancelFlag {
 public:
  void Cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
  bool IsCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> m_cancelled{false};
};

// Thrown by an action that saw its cancel flag set; not an error to report.
class CCancelled : public std::runtime_error {
 public:
  CCancelled() : std::runtime_error("cancelled") {}
};

// Throws CCancelled when `flag` is set; a null flag never cancels.
inline void ThrowIfCancelled(const CCancelFlag* flag) {
  if (flag && flag->IsCancelled()) throw CCancelled();
}

}  // namespace vorn
