#pragma once
// What every action on a disk shares: the window's services it uses (the
// host), and a base that opens the chosen disk through the runner, shows a
// failure with the line that says what it was about, and ends the action (the
// disk released, the grid read again, the end stated). An action is one file:
// it asks its questions, hands its work to the runner, and states its end.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/ImageDevice.h"
#include "device/SectorDevice.h"
#include "disk/RoutineEntry.h"
#include "ui/DiskActionRunner.h"
#include "ui/DiskListModel.h"

class QAction;
class QProgressBar;
class QWidget;

namespace vorn {

class CControlList;
class CDeviceSource;
class CManagerActions;
class CProgressBar;
class CRoutineTableModel;
class CStatusText;
class CVornDisk;
class CVerifyingDevice;
struct RoutineSettingsChange;

enum class PathQuestion { kOpenImage, kBackupTarget, kRestoreSource, kExportTarget, kReplaceSource };

// The window as the actions see it.
class CActionHost {
 public:
  virtual ~CActionHost() = default;
  virtual CDiskActionRunner& Runner() = 0;
  virtual CDeviceSource& Source() = 0;
  virtual DiskRecord Selected() const = 0;
  virtual CRoutineTableModel& Routines() = 0;
  virtual CStatusText& Status() = 0;
  virtual CProgressBar& Progress() = 0;
  virtual QProgressBar* Bar() = 0;
  // One file for the action; empty when cancelled. `suggestion` is a file name.
  virtual QString AskForPath(PathQuestion question, const QString& suggestion) = 0;
  // The files to import, in the order to import them; empty when cancelled.
  virtual QStringList AskForRoutineFiles() = 0;
  virtual void RememberFolder(const QString& file) = 0;
  // Offers the disk image at `path` for the session and selects it.
  virtual void OfferImage(const std::string& path) = 0;
  // Reads the selected disk's table into the grid (the disk lists first when a
  // device change was held), then runs `then`; within the running action.
  virtual void ReadAgain(std::function<void()> then) = 0;
  virtual void ShowEnd(const QString& text, bool succeeded) = 0;
  // The drive whose unmount the user declined: not opened again unasked.
  virtual void KeepMounted(const std::string& text) = 0;
  // The disk whose interrupted edit the user left unfinished: not asked about
  // again until the user picks it or presses Refresh.
  virtual void KeepPending(const std::string& text) = 0;
  // A routine's new title (UTF-8), or nothing when cancelled.
  virtual std::optional<std::string> AskForTitle(const RoutineEntry& entry) = 0;
  // The settings to change, or nothing when cancelled.
  virtual std::optional<RoutineSettingsChange> AskForSettings(const RoutineEntry& entry) = 0;
  // Selects these grid rows (after an edit: where its routines now are).
  virtual void SelectRows(const std::vector<int>& rows) = 0;
};

// "3 routines", "1 routine".
std::string Plural(std::size_t count, const char* noun);
// The informative text of a question: which disk, and what on it would be lost.
std::string LossDetail(const std::string& disk, const CVornDisk& vornDisk, bool lastOnly);
// Reads back what an action wrote to a drive or unit; a disk image is a file.
void VerifyWritten(CVerifyingDevice& verifier, bool isImage, CStatusText& status, CProgressBar& progress);
// A progress bar's format replaces %p, %v and %m and knows no escape; a title
// or a path holding them keeps its text with an invisible joiner in between.
QString LiteralBarText(QString text);
// A new, unopened device for `disk` (a drive opened only to read is opened read-only).
std::unique_ptr<CSectorDevice> NewDevice(CDeviceSource& source, const DiskRecord& disk, ImageAccess access);
// Starts the runner's one job for an action on the selected disk; false when
// no disk is selected or another action runs.
bool BeginOnSelected(CActionHost& host, const char* what);
// Asks on the user-interface thread; No while a close waits for the action.
bool AskUnlessStopping(CActionHost& host, const std::string& text, const std::string& detail);

class CDiskAction : public std::enable_shared_from_this<CDiskAction> {
 public:
  explicit CDiskAction(CActionHost& host) : m_host(host), m_disk(host.Selected()) {}
  virtual ~CDiskAction() = default;

 protected:
  // The disk as the user chose it, for messages ("Disk: ...").
  std::string DiskText() const { return m_disk.entry.text; }
  // As the combo shows it: what a question names, so the user sees which disk.
  std::string ShownText() const { return m_disk.shown.toLocal8Bit().toStdString(); }
  bool IsImage() const { return m_disk.kind == DiskKind::kImage; }
  std::string ImagePath() const { return IsImage() ? m_disk.entry.text : std::string(); }

  // Opens the disk off the user-interface thread (a drive may wait minutes
  // for the disk service and its password dialog, and may ask whether to
  // unmount the card), then `opened` on this thread; a failure is shown.
  // `failed` (after the box) instead of ending the action without a word.
  void Open(ImageAccess access, std::function<void()> opened,
            std::function<void(const JobOutcome&)> failed = {});
  // `work` through the runner; a failure is shown with `detail` and the action
  // ends (its end stated by `failed`); `done` follows success, `cancelled` a cancel.
  void Step(std::function<void()> work, std::function<std::string()> detail,
            std::function<void(const JobOutcome&)> next);
  void ShowFailure(const JobOutcome& outcome, const std::string& detail) const;
  // Releases the disk; reads it again when `readAgain` (or devices changed
  // meanwhile); states `end` (when given) and ends the action.
  void Finish(bool readAgain, QString end = {}, bool succeeded = true);

  // A disk opened for writing is refused while an interrupted edit of it
  // waits: writing it then would destroy what that edit still needs.
  bool m_pendingAllowed = false;
  std::vector<int> m_selectAfter;  // grid rows selected once the action ends

  template <class Self>
  std::shared_ptr<Self> Me() { return std::static_pointer_cast<Self>(shared_from_this()); }

  CActionHost& m_host;
  DiskRecord m_disk;
  std::unique_ptr<CSectorDevice> m_device;
};

// The actions, each in its own file. Each returns at once; the runner carries
// the work and the action states its end in the status field when done.
void FormatDisk(CActionHost& host);
// "Check disk...": the read-only check, its findings in a window of their own.
void CheckSelectedDisk(CActionHost& host);
void RemoveLastRoutine(CActionHost& host);
void ImportRoutines(CActionHost& host, const QStringList& files);
void BackupDisk(CActionHost& host);
void RestoreDisk(CActionHost& host);
void ExportRoutine(CActionHost& host, int row);
void OpenDiskImage(CActionHost& host, const QString& path);
// Edits of routines at grid rows; they ask (for the title, the settings, the
// file) before anything starts, and what loses a routine asks to be sure.
void RemoveRoutines(CActionHost& host, const std::vector<int>& rows);
void MoveRoutine(CActionHost& host, int row, int to);
void ReplaceRoutine(CActionHost& host, int row);
void RenameRoutine(CActionHost& host, int row);
void ChangeRoutineSettings(CActionHost& host, int row);
// Connects the edits' commands to the rows selected in `grid`.
void ConnectEdits(CActionHost& host, const CManagerActions& actions, CControlList* grid);
// Opens the preview of the routine at a grid row in a window of its own.
void OpenPreview(CActionHost& host, QWidget* parent, int row);
// Enter (or Return) on `grid` triggers `preview` when it is enabled.
void OpenPreviewOnEnter(QWidget* grid, QAction* preview);
// Opens the dialog that writes the selected disk's show (or a show set file)
// to the disks of `disks` the user ticks.
void WriteToOtherDisks(CActionHost& host, const CDiskListModel& disks, QWidget* parent);
// Offers to finish the interrupted edit of the selected disk.
void FinishInterruptedEdit(CActionHost& host);

// What reading the selected disk found, for the grid and the line below it.
struct DiskReading {
  bool opened = false;
  bool read = false;
  bool formatted = false;
  std::vector<RoutineEntry> table;
  std::uint64_t sectors = 0;
  std::uint64_t usedSectors = 0;
  std::string model;  // a unit's, once it told
  bool editPending = false;  // an interrupted edit of it waits to be finished
};
// Opens the record's disk and reads its table, within the running action;
// failures are shown (with "Disk: ...").
void ReadDisk(CActionHost& host, const DiskRecord& disk, std::function<void(const DiskReading&)> then);

}  // namespace vorn
