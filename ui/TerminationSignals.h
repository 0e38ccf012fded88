#pragma once
// A request to end the window from outside: SIGTERM (logout, kill), SIGINT
// (Ctrl-C in the terminal that started it) or SIGHUP (that terminal closed).
// Their default action ends the process on the spot, leaving an import's
// temporary files behind and a backup's half-written copy beside its target.
// Instead the handler only writes a byte to a pipe, and the event loop calls
// back on the user-interface thread, where the window stops what it does as
// its Cancel button would and then closes.

#include <functional>
#include <memory>
#include <optional>

#include <QObject>

#include "platform/SignalHandlers.h"
#include "platform/UniqueFd.h"

class QSocketNotifier;

namespace vorn {

class CTerminationSignals final : public QObject {
 public:
  // One at a time; the previous handlers return when it is destroyed. A
  // signal that was ignored (nohup) stays ignored.
  explicit CTerminationSignals(std::function<void()> onRequest);
  ~CTerminationSignals() override;
  CTerminationSignals(const CTerminationSignals&) = delete;
  CTerminationSignals& operator=(const CTerminationSignals&) = delete;

 private:
  std::function<void()> m_onRequest;
  CUniqueFd m_read;
  CUniqueFd m_write;
  std::unique_ptr<QSocketNotifier> m_notifier;
  std::optional<CSignalHandlers> m_handlers;
};

}  // namespace vorn
