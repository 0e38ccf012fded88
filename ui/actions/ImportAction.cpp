// "Add routine..." and dropped files: the routine files are converted and
// written one after the other (the next converts while one is written), and
// read back from a drive or unit. An unformatted disk is formatted by the
// first table write, after the user said so. Cancel stops at the next piece;
// the routines added before stay.
#include <QFile>
#include <QPointer>
#include <QProgressBar>

#include <atomic>
#include <memory>
#include <mutex>

#include "device/VerifyingDevice.h"
#include "disk/VornDisk.h"
#include "ui/ImportProgress.h"
#include "ui/UiThread.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

constexpr const char* kAskFormatInvalid =
    "This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\nDo you wish to "
    "continue?";

class CImport final : public CDiskAction {
 public:
  CImport(CActionHost& host, std::vector<std::string> paths) : CDiskAction(host), m_paths(std::move(paths)) {}

  void Start() {
    auto self = Me<CImport>();
    const CCancelFlag* cancel = m_host.Runner().CancelFlag();
    QPointer<QProgressBar> bar = m_host.Bar();
    m_progress = std::make_unique<CImportProgress>(m_host.Status(), m_host.Progress(),
                                                   [bar, cancel](const std::string& line) {
      if (!bar) return;
      QString text = QString::fromLocal8Bit(line);
      if (cancel->IsCancelled()) text = QStringLiteral("Cancelling: ") + text;
      PostToUi(bar.data(), [bar, text] {
        if (!bar) return;
        bar->setFormat(LiteralBarText(text));
        bar->setTextVisible(true);
        bar->setAccessibleDescription(text);
      });
    });
    m_detail = "Disk: " + DiskText();
    Open(ImageAccess::kWrite, [self] {
      self->m_verifier = std::make_unique<CVerifyingDevice>(*self->m_device);
      self->m_vorn = std::make_unique<CVornDisk>(*self->m_verifier, self->m_progress.get());
      self->Step([self] { self->m_vorn->ReadTable(); }, [self] { return self->m_detail; },
                 [self](const JobOutcome& outcome) { outcome.Done() ? self->Add() : self->End(outcome); });
    }, [self](const JobOutcome& outcome) { self->End(outcome); });
  }

 private:
  void Add() {
    auto self = Me<CImport>();
    // The table in memory is empty then, so the first routine lands at sector
    // 1 and the first table write formats the disk.
    if (!m_vorn->IsValid() && !AskUnlessStopping(m_host, kAskFormatInvalid, LossDetail(DiskText(), *m_vorn, false))) {
      m_declined = true;
      return End({});
    }
    const CCancelFlag* cancel = m_host.Runner().CancelFlag();
    const bool image = IsImage();
    Step([self, cancel, image] {
      // The status line and the error's detail follow the file the disk is busy with.
      const int files = static_cast<int>(self->m_paths.size());
      const auto reach = [&](std::size_t i) {
        self->SetDetail("File: " + self->m_paths[i]);
        self->m_progress->StartFile(static_cast<int>(i + 1), files, RoutineTitleOf(self->m_paths[i]));
      };
      ImportOptions options;
      options.cancel = cancel;
      options.added = [&](std::size_t index) {
        ++self->m_added;
        if (index + 1 < self->m_paths.size()) reach(index + 1);
      };
      reach(0);
      self->m_vorn->AddRoutines(self->m_paths, self->m_progress.get(), options);
      self->SetDetail("Disk: " + self->DiskText());
      VerifyWritten(*self->m_verifier, image, *self->m_progress, *self->m_progress);
    }, [self] { return self->Detail(); }, [self](const JobOutcome& outcome) { self->End(outcome); });
  }

  void End(const JobOutcome& outcome) {
    m_vorn.reset();
    m_verifier.reset();
    const QString disk = QString::fromLocal8Bit(DiskText());
    const QString added = QString::fromStdString(Plural(static_cast<std::size_t>(m_added.load()), "routine"));
    QString text;
    bool succeeded = false;
    if (outcome.kind == JobOutcome::Kind::kCancelled) {
      text = m_added > 0 ? "Import cancelled after adding " + added + " to " + disk
                         : QStringLiteral("Import cancelled; nothing was added");
    } else if (outcome.kind == JobOutcome::Kind::kFailed) {
      text = QStringLiteral("Import failed: ") + QString::fromLocal8Bit(outcome.failure.text);
      if (m_added > 0) text += " (added " + added + " before)";
    } else if (m_declined) {
      text = QStringLiteral("Nothing was added");
    } else {
      text = "Added " + added + " to " + disk;
      succeeded = true;
    }
    Finish(true, text, succeeded);
  }

  void SetDetail(std::string detail) {
    std::lock_guard lock(m_detailMutex);
    m_detail = std::move(detail);
  }
  std::string Detail() {
    std::lock_guard lock(m_detailMutex);
    return m_detail;
  }

  std::vector<std::string> m_paths;
  std::unique_ptr<CImportProgress> m_progress;
  std::unique_ptr<CVerifyingDevice> m_verifier;
  std::unique_ptr<CVornDisk> m_vorn;
  std::mutex m_detailMutex;
  std::string m_detail;
  std::atomic<int> m_added{0};
  bool m_declined = false;
};

}  // namespace

void ImportRoutines(CActionHost& host, const QStringList& files) {
  const DiskRecord disk = host.Selected();
  if (files.isEmpty() || disk.kind == DiskKind::kNone || !host.Runner().Begin("import")) return;
  host.Runner().AllowCancel(
      "Routines are still being added to " + disk.entry.text + ".\n\nCancel the import and close the window?",
      "The routine being written is left out; the routines added before it stay on the disk.");
  QProgressBar* bar = host.Bar();
  bar->setRange(0, 1);
  bar->setValue(0);
  bar->setFormat(QString());
  std::vector<std::string> paths;
  for (const QString& file : files) paths.push_back(QFile::encodeName(file).toStdString());
  std::make_shared<CImport>(host, std::move(paths))->Start();
}

}  // namespace vorn
