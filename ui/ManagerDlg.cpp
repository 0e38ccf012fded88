#include "ui/ManagerDlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "device/DeviceExceptions.h"
#include "device/DriveAccess.h"
#include "device/ImageDevice.h"
#include "device/UsbDevice.h"
#include "device/VerifyingDevice.h"
#include "disk/DiskText.h"
#include "disk/ImageCheck.h"
#include "disk/RoutineCells.h"
#include "disk/VornDisk.h"
#include "platform/MessageBox.h"
#include "ui/AboutDlg.h"
#include "ui/ControlList.h"
#include "ui/DialogUnits.h"
#include "ui/DiskFileActions.h"
#include "ui/HotplugMonitor.h"
#include "ui/ImportProgress.h"
#include "ui/UiResources.h"
#include "ui/UiThread.h"
#include "ui_ManagerDlg.h"

namespace vorn {
namespace {

// Counts what runs for as long as the scope lasts.
struct CountedScope {
  int& count;
  explicit CountedScope(int& c) : count(c) { ++count; }
  ~CountedScope() { --count; }
  CountedScope(const CountedScope&) = delete;
  CountedScope& operator=(const CountedScope&) = delete;
};

constexpr const char* kAskFormatValid = "Are you sure you want to format the disk?";
constexpr const char* kAskFormatInvalid =
    "This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\nDo you wish to "
    "continue?";
constexpr const char* kAskRemoveLast = "Are you sure you want to remove the last track?";
constexpr const char* kRoutineFilter = "VORN v3.0 (.vorn)|*.vorn|All Files (*.*)|*.*|";
constexpr const char* kImageFilter = "Disk images (*.img);;All files (*)";
constexpr std::size_t kTitlesNamed = 8;  // a question names this many routines, then counts the rest

void ReportError(const std::string& text, const std::string& detail, std::string* message) {
  ShowMessage(MessageRequest{text, kAppName, MessageIcon::kNone, MessageButtons::kOk, detail});
  if (message) *message = text;
}

// Runs one step of a user action. A failure of the disk, the device or a routine
// file is shown in a box with its message (and `detail`: the disk or the file it
// is about) and ends the step; the caller then does its normal clean-up.
// Anything else that escapes the core (a temporary file that cannot be made,
// memory) is shown the same way rather than ending the program with the user's
// disk half written. A cancelled action is no failure and passes through.
template <class Step>
bool ShowingErrors(Step&& step, const std::string& detail = {}, std::string* message = nullptr) {
  const std::optional<std::string> failure = FailureOf(std::forward<Step>(step));
  if (failure) ReportError(*failure, detail, message);
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

// Runs `work` on a thread of its own while the window keeps painting and
// serving boxes but takes no input, so no second action starts under this one;
// with `takeInput` it does take input (the window has disabled all but Cancel).
// What the thread posted to the window is shown before this returns; what
// `work` threw is thrown here.
void RunOffUiThread(const std::function<void()>& work, bool takeInput = false) {
  std::atomic<bool> done{false};
  std::exception_ptr failure;
  std::thread runner([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] {}, Qt::QueuedConnection);  // wake the loop
  });
  const QEventLoop::ProcessEventsFlags flags =
      takeInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents;
  while (!done) QCoreApplication::processEvents(flags | QEventLoop::WaitForMoreEvents);
  runner.join();
  QCoreApplication::sendPostedEvents();
  if (failure) std::rethrow_exception(failure);
}

// Opening a drive may wait minutes for udisks2 and its password dialog, and may
// ask whether to unmount the card.
void OpenOffUiThread(CSectorDevice& device, const DeviceEntry& entry) {
  RunOffUiThread([&] { device.Open(entry); });
}

// Reads back what an action wrote to a drive or unit; a demo image is a file.
void VerifyWritten(CVerifyingDevice& verifier, bool isImage, CStatusText& status, CProgressBar& progress) {
  if (isImage || verifier.PendingSectors() == 0) return;
  status.SetText("Verifying");
  verifier.Verify(&progress);
  status.SetText("Ready");
}

std::vector<DeviceEntry> ImageEntries(const std::vector<std::string>& opened) {
  std::vector<DeviceEntry> entries;
  if (const char* list = std::getenv("VORN_DEMO_IMAGE")) {
    for (const QString& path : QString::fromLocal8Bit(list).split(':', Qt::SkipEmptyParts)) {
      entries.push_back(CImageDevice::EntryFor(QFile::encodeName(path).toStdString()));
    }
  }
  for (const std::string& path : opened) {
    bool listed = false;
    for (const DeviceEntry& entry : entries) listed = listed || entry.text == path;
    if (!listed) entries.push_back(CImageDevice::EntryFor(path));
  }
  return entries;
}

std::string Plural(std::size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Megabytes(std::uint64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(sectors) * kSectorSize / 1048576.0);
  return text;
}

std::string TitleList(const std::vector<RoutineEntry>& table) {
  std::string titles;
  for (std::size_t k = 0; k < table.size() && k < kTitlesNamed; ++k) {
    titles += (k == 0 ? "" : ", ") + table[k].DisplayTitle();
  }
  if (table.size() > kTitlesNamed) titles += " and " + Plural(table.size() - kTitlesNamed, "more");
  return titles;
}

// The informative text of a question: which disk, and what on it would be lost.
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

// A progress bar's format replaces %p, %v and %m and knows no escape; a title
// or a path holding them keeps its text with an invisible joiner in between.
QString LiteralBarText(QString text) {
  static const QRegularExpression placeholders(QStringLiteral("%([pvm])"));
  return text.replace(placeholders, QStringLiteral("%\u200D\\1"));
}

bool IsRoutineFile(const QString& path) {
  return path.endsWith(QStringLiteral(".vorn"), Qt::CaseInsensitive) && QFileInfo(path).isFile();
}

// The local ".vorn" files among dropped data, in their order.
QStringList DroppedRoutineFiles(const QMimeData* data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile() && IsRoutineFile(url.toLocalFile())) files << url.toLocalFile();
  }
  return files;
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

std::unique_ptr<QFileDialog> NewRoutineFileDialog(QWidget* owner, const QString& folder) {
  auto dialog = std::make_unique<QFileDialog>(owner);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFiles);
  dialog->setDefaultSuffix(QStringLiteral("vorn"));
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setNameFilters(NameFiltersFromPairs(QString::fromLatin1(kRoutineFilter)));
  if (!folder.isEmpty()) dialog->setDirectory(folder);
  return dialog;
}

QString DiskSpaceText(bool formatted, std::size_t routines, std::uint64_t sectors,
                      std::uint64_t usedSectors) {
  std::string text;
  if (!formatted) {
    text = "Not formatted";
    if (sectors != 0) text += " - " + Megabytes(sectors);
    return QString::fromStdString(text);
  }
  text = Plural(routines, "routine");
  if (sectors != 0) {
    // A further routine needs room for itself and for the table that grows behind it.
    const std::uint64_t table = (routines + 1) / kRoutinesPerTableSector + 1;
    const std::uint64_t taken = usedSectors + table;
    text += " - " + Megabytes(sectors) + ", " + Megabytes(sectors > taken ? sectors - taken : 0) + " free";
  }
  return QString::fromStdString(text);
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
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  ScaleToDialogFont(this);
  // The layout is drawn for this size; the window may grow from it, never shrink.
  m_designSize = size();
  setMinimumSize(m_designSize);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  setSizeGripEnabled(true);
  for (QObject* child : children()) {
    if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow()) {
      m_designGeometry.emplace_back(widget, widget->geometry());
    }
  }
  m_ui->m_deviceCombo->setPlaceholderText(QStringLiteral("Pick a disk"));

  QStringList titles;
  QVector<int> widths;
  // The column widths are pixels at the 8-point design font; they grow with the
  // font like the list does, so the titles stay readable on larger desktop fonts.
  for (const RoutineColumn& column : RoutineColumns()) {
    titles << QString::fromLatin1(column.name);
    widths << ScaleWidth(column.width, font());
    m_designColumnWidths.push_back(widths.back());
  }
  m_ui->m_routineList->SetColumns(titles, widths);

  CControlList* list = m_ui->m_routineList;
  list->setAcceptDrops(true);
  list->viewport()->setAcceptDrops(true);
  list->viewport()->installEventFilter(this);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& at) {
    const QModelIndex index = list->indexAt(at);
    QMenu menu(this);
    QAction* exportAction =
        menu.addAction(QStringLiteral("&Export routine..."), this,
                       [this, row = index.row()] { ExportRoutine(row); });
    exportAction->setEnabled(index.isValid() && !IsBusy());
    menu.addSeparator();
    menu.addAction(QStringLiteral("&Back up disk..."), this, &CManagerDlg::BackupDisk)
        ->setEnabled(m_ui->m_formatButton->isEnabled());
    menu.addAction(QStringLiteral("Re&store disk..."), this, &CManagerDlg::RestoreDisk)
        ->setEnabled(m_ui->m_formatButton->isEnabled());
    menu.exec(list->viewport()->mapToGlobal(at));
  });

  connect(m_ui->m_deviceCombo, &QComboBox::currentIndexChanged, this, [this] {
    m_lostText.clear();  // the user has chosen
    m_mountedKept.clear();
    // The bar's last words were about the disk before.
    m_ui->m_progressBar->setRange(0, 1);
    m_ui->m_progressBar->setValue(0);
    m_ui->m_progressBar->setTextVisible(false);
    m_ui->m_progressBar->setAccessibleDescription(QString());
    RefreshRoutines();
  });
  connect(m_ui->m_refreshButton, &QPushButton::clicked, this, &CManagerDlg::OnRefresh);
  connect(m_ui->m_openImageButton, &QPushButton::clicked, this, &CManagerDlg::OnOpenImage);
  connect(m_ui->m_addButton, &QPushButton::clicked, this, &CManagerDlg::OnAddRoutine);
  connect(m_ui->m_removeButton, &QPushButton::clicked, this, &CManagerDlg::OnRemoveLastRoutine);
  connect(m_ui->m_formatButton, &QPushButton::clicked, this, &CManagerDlg::OnFormatDisk);
  connect(m_ui->m_exitButton, &QPushButton::clicked, this, &CManagerDlg::accept);
  connect(m_ui->m_cancelButton, &QPushButton::clicked, this, &CManagerDlg::OnCancel);
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
  // is destroyed anyway, stop the import and keep serving the worker's boxes
  // until it has finished.
  if (m_cancel) m_cancel->Cancel();
  while (m_worker.joinable() && !m_workerFinished.load()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  if (m_worker.joinable()) m_worker.join();
}

QComboBox* CManagerDlg::DeviceCombo() const { return m_ui->m_deviceCombo; }
CControlList* CManagerDlg::RoutineList() const { return m_ui->m_routineList; }
QLineEdit* CManagerDlg::StatusField() const { return m_ui->m_statusEdit; }
QProgressBar* CManagerDlg::ProgressBar() const { return m_ui->m_progressBar; }
QLabel* CManagerDlg::DiskInfo() const { return m_ui->m_diskInfoLabel; }
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

std::string CManagerDlg::ComboText() const {
  return m_ui->m_deviceCombo->currentText().toLocal8Bit().toStdString();
}

QString CManagerDlg::SelectedText() const {
  const DeviceChoice choice = SelectedChoice();
  return choice.kind == DeviceKind::kNone ? QString() : QString::fromLocal8Bit(choice.entry.text);
}

std::unique_ptr<CSectorDevice> CManagerDlg::OpenDevice(const DeviceChoice& choice, ImageAccess access) const {
  std::unique_ptr<CSectorDevice> device;
  switch (choice.kind) {
    case DeviceKind::kNone: return nullptr;
    case DeviceKind::kDrive: device = m_source->NewDriveDevice(); break;
    case DeviceKind::kUnit: device = m_source->NewUnitDevice(); break;
    case DeviceKind::kImage: device = std::make_unique<CImageDevice>(std::string{}, true, access); break;
  }
  try {
    if (choice.kind == DeviceKind::kDrive && IsUiThread()) {
      const CountedScope opening(m_opening);
      OpenOffUiThread(*device, choice.entry);
    } else {
      device->Open(choice.entry);
    }
  } catch (...) {
    const auto* drive = dynamic_cast<const CDriveAccess*>(device.get());
    if (drive != nullptr && drive->UnmountDeclined() && IsUiThread()) m_mountedKept = choice.entry.text;
    throw;
  }
  return device;
}

std::unique_ptr<CSectorDevice> CManagerDlg::GetSelectedDevice(ImageAccess access) {
  return OpenDevice(SelectedChoice(), access);
}

void CManagerDlg::RefreshDevices() {
  const CDeviceChangeHold holding(*this);
  // The selection is remembered by its entry's text, before the lists change.
  QString remembered = m_preferredText.isEmpty() ? SelectedText() : m_preferredText;
  if (remembered.isEmpty()) remembered = m_lostText;  // the user's disk may come back
  m_preferredText.clear();
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
  m_images = ImageEntries(m_openedImages);

  QComboBox* combo = m_ui->m_deviceCombo;
  const bool hadDisks = combo->count() > 0;
  {
    const QSignalBlocker quiet(combo);
    combo->clear();
    for (const auto* list : {&m_drives, &m_units, &m_images}) {
      for (const DeviceEntry& entry : *list) combo->addItem(QString::fromLocal8Bit(entry.text));
    }
    // Items show their entry's text until the disk, opened, tells more about itself.
    int select = -1;
    for (int i = 0; i < combo->count(); ++i) {
      if (combo->itemText(i) == remembered) select = i;
    }
    // The disk the user picked has gone: nothing is selected rather than another
    // disk, so the next action cannot hit a disk the user did not choose. A
    // fresh list (the first, or disks where there were none) starts at the top.
    if (select < 0 && remembered.isEmpty() && !hadDisks && combo->count() > 0) select = 0;
    combo->setCurrentIndex(select);
  }
  if (!remembered.isEmpty() && combo->currentIndex() < 0) {
    m_lostText = remembered;
    m_ui->m_statusEdit->setText(remembered + QStringLiteral(" is gone; pick a disk"));
  } else {
    m_lostText.clear();
  }

  const bool report = !enumerationError.empty() && enumerationError != m_lastEnumerationError;
  m_lastEnumerationError = enumerationError;
  if (report) ShowMessageBox(enumerationError);

  RefreshRoutines();
}

void CManagerDlg::ShowDiskState(const QString& info, const QString& placeholder) {
  m_ui->m_diskInfoLabel->setText(info);
  m_ui->m_routineList->SetPlaceholderText(placeholder);
}

void CManagerDlg::FitColumns() {
  CControlList* list = m_ui->m_routineList;
  for (int column = 0; column < list->columnCount(); ++column) {
    const int design = column < static_cast<int>(m_designColumnWidths.size())
                           ? m_designColumnWidths[static_cast<std::size_t>(column)]
                           : 0;
    // The wider of the title and the cells, never narrower than designed.
    list->resizeColumnToContents(column);
    if (list->columnWidth(column) < design) list->setColumnWidth(column, design);
  }
}

void CManagerDlg::RefreshRoutines() {
  // While an import runs, the worker owns the selected disk.
  if (IsBusy()) return;
  const CDeviceChangeHold holding(*this);
  const DeviceChoice choice = SelectedChoice();
  CControlList* list = m_ui->m_routineList;
  list->setUpdatesEnabled(false);
  list->DeleteAllRows();

  std::unique_ptr<CSectorDevice> device;
  const std::string diskText = choice.entry.text;
  const bool keptMounted = choice.kind == DeviceKind::kDrive && diskText == m_mountedKept;
  if (!keptMounted) {
    ShowingErrors([&] { device = OpenDevice(choice, ImageAccess::kRead); }, diskText.empty() ? "" : "Disk: " + diskText);
  }
  if (choice.kind == DeviceKind::kNone) {
    ShowDiskState(m_ui->m_deviceCombo->count() == 0 ? QStringLiteral("No disk found")
                                                    : QStringLiteral("No disk selected"),
                  QString());
  } else if (keptMounted) {
    ShowDiskState(QStringLiteral("The card is mounted: Refresh asks again to unmount it"), QString());
  } else if (!device) {
    ShowDiskState(QStringLiteral("The disk cannot be opened"), QString());
  }
  if (device) {
    CVornDisk disk(*device, &m_statusText);
    const bool read = ShowingErrors([&] { ShowRoutines(disk.ReadTable()); }, "Disk: " + diskText);
    // A unit tells its size and model only when asked; a card reader's text
    // carries its size already.
    std::string model;
    if (choice.kind == DeviceKind::kUnit) {
      try {
        if (device->Identify()) {
          if (const auto* unit = dynamic_cast<const CUsbDevice*>(device.get())) model = unit->Model();
        }
      } catch (...) {
        // Only the details stay unknown.
      }
    }
    const std::uint64_t sectors = device->GetSectorCount();
    if (choice.kind != DeviceKind::kDrive && sectors != 0) {
      char size[32];
      std::snprintf(size, sizeof size, "(%.2fMB)", static_cast<double>(sectors) * kSectorSize / 1048576.0);
      std::string details = size;
      if (!model.empty()) details += " " + model;
      const int index = m_ui->m_deviceCombo->currentIndex();
      const QSignalBlocker quiet(m_ui->m_deviceCombo);
      m_ui->m_deviceCombo->setItemText(index, QString::fromLocal8Bit(diskText + " " + details));
    }
    if (!read) {
      ShowDiskState(QStringLiteral("The disk cannot be read"), QString());
    } else if (!disk.IsValid()) {
      ShowDiskState(DiskSpaceText(false, 0, sectors, 0), QStringLiteral("Not formatted"));
    } else {
      ShowDiskState(DiskSpaceText(true, disk.Table().size(), sectors, disk.NextFreeSector()),
                    disk.Table().empty() ? QStringLiteral("No routines") : QString());
    }
    CloseQuietly(device.get());
  }
  FitColumns();
  list->setUpdatesEnabled(true);
  UpdateActions();
  // Devices that changed while the disk was being opened, now that it is closed.
  RefreshIfHeld();
}

void CManagerDlg::ShowRoutines(const std::vector<RoutineEntry>& table) {
  CControlList* list = m_ui->m_routineList;
  list->DeleteAllRows();
  for (std::size_t k = 0; k < table.size(); ++k) {
    const auto texts = RoutineCellTexts(table[k]);
    for (std::size_t column = 0; column < texts.size(); ++column) {
      list->SetCellText(static_cast<int>(k), static_cast<int>(column),
                        QString::fromStdString(DiskTextToUtf8(texts[column])));
    }
  }
  FitColumns();
}

bool CManagerDlg::event(QEvent* event) {
  // Another program may have changed the disk while the window was in the
  // background: coming back to it reads the table again, once nothing runs.
  if (event->type() == QEvent::WindowActivate) {
    QMetaObject::invokeMethod(this, [this] {
      if (!IsBusy() && m_holdingDisk == 0) RefreshRoutines();
    }, Qt::QueuedConnection);
  }
  return QDialog::event(event);
}

void CManagerDlg::OnRefresh() {
  m_mountedKept.clear();
  RefreshDevices();
}

void CManagerDlg::ShowEndOfAction(const QString& text, bool succeeded) {
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

void CManagerDlg::OnFormatDisk() {
  if (IsBusy()) return;
  const CDeviceChangeHold holding(*this);
  const std::string diskText = SelectedText().toLocal8Bit().toStdString();
  std::unique_ptr<CSectorDevice> device;
  const bool isImage = SelectedChoice().kind == DeviceKind::kImage;
  if (!ShowingErrors([&] { device = GetSelectedDevice(ImageAccess::kWrite); }, "Disk: " + diskText) || !device) {
    RefreshIfHeld();  // devices that changed while it was being opened
    return;
  }
  bool formatted = false;
  {
    CVerifyingDevice verifier(*device);
    CVornDisk disk(verifier, &m_statusText);
    ShowingErrors([&] {
      // The grid shows what the question is about, though another program
      // changed the disk since it was listed.
      ShowRoutines(disk.ReadTable());
      if (AskYesNo(disk.IsValid() ? kAskFormatValid : kAskFormatInvalid,
                   LossDetail(ComboText(), disk, false))) {
        disk.Format();
        VerifyWritten(verifier, isImage, m_statusText, m_progressBar);
        formatted = true;
      }
    }, "Disk: " + diskText);
  }
  CloseQuietly(device.get());
  RefreshRoutines();
  if (formatted) ShowEndOfAction(QStringLiteral("Formatted ") + QString::fromLocal8Bit(diskText), true);
}

void CManagerDlg::OnRemoveLastRoutine() {
  if (IsBusy()) return;
  const CDeviceChangeHold holding(*this);
  const std::string diskText = SelectedText().toLocal8Bit().toStdString();
  std::unique_ptr<CSectorDevice> device;
  if (!ShowingErrors([&] { device = GetSelectedDevice(ImageAccess::kWrite); }, "Disk: " + diskText) || !device) {
    RefreshIfHeld();  // devices that changed while it was being opened
    return;
  }
  std::string removed;
  {
    // The table is read first, so that the question can name the routine.
    CVornDisk disk(*device, &m_statusText);
    ShowingErrors([&] {
      ShowRoutines(disk.ReadTable());
      if (!AskYesNo(kAskRemoveLast, LossDetail(ComboText(), disk, true))) return;
      const std::string title = disk.Table().empty() ? std::string() : disk.Table().back().DisplayTitle();
      disk.RemoveLastRoutine();
      removed = title.empty() ? "the last routine" : "\"" + title + "\"";
    }, "Disk: " + diskText);
  }
  CloseQuietly(device.get());
  RefreshRoutines();
  if (!removed.empty()) {
    ShowEndOfAction(QString::fromLocal8Bit("Removed " + removed + " from " + diskText), true);
  }
}

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

void CManagerDlg::RememberFolder(const QString& file) {
  if (!file.isEmpty()) m_lastFolder = QFileInfo(file).absolutePath();
}

void CManagerDlg::OnAddRoutine() {
  if (IsBusy() || SelectedChoice().kind == DeviceKind::kNone) return;
  const QStringList files = AskForRoutineFiles();
  if (files.isEmpty()) return;
  RememberFolder(files.front());
  ImportFiles(files);
}

void CManagerDlg::ImportFiles(const QStringList& files) {
  if (IsBusy() || files.isEmpty()) return;
  const DeviceChoice choice = SelectedChoice();
  if (choice.kind == DeviceKind::kNone) return;
  std::vector<std::string> paths;
  for (const QString& file : files) paths.push_back(QFile::encodeName(file).toStdString());

  // The worker gets the selection as it is now; the lists may be rebuilt later.
  m_importDisk = choice.entry.text;
  m_cancel = std::make_unique<CCancelFlag>();
  m_outcome = ImportOutcome{};
  m_workerFinished = false;
  QProgressBar* bar = m_ui->m_progressBar;
  bar->setRange(0, 1);
  bar->setValue(0);
  bar->setFormat(QString());
  m_worker = std::thread(&CManagerDlg::ImportWorker, this, choice, m_importDisk, std::move(paths));
  SetImporting(true);
}

void CManagerDlg::ImportWorker(DeviceChoice choice, std::string diskText,
                               std::vector<std::string> paths) {
  ImportOutcome outcome;
  const CCancelFlag* cancel = m_cancel.get();
  QPointer<QProgressBar> bar = m_ui->m_progressBar;
  CImportProgress progress(m_statusText, m_progressBar, [bar, cancel](const std::string& line) {
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
  const std::string diskDetail = "Disk: " + diskText;
  std::unique_ptr<CSectorDevice> device;
  try {
    if (ShowingErrors([&] { device = OpenDevice(choice, ImageAccess::kWrite); }, diskDetail, &outcome.error) && device) {
      CVerifyingDevice verifier(*device);
      CVornDisk disk(verifier, &progress);
      std::string detail = diskDetail;
      ShowingErrors([&] {
        disk.ReadTable();
        // The table in memory is empty then, so the first routine lands at sector
        // 1 and the first table write formats the disk.
        if (!disk.IsValid() && !AskYesNo(kAskFormatInvalid, LossDetail(diskText, disk, false))) {
          outcome.declined = true;
          return;
        }
        // One import: the next file converts while one is written (and starts
        // as soon as a processor is free); the status line and the error
        // detail follow the file the disk is busy with.
        const int files = static_cast<int>(paths.size());
        const auto reach = [&](std::size_t i) {
          detail = "File: " + paths[i];
          progress.StartFile(static_cast<int>(i + 1), files, RoutineTitleOf(paths[i]));
        };
        ImportOptions options;
        options.cancel = cancel;
        options.added = [&](std::size_t index) {
          ++outcome.added;
          if (index + 1 < paths.size()) reach(index + 1);
        };
        reach(0);
        disk.AddRoutines(paths, &progress, options);
        detail = diskDetail;
        VerifyWritten(verifier, choice.kind == DeviceKind::kImage, progress, progress);
      }, detail, &outcome.error);
    }
  } catch (const CCancelled&) {
    outcome.cancelled = true;
  }
  CloseQuietly(device.get());
  device.reset();
  m_outcome = outcome;
  m_workerFinished = true;
  emit ImportDone();
}

void CManagerDlg::UpdateActions() {
  const bool importing = IsImporting();
  const bool busy = IsBusy();
  const bool disk = SelectedChoice().kind != DeviceKind::kNone;
  // "Format disk" too: a format under a running import would cut the table from
  // under the routine being written.
  for (QWidget* control :
       std::initializer_list<QWidget*>{m_ui->m_deviceCombo, m_ui->m_refreshButton,
                                       m_ui->m_openImageButton, m_ui->m_routineList,
                                       m_ui->m_exitButton}) {
    control->setEnabled(!busy);
  }
  // Actions on a disk need one: without, they would ask and then do nothing.
  for (QWidget* control : std::initializer_list<QWidget*>{
           m_ui->m_addButton, m_ui->m_removeButton, m_ui->m_formatButton}) {
    control->setEnabled(!busy && disk);
  }
  // isHidden, not isVisible: the window itself may not be shown yet.
  const CCancelFlag* cancel = RunningCancel();
  const bool cancellable = importing || cancel != nullptr;
  if (m_ui->m_cancelButton->isHidden() == cancellable) {
    m_ui->m_cancelButton->setVisible(cancellable);
    LayOut();
  }
  if (cancellable) m_ui->m_cancelButton->setEnabled(!cancel || !cancel->IsCancelled());
}

void CManagerDlg::SetImporting(bool importing) {
  UpdateActions();
  if (importing) {
    setCursor(Qt::WaitCursor);
    // The button under the hand keeps the arrow: it is the one to press.
    m_ui->m_cancelButton->setCursor(Qt::ArrowCursor);
  } else {
    unsetCursor();
  }
}

void CManagerDlg::OnCancel() {
  CCancelFlag* cancel = RunningCancel();
  if (!cancel) return;
  cancel->Cancel();
  m_ui->m_cancelButton->setEnabled(false);
  m_ui->m_progressBar->setFormat(QStringLiteral("Cancelling..."));
  m_ui->m_progressBar->setTextVisible(true);
}

void CManagerDlg::OnImportDone() {
  if (m_worker.joinable()) m_worker.join();
  const ImportOutcome outcome = m_outcome;
  const QString disk = QString::fromLocal8Bit(m_importDisk);
  m_cancel.reset();
  SetImporting(false);
  if (m_refreshWhenDone) {
    m_refreshWhenDone = false;
    RefreshDevices();
  } else {
    RefreshRoutines();
  }
  const QString added = QString::fromStdString(Plural(static_cast<std::size_t>(outcome.added), "routine"));
  if (outcome.cancelled) {
    ShowEndOfAction(outcome.added > 0 ? "Import cancelled after adding " + added + " to " + disk
                                      : QStringLiteral("Import cancelled; nothing was added"),
                    false);
  } else if (!outcome.error.empty()) {
    QString text = QStringLiteral("Import failed: ") + QString::fromLocal8Bit(outcome.error);
    if (outcome.added > 0) text += " (added " + added + " before)";
    ShowEndOfAction(text, false);
  } else if (outcome.declined) {
    ShowEndOfAction(QStringLiteral("Nothing was added"), false);
  } else {
    ShowEndOfAction("Added " + added + " to " + disk, true);
  }
  if (m_closeWhenDone) {
    m_closeWhenDone = false;
    done(m_closeResult);
  }
}

CManagerDlg::CDeviceChangeHold::CDeviceChangeHold(CManagerDlg& dialog) : m_dialog(dialog) {
  ++m_dialog.m_holdingDisk;
}

CManagerDlg::CDeviceChangeHold::~CDeviceChangeHold() {
  // A change held by a path that ends without a refresh of its own (a file
  // dialog answered Cancel) is caught up once the window is idle again.
  if (--m_dialog.m_holdingDisk == 0 && m_dialog.m_refreshWhenDone) {
    QMetaObject::invokeMethod(&m_dialog, [dialog = &m_dialog] {
      if (dialog->m_holdingDisk == 0) dialog->RefreshIfHeld();
    }, Qt::QueuedConnection);
  }
}

void CManagerDlg::OnDeviceChange() {
  // The worker holds the selected disk; rebuild the lists once it lets go.
  // So does an action on the UI thread while its question or error box is
  // up, or a rebuild of the lists showing an error: rebuilt under them, the
  // disk they hold open would be opened a second time (and refused as in
  // use). Each of them ends with the refresh held meanwhile.
  if (IsBusy() || m_holdingDisk > 0) {
    m_refreshWhenDone = true;
    return;
  }
  RefreshDevices();
}

void CManagerDlg::OnOpenImage() {
  if (IsBusy()) return;
  const QString path = AskForPath(PathQuestion::kOpenImage, QString());
  if (path.isEmpty()) return;
  RememberFolder(path);
  OpenDiskImage(path);
}

void CManagerDlg::OpenDiskImage(const QString& path) {
  if (IsBusy() || path.isEmpty()) return;
  const std::string file = QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString();
  bool known = false;
  for (const std::string& opened : m_openedImages) known = known || opened == file;
  // A sound or routine file picked by mistake would be formatted over at the
  // next click: it is not offered as a disk.
  if (!known && !ShowingErrors([&] {
        CImageDevice image(file, /*durable=*/false, ImageAccess::kRead);
        image.Open(CImageDevice::EntryFor(file));
        const std::optional<std::string> why = WhyNotADiskImage(image);
        image.Close();
        if (why) throw CFileAccessException(file + " is not a disk image: " + *why + "; it was not opened");
      }, "File: " + file)) {
    return;
  }
  if (!known) m_openedImages.push_back(file);
  m_preferredText = QString::fromLocal8Bit(file);
  RefreshDevices();
}

bool CManagerDlg::RunFileAction(const std::string& status, const std::function<void()>& work,
                                CCancelFlag* cancel) {
  m_fileActionRunning = true;
  m_fileCancel = cancel;
  setCursor(Qt::WaitCursor);
  if (cancel) m_ui->m_cancelButton->setCursor(Qt::ArrowCursor);
  UpdateActions();
  m_statusText.SetText(status);
  struct Ending {
    CManagerDlg* dialog;
    ~Ending() {
      dialog->m_fileActionRunning = false;
      dialog->m_fileCancel = nullptr;
      dialog->unsetCursor();
      dialog->UpdateActions();
      dialog->m_statusText.SetText("Ready");
    }
  } ending{this};
  try {
    RunOffUiThread(work, cancel != nullptr);
  } catch (const CCancelled&) {
    return false;
  }
  return true;
}

// Device changes and a close held during a file action, once the action has
// let go of the disk: each action calls these itself, the refresh before it
// says how it ended and the close last. Not queued: a queued call could run
// inside the event loop of the next drive open and refresh under it (the one
// queued catch-up, at the end of the last CDeviceChangeHold, checks for that).
bool CManagerDlg::RefreshIfHeld() {
  if (IsBusy() || !m_refreshWhenDone) return false;
  m_refreshWhenDone = false;
  RefreshDevices();
  return true;
}

void CManagerDlg::CloseIfHeld() {
  if (IsBusy() || !m_closeWhenDone) return;
  m_closeWhenDone = false;
  done(m_closeResult);
}

void CManagerDlg::CloseAfterFileAction(int result) {
  // A copy that can stop is asked about: Escape must not throw a long backup away.
  if (m_fileCancel && !m_fileCancel->IsCancelled()) {
    if (!AskYesNo(m_ui->m_statusEdit->text().toLocal8Bit().toStdString() +
                  " is still running.\n\nCancel it and close the window?")) {
      return;
    }
    OnCancel();
  }
  m_closeWhenDone = true;
  m_closeResult = result;
}

void CManagerDlg::BackupDisk() {
  const DeviceChoice choice = SelectedChoice();
  if (IsBusy() || choice.kind == DeviceKind::kNone) return;
  const CDeviceChangeHold holding(*this);
  const QString suggestion = QFileInfo(QString::fromLocal8Bit(choice.entry.text)).completeBaseName();
  const QString target = AskForPath(PathQuestion::kBackupTarget,
                                    (suggestion.isEmpty() ? QStringLiteral("disk") : suggestion) +
                                        QStringLiteral("-backup.img"));
  if (target.isEmpty()) return;
  RememberFolder(target);
  const std::string targetPath = QFile::encodeName(target).toStdString();
  const std::string diskPath = choice.kind == DeviceKind::kImage ? choice.entry.text : std::string();
  std::unique_ptr<CSectorDevice> device;
  BackupSummary summary;
  CCancelFlag cancel;
  bool cancelled = false;
  const bool done =
      ShowingErrors([&] { device = OpenDevice(choice, ImageAccess::kRead); }, "Disk: " + choice.entry.text) &&
      ShowingErrors([&] {
        cancelled = !RunFileAction("Backing up", [&] {
          summary = vorn::BackupDisk(*device, diskPath, targetPath, &m_progressBar, &cancel);
        }, &cancel);
      }, "File: " + targetPath) &&
      !cancelled;
  CloseQuietly(device.get());
  RefreshIfHeld();
  if (done) {
    ShowEndOfAction(QString::fromLocal8Bit("Backed up " + Plural(summary.routines, "routine") + " to " +
                                           targetPath),
                    true);
  } else if (cancelled) {
    ShowEndOfAction(QStringLiteral("Backup cancelled; nothing was written"), false);
  } else if (device) {
    ShowEndOfAction(QStringLiteral("Backup failed; nothing was written"), false);
  }
  CloseIfHeld();
}

void CManagerDlg::RestoreDisk() {
  const DeviceChoice choice = SelectedChoice();
  if (IsBusy() || choice.kind == DeviceKind::kNone) return;
  const CDeviceChangeHold holding(*this);
  const QString source = AskForPath(PathQuestion::kRestoreSource, QString());
  if (source.isEmpty()) return;
  RememberFolder(source);
  const std::string sourcePath = QFile::encodeName(source).toStdString();
  std::size_t routines = 0;
  if (!ShowingErrors([&] { routines = BackupRoutineCount(sourcePath); }, "File: " + sourcePath)) return;

  const std::string diskText = choice.entry.text;
  const std::string diskPath = choice.kind == DeviceKind::kImage ? diskText : std::string();
  std::unique_ptr<CSectorDevice> device;
  if (!ShowingErrors([&] { device = OpenDevice(choice, ImageAccess::kWrite); }, "Disk: " + diskText)) {
    RefreshIfHeld();  // devices that changed while it was being opened
    return;
  }
  bool restored = false;
  ShowingErrors([&] {
    CVornDisk disk(*device, nullptr);
    ShowRoutines(disk.ReadTable());
    const std::string question = "The disk will be overwritten with the " + Plural(routines, "routine") +
                                 " of " + sourcePath + ".\n\nDo you wish to continue?";
    if (!AskYesNo(question, LossDetail(ComboText(), disk, false))) return;
    RunFileAction("Restoring", [&] {
      CVerifyingDevice verifier(*device);
      vorn::RestoreDisk(sourcePath, verifier, diskPath, &m_progressBar);
      VerifyWritten(verifier, choice.kind == DeviceKind::kImage, m_statusText, m_progressBar);
    });
    restored = true;
  }, "File: " + sourcePath);
  CloseQuietly(device.get());
  device.reset();
  if (!RefreshIfHeld()) RefreshRoutines();
  if (restored) {
    ShowEndOfAction(QString::fromLocal8Bit("Restored " + Plural(routines, "routine") + " onto " + diskText),
                    true);
  }
  CloseIfHeld();
}

void CManagerDlg::ExportRoutine(int row) {
  const DeviceChoice choice = SelectedChoice();
  if (IsBusy() || choice.kind == DeviceKind::kNone || row < 0) return;
  const CDeviceChangeHold holding(*this);
  const QString title = m_ui->m_routineList->CellText(row, 0);
  const QString target = AskForPath(PathQuestion::kExportTarget,
                                    (title.isEmpty() ? QStringLiteral("routine") : title) + ".vorn");
  if (target.isEmpty()) return;
  RememberFolder(target);
  const std::string targetPath = QFile::encodeName(target).toStdString();
  const std::string diskPath = choice.kind == DeviceKind::kImage ? choice.entry.text : std::string();
  std::unique_ptr<CSectorDevice> device;
  if (!ShowingErrors([&] { device = OpenDevice(choice, ImageAccess::kRead); }, "Disk: " + choice.entry.text)) {
    RefreshIfHeld();  // devices that changed while it was being opened
    return;
  }
  bool exported = false;
  CCancelFlag cancel;
  bool cancelled = false;
  ShowingErrors([&] {
    CVornDisk disk(*device, nullptr);
    const std::vector<RoutineEntry>& table = disk.ReadTable();
    // The grid shows the table of the last refresh; the disk may have changed since.
    ShowRoutines(table);
    if (static_cast<std::size_t>(row) >= table.size() ||
        QString::fromStdString(table[static_cast<std::size_t>(row)].DisplayTitle()) != title) {
      throw CFileAccessException("The disk has changed since it was listed; nothing was exported");
    }
    cancelled = !RunFileAction("Exporting", [&] {
      ExportRoutineFile(*device, diskPath, table[static_cast<std::size_t>(row)], targetPath, &m_progressBar,
                        &cancel);
    }, &cancel);
    exported = !cancelled;
  }, "File: " + targetPath);
  CloseQuietly(device.get());
  const bool refreshed = RefreshIfHeld();
  if (exported) {
    ShowEndOfAction("Exported \"" + title + "\" to " + QString::fromLocal8Bit(targetPath), true);
  } else if (cancelled) {
    ShowEndOfAction(QStringLiteral("Export cancelled; nothing was written"), false);
  } else if (!refreshed) {
    RefreshRoutines();
  }
  CloseIfHeld();
}

void CManagerDlg::StopAndClose() {
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this) {
    modal->close();
    // Again once the question's own event loop has returned to the caller.
    QMetaObject::invokeMethod(this, &CManagerDlg::StopAndClose, Qt::QueuedConnection);
    return;
  }
  if (m_opening > 0 && !IsImporting() && !m_fileActionRunning) {
    // A drive is being opened (udisks2 may be asking for a password); the
    // question or the copy that follows is stopped once it shows.
    QTimer::singleShot(100, this, &CManagerDlg::StopAndClose);
    return;
  }
  OnCancel();
  if (IsBusy()) {
    m_closeWhenDone = true;
    m_closeResult = QDialog::Rejected;
    return;
  }
  done(QDialog::Rejected);
}

bool CManagerDlg::AskToCloseDuringImport(int result) {
  if (!m_cancel) return false;
  if (!m_cancel->IsCancelled() &&
      !AskYesNo("Routines are still being added to " + m_importDisk +
                    ".\n\nCancel the import and close the window?",
                "The routine being written is left out; the routines added before it stay on the disk.")) {
    return false;
  }
  // The import may have ended while the question was open.
  if (!IsImporting() || !m_cancel) {
    done(result);
    return true;
  }
  m_cancel->Cancel();
  m_ui->m_cancelButton->setEnabled(false);
  m_closeWhenDone = true;
  m_closeResult = result;
  return true;
}

void CManagerDlg::reject() {
  // Closing asks whether to cancel a running import and then waits for it,
  // rather than pulling the disk from under it; a file action is waited for.
  if (m_fileActionRunning) {
    CloseAfterFileAction(QDialog::Rejected);
    return;
  }
  if (IsImporting()) {
    AskToCloseDuringImport(QDialog::Rejected);
    return;
  }
  QDialog::reject();
}

void CManagerDlg::accept() {
  if (m_fileActionRunning) {
    CloseAfterFileAction(QDialog::Accepted);
    return;
  }
  if (IsImporting()) {
    AskToCloseDuringImport(QDialog::Accepted);
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
  const bool idle = !IsBusy();
  const bool disk = idle && SelectedChoice().kind != DeviceKind::kNone;
  menu.addAction(QStringLiteral("&Open disk image..."), this, &CManagerDlg::OnOpenImage)->setEnabled(idle);
  menu.addAction(QStringLiteral("&Back up disk..."), this, &CManagerDlg::BackupDisk)->setEnabled(disk);
  menu.addAction(QStringLiteral("Re&store disk..."), this, &CManagerDlg::RestoreDisk)->setEnabled(disk);
  menu.addSeparator();
  menu.addAction(QStringLiteral("&About VORN3 Manager..."), this, &CManagerDlg::ShowAbout);
  menu.exec(event->globalPos());
}

void CManagerDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayOut();
}

void CManagerDlg::LayOut() {
  if (!m_designSize.isValid()) return;
  const int dx = std::max(0, width() - m_designSize.width());
  const int dy = std::max(0, height() - m_designSize.height());
  QRect cancel, status;
  for (const auto& [widget, design] : m_designGeometry) {
    if (widget == m_ui->m_cancelButton) cancel = design;
    if (widget == m_ui->m_statusEdit) status = design;
  }
  const QWidget* buttons[] = {m_ui->m_addButton, m_ui->m_removeButton, m_ui->m_formatButton,
                              m_ui->m_exitButton};
  for (const auto& [widget, design] : m_designGeometry) {
    QRect r = design;
    if (widget == m_ui->m_deviceCombo) {
      r.setWidth(r.width() + dx);
    } else if (widget == m_ui->m_refreshButton || widget == m_ui->m_openImageButton) {
      r.translate(dx, 0);
    } else if (widget == m_ui->m_routineList) {
      r.setSize(r.size() + QSize(dx, dy));
    } else if (widget == m_ui->m_diskInfoLabel) {
      r.translate(0, dy);
      r.setWidth(r.width() + dx);
    } else if (widget == m_ui->m_statusEdit) {
      r.translate(0, dy);
    } else if (widget == m_ui->m_progressBar) {
      r.translate(0, dy);
      r.setWidth(r.width() + dx);
      // The Cancel button takes the end of the bar's row while it shows.
      if (!m_ui->m_cancelButton->isHidden()) {
        r.setRight(cancel.left() + dx - (design.left() - status.right()));
      }
    } else if (widget == m_ui->m_cancelButton) {
      r.translate(dx, dy);
    } else {
      // The bottom row keeps its buttons spread over the width.
      for (int i = 0; i < 4; ++i) {
        if (widget == buttons[i]) r.translate(dx * i / 3, dy);
      }
    }
    widget->setGeometry(r);
  }
}

bool CManagerDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_ui->m_routineList->viewport()) return QDialog::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDropEvent*>(event);
      const bool takes = !IsBusy() && SelectedChoice().kind != DeviceKind::kNone &&
                         !DroppedRoutineFiles(drag->mimeData()).isEmpty();
      if (takes) {
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
      } else {
        drag->ignore();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QStringList files = DroppedRoutineFiles(drop->mimeData());
      if (files.isEmpty() || IsBusy() || SelectedChoice().kind == DeviceKind::kNone) {
        drop->ignore();
        return true;
      }
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      // Dropped files go the way of "Add routine...", after the drop has ended.
      QMetaObject::invokeMethod(this, [this, files] { ImportFiles(files); }, Qt::QueuedConnection);
      return true;
    }
    default:
      return QDialog::eventFilter(watched, event);
  }
}

}  // namespace vorn
