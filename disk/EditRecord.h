#pragma once
// The recovery record of a disk edit, kept on this computer while the edit
// runs: the plan (old table, new table, the short table the disk shows
// meanwhile, every copy of routine data in order), the routine data that must
// not live only on the disk while it is overwritten (stash files), and a log of
// the pieces written so far. An edit interrupted at any write is finished from
// it; docs/editing.md explains the states.
//
// One directory per disk, named after the disk's identity:
// $XDG_STATE_HOME/vorn3manager/edit-<hash>/ with "plan", "pieces" and
// "stash-<n>". It appears complete or not at all (built under another name and
// renamed), and disappears plan first, so a half-removed one is no record.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/SectorDevice.h"
#include "disk/RoutineEntry.h"
#include "platform/Error.h"
#include "platform/UniqueFd.h"

namespace vorn {

// A record that must not be applied (damaged, of another disk, stale), or one
// that cannot be written.
class CEditRecordError : public CVornError {
 public:
  using CVornError::CVornError;
};

// One stretch of routine data to put in place, written in pieces.
struct EditCopy {
  std::int32_t stash = -1;   // the stash file it reads, or -1: the disk itself
  std::uint32_t from = 0;    // first source sector (on the disk, or in the stash file)
  std::uint32_t to = 0;      // first destination sector
  std::uint32_t count = 0;   // sectors
  bool backward = false;     // last piece first: data moving up over itself
  std::uint32_t piece = 0;   // sectors per write; within the disk never more than |to - from|
  bool operator==(const EditCopy&) const = default;
};

struct EditPlan {
  std::string identity;  // the disk's (DiskIdentity)
  std::vector<RoutineEntry> oldTable;
  std::uint32_t oldTableSector = 1;
  std::vector<RoutineEntry> newTable;
  // Meanwhile the disk shows the first prefixCount routines of the new table,
  // from a table at prefixTableSector (1 on a disk with no room for it: count 0).
  std::uint32_t prefixCount = 0;
  std::uint32_t prefixTableSector = 1;
  std::vector<EditCopy> copies;
  std::vector<std::uint64_t> stashSectors;  // size of each stash file
  std::vector<std::uint64_t> stashHashes;   // and a hash of its bytes

  std::uint32_t NewEnd() const { return newTable.empty() ? 1 : newTable.back().endSector; }
  std::vector<RoutineEntry> PrefixTable() const {
    return {newTable.begin(), newTable.begin() + prefixCount};
  }
  bool operator==(const EditPlan&) const = default;
};

// One piece of a copy, on the disk: copy index, first sector relative to the
// copy, sectors, hash of the bytes written.
struct EditPiece {
  std::uint32_t copy = 0;
  std::uint32_t offset = 0;
  std::uint32_t count = 0;
  std::uint64_t hash = 0;
};

std::uint64_t EditHash(const void* bytes, std::size_t size, std::uint64_t seed = 0xcbf29ce484222325ull);

class CEditRecord {
 public:
  // $XDG_STATE_HOME/vorn3manager, or ~/.local/state/vorn3manager.
  static std::string DefaultRoot();
  static std::string DirectoryFor(const std::string& root, const std::string& identity);

  // The pending record of the disk `identity` names; null when there is none.
  // Throws CEditRecordError for one that is damaged or names another disk.
  static std::unique_ptr<CEditRecord> Find(const std::string& root, const std::string& identity);

  // Writes a record for `plan`: `fillStash(n, device)` writes stash file n
  // (plan.stashSectors[n] sectors) through a sector device over that file.
  // The record exists, durably, when this returns; the plan's stash hashes are
  // filled in. Throws CEditRecordError when one is pending already.
  static std::unique_ptr<CEditRecord> Create(const std::string& root, EditPlan plan,
                                             const std::function<void(std::size_t, CSectorDevice&)>& fillStash);

  const EditPlan& Plan() const { return m_plan; }
  const std::vector<EditPiece>& Pieces() const { return m_pieces; }
  const std::string& Directory() const { return m_directory; }

  // Logs a piece as on the disk (durably, before the next write may destroy
  // its source).
  void AddPiece(const EditPiece& piece);
  void ReadStash(std::size_t index, std::uint32_t sector, std::uint32_t count, void* buffer);
  // Checks that every stash file holds what was put there.
  void CheckStash();
  // The edit is finished (or never began): the record goes.
  void Remove();

 private:
  CEditRecord(std::string directory, EditPlan plan);
  void OpenFiles(bool readPieces);

  std::string m_directory;
  EditPlan m_plan;
  std::vector<EditPiece> m_pieces;
  CUniqueFd m_pieceLog;
  std::vector<CUniqueFd> m_stash;
};

// Serialized form of a plan, with its checksum; nullopt when damaged.
std::vector<std::uint8_t> EncodePlan(const EditPlan& plan);
std::optional<EditPlan> DecodePlan(const std::vector<std::uint8_t>& bytes);

}  // namespace vorn
