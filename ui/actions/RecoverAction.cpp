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
    const std::string question = "An edit of " + ShownText() +
                                 " was interrupted and the disk holds part of the new show.\n\nFinish the edit now?";
    if (!AskUnlessStopping(m_host, question,
                           "Disk: " + ShownText() + "\nUntil it is finished, nothing else can be written to the disk.")) {
      m_host.KeepPending(DiskText());
      return Finish(false, QStringLiteral("The interrupted edit was left as it is"), false);
    }
    m_pendingAllowed = true;
    m_host.Runner().AllowCancel("An interrupted edit of " + DiskText() + " is being finished.\n\nStop and close the window?",
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
    if (!outcome.Done()) {
      // Not asked again at once: the box just shown said why it did not finish.
      m_host.KeepPending(DiskText());
      return Finish(true, QString::fromLocal8Bit(outcome.kind == JobOutcome::Kind::kCancelled
                                                     ? "Finishing the interrupted edit was stopped"
                                                     : "The interrupted edit could not be finished: " + outcome.failure.text),
                    false);
    }
    const char* said = m_outcome == RecoveryOutcome::kNotStarted ? "The interrupted edit had not begun; the disk is as before it"
                                                                 : "Finished the interrupted edit of ";
    Finish(true, m_outcome == RecoveryOutcome::kNotStarted ? QString::fromLatin1(said)
                                                           : QString::fromLocal8Bit(said + DiskText()));
  }

  RecoveryOutcome m_outcome = RecoveryOutcome::kNothingPending;
};

}  // namespace

void FinishInterruptedEdit(CActionHost& host) {
  if (host.Selected().kind == DiskKind::kNone || !host.Runner().Begin("recover")) return;
  std::make_shared<CRecover>(host)->Start();
}

}  // namespace vorn
