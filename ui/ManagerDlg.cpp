#include "ui/ManagerDlg.h"

#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QShortcut>
#include <QSignalBlocker>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "device/VerifyingDevice.h"
#include "disk/DiskText.h"
#include "disk/RoutineCells.h"
#include "disk/VornDisk.h"
#include "platform/MessageBox.h"
#include "ui/AboutDlg.h"
#include "ui/ControlList.h"
#include "ui/DialogUnits.h"
#include "ui/UiResources.h"
#include "ui/HotplugMonitor.h"
#include "ui/UiThread.h"
#include "ui_ManagerDlg.h"

namespace vorn {
namespace {

constexpr const char* kAskFormatValid = "Are you sure you want to format the disk?";
constexpr const char* kAskFormatInvalid =
    "This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\nDo you wish to "
    "continue?";
constexpr const char* kAskRemoveLast = "Are you sure you want to remove the last track?";
constexpr const char* kRoutineFilter = "VORN v3.0 (.vorn)|*.vorn|All Files (*.*)|*.*|";

// Runs one step of a user action. A failure is shown in a box with its message
// and ends the step; the caller then does its normal clean-up.
template <class Step>
bool ShowingErrors(Step&& step) {
  const std::optional<std::string> failure = FailureOf(std::forward<Step>(step));
  if (failure) ShowMessageBox(*failure);
  return !failure;
}

void CloseQuietly(CSectorDevice* device) {
  if (!device) return;
  try {
    device->Close();
  } catch (...) {
    // Releasing a unit that has gone away fails; nothing is left to release.
  }
}

// Opening a drive may wait minutes for udisks2 and its password dialog, and may
// ask whether to unmount the card: the window keeps painting and serving boxes
// meanwhile, but takes no input, so no second action starts under this one.
void OpenOffUiThread(CSectorDevice& device, const DeviceEntry& entry) {
  std::atomic<bool> done{false};
  std::exception_ptr failure;
  std::thread opener([&] {
    try {
      device.Open(entry);
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);  // wake the loop
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
  }
  opener.join();
  if (failure) std::rethrow_exception(failure);
}

// Reads back what an action wrote to a drive or unit; a demo image is a file.
void VerifyWritten(CVerifyingDevice& verifier, bool isImage, CStatusText& status, CProgressBar& progress) {
  if (isImage || verifier.PendingSectors() == 0) return;
  status.SetText("Verifying");
  verifier.Verify(&progress);
  status.SetText("Ready");
}

std::vector<DeviceEntry> DemoImageEntries() {
  std::vector<DeviceEntry> entries;
  const char* list = std::getenv("VORN_DEMO_IMAGE");
  if (!list) return entries;
  for (const QString& path : QString::fromLocal8Bit(list).split(':', Qt::SkipEmptyParts)) {
    entries.push_back(CImageDevice::EntryFor(QFile::encodeName(path).toStdString()));
  }
  return entries;
}

}  // namespace

QStringList NameFiltersFromPairs(const QString& pairs) {
  QStringList filters;
  const QStringList parts = pairs.split('|');
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    const QString patterns = parts[i + 1].trimmed();
    if (description.isEmpty() && patterns.isEmpty()) break;
    QStringList qtPatterns;
    for (const QString& pattern : patterns.split(';', Qt::SkipEmptyParts)) {
      // "*.*" means every file to the dialogs this filter comes from; on Linux
      // many names have no dot.
      qtPatterns << (pattern.trimmed() == "*.*" ? QStringLiteral("*") : pattern.trimmed());
    }
    // Qt reads the patterns from the last parentheses; the description before
    // them is kept whole, so that a dialog hiding the details shows it as written.
    filters << description + " (" + qtPatterns.join(' ') + ")";
  }
  return filters;
}

std::unique_ptr<QFileDialog> NewRoutineFileDialog(QWidget* owner) {
  auto dialog = std::make_unique<QFileDialog>(owner);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFiles);
  dialog->setDefaultSuffix(QStringLiteral("vorn"));
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setNameFilters(NameFiltersFromPairs(QString::fromLatin1(kRoutineFilter)));
  return dialog;
}

CManagerDlg::CManagerDlg(std::unique_ptr<CDeviceSource> source, QWidget* parent)
    : QDialog(parent),
      m_ui(std::make_unique<Ui::ManagerDlg>()),
      m_source(std::move(source)),
      m_statusText(nullptr),
      m_progressBar(nullptr) {
  InitUiResources();
  UseDialogFont(this);
  m_ui->setupUi(this);
  m_statusText = CQtStatusText(m_ui->m_statusEdit);
  m_progressBar = CQtProgressBar(m_ui->m_progressBar);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  ScaleToDialogFont(this);

  QStringList titles;
  QVector<int> widths;
  // The column widths are pixels at the 8-point design font; they grow with the
  // font like the list does, so the titles stay readable on larger desktop fonts.
  for (const RoutineColumn& column : RoutineColumns()) {
    titles << QString::fromLatin1(column.name);
    widths << ScaleWidth(column.width, font());
  }
  m_ui->m_routineList->SetColumns(titles, widths);

  connect(m_ui->m_deviceCombo, &QComboBox::currentIndexChanged, this,
          [this] { RefreshRoutines(); });
  connect(m_ui->m_refreshButton, &QPushButton::clicked, this, &CManagerDlg::OnRefresh);
  connect(m_ui->m_addButton, &QPushButton::clicked, this, &CManagerDlg::OnAddRoutine);
  connect(m_ui->m_removeButton, &QPushButton::clicked, this, &CManagerDlg::OnRemoveLastRoutine);
  connect(m_ui->m_formatButton, &QPushButton::clicked, this, &CManagerDlg::OnFormatDisk);
  connect(m_ui->m_exitButton, &QPushButton::clicked, this, &CManagerDlg::accept);
  connect(this, &CManagerDlg::ImportDone, this, &CManagerDlg::OnImportDone, Qt::QueuedConnection);

  // There is no system menu to extend on Linux desktops: the about box is on the
  // window's context menu and on F1.
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, &CManagerDlg::ShowAbout);

  m_hotplug = new CHotplugMonitor(this);
  connect(m_hotplug, &CHotplugMonitor::DevicesChanged, this, &CManagerDlg::OnDeviceChange);

  RefreshDevices();
}

CManagerDlg::~CManagerDlg() {
  // The window normally ends only after its import (closing waits for it). If it
  // is destroyed anyway, keep serving the worker's boxes until it has finished.
  while (m_worker.joinable() && !m_workerFinished.load()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  if (m_worker.joinable()) m_worker.join();
}

QComboBox* CManagerDlg::DeviceCombo() const { return m_ui->m_deviceCombo; }
CControlList* CManagerDlg::RoutineList() const { return m_ui->m_routineList; }
QLineEdit* CManagerDlg::StatusField() const { return m_ui->m_statusEdit; }
QProgressBar* CManagerDlg::ProgressBar() const { return m_ui->m_progressBar; }
QPushButton* CManagerDlg::Button(const char* objectName) const {
  return findChild<QPushButton*>(QString::fromLatin1(objectName));
}

CManagerDlg::DeviceChoice CManagerDlg::SelectedChoice() const {
  const int i = m_ui->m_deviceCombo->currentIndex();
  if (i < 0) return {};
  auto index = static_cast<std::size_t>(i);
  if (index < m_drives.size()) return {DeviceKind::kDrive, m_drives[index]};
  index -= m_drives.size();
  if (index < m_units.size()) return {DeviceKind::kUnit, m_units[index]};
  index -= m_units.size();
  if (index < m_images.size()) return {DeviceKind::kImage, m_images[index]};
  return {};
}

std::unique_ptr<CSectorDevice> CManagerDlg::OpenDevice(const DeviceChoice& choice, ImageAccess access) const {
  std::unique_ptr<CSectorDevice> device;
  switch (choice.kind) {
    case DeviceKind::kNone: return nullptr;
    case DeviceKind::kDrive: device = m_source->NewDriveDevice(); break;
    case DeviceKind::kUnit: device = m_source->NewUnitDevice(); break;
    case DeviceKind::kImage: device = std::make_unique<CImageDevice>(std::string{}, true, access); break;
  }
  if (choice.kind == DeviceKind::kDrive && IsUiThread()) {
    OpenOffUiThread(*device, choice.entry);
  } else {
    device->Open(choice.entry);
  }
  return device;
}

std::unique_ptr<CSectorDevice> CManagerDlg::GetSelectedDevice(ImageAccess access) {
  return OpenDevice(SelectedChoice(), access);
}

void CManagerDlg::RefreshDevices() {
  m_source->FreeUnitEntries(m_units);
  m_drives.clear();
  m_source->EnumerateDrives(m_drives);
  // A unit that cannot be opened ends the unit walk; the units found before it
  // are still offered. The same failure is reported once, not on every refresh
  // that a flapping unit triggers.
  std::string enumerationError;
  try {
    m_source->EnumerateUnits(m_units);
  } catch (const CUsbDeviceException& e) {
    enumerationError = e.GetMessage();
  }
  m_images = DemoImageEntries();

  QComboBox* combo = m_ui->m_deviceCombo;
  const QString remembered = combo->currentText();
  {
    const QSignalBlocker quiet(combo);
    combo->clear();
    for (const auto* list : {&m_drives, &m_units, &m_images}) {
      for (const DeviceEntry& entry : *list) combo->addItem(QString::fromLocal8Bit(entry.text));
    }
    int select = -1;
    for (int i = 0; i < combo->count(); ++i) {
      if (combo->itemText(i) == remembered) select = i;
    }
    combo->setCurrentIndex(select >= 0 ? select : (combo->count() > 0 ? 0 : -1));
  }

  const bool report = !enumerationError.empty() && enumerationError != m_lastEnumerationError;
  m_lastEnumerationError = enumerationError;
  if (report) ShowMessageBox(enumerationError);

  RefreshRoutines();
}

void CManagerDlg::RefreshRoutines() {
  // While an import runs, the worker owns the selected disk.
  if (IsImporting()) return;
  std::unique_ptr<CSectorDevice> device;
  ShowingErrors([&] { device = GetSelectedDevice(); });

  CControlList* list = m_ui->m_routineList;
  list->setUpdatesEnabled(false);
  list->DeleteAllRows();
  if (device) {
    CVornDisk disk(*device, &m_statusText);
    ShowingErrors([&] {
      const std::vector<RoutineEntry>& table = disk.ReadTable();
      for (std::size_t k = 0; k < table.size(); ++k) {
        const auto texts = RoutineCellTexts(table[k]);
        for (std::size_t column = 0; column < texts.size(); ++column) {
          list->SetCellText(static_cast<int>(k), static_cast<int>(column),
                            QString::fromStdString(DiskTextToUtf8(texts[column])));
        }
      }
    });
    CloseQuietly(device.get());
  }
  list->setUpdatesEnabled(true);
}

void CManagerDlg::OnRefresh() {
  RefreshDevices();
  RefreshRoutines();
}

void CManagerDlg::OnFormatDisk() {
  if (IsImporting()) return;
  std::unique_ptr<CSectorDevice> device;
  const bool isImage = SelectedChoice().kind == DeviceKind::kImage;
  if (!ShowingErrors([&] { device = GetSelectedDevice(ImageAccess::kWrite); }) || !device) return;
  CVerifyingDevice verifier(*device);
  CVornDisk disk(verifier, &m_statusText);
  ShowingErrors([&] {
    disk.ReadTable();
    if (!AskYesNo(disk.IsValid() ? kAskFormatValid : kAskFormatInvalid)) return;
    disk.Format();
    VerifyWritten(verifier, isImage, m_statusText, m_progressBar);
  });
  CloseQuietly(device.get());
  RefreshRoutines();
}

void CManagerDlg::OnRemoveLastRoutine() {
  if (IsImporting()) return;
  if (!AskYesNo(kAskRemoveLast)) return;
  std::unique_ptr<CSectorDevice> device;
  if (!ShowingErrors([&] { device = GetSelectedDevice(ImageAccess::kWrite); }) || !device) return;
  CVornDisk disk(*device, &m_statusText);
  ShowingErrors([&] {
    disk.ReadTable();
    disk.RemoveLastRoutine();
  });
  CloseQuietly(device.get());
  RefreshRoutines();
}

QStringList CManagerDlg::AskForRoutineFiles() {
  const std::unique_ptr<QFileDialog> dialog = NewRoutineFileDialog(this);
  if (dialog->exec() != QDialog::Accepted) return {};
  return dialog->selectedFiles();
}

void CManagerDlg::OnAddRoutine() {
  if (IsImporting()) return;
  const QStringList files = AskForRoutineFiles();
  if (files.isEmpty()) return;
  std::vector<std::string> paths;
  for (const QString& file : files) paths.push_back(QFile::encodeName(file).toStdString());

  // The worker gets the selection as it is now; the lists may be rebuilt later.
  DeviceChoice choice = SelectedChoice();
  SetImporting(true);
  m_workerFinished = false;
  m_worker = std::thread(&CManagerDlg::ImportWorker, this, std::move(choice), std::move(paths));
}

void CManagerDlg::ImportWorker(DeviceChoice choice, std::vector<std::string> paths) {
  std::unique_ptr<CSectorDevice> device;
  if (ShowingErrors([&] { device = OpenDevice(choice, ImageAccess::kWrite); }) && device) {
    CVerifyingDevice verifier(*device);
    CVornDisk disk(verifier, &m_statusText);
    ShowingErrors([&] {
      disk.ReadTable();
      // The table in memory is empty then, so the first routine lands at sector
      // 1 and the first table write formats the disk.
      if (!disk.IsValid() && !AskYesNo(kAskFormatInvalid)) return;
      for (const std::string& path : paths) disk.AddRoutine(path, &m_progressBar);
      VerifyWritten(verifier, choice.kind == DeviceKind::kImage, m_statusText, m_progressBar);
    });
    CloseQuietly(device.get());
  }
  device.reset();
  m_workerFinished = true;
  emit ImportDone();
}

void CManagerDlg::SetImporting(bool importing) {
  // "Format disk" too: a format under a running import would cut the table from
  // under the routine being written.
  for (QWidget* control :
       std::initializer_list<QWidget*>{m_ui->m_deviceCombo, m_ui->m_refreshButton,
                                       m_ui->m_routineList, m_ui->m_addButton,
                                       m_ui->m_removeButton, m_ui->m_formatButton,
                                       m_ui->m_exitButton}) {
    control->setEnabled(!importing);
  }
  if (importing) {
    setCursor(Qt::WaitCursor);
  } else {
    unsetCursor();
  }
}

void CManagerDlg::OnImportDone() {
  if (m_worker.joinable()) m_worker.join();
  SetImporting(false);
  if (m_refreshWhenDone) {
    m_refreshWhenDone = false;
    RefreshDevices();
  } else {
    RefreshRoutines();
  }
  if (m_closeWhenDone) {
    m_closeWhenDone = false;
    done(m_closeResult);
  }
}

void CManagerDlg::OnDeviceChange() {
  // The worker holds the selected disk; rebuild the lists once it lets go.
  if (IsImporting()) {
    m_refreshWhenDone = true;
    return;
  }
  RefreshDevices();
}

void CManagerDlg::reject() {
  // Closing waits for a running import instead of pulling the disk from under it.
  if (IsImporting()) {
    m_closeWhenDone = true;
    m_closeResult = QDialog::Rejected;
    return;
  }
  QDialog::reject();
}

void CManagerDlg::accept() {
  if (IsImporting()) {
    m_closeWhenDone = true;
    m_closeResult = QDialog::Accepted;
    return;
  }
  QDialog::accept();
}

void CManagerDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CManagerDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("&About VORN3 Manager..."), this, &CManagerDlg::ShowAbout);
  menu.exec(event->globalPos());
}

}  // namespace vorn
