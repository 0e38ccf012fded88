// "Remove last routine": the table is read first, so that the question can
// name the routine; the end names it too.
#include <memory>

#include "disk/VornDisk.h"
#include "ui/RoutineTableModel.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

constexpr const char* kAskRemoveLast = "Are you sure you want to remove the last track?";

class CRemoveLast final : public CDiskAction {
 public:
  using CDiskAction::CDiskAction;

  void Start() {
    auto self = Me<CRemoveLast>();
    Open(ImageAccess::kWrite, [self] {
      self->m_vorn = std::make_unique<CVornDisk>(*self->m_device, &self->m_host.Status());
      self->Step([self] { self->m_vorn->ReadTable(); }, [self] { return "Disk: " + self->DiskText(); },
                 [self](const JobOutcome& outcome) {
                   if (outcome.Done()) return self->Ask();
                   self->End({});
                 });
    });
  }

 private:
  void Ask() {
    auto self = Me<CRemoveLast>();
    m_host.Routines().SetEntries(m_vorn->Table());
    if (!AskUnlessStopping(m_host, kAskRemoveLast, LossDetail(ShownText(), *m_vorn, true))) return End({});
    const std::string title = m_vorn->Table().empty() ? std::string() : m_vorn->Table().back().DisplayTitle();
    Step([self] { self->m_vorn->RemoveLastRoutine(); }, [self] { return "Disk: " + self->DiskText(); },
         [self, title](const JobOutcome& outcome) {
           if (!outcome.Done()) return self->End({});
           self->End(title.empty() ? "the last routine" : "\"" + title + "\"");
         });
  }
  void End(const std::string& removed) {
    m_vorn.reset();
    Finish(true, removed.empty() ? QString() : QString::fromLocal8Bit("Removed " + removed + " from " + DiskText()));
  }

  std::unique_ptr<CVornDisk> m_vorn;
};

}  // namespace

void RemoveLastRoutine(CActionHost& host) {
  if (!BeginOnSelected(host, "remove")) return;
  std::make_shared<CRemoveLast>(host)->Start();
}

}  // namespace vorn
