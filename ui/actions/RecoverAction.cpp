// An interrupted edit found when the selected disk was read: the user is asked
// whether to finish it now. No leaves the disk and the record as they are (and
// every writer refuses the disk meanwhile); the window does not ask again
// about that disk until the user picks it again or presses Refresh.
#include <memory>

#include "disk/RoutineEdit.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

class CRecover final : public CDiskAction {
 public:
  using CDiskAction::CDiskAction;

  void Start() {
    const std::string question =
        "An edit of " + ShownText() + " was interrupted and the disk holds part of the new show.\n\nFinish the edit now?";
    const std::string detail = "Disk: " + ShownText() + "\nUntil it is finished, nothing else can be written to it.";
    if (!AskUnlessStopping(m_host, question, detail)) {
      m_host.KeepPending(DiskText());
      return Finish(false, QStringLiteral("The interrupted edit was left as it is"), false);
    }
    m_pendingAllowed = true;
    m_host.Runner().AllowCancel(
        "An interrupted edit of " + DiskText() + " is being finished.\n\nStop and close the window?",
        "The edit stops at the next safe point; it can be finished later.");
    auto self = Me<CRecover>();
    Open(ImageAccess::kWrite, [self] {
      const CCancelFlag* cancel = self->m_host.Runner().CancelFlag();
      CStatusText* status = &self->m_host.Status();
      CProgressBar* progress = &self->m_host.Progress();
      self->Step([self, cancel, status, progress] {
        EditOptions options;
        options.identity = DiskIdentity(*self->m_device);
        options.status = status;
        options.progress = progress;
        options.cancel = cancel;
        self->m_outcome = FinishEdit(*self->m_device, options);
      }, [self] { return "Disk: " + self->DiskText(); }, [self](const JobOutcome& outcome) { self->End(outcome); });
    }, [self](const JobOutcome& outcome) { self->End(outcome); });
  }

 private:
  void End(const JobOutcome& outcome) {
    const std::string disk = DiskText();
    std::string text = "Finished the interrupted edit of " + disk;
    if (outcome.kind == JobOutcome::Kind::kCancelled) text = "Finishing the interrupted edit of " + disk + " was stopped";
    if (outcome.kind == JobOutcome::Kind::kFailed) text = "The interrupted edit could not be finished: " + outcome.failure.text;
    if (outcome.Done() && m_outcome == RecoveryOutcome::kNotStarted) {
      text = "The interrupted edit of " + disk + " had not begun; the disk is as before it";
    }
    // Not asked again at once: the box just shown said why it did not finish.
    if (!outcome.Done()) m_host.KeepPending(disk);
    Finish(true, QString::fromLocal8Bit(text), outcome.Done());
  }

  RecoveryOutcome m_outcome = RecoveryOutcome::kNothingPending;
};

}  // namespace

void FinishInterruptedEdit(CActionHost& host) {
  if (!BeginOnSelected(host, "recover")) return;
  std::make_shared<CRecover>(host)->Start();
}

}  // namespace vorn
