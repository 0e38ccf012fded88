#pragma once
// The one place where work on a disk runs: off the user-interface thread, one
// action at a time. An action (format, import, backup...) spans one or more
// jobs and the questions between them; from Begin to End the window is busy:
// it takes no other action, holds device changes and a close, and shows Cancel
// when the action can stop. The window keeps painting and answering boxes in
// its own event loop meanwhile; nothing here spins a loop of its own.

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/Cancel.h"
#include "platform/MessageBox.h"

class QThread;

namespace vorn {

// How a job ended. A failure carries the box the window shows for it: the
// error's own caption, icon and detail when it is one of ours.
struct JobOutcome {
  enum class Kind { kDone, kCancelled, kFailed };
  Kind kind = Kind::kDone;
  MessageRequest failure;
  bool Done() const { return kind == Kind::kDone; }
};

// The box for what a job threw.
MessageRequest FailureMessage(const std::exception_ptr& failure);

class CDiskActionRunner final : public QObject {
  Q_OBJECT

 public:
  explicit CDiskActionRunner(QObject* parent = nullptr);
  ~CDiskActionRunner() override;

  // An action starts: false (and nothing changes) while another one runs.
  // `closeQuestion`, for an action that can stop, is asked before a close
  // cancels it; `closeDetail` goes under it.
  bool Begin(const char* what);
  // From now on the action can stop: Cancel shows, and a close asks
  // `closeQuestion` (with `closeDetail` under it) before it cancels.
  void AllowCancel(std::string closeQuestion, std::string closeDetail = {});
  // The action has ended: a held close is carried out now.
  void End();

  // Runs `work` on a worker thread; `then` gets its outcome on this object's
  // thread, after everything the work posted there. One job at a time.
  void Run(std::function<void()> work, std::function<void(const JobOutcome&)> then);

  bool IsBusy() const { return m_busy; }
  // The running action's name ("import", "format"...); empty when idle.
  const std::string& What() const { return m_what; }
  // A close is waiting for the action: it asks no further question (each is
  // answered No) and ends as soon as it can.
  bool IsStopping() const { return m_busy && static_cast<bool>(m_close); }
  bool IsCancellable() const { return m_busy && m_cancellable; }
  // The action's cancel flag (a fresh one per action).
  const CCancelFlag* CancelFlag() const { return m_cancel.get(); }
  bool IsCancelled() const { return m_cancel && m_cancel->IsCancelled(); }
  // Cancel pressed (or a request to end): the work stops at its next check.
  void Cancel();

  // A device change: false when the window may rebuild its lists now; while
  // busy it is held, and TakeHeldChange tells the action's end about it.
  bool HoldDeviceChange();
  bool TakeHeldChange();

  // A close (Escape, the close box, Exit, a request to end) while busy.
  // Returns false when the user chose to let the action go on; else `close`
  // runs at End. With `ask`, a running action that can stop asks first.
  bool CloseWhenDone(std::function<void()> close, bool ask);

 signals:
  void BusyChanged(bool busy);
  // Busy ended and no close followed: the window catches up what it held.
  void Idle();
  void CancelRequested();

 private:
  bool m_busy = false;
  std::string m_what;
  bool m_cancellable = false;
  bool m_changeHeld = false;
  std::unique_ptr<CCancelFlag> m_cancel;
  std::string m_closeQuestion;
  std::string m_closeDetail;
  std::function<void()> m_close;
  QThread* m_thread = nullptr;
};

}  // namespace vorn
