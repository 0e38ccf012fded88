#pragma once
// Editing any routine of a disk: remove, move, replace, insert, retitle and
// change settings, several of these as one edit written once. The disk keeps
// the layout the unit expects (routines end to end from sector 1 in table
// order, the table behind the last), so removing, moving, replacing and
// inserting move routine data; retitling and settings only rewrite the table.
//
// Nothing is lost at any write: the disk always reads as the old show, the new
// one, or a prefix of the new one while a recovery record on this computer
// (disk/EditRecord.h) holds whatever is needed to finish. docs/editing.md
// describes the states.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/SectorDevice.h"
#include "disk/EditRecord.h"
#include "disk/RoutineEntry.h"
#include "platform/Cancel.h"
#include "platform/Error.h"
#include "platform/ProgressBar.h"
#include "platform/StatusText.h"

namespace vorn {

class CVornDisk;

// An edit that cannot be made as asked (a position that does not exist, a
// title the disk cannot hold): refused before anything is written.
class CEditError : public CVornError {
 public:
  using CVornError::CVornError;
};

// The settings a change sets; the others stay.
struct RoutineSettingsChange {
  std::optional<std::uint8_t> frameRate;
  std::optional<std::uint8_t> baudCode;
  std::optional<std::uint8_t> protocol;  // the first controller setting byte only
  std::optional<std::array<std::uint8_t, 32>> controllerSettings;
};

// The new show, built from the old table by operations that each apply to the
// result of the ones before. Positions count from 0 here; messages name them
// from 1, as the lists show them.
class CRoutineEdit {
 public:
  struct Item {
    std::optional<std::size_t> oldIndex;  // the old routine it is, or none: from `path`
    std::string path;                     // a ".vorn" file
    RoutineEntry entry;                   // title and settings (sectors placed when applied)
  };

  explicit CRoutineEdit(std::vector<RoutineEntry> table);

  std::size_t Count() const { return m_items.size(); }
  const std::vector<Item>& Items() const { return m_items; }
  const std::vector<RoutineEntry>& OldTable() const { return m_old; }

  void Remove(std::vector<std::size_t> positions);
  void Move(std::size_t from, std::size_t to);
  void Replace(std::size_t position, const std::string& path);
  void Insert(std::size_t position, const std::vector<std::string>& paths);
  // `title` in UTF-8; stored in the disk's code page, at most 16 characters.
  void Retitle(std::size_t position, const std::string& title);
  void ChangeSettings(std::size_t position, const RoutineSettingsChange& change);

 private:
  void CheckPosition(std::size_t position, std::size_t count) const;

  std::vector<RoutineEntry> m_old;
  std::vector<Item> m_items;
};

struct EditOptions {
  std::string identity;                         // DiskIdentity of the disk's device
  std::string recordRoot = CEditRecord::DefaultRoot();
  CStatusText* status = nullptr;
  CProgressBar* progress = nullptr;
  // Before the first write a set flag ends the edit with nothing changed; once
  // routine data moves, at the next piece, with the disk showing a prefix of
  // the new show and the record kept to finish it.
  const CCancelFlag* cancel = nullptr;
};

// What an edit wrote, for reports and the bench.
struct EditReport {
  std::uint64_t movedSectors = 0;    // routine sectors that had to be written
  std::uint64_t writtenSectors = 0;  // every sector written to the disk
  std::uint64_t stashedSectors = 0;  // routine sectors kept in the record meanwhile
  bool recordKept = false;           // a record was needed (false: the table changed in one write)
};

// A key that names this disk and no other: an image by its file's device and
// inode, a unit by its serial, a drive by its name and size.
std::string DiskIdentity(CSectorDevice& device);

// Applies `edit` to the disk `disk` was read from (ReadTable, valid, the same
// table the edit was built on), then reads the new table into `disk`.
// Refuses (CUsbDeviceException) before the first write when the result does
// not fit the disk, saying how much is missing; CEditRecordError when an
// interrupted edit of this disk waits to be finished.
EditReport ApplyEdit(CVornDisk& disk, const CRoutineEdit& edit, const EditOptions& options);

enum class RecoveryOutcome {
  kNothingPending,  // no record for this disk
  kFinished,        // the interrupted edit was finished
  kAlreadyDone,     // the disk held the new show; the record was cleared
  kNotStarted,      // the disk held the old show; the record was cleared
};

// Whether an interrupted edit of the disk is waiting (throws CEditRecordError
// for a damaged record or one of another disk).
bool EditPending(const std::string& identity, const std::string& recordRoot = CEditRecord::DefaultRoot());

// Drops the record of the disk's interrupted edit without applying it (one
// that cannot be applied: damaged, stale); false when there was none. The
// routine data only the record held is lost.
bool DiscardEdit(const std::string& identity, const std::string& recordRoot = CEditRecord::DefaultRoot());

// Finishes the interrupted edit of the disk on `device`, if any. A record that
// is damaged, of another disk, or does not match what the disk holds is not
// applied: CEditRecordError, and nothing is written.
RecoveryOutcome FinishEdit(CSectorDevice& device, const EditOptions& options);

}  // namespace vorn
