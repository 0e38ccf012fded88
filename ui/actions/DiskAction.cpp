#include "ui/actions/DiskAction.h"

#include <QProgressBar>
#include <QRegularExpression>

#include <cstdio>

#include "device/DriveAccess.h"
#include "device/UsbDevice.h"
#include "device/VerifyingDevice.h"
#include "disk/RoutineEdit.h"
#include "disk/VornDisk.h"
#include "platform/MessageBox.h"
#include "ui/DeviceSource.h"

namespace vorn {
namespace {

constexpr std::size_t kTitlesNamed = 8;  // a question names this many routines, then counts the rest

std::string TitleList(const std::vector<RoutineEntry>& table) {
  std::string titles;
  for (std::size_t k = 0; k < table.size() && k < kTitlesNamed; ++k) {
    titles += (k == 0 ? "" : ", ") + table[k].DisplayTitle();
  }
  if (table.size() > kTitlesNamed) titles += " and " + Plural(table.size() - kTitlesNamed, "more");
  return titles;
}

void CloseQuietly(CSectorDevice* device) {
  if (!device) return;
  try {
    device->Close();
  } catch (...) {
    // Releasing a unit that has gone away fails; nothing is left to release.
  }
}

}  // namespace

std::unique_ptr<CSectorDevice> NewDevice(CDeviceSource& source, const DiskRecord& disk, ImageAccess access) {
  switch (disk.kind) {
    case DiskKind::kNone: break;
    case DiskKind::kDrive: {
      auto device = source.NewDriveDevice();
      // What only reads opens read-only: a write open makes the kernel tell
      // every program that the card changed.
      if (auto* drive = dynamic_cast<CDriveAccess*>(device.get())) drive->SetAccess(access);
      return device;
    }
    case DiskKind::kUnit: return source.NewUnitDevice();
    case DiskKind::kImage: return std::make_unique<CImageDevice>(std::string{}, true, access);
  }
  return nullptr;
}

namespace {

// The one place where the window learns how the unmount question of a mounted
// card was answered: a card the user keeps mounted is not opened again until
// the user picks it, presses Refresh or starts an action.
void NoteUnmountAnswer(CActionHost& host, const CSectorDevice* device, const DiskRecord& disk) {
  const auto* drive = dynamic_cast<const CDriveAccess*>(device);
  if (drive != nullptr && drive->UnmountDeclined()) host.KeepMounted(disk.entry.text);
}

// Throws the reason not to write the disk while an interrupted edit waits.
void RefusePendingEdit(CSectorDevice& device, const std::string& disk) {
  bool pending = false;
  try {
    pending = EditPending(DiskIdentity(device));
  } catch (const CEditRecordError& error) {
    throw CEditRecordError(std::string(error.what()) + " ('vorn3ctl recover " + disk +
                           " --discard' drops the record.)");
  }
  if (pending) {
    throw CEditRecordError("An edit of " + disk + " was interrupted and the disk holds part of the new show; "
                           "finish it first (Refresh offers to finish it).");
  }
}

}  // namespace

std::string Plural(std::size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string LossDetail(const std::string& disk, const CVornDisk& vornDisk, bool lastOnly) {
  std::string detail = "Disk: " + disk + "\n";
  const std::vector<RoutineEntry>& table = vornDisk.Table();
  if (!vornDisk.IsValid()) return detail + "Everything on it will be lost.";
  if (table.empty()) return detail + "It holds no routines.";
  if (lastOnly) {
    return detail + "Routine " + std::to_string(table.size()) + " of " + std::to_string(table.size()) +
           " will be lost: " + table.back().DisplayTitle() + ".";
  }
  return detail + "All routines on it will be lost (" + Plural(table.size(), "routine") + "): " +
         TitleList(table) + ".";
}

void VerifyWritten(CVerifyingDevice& verifier, bool isImage, CStatusText& status, CProgressBar& progress) {
  if (isImage || verifier.PendingSectors() == 0) return;
  status.SetText("Verifying");
  verifier.Verify(&progress);
  status.SetText("Ready");
}

QString LiteralBarText(QString text) {
  static const QRegularExpression placeholders(QStringLiteral("%([pvm])"));
  return text.replace(placeholders, QStringLiteral("%\u200D\\1"));
}

bool BeginOnSelected(CActionHost& host, const char* what) {
  return host.Selected().kind != DiskKind::kNone && host.Runner().Begin(what);
}

bool AskUnlessStopping(CActionHost& host, const std::string& text, const std::string& detail) {
  return !host.Runner().IsStopping() && AskYesNo(text, detail);
}

void CDiskAction::ShowFailure(const JobOutcome& outcome, const std::string& detail) const {
  MessageRequest box = outcome.failure;
  // The disk or the file it is about, above what the error itself adds.
  if (!detail.empty()) box.detail = box.detail.empty() ? detail : detail + "\n" + box.detail;
  ShowMessage(box);
}

void CDiskAction::Step(std::function<void()> work, std::function<std::string()> detail,
                       std::function<void(const JobOutcome&)> next) {
  m_host.Runner().Run(std::move(work), [self = shared_from_this(), detail = std::move(detail),
                                        next = std::move(next)](const JobOutcome& outcome) {
    if (outcome.kind == JobOutcome::Kind::kFailed) self->ShowFailure(outcome, detail());
    next(outcome);
  });
}

void CDiskAction::Open(ImageAccess access, std::function<void()> opened,
                       std::function<void(const JobOutcome&)> failed) {
  m_device = NewDevice(m_host.Source(), m_disk, access);
  if (!m_device) return Finish(false);
  CSectorDevice* device = m_device.get();
  const DeviceEntry entry = m_disk.entry;
  const bool refusePending = access == ImageAccess::kWrite && !m_pendingAllowed;
  Step([device, entry, refusePending] {
    device->Open(entry);
    if (!refusePending) return;
    try {
      RefusePendingEdit(*device, entry.text);
    } catch (...) {
      CloseQuietly(device);
      throw;
    }
  }, [this] { return "Disk: " + DiskText(); },
       [this, opened = std::move(opened), failed = std::move(failed)](const JobOutcome& outcome) {
         if (outcome.Done()) return opened();
         NoteUnmountAnswer(m_host, m_device.get(), m_disk);
         m_device.reset();  // never opened: nothing to release
         if (failed) return failed(outcome);
         Finish(false);
       });
}

void CDiskAction::Finish(bool readAgain, QString end, bool succeeded) {
  CloseQuietly(m_device.get());
  m_device.reset();
  auto self = shared_from_this();
  const auto ending = [self, end, succeeded] {
    if (!self->m_selectAfter.empty()) self->m_host.SelectRows(self->m_selectAfter);
    if (!end.isEmpty()) self->m_host.ShowEnd(end, succeeded);
    self->m_host.Runner().End();
  };
  if (readAgain || m_host.Runner().TakeHeldChange()) {
    // A held change is caught up by ReadAgain itself; put it back for it.
    if (!readAgain) m_host.Runner().HoldDeviceChange();
    m_host.ReadAgain(ending);
  } else {
    ending();
  }
}

void ReadDisk(CActionHost& host, const DiskRecord& disk, std::function<void(const DiskReading&)> then) {
  // A small action of its own, inside the one running.
  class CRead final : public CDiskAction {
   public:
    CRead(CActionHost& host, const DiskRecord& disk, std::function<void(const DiskReading&)> then)
        : CDiskAction(host), m_then(std::move(then)) {
      m_disk = disk;
    }
    void Start() {
      auto self = Me<CRead>();
      m_device = NewDevice(m_host.Source(), m_disk, ImageAccess::kRead);
      if (!m_device) return m_then(m_reading);
      Step([self] { self->m_device->Open(self->m_disk.entry); }, [self] { return "Disk: " + self->DiskText(); },
           [self](const JobOutcome& outcome) {
             if (!outcome.Done()) {
               NoteUnmountAnswer(self->m_host, self->m_device.get(), self->m_disk);
               self->m_device.reset();
               return self->m_then(self->m_reading);
             }
             self->m_reading.opened = true;
             self->Read();
           });
    }

   private:
    void Read() {
      auto self = Me<CRead>();
      CStatusText* status = &m_host.Status();
      Step([self, status] {
        CVornDisk disk(*self->m_device, status);
        self->m_reading.table = disk.ReadTable();
        self->m_reading.read = true;
        self->m_reading.formatted = disk.IsValid();
        self->m_reading.usedSectors = disk.NextFreeSector();
        try {
          self->m_reading.editPending = EditPending(DiskIdentity(*self->m_device));
        } catch (const CVornError&) {
          // A record that cannot be applied: the writers refuse with its reason.
        }
      }, [self] { return "Disk: " + self->DiskText(); }, [self](const JobOutcome&) { self->Describe(); });
    }
    void Describe() {
      auto self = Me<CRead>();
      const bool unit = m_disk.kind == DiskKind::kUnit;
      // A unit tells its size and model only when asked; a card reader's text
      // carries its size already. Only the details stay unknown on a failure.
      m_host.Runner().Run([self, unit] {
        if (unit) {
          try {
            if (self->m_device->Identify()) {
              if (const auto* usb = dynamic_cast<const CUsbDevice*>(self->m_device.get())) {
                self->m_reading.model = usb->Model();
              }
            }
          } catch (...) {
          }
        }
        self->m_reading.sectors = self->m_device->GetSectorCount();
        CloseQuietly(self->m_device.get());
      }, [self](const JobOutcome&) {
        self->m_device.reset();
        self->m_then(self->m_reading);
      });
    }

    std::function<void(const DiskReading&)> m_then;
    DiskReading m_reading;
  };
  std::make_shared<CRead>(host, disk, std::move(then))->Start();
}

}  // namespace vorn
