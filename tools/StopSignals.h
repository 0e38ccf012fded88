#pragma once
// Ctrl-C, a termination request or a closed terminal ends a vorn3ctl client in
// order: the handler only records the request, and the client's waits, all cut
// into short slices, notice it, tell vorn3manager to stop and remove the named
// objects on the way out. Without this the default action would end us at
// once, leaving the objects under their machine-wide names and a server that
// waits for a quit event no one can set.

#include <chrono>
#include <optional>

#include "platform/Cancel.h"
#include "platform/SignalHandlers.h"

namespace vorn {

class CStopSignals {
 public:
  // Catches SIGINT, SIGTERM, SIGHUP and SIGPIPE until destroyed (then the
  // previous handlers return); one that was ignored stays ignored. Clears an
  // earlier request. A request also sets `cancel`, if given, so that a disk
  // action in progress ends as a cancelled one: its temporary files go, and
  // the disk stays as before the piece it was busy with.
  explicit CStopSignals(CCancelFlag* cancel = nullptr);
  CStopSignals(const CStopSignals&) = delete;
  CStopSignals& operator=(const CStopSignals&) = delete;
  ~CStopSignals();

 private:
  std::optional<CSignalHandlers> m_handlers;
};

bool StopRequested();

// Sleeps until `when`, or less when a stop is requested meanwhile.
void SleepUnlessStopped(std::chrono::steady_clock::time_point when);

}  // namespace vorn
