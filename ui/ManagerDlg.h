#pragma once
// The main window: pick a disk, see its routines, format it, append routines
// from ".vorn" files on a worker thread, remove the last routine. Every action
// opens the selected disk afresh and releases it when it ends; only the two
// lists of discovered disks live between actions.

#include <QDialog>
#include <QStringList>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceEntry.h"
#include "device/ImageDevice.h"
#include "device/SectorDevice.h"
#include "ui/DeviceSource.h"
#include "ui/QtProgressBar.h"
#include "ui/QtStatusText.h"

class QComboBox;
class QFileDialog;
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
// "vorn", the two filters shown by their descriptions only.
std::unique_ptr<QFileDialog> NewRoutineFileDialog(QWidget* owner);

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

  QComboBox* DeviceCombo() const;
  CControlList* RoutineList() const;
  QLineEdit* StatusField() const;
  QProgressBar* ProgressBar() const;
  QPushButton* Button(const char* objectName) const;

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

  void contextMenuEvent(QContextMenuEvent* event) override;

 public:
  void reject() override;  // escape and the close box
  void accept() override;  // "Exit"

 private:
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

  void ImportWorker(DeviceChoice choice, std::vector<std::string> paths);
  void SetImporting(bool importing);

  std::unique_ptr<Ui::ManagerDlg> m_ui;
  std::unique_ptr<CDeviceSource> m_source;
  std::vector<DeviceEntry> m_drives;
  std::vector<DeviceEntry> m_units;
  std::vector<DeviceEntry> m_images;
  CQtStatusText m_statusText;
  CQtProgressBar m_progressBar;
  CHotplugMonitor* m_hotplug = nullptr;

  std::thread m_worker;
  std::atomic<bool> m_workerFinished{false};
  bool m_refreshWhenDone = false;
  bool m_closeWhenDone = false;
  int m_closeResult = 0;
  std::string m_lastEnumerationError;
};

}  // namespace vorn
