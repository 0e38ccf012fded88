#pragma once
// One opened VORN disk and its routine table in memory, for one user action.
//
// Layout: sector 0 is the header; routines lie end to end from sector 1; the
// table (8 records per sector) lies behind the last routine. The header is the
// single-sector commit point: every table update writes the new table where it
// cannot disturb the live one, then points the header at it, so a failure at
// any single write leaves the disk reading as the old table or the new one.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/SectorDevice.h"
#include "disk/DiskHeader.h"
#include "disk/RoutineEntry.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"
#include "platform/StatusText.h"
#include "platform/TempFiles.h"

namespace vorn {

struct PreparedRoutine;
struct ConversionContext;

// How a batch of routine files is imported.
struct ImportOptions {
  unsigned threads = 0;  // encoder workers per conversion; 0: DefaultEncoderThreads()
  const CCancelFlag* cancel = nullptr;
  // Called on the importing thread once file `index` is on the disk.
  std::function<void(std::size_t index)> added;
};

class CVornDisk {
 public:
  // The device is opened by the caller before and closed after; not owned.
  CVornDisk(CSectorDevice& device, CStatusText* status);
  CVornDisk(const CVornDisk&) = delete;
  CVornDisk& operator=(const CVornDisk&) = delete;
  ~CVornDisk();  // deletes the temporary files of the action

  // Reads and checks header and table; an unformatted disk reads as empty and
  // invalid, and so does a header whose table cannot fit on a device that knows
  // its size. Each record is checked as it is read (the first starts at sector
  // 1 or later, each starts where the one before ends, none reaches past the
  // device) and the first bad one ends the reading. A negative count reads as
  // an empty table.
  const std::vector<RoutineEntry>& ReadTable();
  const std::vector<RoutineEntry>& Table() const { return m_table; }
  bool IsValid() const { return m_valid; }
  bool CheckTable() const;
  std::uint32_t NextFreeSector() const;
  // One past the last sector a reader of the table the header points at
  // touches (after ReadTable; 0 on an unformatted disk). It may lie behind
  // NextFreeSector.
  std::uint64_t TableReadEnd() const;

  // Writes header and table from the table in memory: the table ends up behind
  // the last routine and the header points at it. Throws CUsbDeviceException
  // when the device is too small for the table (disk untouched).
  void WriteTable();
  void Format();
  void RemoveLastRoutine();  // throws CUsbDeviceException "Too few tracks" on an empty table
  // Drops the routines from `count` on, as that many removals of the last one
  // would: the header first points at the shorter table, then the table moves
  // behind the new last routine. Nothing when the table is not longer.
  void TruncateTable(std::size_t count);

  // Appends `entry`, whose sectors [startSector, endSector) `writeRoutine` writes.
  // The live table is moved out of the routine's way first, so a failure at any
  // single write leaves the old table or the new one. When the device knows its
  // size, checks first that routine and new table fit (disk untouched otherwise).
  void AppendRoutine(const RoutineEntry& entry, const std::function<void()>& writeRoutine);

  // Imports one ".vorn" file (routine import). A set cancel flag ends it with
  // CCancelled during the conversion or before the next piece written, and the
  // table stays as it was.
  void AddRoutine(const std::string& path, CProgressBar* progress,
                  const CCancelFlag* cancel = nullptr);
  // Imports the files in order, as AddRoutine one after the other, but converts
  // file k+1 while file k is written. The first failure ends the batch: the
  // routines before that file stay, nothing of it or of the files behind it is
  // written. Throws CCancelled when options.cancel is set.
  void AddRoutines(const std::vector<std::string>& paths, CProgressBar* progress,
                   const ImportOptions& options);

  // Whether a routine of so many sectors, and the table with it, would fit
  // behind the last routine as the disk stands now. The answer reads only
  // what it captured here, so a conversion on another thread may ask it.
  std::function<bool(std::uint64_t sectors)> RoomForNextRoutine();

  CSectorDevice& Device() { return m_device; }
  void SetStatusText(const std::string& text);
  CStatusText* StatusText() const { return m_status; }
  CTempFileList& TempFiles() { return m_tempFiles; }

 private:
  void WriteTableAt(const std::vector<RoutineEntry>& table, std::uint32_t sector);
  void CommitHeader(const std::vector<RoutineEntry>& table, std::uint32_t tableSector);
  // Writes `table` at `sector`, then commits the header to it: the one order
  // in which a cut at any point leaves the old table or the new one.
  void WriteAndCommit(const std::vector<RoutineEntry>& table, std::uint32_t sector);
  bool FitsOnDevice(std::uint64_t tableSector, std::uint64_t records);
  std::uint64_t LiveTableEnd() const;
  bool PlaceTable(std::uint32_t target);
  // Appends a routine whose audio is converted already.
  void WritePreparedRoutine(PreparedRoutine& routine, CProgressBar* progress,
                            const CCancelFlag* cancel = nullptr);

  CSectorDevice& m_device;
  CStatusText* m_status;
  std::vector<RoutineEntry> m_table;
  bool m_valid = false;
  CTempFileList m_tempFiles;
  // The table the header on the disk points at, which no write may disturb
  // before the header points elsewhere (empty when the disk holds none).
  std::vector<RoutineEntry> m_liveTable;
  std::uint32_t m_liveTableSector = 0;
};

}  // namespace vorn
