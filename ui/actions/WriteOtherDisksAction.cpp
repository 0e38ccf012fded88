// "Write to other disks...": makes the disks ticked in its dialog hold the
// selected disk's show (exported into a folder of the run first) or a show
// set file's, all at once. The sync engine writes only what differs and reads
// every disk back; its disks run in parallel inside one runner job, and their
// progress comes to the dialog's rows as queued signals. One disk failing
// (gone, too small, a write error) is that row's result; the others go on.
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <atomic>
#include <map>
#include <memory>

#include "disk/ShowSet.h"
#include "disk/ShowSync.h"
#include "platform/MessageBox.h"
#include "ui/QtProgressBar.h"
#include "ui/QtStatusText.h"
#include "ui/WriteDisksDlg.h"
#include "ui/actions/DiskAction.h"

namespace vorn {
namespace {

// Two rows that are one image file under two names (a link, a second
// spelling) are refused before anything is opened, as the engine refuses two
// names of one drive: opened first, the second name would only be "in use",
// after the first had been written.
void RefuseSameFile(const std::vector<DiskRecord>& targets) {
  std::map<std::pair<dev_t, ino_t>, std::string> seen;
  for (const DiskRecord& target : targets) {
    struct stat info {};
    if (::stat(target.entry.text.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    const auto [it, added] = seen.emplace(std::make_pair(info.st_dev, info.st_ino), target.entry.text);
    if (!added) {
      throw CShowSyncError(it->second + " and " + target.entry.text + " are the same disk; tick each disk once. "
                           "Nothing was written.");
    }
  }
}

class CWriteOthers final : public CDiskAction {
 public:
  CWriteOthers(CActionHost& host, CWriteDisksDlg* dialog, std::vector<DiskRecord> targets, std::string showSet)
      : CDiskAction(host), m_dialog(dialog), m_targets(std::move(targets)), m_showSet(std::move(showSet)),
        m_statusText(dialog->StatusField()), m_progressBar(dialog->ProgressBar()) {
    m_disk = dialog->Source();
  }

  void Start() {
    auto self = Me<CWriteOthers>();
    m_host.Runner().AllowCancel(
        "The show is still being written to other disks.\n\nCancel it and close the window?",
        "Each disk stops at its next safe point and holds its old show or the first routines of the new one; "
        "writing again finishes it.");
    m_host.Status().SetText("Writing to other disks");
    m_dialog->Listen(m_relay);
    m_dialog->SetWriting(true);
    m_dialog->Targets().Start(m_targets);
    // Made here, opened on the worker: a drive may wait for the disk service.
    for (const DiskRecord& target : m_targets) {
      m_devices.push_back(NewDevice(m_host.Source(), target, ImageAccess::kWrite));
    }
    if (!m_showSet.empty()) return Write();
    m_status->SetText("Reading the show of " + DiskText());
    Open(ImageAccess::kRead, [self] { self->Write(); }, [self](const JobOutcome& outcome) { self->End(outcome); });
  }

 private:
  void Write() {
    auto self = Me<CWriteOthers>();
    const CCancelFlag* cancel = m_host.Runner().CancelFlag();
    // A failure names what it was about: the source disk, the show set, or
    // (once the disks are written) nothing more than the error says itself.
    Step([self, cancel] { self->Work(cancel); },
         [self]() -> std::string {
           switch (self->m_stage.load()) {
             case Stage::kReading: return "Disk: " + self->DiskText();
             case Stage::kConverting: return self->m_showSet.empty() ? std::string() : "File: " + self->m_showSet;
             case Stage::kWriting: break;
           }
           return {};
         },
         [self](const JobOutcome& outcome) { self->End(outcome); });
  }

  // On the runner's worker.
  void Work(const CCancelFlag* cancel) {
    m_stage = Stage::kWriting;
    RefuseSameFile(m_targets);
    m_stage = Stage::kReading;
    std::string setPath = m_showSet;
    if (setPath.empty()) {
      m_folder = std::make_unique<QTemporaryDir>();
      if (!m_folder->isValid()) {
        throw CVornError("Could not make a folder for the show: " + m_folder->errorString().toStdString());
      }
      setPath = QFile::encodeName(m_folder->path()).toStdString() + "/show.toml";
      MakeShowSet(*m_device, setPath, {}, [](const std::string&) {}, m_status, m_progress, cancel);
      m_device->Close();
    }
    m_stage = Stage::kConverting;
    const ShowSet set = LoadShowSet(setPath);
    const std::unique_ptr<CConvertedShow> show = CConvertedShow::Prepare(set, {}, m_status, m_progress, cancel);
    m_stage = Stage::kWriting;
    m_progress->SetRange(0, 0);  // the rows show each disk's progress from here on

    // Every disk is opened before anything is written; one that cannot be
    // (pulled out, busy, locked by another program) fails alone. Whatever
    // ends the job, each disk opened is released.
    struct CCloseAll {
      std::vector<std::unique_ptr<CSectorDevice>>& devices;
      ~CCloseAll() {
        for (auto& device : devices) {
          if (!device) continue;
          try {
            device->Close();
          } catch (...) {
            // A unit that has gone away has nothing left to release.
          }
        }
      }
    } closeAll{m_devices};
    std::vector<DiskSyncResult> results(m_targets.size());
    std::vector<SyncDisk> disks;
    std::vector<std::size_t> index;  // the target of each disk synced
    for (std::size_t k = 0; k < m_targets.size(); ++k) {
      results[k].name = m_targets[k].entry.text;
      try {
        if (!m_devices[k]) throw CVornError("The disk " + m_targets[k].entry.text + " cannot be opened.");
        m_devices[k]->Open(m_targets[k].entry);
        disks.push_back({m_targets[k].entry.text, m_devices[k].get()});
        index.push_back(k);
      } catch (const std::exception& error) {
        m_devices[k].reset();
        results[k].phase = SyncPhase::kFailed;
        const auto* ours = dynamic_cast<const CVornError*>(&error);
        results[k].failure = ours ? *ours : CVornError(m_targets[k].entry.text + ": " + error.what());
        m_relay.Report(k, SyncPhase::kFailed, 0);
      }
    }
    if (!disks.empty()) {
      m_status->SetText("Writing " + Plural(disks.size(), "disk"));
      SyncOptions options;
      options.cancel = cancel;
      options.progress = [this, &index](const SyncProgress& progress) {
        m_relay.Report(index[progress.disk], progress.phase, progress.percent);
      };
      std::vector<DiskSyncResult> synced = SyncShow(*show, disks, options);
      for (std::size_t d = 0; d < synced.size(); ++d) results[index[d]] = std::move(synced[d]);
    }
    m_status->SetText({});
    m_results = std::move(results);
  }

  void End(const JobOutcome& outcome) {
    m_devices.clear();
    std::size_t done = 0;
    bool stopped = false;
    for (const DiskSyncResult& result : m_results) {
      done += result.Succeeded() ? 1 : 0;
      stopped = stopped || result.phase == SyncPhase::kCancelled;
    }
    const bool written = outcome.Done() && !m_results.empty();
    QString text;
    if (written && stopped) {
      text = QStringLiteral("Writing to other disks cancelled; %1 of %2 hold the show")
                 .arg(done)
                 .arg(m_targets.size());
    } else if (written) {
      text = QStringLiteral("Wrote the show to %1 of %2")
                 .arg(done)
                 .arg(QString::fromStdString(Plural(m_targets.size(), "disk")));
    } else if (outcome.kind == JobOutcome::Kind::kCancelled) {
      text = QStringLiteral("Writing to other disks cancelled; nothing was written");
    } else {
      text = QStringLiteral("Writing to other disks failed; nothing was written");
    }
    if (m_dialog) {
      for (std::size_t k = 0; k < m_targets.size(); ++k) {
        if (written) {
          m_dialog->Targets().SetResult(k, m_results[k].phase, SyncResultText(m_results[k]));
        } else if (outcome.kind == JobOutcome::Kind::kCancelled) {
          m_dialog->Targets().SetResult(k, SyncPhase::kCancelled, QStringLiteral("Cancelled; nothing was written"));
        } else {
          m_dialog->Targets().SetResult(k, SyncPhase::kFailed, QStringLiteral("Nothing was written"));
        }
      }
      m_dialog->SetWriting(false);
      m_dialog->ShowEnd(text);
    }
    // The selected disk is read again: it may have been one of the targets
    // under another name, and the grid shows what it holds now.
    Finish(true, text, written && done == m_targets.size());
  }

  enum class Stage { kReading, kConverting, kWriting };
  std::atomic<Stage> m_stage{Stage::kReading};
  QPointer<CWriteDisksDlg> m_dialog;
  std::vector<DiskRecord> m_targets;
  std::string m_showSet;  // empty: the selected disk's show
  // The dialog's status field and bar, as the core drives them from the worker.
  CQtStatusText m_statusText;
  CQtProgressBar m_progressBar;
  CStatusText* const m_status = &m_statusText;
  CProgressBar* const m_progress = &m_progressBar;
  std::unique_ptr<QTemporaryDir> m_folder;  // the exported show; removed with the action
  CSyncProgressRelay m_relay;
  std::vector<std::unique_ptr<CSectorDevice>> m_devices;  // one per target
  std::vector<DiskSyncResult> m_results;                  // one per target, once written
};

}  // namespace

void WriteToOtherDisks(CActionHost& host, const CDiskListModel& disks, QWidget* parent) {
  if (host.Runner().IsBusy()) return;
  auto* dialog = new CWriteDisksDlg(disks, host.Selected(), parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  CDiskActionRunner& runner = host.Runner();
  dialog->SetRunnerBusy(runner.IsBusy());
  QObject::connect(&runner, &CDiskActionRunner::BusyChanged, dialog, &CWriteDisksDlg::SetRunnerBusy);
  QObject::connect(dialog, &CWriteDisksDlg::CancelRequested, &runner, &CDiskActionRunner::Cancel);
  QObject::connect(dialog, &CWriteDisksDlg::WriteRequested, dialog, [&host, dialog] {
    const std::vector<DiskRecord> targets = dialog->Targets().Ticked();
    const std::string showSet = QFile::encodeName(dialog->ShowSetFile()).toStdString();
    if (targets.empty() || (showSet.empty() && dialog->Source().kind == DiskKind::kNone)) return;
    if (host.Runner().IsBusy()) return;
    // Routines the ticked disks hold and the show does not are replaced: the
    // user confirms which disks, as for any write that loses routines.
    std::string names;
    for (const DiskRecord& target : targets) names += "\n" + target.entry.text;
    const std::string show = showSet.empty() ? dialog->Source().entry.text : showSet;
    if (!AskYesNo("Make " + Plural(targets.size(), "disk") + " hold the show of " + show + "?",
                  "Routines on them that differ from the show are replaced." + names)) {
      return;
    }
    if (!host.Runner().Begin("write-others")) return;
    std::make_shared<CWriteOthers>(host, dialog, targets, showSet)->Start();
  });
  // Window-modal and not run in a loop of its own: the window's loop serves it,
  // and device changes reach the window (and so the rows) while it is open.
  dialog->open();
}

}  // namespace vorn
