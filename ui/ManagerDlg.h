#pragma once
// The main window: pick a disk, see its routines, format it, append routines
// from ".vorn" files on a worker thread, remove the last routine. Every action
// opens the selected disk afresh and releases it when it ends; only the two
// lists of discovered disks live between actions.

#include <QDialog>
#include <QStringList>

#include <QRect>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceEntry.h"
#include "device/ImageDevice.h"
#include "device/SectorDevice.h"
#include "disk/RoutineEntry.h"
#include "platform/Cancel.h"
#include "ui/DeviceSource.h"
#include "ui/QtProgressBar.h"
#include "ui/QtStatusText.h"

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
class CHotplugMonitor;

// "VORN v3.0 (.vorn)|*.vorn|All Files (*.*)|*.*|" as Qt name filters:
// "VORN v3.0 (.vorn) (*.vorn)", "All Files (*.*) (*)".
QStringList NameFiltersFromPairs(const QString& pairs);

// The open dialog of "Add routine...": several existing files, default suffix
// "vorn", the two filters shown by their descriptions only; it opens in
// `folder` when one is given.
std::unique_ptr<QFileDialog> NewRoutineFileDialog(QWidget* owner, const QString& folder = {});

// "64.00 MB, 12.50 MB free" and the like: what the line below the grid says
// about a disk of `sectors` sectors (0: size unknown) whose routines end at
// `usedSectors`, or that is not formatted.
QString DiskSpaceText(bool formatted, std::size_t routines, std::uint64_t sectors,
                      std::uint64_t usedSectors);

class CManagerDlg : public QDialog {
  Q_OBJECT

 public:
  // Lists the disks of `source` at once. Disk images named in $VORN_DEMO_IMAGE
  // (':'-separated) are offered after the drives and units.
  explicit CManagerDlg(std::unique_ptr<CDeviceSource> source, QWidget* parent = nullptr);
  ~CManagerDlg() override;

  // The selected disk, opened; null when nothing is selected. Throws the
  // device's error when it cannot be opened. An image is locked for `access`:
  // another program writing it refuses the action.
  std::unique_ptr<CSectorDevice> GetSelectedDevice(ImageAccess access = ImageAccess::kRead);
  void RefreshDevices();
  void RefreshRoutines();

  bool IsImporting() const { return m_worker.joinable(); }
  // An import runs, or a file action (backup, restore, export) that the
  // window waits for: no other action may start on the disk meanwhile.
  // Also while a drive opens off the UI thread (udisks2 may be waiting for a
  // password): a device change then must not start a second open.
  bool IsBusy() const { return IsImporting() || m_fileActionRunning || m_opening > 0; }
  // The cancel flag of what runs now and can stop (an import, a backup or an
  // export); none otherwise.
  CCancelFlag* RunningCancel() const {
    return m_fileActionRunning ? m_fileCancel : IsImporting() ? m_cancel.get() : nullptr;
  }

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
  // Ends the window without questions, for a request to end from outside: an
  // open question or file dialog is answered as Escape answers it, what runs
  // and can stop is cancelled, and the window closes once nothing runs.
  void StopAndClose();

 signals:
  // Posted by the import worker when it has ended, successfully or not.
  void ImportDone();

 public slots:
  // A device arrived or left, or media changed.
  void OnDeviceChange();
  void ShowAbout();

 protected:
  // The files to import, in the order to import them; empty when cancelled.
  virtual QStringList AskForRoutineFiles();
  enum class PathQuestion { kOpenImage, kBackupTarget, kRestoreSource, kExportTarget };
  // One file for the action; empty when cancelled. `suggestion` is a file name.
  virtual QString AskForPath(PathQuestion question, const QString& suggestion);

  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;

 public:
  void reject() override;  // escape and the close box
  void accept() override;  // "Exit"

 private:
  // For as long as it lives, device changes wait (see OnDeviceChange): held by
  // every action on the UI thread and by the rebuilds of the lists.
  class CDeviceChangeHold {
   public:
    explicit CDeviceChangeHold(CManagerDlg& dialog);
    ~CDeviceChangeHold();
    CDeviceChangeHold(const CDeviceChangeHold&) = delete;
    CDeviceChangeHold& operator=(const CDeviceChangeHold&) = delete;

   private:
    CManagerDlg& m_dialog;
  };

  enum class DeviceKind { kNone, kDrive, kUnit, kImage };
  struct DeviceChoice {
    DeviceKind kind = DeviceKind::kNone;
    DeviceEntry entry;
  };

  DeviceChoice SelectedChoice() const;
  std::unique_ptr<CSectorDevice> OpenDevice(const DeviceChoice& choice, ImageAccess access) const;

  void OnRefresh();
  void OnAddRoutine();
  void OnRemoveLastRoutine();
  void OnFormatDisk();
  void OnImportDone();
  void OnCancel();
  void OnOpenImage();

  // What an import did, told by the worker to the window when it ends.
  struct ImportOutcome {
    int added = 0;
    bool cancelled = false;
    bool declined = false;   // the format question was answered No
    std::string error;       // the failure's message
  };

  void ImportWorker(DeviceChoice choice, std::string diskText, std::vector<std::string> paths);
  void SetImporting(bool importing);
  void UpdateActions();
  void ShowDiskState(const QString& info, const QString& placeholder);
  void FitColumns();
  // The table read from the disk, in the grid.
  void ShowRoutines(const std::vector<RoutineEntry>& table);
  void LayOut();
  bool AskToCloseDuringImport(int result);
  // Runs `work` off the UI thread with `status` on the status line and the
  // progress on the bar: the window keeps painting, takes no input, and holds
  // device changes and a close until the action has ended. Rethrows what
  // `work` threw.
  // With `cancel`, the Cancel button shows and sets it, and a close asks first.
  // False when the action was cancelled.
  bool RunFileAction(const std::string& status, const std::function<void()>& work,
                     CCancelFlag* cancel = nullptr);
  bool RefreshIfHeld();
  void CloseIfHeld();
  void CloseAfterFileAction(int result);
  QString SelectedText() const;
  // The selected disk as the combo shows it (a unit with its size and model):
  // what a question names, so the user sees which disk it means.
  std::string ComboText() const;
  void RememberFolder(const QString& file);
  void ShowEndOfAction(const QString& text, bool succeeded);

  std::unique_ptr<Ui::ManagerDlg> m_ui;
  std::unique_ptr<CDeviceSource> m_source;
  std::vector<DeviceEntry> m_drives;
  std::vector<DeviceEntry> m_units;
  std::vector<DeviceEntry> m_images;
  std::vector<std::string> m_openedImages;  // by "Open disk image...", for the session
  std::vector<int> m_designColumnWidths;
  std::vector<std::pair<QWidget*, QRect>> m_designGeometry;
  QSize m_designSize;
  QString m_lastFolder;
  QString m_preferredText;  // selected after the next rebuild of the list
  QString m_lostText;       // the selected disk that went away, until the user chooses
  CQtStatusText m_statusText;
  CQtProgressBar m_progressBar;
  CHotplugMonitor* m_hotplug = nullptr;

  std::thread m_worker;
  std::atomic<bool> m_workerFinished{false};
  std::unique_ptr<CCancelFlag> m_cancel;
  ImportOutcome m_outcome;  // written by the worker, read after it has ended
  std::string m_importDisk;
  bool m_fileActionRunning = false;
  mutable int m_opening = 0;  // drive opens waited for off the UI thread
  int m_holdingDisk = 0;      // CDeviceChangeHold scopes open
  // The drive whose unmount the user declined: listing it again after a device
  // change does not ask again; picking it, Refresh or an action does.
  mutable std::string m_mountedKept;
  CCancelFlag* m_fileCancel = nullptr;  // of the file action running, if it can stop
  bool m_refreshWhenDone = false;
  bool m_closeWhenDone = false;
  int m_closeResult = 0;
  std::string m_lastEnumerationError;
};

}  // namespace vorn
