#include "disk/RoutineEdit.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <future>
#include <limits>
#include <map>
#include <memory>

#include "audio/ConvertAudio.h"
#include "audio/Mp3Frames.h"
#include "device/DeviceExceptions.h"
#include "device/DriveAccess.h"
#include "device/ImageDevice.h"
#include "device/UsbDevice.h"
#include "disk/DiskHeader.h"
#include "disk/DiskText.h"
#include "disk/RoutineImport.h"
#include "disk/VornDisk.h"

namespace vorn {
namespace {

// 4 MiB per transfer: big enough that a drive streams, small enough that a
// stop request is answered quickly.
constexpr std::uint32_t kMaxPiece = 8192;
// A routine moving by less than this would go in pieces too small to stream
// (no piece may overwrite its own source), so it is kept in the record and
// written from there instead.
constexpr std::uint32_t kMinDistance = 512;

std::uint64_t SectorsFor(std::uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }
// Sectors a reader of a table of `count` records touches.
std::uint64_t SectorsRead(std::uint64_t count) { return count / kRoutinesPerTableSector + 1; }
std::uint64_t TableSectors(std::uint64_t count) {
  return (count + kRoutinesPerTableSector - 1) / kRoutinesPerTableSector;
}

std::string Megabytes(std::uint64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(sectors) * kSectorSize / 1e6);
  return text;
}

void WriteTableAt(CSectorDevice& device, const std::vector<RoutineEntry>& table, std::uint32_t sector,
                  EditReport& report) {
  if (table.empty()) return;
  std::vector<std::uint8_t> buffer(TableSectors(table.size()) * kSectorSize, 0);
  for (std::size_t k = 0; k < table.size(); ++k) {
    table[k].Encode(buffer.data() + (k / kRoutinesPerTableSector) * kSectorSize +
                    (k % kRoutinesPerTableSector) * RoutineEntry::kEncodedSize);
  }
  const auto sectors = static_cast<std::uint32_t>(buffer.size() / kSectorSize);
  device.WriteSectors(sector, sectors, buffer.data());
  report.writtenSectors += sectors;
}

void CommitHeader(CSectorDevice& device, std::size_t count, std::uint32_t tableSector, EditReport& report) {
  DiskHeader header;
  header.routineCount = static_cast<std::int32_t>(count);
  header.tableSector = tableSector;
  std::array<std::uint8_t, kSectorSize> sector{};
  header.Encode(sector.data());
  device.WriteSectors(0, 1, sector.data());
  report.writtenSectors += 1;
}

void SetText(const EditOptions& options, const std::string& text) {
  if (options.status) options.status->SetText(text);
}

enum class DiskState { kOld, kPrefix, kNew, kOther };

DiskState StateOf(CSectorDevice& device, const EditPlan& plan) {
  std::array<std::uint8_t, kSectorSize> sector{};
  device.ReadSectors(0, 1, sector.data());
  const DiskHeader header = DiskHeader::Decode(sector.data());
  CVornDisk disk(device, nullptr);
  disk.ReadTable();
  if (!disk.IsValid() || header.magic != kDiskMagic) return DiskState::kOther;
  const auto is = [&](const std::vector<RoutineEntry>& table, std::uint32_t tableSector) {
    return disk.Table() == table && header.routineCount == static_cast<std::int32_t>(table.size()) &&
           header.tableSector == tableSector;
  };
  // The prefix first: when it equals the old table (both empty), data may have
  // moved already, and going on is right either way.
  if (is(plan.PrefixTable(), plan.prefixTableSector)) return DiskState::kPrefix;
  if (is(plan.newTable, plan.NewEnd())) return DiskState::kNew;
  if (is(plan.oldTable, plan.oldTableSector)) return DiskState::kOld;
  return DiskState::kOther;
}

// Where the next piece of copy `c` lies, given the pieces already on the disk.
struct Cursor {
  std::size_t copy = 0;
  std::uint32_t done = 0;  // sectors of it written (from its end when backward)
};

Cursor ResumePoint(const EditPlan& plan, const std::vector<EditPiece>& pieces) {
  Cursor cursor;
  if (pieces.empty()) return cursor;
  const EditPiece& last = pieces.back();
  const EditCopy& copy = plan.copies[last.copy];
  cursor.copy = last.copy;
  cursor.done = copy.backward ? copy.count - last.offset : last.offset + last.count;
  if (cursor.done >= copy.count) {
    ++cursor.copy;
    cursor.done = 0;
  }
  return cursor;
}

// Reads back every logged piece from the medium and compares it.
void VerifyPieces(CSectorDevice& device, CEditRecord& record, const EditOptions& options) {
  if (auto* drive = dynamic_cast<CDriveAccess*>(&device); drive && !drive->DropCache()) {
    throw CUsbDeviceException("Verify failed\nThe moved routines on " + device.GetName() +
                              " cannot be read back from the card itself.");
  }
  // The last entry of a piece counts (a piece redone after an interruption).
  std::map<std::pair<std::uint32_t, std::uint32_t>, EditPiece> pieces;
  for (const EditPiece& piece : record.Pieces()) pieces[{piece.copy, piece.offset}] = piece;
  std::uint64_t total = 0;
  for (const auto& [key, piece] : pieces) total += piece.count;
  SetText(options, "Verifying");
  if (options.progress) options.progress->SetRange(0, 100);
  std::vector<std::uint8_t> buffer(std::size_t{kMaxPiece} * kSectorSize);
  std::uint64_t done = 0;
  for (const auto& [key, piece] : pieces) {
    ThrowIfCancelled(options.cancel);  // the next recovery reads them all again
    const std::uint32_t first = record.Plan().copies[piece.copy].to + piece.offset;
    if (buffer.size() < std::size_t{piece.count} * kSectorSize) buffer.resize(std::size_t{piece.count} * kSectorSize);
    device.ReadSectors(first, piece.count, buffer.data());
    if (EditHash(buffer.data(), std::size_t{piece.count} * kSectorSize) != piece.hash) {
      throw CUsbDeviceException("Verify failed\nSectors " + std::to_string(first) + " to " +
                                std::to_string(first + piece.count - 1) + " of " + device.GetName() +
                                " read back differently from what was written: the card may be failing.");
    }
    done += piece.count;
    if (options.progress && total) options.progress->SetPos(static_cast<int>(done * 100 / total));
  }
}

// From the prefix state on: every copy from where it stands, the read-back,
// the new table, the header. The record goes once the header points at it.
void Finish(CSectorDevice& device, CEditRecord& record, const EditOptions& options, EditReport& report) {
  const EditPlan& plan = record.Plan();
  std::uint64_t total = 0;
  for (const EditCopy& copy : plan.copies) total += copy.count;
  std::uint64_t before = 0;
  const Cursor start = ResumePoint(plan, record.Pieces());
  for (std::size_t c = 0; c < start.copy; ++c) before += plan.copies[c].count;
  before += start.done;
  SetText(options, "Moving routines");
  if (options.progress) {
    options.progress->SetRange(0, 100);
    options.progress->SetPos(total ? static_cast<int>(before * 100 / total) : 0);
  }

  // The pieces left, in order.
  struct Piece {
    std::uint32_t copy, offset, count;
  };
  std::vector<Piece> pieces;
  for (std::size_t c = start.copy; c < plan.copies.size(); ++c) {
    const EditCopy& copy = plan.copies[c];
    for (std::uint32_t done = c == start.copy ? start.done : 0; done < copy.count;) {
      const std::uint32_t count = std::min(copy.piece, copy.count - done);
      pieces.push_back({static_cast<std::uint32_t>(c), copy.backward ? copy.count - done - count : done, count});
      done += count;
    }
  }
  const auto read = [&](const Piece& piece, std::vector<std::uint8_t>& buffer) {
    const EditCopy& copy = plan.copies[piece.copy];
    buffer.resize(std::size_t{piece.count} * kSectorSize);
    if (copy.stash >= 0) {
      record.ReadStash(static_cast<std::size_t>(copy.stash), copy.from + piece.offset, piece.count, buffer.data());
    } else {
      device.ReadSectors(copy.from + piece.offset, piece.count, buffer.data());
    }
  };
  std::vector<std::uint8_t> current, next;
  std::uint64_t written = before;
  if (!pieces.empty()) {
    ThrowIfCancelled(options.cancel);
    read(pieces.front(), current);
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& piece = pieces[i];
    device.WriteSectors(plan.copies[piece.copy].to + piece.offset, piece.count, current.data());
    report.writtenSectors += piece.count;
    report.movedSectors += piece.count;
    // Logged (and synced) before the next write, which may overwrite this
    // piece's source; meanwhile the next piece is read, which changes nothing.
    const EditPiece logged{piece.copy, piece.offset, piece.count, EditHash(current.data(), current.size())};
    std::future<void> logging = std::async(std::launch::async, [&record, logged] { record.AddPiece(logged); });
    std::exception_ptr readError;
    if (i + 1 < pieces.size()) {
      try {
        ThrowIfCancelled(options.cancel);
        read(pieces[i + 1], next);
      } catch (...) {
        readError = std::current_exception();
      }
    }
    logging.get();
    if (readError) std::rethrow_exception(readError);
    std::swap(current, next);
    written += piece.count;
    if (options.progress && total) options.progress->SetPos(static_cast<int>(written * 100 / total));
  }
  VerifyPieces(device, record, options);
  SetText(options, "Writing the routine table");
  WriteTableAt(device, plan.newTable, plan.NewEnd(), report);
  CommitHeader(device, plan.newTable.size(), plan.NewEnd(), report);
  record.Remove();
  SetText(options, "Ready");
}

// A routine file read and converted as an import does, ready to be stashed.
struct PreparedItem {
  PreparedRoutine routine;
  std::uint32_t mp3Sectors = 0;
  std::uint32_t dataSectors = 0;
};

RoutineEntry EntryFromFile(const RoutineFileHeader& header) {
  RoutineEntry entry;
  for (std::size_t i = 0; i < entry.title.size() && header.title[i] != '\0'; ++i) entry.title[i] = header.title[i];
  entry.frameRate = header.frameRate;
  entry.baudCode = header.baudCode;
  entry.controllerSettings = header.controllerSettings;
  return entry;
}

}  // namespace

// ---- the edit model --------------------------------------------------------

CRoutineEdit::CRoutineEdit(std::vector<RoutineEntry> table) : m_old(std::move(table)) {
  for (std::size_t k = 0; k < m_old.size(); ++k) m_items.push_back({k, {}, m_old[k]});
}

void CRoutineEdit::CheckPosition(std::size_t position, std::size_t count) const {
  if (position >= count) {
    throw CEditError("There is no routine " + std::to_string(position + 1) + ": the show has " +
                     std::to_string(m_items.size()) + " routine" + (m_items.size() == 1 ? "" : "s") + ".");
  }
}

void CRoutineEdit::Remove(std::vector<std::size_t> positions) {
  std::sort(positions.begin(), positions.end());
  if (std::adjacent_find(positions.begin(), positions.end()) != positions.end()) {
    throw CEditError("Routine " + std::to_string(*std::adjacent_find(positions.begin(), positions.end()) + 1) +
                     " is named twice.");
  }
  for (std::size_t position : positions) CheckPosition(position, m_items.size());
  for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
    m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(*it));
  }
}

void CRoutineEdit::Move(std::size_t from, std::size_t to) {
  CheckPosition(from, m_items.size());
  CheckPosition(to, m_items.size());
  Item item = std::move(m_items[from]);
  m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(from));
  m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(to), std::move(item));
}

void CRoutineEdit::Replace(std::size_t position, const std::string& path) {
  CheckPosition(position, m_items.size());
  m_items[position] = {std::nullopt, path, {}};
}

void CRoutineEdit::Insert(std::size_t position, const std::vector<std::string>& paths) {
  CheckPosition(position, m_items.size() + 1);
  std::vector<Item> added;
  for (const std::string& path : paths) added.push_back({std::nullopt, path, {}});
  m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(position), added.begin(), added.end());
}

void CRoutineEdit::Retitle(std::size_t position, const std::string& title) {
  CheckPosition(position, m_items.size());
  if (!m_items[position].oldIndex) throw CEditError("A routine from a file takes the title of its file.");
  std::string diskText;
  try {
    diskText = Utf8ToDiskText(title);
  } catch (const CDiskTextError& error) {
    throw CEditError("The title cannot be stored on the disk: " + std::string(error.what()));
  }
  if (diskText.size() > RoutineEntry::kTitleSize) {
    throw CEditError("A title holds at most 16 characters, not " + std::to_string(diskText.size()) + ".");
  }
  RoutineEntry& entry = m_items[position].entry;
  entry.title.fill('\0');
  std::copy(diskText.begin(), diskText.end(), entry.title.begin());
}

void CRoutineEdit::ChangeSettings(std::size_t position, const RoutineSettingsChange& change) {
  CheckPosition(position, m_items.size());
  if (!m_items[position].oldIndex) throw CEditError("A routine from a file takes the settings of its file.");
  RoutineEntry& entry = m_items[position].entry;
  if (change.controllerSettings) entry.controllerSettings = *change.controllerSettings;
  if (change.protocol) entry.controllerSettings[0] = *change.protocol;
  if (change.frameRate) entry.frameRate = *change.frameRate;
  if (change.baudCode) entry.baudCode = *change.baudCode;
}

// ---- applying it -----------------------------------------------------------

std::string DiskIdentity(CSectorDevice& device) {
  if (auto* image = dynamic_cast<CImageDevice*>(&device)) {
    struct stat info {};
    if (::stat(image->GetName().c_str(), &info) == 0) {
      return "image " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    }
  }
  if (auto* unit = dynamic_cast<CUsbDevice*>(&device); unit && !unit->Serial().empty()) {
    return "unit " + unit->Serial();
  }
  return "disk " + device.GetName() + " of " + std::to_string(device.GetSectorCount()) + " sectors";
}

bool EditPending(const std::string& identity, const std::string& recordRoot) {
  return CEditRecord::Find(recordRoot, identity) != nullptr;
}

bool DiscardEdit(const std::string& identity, const std::string& recordRoot) {
  const std::string directory = CEditRecord::DirectoryFor(recordRoot, identity);
  std::error_code error;
  if (!std::filesystem::exists(directory + "/plan", error)) return false;
  std::filesystem::remove(directory + "/plan", error);  // no record from here on
  std::filesystem::remove_all(directory, error);
  return true;
}

EditReport ApplyEdit(CVornDisk& disk, const CRoutineEdit& edit, const EditOptions& options) {
  CSectorDevice& device = disk.Device();
  if (!disk.IsValid()) throw CEditError("The disk is not formatted as a VORN disk; there is nothing to edit.");
  if (disk.Table() != edit.OldTable()) throw CEditError("The disk changed since its table was read; read it again.");
  if (CEditRecord::Find(options.recordRoot, options.identity)) {
    throw CEditRecordError("An interrupted edit of this disk is waiting to be finished; finish it first.");
  }
  const std::vector<RoutineEntry>& old = edit.OldTable();
  EditPlan plan;
  plan.identity = options.identity;
  plan.oldTable = old;
  plan.oldTableSector = static_cast<std::uint32_t>(disk.TableReadEnd() - SectorsRead(old.size()));
  const std::uint64_t oldEnd = old.empty() ? 1 : old.back().endSector;

  // Convert the files first, as an import does; nothing touches the disk yet.
  std::map<std::size_t, PreparedItem> prepared;
  for (std::size_t k = 0; k < edit.Items().size(); ++k) {
    const CRoutineEdit::Item& item = edit.Items()[k];
    if (item.oldIndex) continue;
    PreparedItem p{PrepareRoutine(item.path, ConversionContext{options.status, options.progress,
                                                                options.cancel}),
                   0, 0};
    p.mp3Sectors = static_cast<std::uint32_t>(SectorsFor(p.routine.mp3Size));
    p.dataSectors = static_cast<std::uint32_t>(SectorsFor(p.routine.header.dataSize));
    prepared.emplace(k, std::move(p));
  }
  ThrowIfCancelled(options.cancel);

  // The new layout: end to end from sector 1, in the new order.
  std::uint64_t next = 1;
  for (std::size_t k = 0; k < edit.Items().size(); ++k) {
    const CRoutineEdit::Item& item = edit.Items()[k];
    RoutineEntry entry;
    std::uint64_t mp3 = 0, size = 0;
    if (item.oldIndex) {
      const RoutineEntry& source = old[*item.oldIndex];
      entry = item.entry;
      mp3 = source.dataSector - source.startSector;
      size = source.endSector - source.startSector;
    } else {
      const PreparedItem& p = prepared.at(k);
      entry = EntryFromFile(p.routine.header);
      mp3 = p.mp3Sectors;
      size = std::uint64_t{p.mp3Sectors} + p.dataSectors;
    }
    if (next + size > std::numeric_limits<std::uint32_t>::max()) {
      throw CUsbDeviceException("Not enough free space on the disk: the edited show needs more sectors than a disk has");
    }
    entry.startSector = static_cast<std::uint32_t>(next);
    entry.dataSector = static_cast<std::uint32_t>(next + mp3);
    entry.endSector = static_cast<std::uint32_t>(next + size);
    next += size;
    plan.newTable.push_back(entry);
  }
  const std::vector<RoutineEntry>& fresh = plan.newTable;
  const std::uint64_t newEnd = plan.NewEnd();
  const std::uint64_t deviceSectors = device.GetSectorCount();
  const std::uint64_t needed = newEnd + SectorsRead(fresh.size());
  if (needed > std::numeric_limits<std::uint32_t>::max() || (deviceSectors != 0 && needed > deviceSectors)) {
    const std::uint64_t missing = needed - (deviceSectors ? deviceSectors : std::numeric_limits<std::uint32_t>::max());
    throw CUsbDeviceException("Not enough free space on the disk: the edited show needs " + std::to_string(missing) +
                              " more sectors (" + Megabytes(missing) + "); nothing was changed.");
  }

  EditReport report;
  if (fresh == old) return report;

  // Only records changed, within one table sector of a table in its place:
  // that sector, written in one piece, is the whole edit.
  if (fresh.size() == old.size() && plan.oldTableSector == newEnd) {
    std::vector<std::size_t> changed;
    for (std::size_t k = 0; k < old.size(); ++k) {
      if (!(fresh[k] == old[k])) changed.push_back(k / kRoutinesPerTableSector);
    }
    // Each routine is the one that was there (two of one size swapped would
    // have the same sectors and other bytes).
    bool placesKept = true;
    for (std::size_t k = 0; k < old.size(); ++k) {
      placesKept = placesKept && edit.Items()[k].oldIndex == k && fresh[k].startSector == old[k].startSector &&
                   fresh[k].dataSector == old[k].dataSector && fresh[k].endSector == old[k].endSector;
    }
    if (placesKept && std::adjacent_find(changed.begin(), changed.end(), std::not_equal_to<>()) == changed.end()) {
      const std::size_t first = changed.front() * kRoutinesPerTableSector;
      const std::size_t last = std::min(first + kRoutinesPerTableSector, fresh.size());
      std::vector<RoutineEntry> slice(fresh.begin() + static_cast<std::ptrdiff_t>(first),
                                      fresh.begin() + static_cast<std::ptrdiff_t>(last));
      ThrowIfCancelled(options.cancel);
      WriteTableAt(device, slice, static_cast<std::uint32_t>(newEnd + changed.front()), report);
      disk.ReadTable();
      return report;
    }
  }

  // The routines that stay as they are at the front.
  while (plan.prefixCount < fresh.size() && plan.prefixCount < old.size() &&
         edit.Items()[plan.prefixCount].oldIndex == plan.prefixCount && fresh[plan.prefixCount] == old[plan.prefixCount]) {
    ++plan.prefixCount;
  }
  // Their table goes behind everything the old show, the new one and the
  // moves touch; on a disk with no room there, the disk shows no routines
  // meanwhile (still a prefix of the new show). An empty prefix points there
  // too, so that it does not read like a freshly formatted disk, which a
  // recovery must not take for this edit's.
  const std::uint64_t prefixAt = std::max({oldEnd, std::uint64_t{plan.oldTableSector} + SectorsRead(old.size()),
                                           newEnd + SectorsRead(fresh.size())});
  const std::uint64_t prefixEnd = prefixAt + SectorsRead(plan.prefixCount);
  if (prefixEnd > std::numeric_limits<std::uint32_t>::max() ||
      (deviceSectors != 0 && prefixEnd > deviceSectors)) {
    plan.prefixCount = 0;
    plan.prefixTableSector = 1;
  } else {
    plan.prefixTableSector = static_cast<std::uint32_t>(prefixAt);
  }

  // What moves, and how. A routine moving down is copied first piece first,
  // one moving up last piece first, each in pieces no longer than the
  // distance, so no piece overwrites its own source and a piece cut short can
  // be written again. All that move down go before all that move up, or the
  // other way round: whichever saves less keeps in the record the routines
  // whose source the other direction overwrites before they are copied.
  struct Move {
    std::size_t item;
    std::uint32_t from, to, count;
  };
  std::vector<Move> down, up;
  std::vector<std::size_t> stashed;  // items written from the record
  for (std::size_t k = plan.prefixCount; k < fresh.size(); ++k) {
    const CRoutineEdit::Item& item = edit.Items()[k];
    const RoutineEntry& target = fresh[k];
    const std::uint32_t count = target.endSector - target.startSector;
    if (!item.oldIndex) {
      stashed.push_back(k);
      continue;
    }
    const std::uint32_t from = old[*item.oldIndex].startSector;
    if (count == 0 || from == target.startSector) continue;  // already in place
    const std::uint32_t distance = from > target.startSector ? from - target.startSector : target.startSector - from;
    if (distance < kMinDistance) {
      stashed.push_back(k);
    } else {
      (from > target.startSector ? down : up).push_back({k, from, target.startSector, count});
    }
  }
  const auto overlapsAny = [](const Move& m, const std::vector<Move>& others) {
    return std::any_of(others.begin(), others.end(), [&](const Move& o) {
      return m.from < std::uint64_t{o.to} + o.count && o.to < std::uint64_t{m.from} + m.count;
    });
  };
  std::vector<Move> upKeptA, upStashA, downKeptB, downStashB;
  std::uint64_t costA = 0, costB = 0;
  for (const Move& m : up) (overlapsAny(m, down) ? (costA += m.count, upStashA) : upKeptA).push_back(m);
  for (const Move& m : down) (overlapsAny(m, up) ? (costB += m.count, downStashB) : downKeptB).push_back(m);
  std::sort(down.begin(), down.end(), [](const Move& a, const Move& b) { return a.to < b.to; });
  std::sort(up.begin(), up.end(), [](const Move& a, const Move& b) { return a.to > b.to; });
  const auto addMoves = [&](const std::vector<Move>& moves, bool backward) {
    for (const Move& m : moves) {
      const std::uint32_t distance = backward ? m.to - m.from : m.from - m.to;
      plan.copies.push_back({-1, m.from, m.to, m.count, backward, std::min(kMaxPiece, distance)});
    }
  };
  const auto without = [](std::vector<Move> moves, const std::vector<Move>& drop) {
    std::erase_if(moves, [&](const Move& m) {
      return std::any_of(drop.begin(), drop.end(), [&](const Move& d) { return d.item == m.item; });
    });
    return moves;
  };
  if (costA <= costB) {
    addMoves(down, false);
    addMoves(without(up, upStashA), true);
    for (const Move& m : upStashA) stashed.push_back(m.item);
  } else {
    addMoves(up, true);
    addMoves(without(down, downStashB), false);
    for (const Move& m : downStashB) stashed.push_back(m.item);
  }
  std::sort(stashed.begin(), stashed.end());
  for (std::size_t n = 0; n < stashed.size(); ++n) {
    const RoutineEntry& target = fresh[stashed[n]];
    const std::uint32_t count = target.endSector - target.startSector;
    plan.stashSectors.push_back(count);
    if (count > 0) plan.copies.push_back({static_cast<std::int32_t>(n), 0, target.startSector, count, false, kMaxPiece});
    report.stashedSectors += count;
  }

  // The record, with the stashed routines in it, before the disk is touched.
  SetText(options, "Saving what the edit moves");
  std::unique_ptr<CEditRecord> record =
      CEditRecord::Create(options.recordRoot, plan, [&](std::size_t n, CSectorDevice& stash) {
        const std::size_t k = stashed[n];
        const CRoutineEdit::Item& item = edit.Items()[k];
        if (item.oldIndex) {
          const RoutineEntry& source = old[*item.oldIndex];
          std::vector<std::uint8_t> buffer;
          for (std::uint32_t s = source.startSector; s < source.endSector;) {
            const std::uint32_t count = std::min(kMaxPiece, source.endSector - s);
            buffer.resize(std::size_t{count} * kSectorSize);
            device.ReadSectors(s, count, buffer.data());
            stash.WriteSectors(s - source.startSector, count, buffer.data());
            s += count;
          }
          return;
        }
        PreparedItem& p = prepared.at(k);
        const std::string& path = p.routine.path;
        if (p.routine.mp3Size > 0 && !WriteFromFile(stash, p.routine.Mp3Stream(), 0, p.routine.mp3Size,
                                                    g_mp3SectorFiller.data(), nullptr, options.cancel)) {
          throw CFileAccessException("Error reading file: the audio of " + path + " ends early");
        }
        if (!WriteFromFile(stash, p.routine.routineFile.get(), p.mp3Sectors, p.routine.header.dataSize, nullptr,
                           nullptr, options.cancel)) {
          throw CFileAccessException("Error reading file: the control data of " + path + " ends early");
        }
      });
  report.recordKept = true;
  if (options.cancel && options.cancel->IsCancelled()) {
    record->Remove();
    ThrowIfCancelled(options.cancel);
  }

  // The disk shows the untouched front of the show from here on; nothing
  // named by it is written until the new table is in place.
  WriteTableAt(device, plan.PrefixTable(), plan.prefixTableSector, report);
  CommitHeader(device, plan.prefixCount, plan.prefixTableSector, report);
  Finish(device, *record, options, report);
  disk.ReadTable();
  return report;
}

RecoveryOutcome FinishEdit(CSectorDevice& device, const EditOptions& options) {
  std::unique_ptr<CEditRecord> record = CEditRecord::Find(options.recordRoot, options.identity);
  if (!record) return RecoveryOutcome::kNothingPending;
  switch (StateOf(device, record->Plan())) {
    case DiskState::kOld:
      record->Remove();
      return RecoveryOutcome::kNotStarted;
    case DiskState::kNew:
      record->Remove();
      return RecoveryOutcome::kAlreadyDone;
    case DiskState::kOther:
      throw CEditRecordError("The recovery record in " + record->Directory() +
                             " does not match what the disk holds now (the disk was changed since); it was not "
                             "applied and the disk was left as it is.");
    case DiskState::kPrefix:
      break;
  }
  record->CheckStash();
  EditReport report;
  Finish(device, *record, options, report);
  return RecoveryOutcome::kFinished;
}

}  // namespace vorn
