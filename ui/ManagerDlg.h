#pragma once
// The main window: pick a disk, see its routines, format it, append routines
// from ".vorn" files, remove the last routine, edit any routine (remove, move,
// replace, rename, settings), back up, restore, export. It
// wires its parts together: the disks (CDiskListModel) in the combo, the
// routines (CRoutineTableModel) in the grid, the commands (CManagerActions),
// the actions (ui/actions/, one per file) and the one runner that carries their
// work off the user-interface thread. Every action opens the selected disk
// afresh and releases it when it ends.

#include <QDialog>
#include <QStringList>

#include <memory>
#include <string>
#include <vector>

#include "device/ImageDevice.h"
#include "device/SectorDevice.h"
#include "ui/DeviceSource.h"
#include "ui/DiskActionRunner.h"
#include "ui/DiskListModel.h"
#include "ui/EditDialogs.h"
#include "ui/QtProgressBar.h"
#include "ui/QtStatusText.h"
#include "ui/RoutineTableModel.h"
#include "ui/WindowTexts.h"
#include "ui/actions/DiskAction.h"

class QComboBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace Ui {
class ManagerDlg;
}

namespace vorn {

class CControlList;
class CDialogUnitLayout;
class CHotplugMonitor;
class CManagerActions;

class CManagerDlg : public QDialog, private CActionHost {
  Q_OBJECT

 public:
  // Lists the disks of `source` at once. Disk images named in $VORN_DEMO_IMAGE
  // (':'-separated) are offered after the drives and units.
  explicit CManagerDlg(std::unique_ptr<CDeviceSource> source, QWidget* parent = nullptr);
  ~CManagerDlg() override;

  // The selected disk, opened on this thread; null when nothing is selected.
  // Throws the device's error when it cannot be opened.
  std::unique_ptr<CSectorDevice> GetSelectedDevice(ImageAccess access = ImageAccess::kRead);
  void RefreshDevices();
  void RefreshRoutines();

  bool IsImporting() const { return m_runner.IsBusy() && m_runner.What() == "import"; }
  // An action runs (or a disk is being read): no other may start meanwhile.
  bool IsBusy() const { return m_runner.IsBusy(); }

  QComboBox* DeviceCombo() const;
  CControlList* RoutineList() const;
  QLineEdit* StatusField() const;
  QProgressBar* ProgressBar() const;
  QLabel* DiskInfo() const;
  const QString& LastFolder() const { return m_lastFolder; }
  QPushButton* Button(const char* objectName) const;

  // Offers the disk image at `path` in the combo for this session and selects it.
  void OpenDiskImage(const QString& path);
  // Adds the files to the selected disk, as "Add routine..." does with its choice.
  void ImportFiles(const QStringList& files);
  void BackupDisk();
  void RestoreDisk();
  void ExportRoutine(int row);
  // Opens "Write to other disks..." for the selected disk's show.
  void WriteToOtherDisks();
  // Ends the window without questions, for a request to end from outside: an
  // open question or file dialog is answered as Escape answers it, what runs
  // and can stop is cancelled, and the window closes once nothing runs.
  void StopAndClose();

 public slots:
  // A device arrived or left, or media changed.
  void OnDeviceChange();
  void ShowAbout();

 protected:
  using PathQuestion = vorn::PathQuestion;
  QStringList AskForRoutineFiles() override;
  QString AskForPath(PathQuestion question, const QString& suggestion) override;
  std::optional<std::string> AskForTitle(const RoutineEntry& entry) override { return AskRoutineTitle(this, entry); }
  std::optional<RoutineSettingsChange> AskForSettings(const RoutineEntry& entry) override {
    return AskRoutineSettings(this, entry);
  }

  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;

 public:
  void reject() override;  // escape and the close box
  void accept() override;  // "Exit"

 private:
  // CActionHost
  CDiskActionRunner& Runner() override { return m_runner; }
  CDeviceSource& Source() override { return *m_source; }
  DiskRecord Selected() const override;
  CRoutineTableModel& Routines() override { return m_routines; }
  CStatusText& Status() override { return m_statusText; }
  CProgressBar& Progress() override { return m_progressBar; }
  QProgressBar* Bar() override { return ProgressBar(); }
  void RememberFolder(const QString& file) override;
  void OfferImage(const std::string& path) override;
  void ReadAgain(std::function<void()> then) override;
  void ShowEnd(const QString& text, bool succeeded) override;
  void KeepMounted(const std::string& text) override { m_mountedKept = text; }
  void KeepPending(const std::string& text) override { m_pendingKept = text; }
  void SelectRows(const std::vector<int>& rows) override;
  // A read the window started itself has ended: an interrupted edit it found
  // is offered to be finished.
  void EndReading();

  void RebuildList();
  void ShowReading(const DiskRecord& disk, const DiskReading& reading);
  void ShowDiskState(const QString& info, const QString& placeholder);
  void UpdateActions();
  void OnCancel();

  std::unique_ptr<Ui::ManagerDlg> m_ui;
  std::unique_ptr<CDeviceSource> m_source;
  CDiskListModel m_disks;
  CRoutineTableModel m_routines;
  CManagerActions* m_actions = nullptr;
  CDialogUnitLayout* m_layout = nullptr;
  std::vector<std::string> m_openedImages;  // by "Open disk image...", for the session
  QString m_lastFolder;
  CQtStatusText m_statusText;
  CQtProgressBar m_progressBar;
  CHotplugMonitor* m_hotplug = nullptr;
  // The drive whose unmount the user declined: listing it again after a device
  // change does not ask again; picking it, Refresh or an action does.
  std::string m_mountedKept;
  // Likewise the disk whose interrupted edit the user left unfinished, and
  // whether the last read found one to offer.
  std::string m_pendingKept;
  bool m_editPending = false;
  bool m_wasInBackground = false;  // another window was active since the disk was read
  // Last, so destroyed first: work still running (the window is destroyed
  // without a close) is stopped and waited for while what it uses still lives.
  CDiskActionRunner m_runner;
};

}  // namespace vorn
