// "Back up disk...": the used sectors into an image file, written beside the
// target and renamed over it only when complete; Cancel (and a close, asked
// first) leaves nothing written.
#include <QFile>
#include <QFileInfo>

#include <memory>

#include "platform/StatusText.h"
#include "ui/DiskFileActions.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

class CBackup final : public CDiskAction {
 public:
  CBackup(CActionHost& host, std::string target) : CDiskAction(host), m_target(std::move(target)) {}

  void Start() {
    auto self = Me<CBackup>();
    Open(ImageAccess::kRead, [self] {
      self->m_host.Status().SetText("Backing up");
      self->m_host.Runner().AllowCancel("Backing up is still running.\n\nCancel it and close the window?");
      const CCancelFlag* cancel = self->m_host.Runner().CancelFlag();
      self->Step([self, cancel] {
        self->m_summary = BackupDisk(*self->m_device, self->ImagePath(), self->m_target, &self->m_host.Progress(), cancel);
      }, [self] { return "File: " + self->m_target; }, [self](const JobOutcome& outcome) {
        self->m_host.Status().SetText("Ready");
        switch (outcome.kind) {
          case JobOutcome::Kind::kDone:
            return self->Finish(false, QString::fromLocal8Bit("Backed up " + Plural(self->m_summary.routines, "routine") +
                                                              " to " + self->m_target));
          case JobOutcome::Kind::kCancelled:
            return self->Finish(false, QStringLiteral("Backup cancelled; nothing was written"), false);
          case JobOutcome::Kind::kFailed:
            return self->Finish(false, QStringLiteral("Backup failed; nothing was written"), false);
        }
      });
    });
  }

 private:
  std::string m_target;
  BackupSummary m_summary;
};

}  // namespace

void BackupDisk(CActionHost& host) {
  const DiskRecord disk = host.Selected();
  if (disk.kind == DiskKind::kNone || !host.Runner().Begin("backup")) return;
  const QString suggestion = QFileInfo(QString::fromLocal8Bit(disk.entry.text)).completeBaseName();
  const QString target = host.AskForPath(PathQuestion::kBackupTarget,
                                         (suggestion.isEmpty() ? QStringLiteral("disk") : suggestion) +
                                             QStringLiteral("-backup.img"));
  if (target.isEmpty()) return host.Runner().End();
  host.RememberFolder(target);
  std::make_shared<CBackup>(host, QFile::encodeName(target).toStdString())->Start();
}

}  // namespace vorn
