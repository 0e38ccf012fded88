// "Export routine...": one routine of the disk into a ".vorn" file, written
// beside the target and renamed over it only when complete. The routine is
// the grid's entry; the disk is read again first, and a disk changed since it
// was listed exports nothing.
#include <QFile>

#include <memory>

#include "device/DeviceExceptions.h"
#include "disk/VornDisk.h"
#include "platform/StatusText.h"
#include "ui/DiskFileActions.h"
#include "ui/RoutineTableModel.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

class CExport final : public CDiskAction {
 public:
  CExport(CActionHost& host, RoutineEntry entry, QString title, std::string target)
      : CDiskAction(host), m_entry(entry), m_title(std::move(title)), m_target(std::move(target)) {}

  void Start(std::size_t row) {
    auto self = Me<CExport>();
    Open(ImageAccess::kRead, [self, row] {
      self->Step([self, row] {
        CVornDisk disk(*self->m_device, nullptr);
        self->m_table = disk.ReadTable();
        if (row >= self->m_table.size() || !(self->m_table[row] == self->m_entry)) {
          throw CFileAccessException("The disk has changed since it was listed; nothing was exported");
        }
      }, [self] { return "File: " + self->m_target; }, [self](const JobOutcome& outcome) {
        if (!self->m_table.empty() || outcome.Done()) self->m_host.Routines().SetEntries(self->m_table);
        if (!outcome.Done()) return self->Finish(false);
        self->Copy();
      });
    });
  }

 private:
  void Copy() {
    auto self = Me<CExport>();
    m_host.Status().SetText("Exporting");
    m_host.Runner().AllowCancel("Exporting is still running.\n\nCancel it and close the window?");
    const CCancelFlag* cancel = m_host.Runner().CancelFlag();
    Step([self, cancel] {
      ExportRoutineFile(*self->m_device, self->ImagePath(), self->m_entry, self->m_target, &self->m_host.Progress(),
                        cancel);
    }, [self] { return "File: " + self->m_target; }, [self](const JobOutcome& outcome) {
      self->m_host.Status().SetText("Ready");
      switch (outcome.kind) {
        case JobOutcome::Kind::kDone:
          return self->Finish(false, "Exported \"" + self->m_title + "\" to " + QString::fromLocal8Bit(self->m_target));
        case JobOutcome::Kind::kCancelled:
          return self->Finish(false, QStringLiteral("Export cancelled; nothing was written"), false);
        case JobOutcome::Kind::kFailed:
          return self->Finish(true);
      }
    });
  }

  RoutineEntry m_entry;
  QString m_title;
  std::string m_target;
  std::vector<RoutineEntry> m_table;
};

}  // namespace

void ExportRoutine(CActionHost& host, int row) {
  const RoutineEntry* entry = host.Routines().Entry(row);
  if (!entry || !BeginOnSelected(host, "export")) return;
  const RoutineEntry chosen = *entry;
  // The title as the grid shows it, in the disk's code page.
  const QString title = host.Routines().data(host.Routines().index(row, 0), Qt::DisplayRole).toString();
  const QString target = host.AskForPath(PathQuestion::kExportTarget,
                                         (title.isEmpty() ? QStringLiteral("routine") : title) + ".vorn");
  if (target.isEmpty()) return host.Runner().End();
  host.RememberFolder(target);
  std::make_shared<CExport>(host, chosen, title, QFile::encodeName(target).toStdString())
      ->Start(static_cast<std::size_t>(row));
}

}  // namespace vorn
