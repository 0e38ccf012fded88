// "Format disk": asks (naming the disk and what would be lost), then writes an
// empty table and reads it back from a drive or unit. A card this computer
// has not met before is offered the capacity probe first: formatting is when
// a fake card is put into service, and a red one is not formatted.
#include <algorithm>
#include <memory>

#include "device/ForeignSignatures.h"

#include "device/VerifyingDevice.h"
#include "disk/CapacityProbe.h"
#include "disk/RoutineEdit.h"
#include "disk/SeenCards.h"
#include "disk/VornDisk.h"
#include "platform/MessageBox.h"
#include "platform/StatusText.h"
#include "ui/RoutineTableModel.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

constexpr const char* kAskFormatValid = "Are you sure you want to format the disk?";
constexpr const char* kAskFormatInvalid =
    "This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\nDo you wish to "
    "continue?";
constexpr const char* kAskProbe = "This card is new to this computer. Check first that it holds what it claims?";
constexpr const char* kProbeDetail =
    "A fake card claims more than it holds and loses whatever is written past its real end. The check "
    "writes a few free sectors across the card, reads them back and puts them back; routines are not "
    "touched.";
constexpr const char* kFakeCard = "This card does not hold what it claims. It was not formatted.";

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
    // A card in a reader; an image file, even one standing in for a drive,
    // holds what its file holds.
    const bool card = m_disk.kind == DiskKind::kDrive && dynamic_cast<CImageDevice*>(m_device.get()) == nullptr;
    if (!card) return Format();
    const std::string identity = DiskIdentity(*m_device);
    if (CardSeen(identity)) return Format();
    MessageRequest ask{kAskProbe, kConfirmCaption, MessageIcon::kWarning, MessageButtons::kYesNo,
                       "Disk: " + ShownText() + "\n" + kProbeDetail};
    ask.defaultYes = true;
    if (m_host.Runner().IsStopping()) return End(false);
    if (ShowMessage(ask) != MessageAnswer::kYes) {
      RememberCard(identity);  // the user has decided about this card
      return Format();
    }
    Probe(identity);
  }

  void Probe(const std::string& identity) {
    auto self = Me<CFormat>();
    m_host.Status().SetText("Checking the card");
    m_host.Runner().AllowCancel("Checking the card is still running.\n\nCancel it and close the window?");
    const CCancelFlag* cancel = m_host.Runner().CancelFlag();
    Step([self, cancel] { self->m_probe = ProbeCapacity(*self->m_device, cancel); },
         [self] { return "Disk: " + self->DiskText(); }, [self, identity](const JobOutcome& outcome) {
           self->m_host.Status().SetText("Ready");
           if (!outcome.Done() || self->m_host.Runner().IsCancelled()) return self->End(false);
           if (self->m_probe.level == CheckLevel::kRed) {
             ShowMessage({kFakeCard, kAppName, MessageIcon::kError, MessageButtons::kOk,
                          "Disk: " + self->ShownText() + "\n" + self->m_probe.text});
             return self->End(false, "Not formatted: the card does not hold what it claims");
           }
           if (self->m_probe.level == CheckLevel::kGreen) RememberCard(identity);
           self->Format();
         });
  }

  void Format() {
    auto self = Me<CFormat>();
    const bool image = IsImage();
    Step([self, image] {
      self->m_vorn->Format();
      // A file system's marks left on a card would have the desktop mount it again.
      if (!image) EraseForeignSignatures(*self->m_verifier, std::max<std::uint64_t>(1, self->m_vorn->NextFreeSector()));
      VerifyWritten(*self->m_verifier, image, self->m_host.Status(), self->m_host.Progress());
    }, [self] { return "Disk: " + self->DiskText(); }, [self](const JobOutcome& outcome) { self->End(outcome.Done()); });
  }
  void End(bool formatted, const char* why = nullptr) {
    m_vorn.reset();
    m_verifier.reset();
    Finish(true,
           formatted ? QStringLiteral("Formatted ") + QString::fromLocal8Bit(DiskText())
           : why     ? QString::fromUtf8(why)
                     : QString(),
           formatted || why == nullptr);
  }

  CheckFinding m_probe;
  std::unique_ptr<CVerifyingDevice> m_verifier;
  std::unique_ptr<CVornDisk> m_vorn;
};

}  // namespace

void FormatDisk(CActionHost& host) {
  if (!BeginOnSelected(host, "format")) return;
  std::make_shared<CFormat>(host)->Start();
}

}  // namespace vorn
