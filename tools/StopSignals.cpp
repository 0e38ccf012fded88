#include "tools/StopSignals.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace vorn {
namespace {

constexpr auto kSleepSlice = std::chrono::milliseconds(50);

std::atomic<bool> g_stopRequested{false};
std::atomic<CCancelFlag*> g_cancel{nullptr};

// Only lock-free atomic stores: safe in a signal handler.
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<CCancelFlag*>::is_always_lock_free);
void RequestStop(int) {
  g_stopRequested.store(true);
  if (CCancelFlag* cancel = g_cancel.load()) cancel->Cancel();
}

}  // namespace

CStopSignals::CStopSignals(CCancelFlag* cancel) {
  g_stopRequested.store(false);
  g_cancel.store(cancel);
  // SIGPIPE too: output to a reader that went away must not end us with the
  // names still in place. No SA_RESTART: a read of standard input returns at once.
  m_handlers.emplace(std::initializer_list<int>{SIGINT, SIGTERM, SIGHUP, SIGPIPE}, RequestStop, 0);
}

CStopSignals::~CStopSignals() {
  m_handlers.reset();
  g_cancel.store(nullptr);
}

bool StopRequested() { return g_stopRequested.load(); }

void SleepUnlessStopped(std::chrono::steady_clock::time_point when) {
  while (!StopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= when) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(when - now, kSleepSlice));
  }
}

}  // namespace vorn
