#include "ui/DiskActionRunner.h"

#include <QThread>

#include "platform/Error.h"

namespace vorn {

MessageRequest FailureMessage(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const CVornError& e) {
    return e.AsMessage();
  } catch (const std::exception& e) {
    // Anything else that escapes the core (a temporary file that cannot be
    // made, memory) is shown the same way rather than ending the program with
    // the user's disk half written.
    return MessageRequest{e.what(), kAppName, MessageIcon::kNone, MessageButtons::kOk, {}};
  } catch (...) {
    return MessageRequest{"Unknown error", kAppName, MessageIcon::kNone, MessageButtons::kOk, {}};
  }
}

CDiskActionRunner::CDiskActionRunner(QObject* parent) : QObject(parent) {}

CDiskActionRunner::~CDiskActionRunner() {
  // The window ends only once its action has (a close waits for it); if it is
  // destroyed anyway, the work is told to stop and waited for.
  if (m_cancel) m_cancel->Cancel();
  if (m_thread) {
    m_thread->wait();
    delete m_thread;
  }
}

bool CDiskActionRunner::Begin(const char* what) {
  if (m_busy) return false;
  m_busy = true;
  m_what = what;
  m_cancellable = false;
  m_cancel = std::make_unique<CCancelFlag>();
  m_closeQuestion.clear();
  m_closeDetail.clear();
  emit BusyChanged(true);
  return true;
}

void CDiskActionRunner::AllowCancel(std::string closeQuestion, std::string closeDetail) {
  m_cancellable = true;
  m_closeQuestion = std::move(closeQuestion);
  m_closeDetail = std::move(closeDetail);
  emit BusyChanged(true);
}

void CDiskActionRunner::End() {
  if (!m_busy) return;
  m_busy = false;
  m_cancellable = false;
  m_what.clear();
  std::function<void()> close = std::exchange(m_close, nullptr);
  emit BusyChanged(false);
  if (close) {
    close();
  } else {
    emit Idle();
  }
}

void CDiskActionRunner::Run(std::function<void()> work, std::function<void(const JobOutcome&)> then) {
  auto outcome = std::make_shared<JobOutcome>();
  QThread* thread = QThread::create([work = std::move(work), outcome] {
    try {
      work();
    } catch (const CCancelled&) {
      outcome->kind = JobOutcome::Kind::kCancelled;
    } catch (...) {
      outcome->kind = JobOutcome::Kind::kFailed;
      outcome->failure = FailureMessage(std::current_exception());
    }
  });
  m_thread = thread;
  // `finished` comes from the worker after its last post, so the outcome
  // arrives behind every status and progress line the work sent.
  connect(thread, &QThread::finished, this, [this, thread, outcome, then = std::move(then)] {
    thread->wait();
    if (m_thread == thread) m_thread = nullptr;
    thread->deleteLater();
    then(*outcome);
  }, Qt::QueuedConnection);
  thread->start();
}

void CDiskActionRunner::Cancel() {
  if (!m_cancel || !m_cancellable || m_cancel->IsCancelled()) return;
  m_cancel->Cancel();
  emit CancelRequested();
}

bool CDiskActionRunner::HoldDeviceChange() {
  if (!m_busy) return false;
  m_changeHeld = true;
  return true;
}

bool CDiskActionRunner::TakeHeldChange() { return std::exchange(m_changeHeld, false); }

bool CDiskActionRunner::CloseWhenDone(std::function<void()> close, bool ask) {
  if (!m_busy) {
    close();
    return true;
  }
  // Escape must not throw a long backup or import away unasked.
  if (ask && m_cancellable && !IsCancelled() && !m_closeQuestion.empty() &&
      !AskYesNo(m_closeQuestion, m_closeDetail)) {
    return false;
  }
  // The action may have ended while the question was open.
  if (!m_busy) {
    close();
    return true;
  }
  Cancel();
  m_close = std::move(close);
  emit BusyChanged(true);
  return true;
}

}  // namespace vorn
