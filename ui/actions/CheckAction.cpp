// "Check disk...": the go/no-go check of the selected disk, read-only, with
// progress and Cancel, its findings in a window of their own.
#include <QProgressBar>

#include <memory>

#include "disk/DiskCheck.h"
#include "disk/VornDisk.h"
#include "platform/Error.h"
#include "platform/StatusText.h"
#include "ui/CheckResultDlg.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

class CCheck final : public CDiskAction {
 public:
  using CDiskAction::CDiskAction;

  void Start() {
    auto self = Me<CCheck>();
    Open(ImageAccess::kRead, [self] {
      self->m_host.Status().SetText("Checking");
      self->m_host.Runner().AllowCancel("Checking the disk is still running.\n\nCancel it and close the window?");
      const CCancelFlag* cancel = self->m_host.Runner().CancelFlag();
      self->Step([self, cancel] {
        CheckOptions options;
        options.progress = &self->m_host.Progress();
        self->m_findings = CheckDisk(*self->m_device, cancel, options);
        // The titles name the rows; a table the check refused names none.
        try {
          CVornDisk disk(*self->m_device, nullptr);
          for (const RoutineEntry& entry : disk.ReadTable()) self->m_titles.push_back(entry.DisplayTitle());
        } catch (const CVornError&) {
        }
      }, [self] { return "Disk: " + self->DiskText(); }, [self](const JobOutcome& outcome) {
        self->m_host.Status().SetText("Ready");
        if (!outcome.Done()) {
          return self->Finish(false, outcome.kind == JobOutcome::Kind::kCancelled ? QStringLiteral("Check cancelled")
                                                                                 : QStringLiteral("Check failed"),
                              false);
        }
        self->ShowResult();
      });
    });
  }

 private:
  void ShowResult() {
    const CheckLevel worst = WorstLevel(m_findings);
    const QString disk = m_disk.shown.isEmpty() ? QString::fromLocal8Bit(DiskText()) : m_disk.shown;
    QWidget* window = m_host.Bar() != nullptr ? m_host.Bar()->window() : nullptr;
    auto* result = new CCheckResultDlg(window, disk, std::move(m_findings), std::move(m_titles));
    result->show();
    Finish(false, QStringLiteral("Checked %1: %2").arg(QString::fromLocal8Bit(DiskText()), CheckLevelName(worst)),
           worst != CheckLevel::kRed);
  }

  std::vector<CheckFinding> m_findings;
  std::vector<std::string> m_titles;
};

}  // namespace

void CheckSelectedDisk(CActionHost& host) {
  if (!BeginOnSelected(host, "check")) return;
  std::make_shared<CCheck>(host)->Start();
}

}  // namespace vorn
