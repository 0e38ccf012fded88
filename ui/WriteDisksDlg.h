#pragma once
// The dialog of "Write to other disks...": the show to write (the selected
// disk's, or a show set file), the other attached disks with check boxes, and
// while writing one row per disk (phase, percent, result) with Cancel for all.
// It only shows and asks; the write itself is an action
// (ui/actions/WriteOtherDisksAction.cpp) carried by the window's runner.

#include <QDialog>
#include <QObject>

#include <memory>

#include "disk/ShowSync.h"
#include "ui/DiskListModel.h"
#include "ui/WriteTargetModel.h"

class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace Ui {
class WriteDisksDlg;
}

namespace vorn {

// Carries the sync engine's progress, reported on the disks' own threads, to
// the user-interface thread as a queued signal.
class CSyncProgressRelay final : public QObject {
  Q_OBJECT

 public:
  // Thread-safe: emitting only posts to the receivers' thread.
  void Report(std::size_t target, SyncPhase phase, int percent) {
    emit Progressed(static_cast<qulonglong>(target), static_cast<int>(phase), percent);
  }

 signals:
  void Progressed(qulonglong target, int phase, int percent);
};

class CWriteDisksDlg final : public QDialog {
  Q_OBJECT

 public:
  // `disks` is the window's list, followed while the dialog is open; `source`
  // the selected disk (kNone when there is none: only a show set file then).
  CWriteDisksDlg(const CDiskListModel& disks, DiskRecord source, QWidget* parent);
  ~CWriteDisksDlg() override;

  const DiskRecord& Source() const { return m_source; }
  // The show set file the user chose; empty when the selected disk's show is written.
  QString ShowSetFile() const;
  CWriteTargetModel& Targets() { return m_targets; }
  QLineEdit* StatusField() const;
  QProgressBar* ProgressBar() const;
  QTableView* DiskTable() const;
  QPushButton* Button(const char* objectName) const;

  // Another action runs in the window: Write waits for it.
  void SetRunnerBusy(bool busy);
  // While writing: Write and Close off, Cancel on, ticks and the show fixed.
  void SetWriting(bool writing);
  // The write has ended: `text` in the status field.
  void ShowEnd(const QString& text);
  // Progress of `relay` lands on the rows.
  void Listen(const CSyncProgressRelay& relay);

 signals:
  void WriteRequested();
  void CancelRequested();

 public:
  // Escape and the close box: while writing they cancel (the rows stay to
  // show how each disk ended); else the dialog closes.
  void reject() override;

 private:
  void Follow();
  void UpdateButtons();
  void Browse();

  std::unique_ptr<Ui::WriteDisksDlg> m_ui;
  const CDiskListModel& m_disks;
  DiskRecord m_source;
  CWriteTargetModel m_targets;
  bool m_runnerBusy = false;
  bool m_writing = false;
};

}  // namespace vorn
