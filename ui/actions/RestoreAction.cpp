// "Restore disk...": asks (naming the backup, the disk and what would be lost),
// then writes the backup's used sectors onto the disk, header last, and reads
// them back from a drive or unit. Not cut short: a close waits for it.
#include <QFile>

#include <memory>

#include "device/VerifyingDevice.h"
#include "disk/VornDisk.h"
#include "platform/StatusText.h"
#include "ui/DiskFileActions.h"
#include "ui/RoutineTableModel.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

class CRestore final : public CDiskAction {
 public:
  CRestore(CActionHost& host, std::string source) : CDiskAction(host), m_source(std::move(source)) {}

  void Start() {
    auto self = Me<CRestore>();
    Step([self] { self->m_routines = BackupRoutineCount(self->m_source); }, [self] { return self->FileDetail(); },
         [self](const JobOutcome& outcome) {
           if (!outcome.Done()) return self->Finish(false);
           self->Open(ImageAccess::kWrite, [self] { self->ReadTable(); });
         });
  }

 private:
  std::string FileDetail() const { return "File: " + m_source; }

  void ReadTable() {
    auto self = Me<CRestore>();
    m_vorn = std::make_unique<CVornDisk>(*m_device, nullptr);
    Step([self] { self->m_vorn->ReadTable(); }, [self] { return self->FileDetail(); },
         [self](const JobOutcome& outcome) {
           if (outcome.Done()) return self->Ask();
           self->End(false);
         });
  }
  void Ask() {
    auto self = Me<CRestore>();
    m_host.Routines().SetEntries(m_vorn->Table());
    const std::string question = "The disk will be overwritten with the " + Plural(m_routines, "routine") + " of " +
                                 m_source + ".\n\nDo you wish to continue?";
    if (!AskUnlessStopping(m_host, question, LossDetail(ShownText(), *m_vorn, false))) return End(false);
    m_host.Status().SetText("Restoring");
    const bool image = IsImage();
    Step([self, image] {
      CVerifyingDevice verifier(*self->m_device);
      RestoreDisk(self->m_source, verifier, self->ImagePath(), &self->m_host.Progress());
      VerifyWritten(verifier, image, self->m_host.Status(), self->m_host.Progress());
    }, [self] { return self->FileDetail(); }, [self](const JobOutcome& outcome) {
      self->m_host.Status().SetText("Ready");
      self->End(outcome.Done());
    });
  }
  void End(bool restored) {
    m_vorn.reset();
    Finish(true, restored ? QString::fromLocal8Bit("Restored " + Plural(m_routines, "routine") + " onto " + DiskText())
                          : QString());
  }

  std::string m_source;
  std::size_t m_routines = 0;
  std::unique_ptr<CVornDisk> m_vorn;
};

}  // namespace

void RestoreDisk(CActionHost& host) {
  if (!BeginOnSelected(host, "restore")) return;
  const QString source = host.AskForPath(PathQuestion::kRestoreSource, QString());
  if (source.isEmpty()) return host.Runner().End();
  host.RememberFolder(source);
  std::make_shared<CRestore>(host, QFile::encodeName(source).toStdString())->Start();
}

}  // namespace vorn
