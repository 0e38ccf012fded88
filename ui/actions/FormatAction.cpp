// "Format disk": asks (naming the disk and what would be lost), then writes an
// empty table and reads it back from a drive or unit.
#include <algorithm>
#include <memory>

#include "device/ForeignSignatures.h"

#include "device/VerifyingDevice.h"
#include "disk/VornDisk.h"
#include "ui/RoutineTableModel.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

constexpr const char* kAskFormatValid = "Are you sure you want to format the disk?";
constexpr const char* kAskFormatInvalid =
    "This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\nDo you wish to "
    "continue?";

class CFormat final : public CDiskAction {
 public:
  using CDiskAction::CDiskAction;

  void Start() {
    auto self = Me<CFormat>();
    Open(ImageAccess::kWrite, [self] {
      self->m_verifier = std::make_unique<CVerifyingDevice>(*self->m_device);
      self->m_vorn = std::make_unique<CVornDisk>(*self->m_verifier, &self->m_host.Status());
      self->Step([self] { self->m_vorn->ReadTable(); }, [self] { return "Disk: " + self->DiskText(); },
                 [self](const JobOutcome& outcome) {
                   if (outcome.Done()) return self->Ask();
                   self->End(false);
                 });
    });
  }

 private:
  void Ask() {
    auto self = Me<CFormat>();
    // The grid shows what the question is about, though another program
    // changed the disk since it was listed.
    m_host.Routines().SetEntries(m_vorn->Table());
    if (!AskUnlessStopping(m_host, m_vorn->IsValid() ? kAskFormatValid : kAskFormatInvalid,
                           LossDetail(ShownText(), *m_vorn, false))) {
      return End(false);
    }
    const bool image = IsImage();
    Step([self, image] {
      self->m_vorn->Format();
      // A file system's marks left on a card would have the desktop mount it again.
      if (!image) EraseForeignSignatures(*self->m_verifier, std::max<std::uint64_t>(1, self->m_vorn->NextFreeSector()));
      VerifyWritten(*self->m_verifier, image, self->m_host.Status(), self->m_host.Progress());
    }, [self] { return "Disk: " + self->DiskText(); }, [self](const JobOutcome& outcome) { self->End(outcome.Done()); });
  }
  void End(bool formatted) {
    m_vorn.reset();
    m_verifier.reset();
    Finish(true, formatted ? QStringLiteral("Formatted ") + QString::fromLocal8Bit(DiskText()) : QString());
  }

  std::unique_ptr<CVerifyingDevice> m_verifier;
  std::unique_ptr<CVornDisk> m_vorn;
};

}  // namespace

void FormatDisk(CActionHost& host) {
  if (!BeginOnSelected(host, "format")) return;
  std::make_shared<CFormat>(host)->Start();
}

}  // namespace vorn
