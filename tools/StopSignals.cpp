#include "tools/StopSignals.h"

#include <signal.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

namespace vorn {
namespace {

// SIGPIPE too: output to a reader that went away must not end us with the
// names still in place.
constexpr std::array<int, 4> kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr auto kSleepSlice = std::chrono::milliseconds(50);

std::atomic<bool> g_stopRequested{false};
std::atomic<CCancelFlag*> g_cancel{nullptr};
std::array<struct sigaction, kStopSignals.size()> g_previous{};

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
  struct sigaction action {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a read of standard input returns at once
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    ::sigaction(kStopSignals[i], nullptr, &g_previous[i]);
    // A signal we were started to ignore stays ignored: nohup must keep a
    // session going when the terminal closes.
    if (g_previous[i].sa_handler == SIG_IGN) continue;
    ::sigaction(kStopSignals[i], &action, nullptr);
  }
}

CStopSignals::~CStopSignals() {
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
  }
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
