#pragma once
// Making several disks hold one show at once (`vorn3ctl sync`, the window's
// "Write to other disks..."). Each routine of the show set is converted once
// per run, whatever the number of disks. Each disk keeps the leading routines
// that already match (same entry, same bytes as the converted routine gives),
// and from the first difference on the rest is written as appends, so a disk
// cut off at any write reads as its old show, the new one, or the new show's
// first routines (running the sync again finishes it). A disk that matches is
// only read back. Disks are written in parallel, one worker each, and every
// written routine is read back from the medium. One disk failing never stops
// or touches the others.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/SectorDevice.h"
#include "disk/EditRecord.h"
#include "disk/RoutineEntry.h"
#include "disk/ShowSet.h"
#include "platform/Cancel.h"
#include "platform/Error.h"
#include "platform/StatusText.h"

namespace vorn {

// A sync refused as a whole before anything is written (the same disk named
// twice, no disk named).
class CShowSyncError : public CVornError {
 public:
  using CVornError::CVornError;
};

// One routine of the show as it goes onto a disk: converted to the disk's MP3
// kind and kept in a routine file of that kind (in the run's cache), with its
// table record (title and settings overrides applied; sectors counted from 0).
struct ConvertedRoutine {
  std::string source;     // the show set's file
  std::string converted;  // a ".vorn" file whose audio is already of the disk's kind
  RoutineEntry entry;     // startSector 0, dataSector = MP3 sectors, endSector = all sectors
  std::uint32_t mp3Size = 0;     // from byte 68 of `converted`
  std::uint32_t dataSize = 0;
  std::uint64_t dataOffset = 0;  // where the control data begins in `converted`
  std::uint64_t imageHash = 0;  // SectorImageHash of the routine's sectors as a disk holds them

  std::uint32_t Sectors() const { return entry.endSector; }
};

// The hash sync compares routines by: of whole sectors, `size` a multiple of 512.
std::uint64_t SectorImageHash(const void* sectors, std::size_t size);

// The show converted once for a run. Converted routines live in `cacheDir`
// (kept across runs, keyed by the file's content) or, without one, in a
// folder of the run removed with this object.
class CConvertedShow {
 public:
  // $XDG_CACHE_HOME/vorn3manager/converted, or ~/.cache/vorn3manager/converted.
  static std::string DefaultCacheDir();

  // Converts every routine not already in the cache; `status` shows
  // "Converting <file>" and `progress` the conversion. Throws as an import's
  // conversion does, naming the file, and CCancelled.
  static std::unique_ptr<CConvertedShow> Prepare(const ShowSet& set, const std::string& cacheDir,
                                                 CStatusText* status = nullptr, CProgressBar* progress = nullptr,
                                                 const CCancelFlag* cancel = nullptr);
  ~CConvertedShow();
  CConvertedShow(const CConvertedShow&) = delete;
  CConvertedShow& operator=(const CConvertedShow&) = delete;

  const std::vector<ConvertedRoutine>& Routines() const { return m_routines; }
  // The table a disk holding the show has, laid end to end from sector 1.
  std::vector<RoutineEntry> Table() const;
  // Sectors the show takes on a disk, table included.
  std::uint64_t DiskSectors() const;
  std::size_t Converted() const { return m_converted; }  // routines whose audio this run converted

 private:
  CConvertedShow() = default;
  std::vector<ConvertedRoutine> m_routines;
  std::string m_runDir;  // removed at the end when not empty
  std::size_t m_converted = 0;
};

// A disk to sync: opened for writing by the caller (the same way its other
// writers open it) and held open until SyncShow returns.
struct SyncDisk {
  std::string name;  // as the user named it, for messages and results
  CSectorDevice* device = nullptr;
};

enum class SyncPhase {
  kWaiting,    // for the show to be converted
  kComparing,  // reading what the disk holds
  kWriting,
  kVerifying,  // reading back from the medium
  kDone,
  kFailed,
  kCancelled,
};
const char* SyncPhaseName(SyncPhase phase);  // "waiting", "comparing", ...

// What a disk gets, decided before its first write.
struct DiskSyncPlan {
  bool formatted = false;        // it was a VORN disk
  std::size_t oldCount = 0;      // routines it held
  std::size_t kept = 0;          // leading routines that already match
  std::size_t written = 0;       // routines written from `kept` on
  std::uint64_t writeSectors = 0;
  bool fits = true;              // the show fits the disk
  std::uint64_t missingSectors = 0;
};

struct DiskSyncResult {
  std::string name;
  DiskSyncPlan plan;
  std::size_t kept = 0;      // routines left as they were
  std::size_t written = 0;   // routines written
  std::size_t verified = 0;  // routines read back and found right
  std::chrono::duration<double> time{};
  SyncPhase phase = SyncPhase::kWaiting;  // kDone, kFailed or kCancelled at the end
  std::optional<CVornError> failure;      // why it failed

  bool Succeeded() const { return phase == SyncPhase::kDone; }
};

struct SyncProgress {
  std::size_t disk = 0;  // index into the disks given
  std::string name;
  SyncPhase phase = SyncPhase::kWaiting;
  int percent = 0;  // of the phase
};

struct SyncOptions {
  // Called from the disks' worker threads, several at once; must be cheap and
  // thread-safe. Percent changes are reported in whole steps.
  std::function<void(const SyncProgress&)> progress;
  // One flag for all disks: each stops at its next safe point (a disk between
  // two appends holds the show's first routines).
  const CCancelFlag* cancel = nullptr;
  bool dryRun = false;  // plan every disk, write none
  // Where a pending interrupted edit of a disk is looked up; such a disk is
  // refused, as every other writer refuses it.
  std::string recordRoot = CEditRecord::DefaultRoot();
};

// Refuses (CShowSyncError) when two of `disks` are one disk (two paths to one
// image, two names of one drive or unit), by DiskIdentity.
void RefuseSameDisk(const std::vector<SyncDisk>& disks);

// Reads what `device` holds and decides what it gets.
DiskSyncPlan PlanDisk(CSectorDevice& device, const CConvertedShow& show);

// Syncs every disk to `show`, in parallel, and returns one result per disk in
// the order given. Refuses the whole run (CShowSyncError) before any write when
// two disks are one; every other failure is that disk's result. With dryRun
// the results hold the plans and nothing is written.
std::vector<DiskSyncResult> SyncShow(const CConvertedShow& show, const std::vector<SyncDisk>& disks,
                                     const SyncOptions& options);

}  // namespace vorn
