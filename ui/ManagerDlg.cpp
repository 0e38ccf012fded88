#include "ui/ManagerDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QTimer>

#include <cstdio>

#include "device/DriveAccess.h"
#include "disk/VornDisk.h"
#include "platform/MessageBox.h"
#include "ui/AboutDlg.h"
#include "ui/ControlList.h"
#include "ui/DialogUnitLayout.h"
#include "ui/DialogUnits.h"
#include "ui/HotplugMonitor.h"
#include "ui/ManagerActions.h"
#include "ui/PreviewWindow.h"
#include "ui/RoutineDropFilter.h"
#include "ui/UiResources.h"
#include "ui_ManagerDlg.h"

namespace vorn {
namespace {

constexpr const char* kImageFilter = "Disk images (*.img);;All files (*)";

}  // namespace

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
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  ScaleToDialogFont(this);
  // The layout is drawn for this size; the window may grow from it, never shrink.
  setMinimumSize(size());
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  m_layout = new CDialogUnitLayout(this);
  using Follow = CDialogUnitLayout::Follow;
  m_layout->Place(m_ui->m_deviceCombo, Follow::kWidth);
  m_layout->Place(m_ui->m_refreshButton, Follow::kRight);
  m_layout->Place(m_ui->m_openImageButton, Follow::kRight);
  m_layout->Place(m_ui->m_routineList, Follow::kBoth);
  m_layout->Place(m_ui->m_diskInfoLabel, Follow::kBottomWidth);
  m_layout->Place(m_ui->m_statusEdit, Follow::kBottom);
  m_layout->Place(m_ui->m_progressBar, Follow::kBottomWidth);
  m_layout->Place(m_ui->m_cancelButton, Follow::kBottomRight);
  // The bottom row keeps its buttons spread over the width.
  QWidget* const row[] = {m_ui->m_addButton, m_ui->m_removeButton, m_ui->m_formatButton, m_ui->m_exitButton};
  for (int i = 0; i < 4; ++i) m_layout->Place(row[i], Follow::kSpread, i, 3);
  // The Cancel button takes the end of the bar's row while it shows.
  m_layout->EndBefore(m_ui->m_progressBar, m_ui->m_cancelButton, m_ui->m_statusEdit);
  setSizeGripEnabled(true);

  m_ui->m_deviceCombo->setModel(&m_disks);
  m_ui->m_deviceCombo->setPlaceholderText(QStringLiteral("Pick a disk"));
  CControlList* list = m_ui->m_routineList;
  m_routines.ShowIn(list, font());
  new CRoutineDropFilter(list->viewport(),
                         [this] { return !IsBusy() && Selected().kind != DiskKind::kNone; },
                         [this](const QStringList& files) { ImportFiles(files); },
                         [this](int from, int to) { MoveRoutine(*this, from, to); });

  m_actions = new CManagerActions(this);
  CManagerActions& a = *m_actions;
  CManagerActions::Bind(m_ui->m_refreshButton, a.refresh);
  CManagerActions::Bind(m_ui->m_openImageButton, a.openImage);
  CManagerActions::Bind(m_ui->m_addButton, a.add);
  CManagerActions::Bind(m_ui->m_removeButton, a.remove);
  CManagerActions::Bind(m_ui->m_formatButton, a.format);
  CManagerActions::Bind(m_ui->m_exitButton, a.exit);
  CManagerActions::Bind(m_ui->m_cancelButton, a.cancel);
  connect(a.refresh, &QAction::triggered, this, [this] {
    m_mountedKept.clear();
    m_pendingKept.clear();
    RefreshDevices();
  });
  connect(a.openImage, &QAction::triggered, this, [this] {
    if (IsBusy()) return;
    const QString path = AskForPath(PathQuestion::kOpenImage, QString());
    if (path.isEmpty()) return;
    RememberFolder(path);
    OpenDiskImage(path);
  });
  connect(a.add, &QAction::triggered, this, [this] {
    if (IsBusy() || Selected().kind == DiskKind::kNone) return;
    const QStringList files = AskForRoutineFiles();
    if (files.isEmpty()) return;
    RememberFolder(files.front());
    ImportFiles(files);
  });
  connect(a.remove, &QAction::triggered, this, [this] { RemoveLastRoutine(*this); });
  connect(a.format, &QAction::triggered, this, [this] { FormatDisk(*this); });
  connect(a.check, &QAction::triggered, this, [this] { CheckSelectedDisk(*this); });
  connect(a.exit, &QAction::triggered, this, &CManagerDlg::accept);
  connect(a.cancel, &QAction::triggered, this, &CManagerDlg::OnCancel);
  connect(a.backup, &QAction::triggered, this, &CManagerDlg::BackupDisk);
  connect(a.restore, &QAction::triggered, this, &CManagerDlg::RestoreDisk);
  connect(a.exportRoutine, &QAction::triggered, this, [this] { ExportRoutine(m_actions->exportRoutine->data().toInt()); });
  connect(a.writeOthers, &QAction::triggered, this, &CManagerDlg::WriteToOtherDisks);
  connect(a.about, &QAction::triggered, this, &CManagerDlg::ShowAbout);
  ConnectEdits(*this, a, list);
  // Enter on a grid row opens its preview; elsewhere Enter keeps its meaning.
  OpenPreviewOnEnter(list, a.preview);
  connect(a.preview, &QAction::triggered, this, [this, list] {
    bool fromMenu = false;
    int at = m_actions->preview->data().toInt(&fromMenu);
    m_actions->preview->setData(QVariant());
    if (!fromMenu) at = list->SelectedRows().size() == 1 ? list->SelectedRows().front() : -1;
    OpenPreview(*this, this, at);
  });
  connect(list, &CControlList::DoubleClickNotify, this, [this](int at, int) { OpenPreview(*this, this, at); });
  connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CManagerDlg::UpdateActions);

  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
    const QModelIndex index = list->indexAt(at);
    m_actions->GridMenu(this, index.isValid() ? index.row() : -1)->exec(list->viewport()->mapToGlobal(at));
  });
  connect(m_ui->m_deviceCombo, &QComboBox::currentIndexChanged, this, [this] {
    m_disks.ForgetLost();  // the user has chosen
    m_mountedKept.clear();
    m_pendingKept.clear();
    // The bar's last words were about the disk before.
    m_ui->m_progressBar->setRange(0, 1);
    m_ui->m_progressBar->setValue(0);
    m_ui->m_progressBar->setTextVisible(false);
    m_ui->m_progressBar->setAccessibleDescription(QString());
    // Chosen while the disk before is still being read: read once that ends.
    if (!m_runner.HoldDeviceChange()) RefreshRoutines();
  });

  connect(&m_runner, &CDiskActionRunner::BusyChanged, this, [this](bool busy) {
    UpdateActions();
    // An action may change the disk under an open preview: it lets go first.
    if (busy && m_runner.What() != "read") {
      for (CPreviewWindow* preview : findChildren<CPreviewWindow*>()) {
        preview->ReleaseDisk(QStringLiteral("The main window is working on the disk; the preview stopped reading it."));
      }
    }
    if (busy) {
      setCursor(Qt::WaitCursor);
      // The button under the hand keeps the arrow: it is the one to press.
      m_ui->m_cancelButton->setCursor(Qt::ArrowCursor);
    } else {
      unsetCursor();
    }
  });
  connect(&m_runner, &CDiskActionRunner::CancelRequested, this, [this] {
    UpdateActions();
    m_ui->m_progressBar->setFormat(QStringLiteral("Cancelling..."));
    m_ui->m_progressBar->setTextVisible(true);
  });
  // Device changes that came while the window was busy, now that it is not.
  connect(&m_runner, &CDiskActionRunner::Idle, this, [this] {
    if (m_runner.TakeHeldChange()) RefreshDevices();
  });

  m_hotplug = new CHotplugMonitor(this);
  connect(m_hotplug, &CHotplugMonitor::DevicesChanged, this, &CManagerDlg::OnDeviceChange);

  RefreshDevices();
}

// The previews read the disk through this window's device source: they go
// first, while it still lives.
CManagerDlg::~CManagerDlg() { qDeleteAll(findChildren<CPreviewWindow*>()); }

QComboBox* CManagerDlg::DeviceCombo() const { return m_ui->m_deviceCombo; }
CControlList* CManagerDlg::RoutineList() const { return m_ui->m_routineList; }
QLineEdit* CManagerDlg::StatusField() const { return m_ui->m_statusEdit; }
QProgressBar* CManagerDlg::ProgressBar() const { return m_ui->m_progressBar; }
QLabel* CManagerDlg::DiskInfo() const { return m_ui->m_diskInfoLabel; }
QPushButton* CManagerDlg::Button(const char* objectName) const {
  return findChild<QPushButton*>(QString::fromLatin1(objectName));
}

DiskRecord CManagerDlg::Selected() const { return m_disks.Record(m_ui->m_deviceCombo->currentIndex()); }

std::unique_ptr<CSectorDevice> CManagerDlg::GetSelectedDevice(ImageAccess access) {
  const DiskRecord disk = Selected();
  std::unique_ptr<CSectorDevice> device;
  switch (disk.kind) {
    case DiskKind::kNone: return nullptr;
    case DiskKind::kDrive:
      device = m_source->NewDriveDevice();
      if (auto* drive = dynamic_cast<CDriveAccess*>(device.get())) drive->SetAccess(access);
      break;
    case DiskKind::kUnit: device = m_source->NewUnitDevice(); break;
    case DiskKind::kImage: device = std::make_unique<CImageDevice>(std::string{}, true, access); break;
  }
  device->Open(disk.entry);
  return device;
}

void CManagerDlg::RebuildList() {
  QComboBox* combo = m_ui->m_deviceCombo;
  // The selection is remembered by its disk's text, before the list changes.
  const QString remembered = m_disks.Remembered(combo->currentIndex());
  const bool hadDisks = combo->count() > 0;
  std::string enumerationError;
  {
    const QSignalBlocker quiet(combo);
    enumerationError = m_disks.Rebuild(*m_source, m_openedImages);
    combo->setCurrentIndex(m_disks.RowToSelect(remembered, hadDisks));
  }
  if (!remembered.isEmpty() && combo->currentIndex() < 0) {
    m_disks.SetLost(remembered);
    m_ui->m_statusEdit->setText(remembered + QStringLiteral(" is gone; pick a disk"));
  } else {
    m_disks.ForgetLost();
  }
  if (!enumerationError.empty()) ShowMessageBox(enumerationError);
}

void CManagerDlg::RefreshDevices() {
  if (m_runner.HoldDeviceChange() || !m_runner.Begin("read")) return;
  RebuildList();
  ReadAgain([this] { EndReading(); });
}

void CManagerDlg::RefreshRoutines() {
  if (!m_runner.Begin("read")) return;
  ReadAgain([this] { EndReading(); });
}

void CManagerDlg::EndReading() {
  const bool closing = m_runner.IsStopping();
  m_runner.End();
  if (std::exchange(m_editPending, false) && !closing) FinishInterruptedEdit(*this);
}

void CManagerDlg::OnDeviceChange() {
  // What runs holds the selected disk; the lists are rebuilt once it lets go:
  // rebuilt under it, the disk it holds open would be opened a second time
  // (and refused as in use).
  if (!m_runner.HoldDeviceChange()) RefreshDevices();
}

void CManagerDlg::ReadAgain(std::function<void()> then) {
  if (m_runner.TakeHeldChange()) RebuildList();
  const DiskRecord disk = Selected();
  m_routines.SetEntries({});
  if (disk.kind == DiskKind::kNone) {
    ShowDiskState(m_ui->m_deviceCombo->count() == 0 ? QStringLiteral("No disk found")
                                                    : QStringLiteral("No disk selected"),
                  QString());
    return then();
  }
  if (disk.kind == DiskKind::kDrive && disk.entry.text == m_mountedKept) {
    ShowDiskState(QStringLiteral("The card is mounted: Refresh asks again to unmount it"), QString());
    return then();
  }
  ReadDisk(*this, disk, [this, disk, then](const DiskReading& reading) {
    ShowReading(disk, reading);
    then();
  });
}

void CManagerDlg::ShowReading(const DiskRecord& disk, const DiskReading& reading) {
  if (!reading.opened) return ShowDiskState(QStringLiteral("The disk cannot be opened"), QString());
  m_routines.SetEntries(reading.table);
  m_editPending = reading.editPending && disk.entry.text != m_pendingKept;
  // Items show their entry's text until the disk, opened, tells more about itself.
  if (disk.kind != DiskKind::kDrive && reading.sectors != 0) {
    char size[32];
    std::snprintf(size, sizeof size, "(%.2fMB)", static_cast<double>(reading.sectors) * kSectorSize / 1048576.0);
    std::string details = size;
    if (!reading.model.empty()) details += " " + reading.model;
    m_disks.SetShown(m_disks.RowOf(disk), QString::fromLocal8Bit(disk.entry.text + " " + details));
  }
  if (!reading.read) {
    ShowDiskState(QStringLiteral("The disk cannot be read"), QString());
  } else if (!reading.formatted) {
    ShowDiskState(DiskSpaceText(false, 0, reading.sectors, 0), QStringLiteral("Not formatted"));
  } else {
    ShowDiskState(DiskSpaceText(true, reading.table.size(), reading.sectors, reading.usedSectors),
                  reading.table.empty() ? QStringLiteral("No routines") : QString());
  }
}

void CManagerDlg::ShowDiskState(const QString& info, const QString& placeholder) {
  m_ui->m_diskInfoLabel->setText(info);
  m_ui->m_routineList->SetPlaceholderText(placeholder);
}

void CManagerDlg::ShowEnd(const QString& text, bool succeeded) {
  m_ui->m_statusEdit->setText(text);
  m_ui->m_statusEdit->setCursorPosition(0);
  m_ui->m_statusEdit->setToolTip(text);
  QProgressBar* bar = m_ui->m_progressBar;
  bar->setRange(0, 1);
  bar->setValue(succeeded ? 1 : 0);
  bar->setFormat(LiteralBarText(text));
  bar->setTextVisible(true);
  bar->setAccessibleDescription(text);
}

void CManagerDlg::UpdateActions() {
  const bool busy = m_runner.IsBusy();
  const std::vector<int> rows = m_ui->m_routineList->SelectedRows();
  m_actions->Enable(busy, Selected().kind != DiskKind::kNone, m_runner.IsCancellable(), m_runner.IsCancelled(),
                    {static_cast<int>(rows.size()), rows.empty() ? -1 : rows.front(), m_routines.rowCount()});
  // Reading a disk's table is quick and leaves the disk list and the grid to
  // the user (a choice made meanwhile is read next); an action does not.
  const bool acting = busy && m_runner.What() != "read";
  m_ui->m_deviceCombo->setEnabled(!acting);
  m_ui->m_routineList->SetBusy(acting);
}

void CManagerDlg::OnCancel() { m_runner.Cancel(); }

QStringList CManagerDlg::AskForRoutineFiles() {
  const std::unique_ptr<QFileDialog> dialog = NewRoutineFileDialog(this, m_lastFolder);
  if (dialog->exec() != QDialog::Accepted) return {};
  return dialog->selectedFiles();
}

QString CManagerDlg::AskForPath(PathQuestion question, const QString& suggestion) {
  const QString start = m_lastFolder.isEmpty() ? suggestion : m_lastFolder + '/' + suggestion;
  switch (question) {
    case PathQuestion::kOpenImage:
      return QFileDialog::getOpenFileName(this, QStringLiteral("Open disk image"), m_lastFolder,
                                          QString::fromLatin1(kImageFilter));
    case PathQuestion::kReplaceSource:
      return QFileDialog::getOpenFileName(this, QStringLiteral("Replace routine"), m_lastFolder,
                                          QStringLiteral("VORN v3.0 (.vorn) (*.vorn)"));
    case PathQuestion::kRestoreSource:
      return QFileDialog::getOpenFileName(this, QStringLiteral("Restore disk from backup"),
                                          m_lastFolder, QString::fromLatin1(kImageFilter));
    case PathQuestion::kBackupTarget:
      return QFileDialog::getSaveFileName(this, QStringLiteral("Back up disk"), start,
                                          QString::fromLatin1(kImageFilter));
    case PathQuestion::kExportTarget:
      return QFileDialog::getSaveFileName(this, QStringLiteral("Export routine"), start,
                                          QStringLiteral("VORN v3.0 (.vorn) (*.vorn)"));
  }
  return {};
}

void CManagerDlg::SelectRows(const std::vector<int>& rows) { m_ui->m_routineList->SelectRows(rows); }

void CManagerDlg::RememberFolder(const QString& file) {
  if (!file.isEmpty()) m_lastFolder = QFileInfo(file).absolutePath();
}

void CManagerDlg::OfferImage(const std::string& path) {
  bool known = false;
  for (const std::string& opened : m_openedImages) known = known || opened == path;
  if (!known) m_openedImages.push_back(path);
  m_disks.Prefer(QString::fromLocal8Bit(path));
  RefreshDevices();
}

void CManagerDlg::OpenDiskImage(const QString& path) { vorn::OpenDiskImage(*this, path); }
void CManagerDlg::ImportFiles(const QStringList& files) { ImportRoutines(*this, files); }
void CManagerDlg::BackupDisk() { vorn::BackupDisk(*this); }
void CManagerDlg::RestoreDisk() { vorn::RestoreDisk(*this); }
void CManagerDlg::ExportRoutine(int row) { vorn::ExportRoutine(*this, row); }
void CManagerDlg::WriteToOtherDisks() { vorn::WriteToOtherDisks(*this, m_disks, this); }

void CManagerDlg::StopAndClose() {
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this) {
    modal->close();
    // Again once the question's own event loop has returned to the caller (a
    // dialog that is writing closes only when its work has cancelled: a
    // moment later, not in a spin).
    QTimer::singleShot(20, this, &CManagerDlg::StopAndClose);
    return;
  }
  m_runner.CloseWhenDone([this] { done(QDialog::Rejected); }, /*ask=*/false);
}

// Closing while an action runs asks whether to cancel it when it can stop,
// and then waits for it, rather than pulling the disk from under it.
void CManagerDlg::reject() {
  m_runner.CloseWhenDone([this] { QDialog::reject(); }, /*ask=*/true);
}

void CManagerDlg::accept() {
  m_runner.CloseWhenDone([this] { QDialog::accept(); }, /*ask=*/true);
}

void CManagerDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CManagerDlg::contextMenuEvent(QContextMenuEvent* event) {
  m_actions->WindowMenu(this)->exec(event->globalPos());
}

bool CManagerDlg::event(QEvent* event) {
  // Another program may have changed the disk while the window was in the
  // background: coming back to it reads the table again, once nothing runs.
  if (event->type() == QEvent::WindowDeactivate) m_wasInBackground = true;
  if (event->type() == QEvent::WindowActivate && std::exchange(m_wasInBackground, false)) {
    QMetaObject::invokeMethod(this, [this] {
      if (!IsBusy()) RefreshRoutines();
    }, Qt::QueuedConnection);
  }
  return QDialog::event(event);
}

}  // namespace vorn
