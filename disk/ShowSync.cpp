#include "disk/ShowSync.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <new>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "audio/ConvertAudio.h"
#include "audio/Mp3Frames.h"
#include "audio/RoutineFileHeader.h"
#include "device/DeviceExceptions.h"
#include "device/DriveAccess.h"
#include "disk/DiskText.h"
#include "disk/OutputFile.h"
#include "disk/RoutineEdit.h"
#include "disk/RoutineImport.h"
#include "disk/VornDisk.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFd.h"

namespace vorn {
namespace {

// 4 MiB per transfer, as the edits move data: a drive streams, and a stop
// request is answered within one piece.
constexpr std::uint32_t kPieceSectors = 8192;
// Reads of a disk's routines go in 4 MiB pieces too, into a page-aligned
// buffer that a drive reading past its cache fills without a copy.
constexpr std::uint32_t kReadSectors = 8192;

std::uint64_t SectorsFor(std::uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }
std::uint64_t TableSectors(std::uint64_t count) {
  return (count + kRoutinesPerTableSector - 1) / kRoutinesPerTableSector;
}
std::uint64_t SectorsRead(std::uint64_t count) { return count / kRoutinesPerTableSector + 1; }

std::string Megabytes(std::uint64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(sectors) * kSectorSize / 1e6);
  return text;
}

// XXH3 over a routine's sectors: it hashes many times faster than a drive
// reads, so comparing a disk costs its reads alone. Fed in whole sectors, so
// it does not matter how they are cut; values live for one run only.
class CSectorHash {
 public:
  CSectorHash() : m_state(XXH3_createState()) {
    if (!m_state || XXH3_64bits_reset(m_state.get()) != XXH_OK) throw std::bad_alloc();
  }
  void Add(const std::uint8_t* bytes, std::size_t size) { XXH3_64bits_update(m_state.get(), bytes, size); }
  std::uint64_t Value() const { return XXH3_64bits_digest(m_state.get()); }

 private:
  struct Free {
    void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
  };
  std::unique_ptr<XXH3_state_t, Free> m_state;
};

bool ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  while (size > 0) {
    const ssize_t got = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (got <= 0) return false;
    p += got;
    size -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

// The sectors of a converted routine as a disk holds them, in order: the MP3
// with its last sector filled from the silent frame, then the control data
// with its last sector filled with zeros (as an import writes them).
class CRoutineImage {
 public:
  explicit CRoutineImage(const ConvertedRoutine& routine) : m_routine(routine) {
    m_file = OpenRegularFile(routine.converted);
    if (!m_file.fd.IsValid()) {
      throw CFileAccessException("Could not open file " + routine.converted + ": " + m_file.Reason());
    }
  }

  // The next `count` sectors into `buffer`.
  void Read(std::uint32_t first, std::uint32_t count, std::uint8_t* buffer) {
    const std::uint64_t mp3Sectors = m_routine.entry.dataSector;
    for (std::uint32_t s = 0; s < count; ++s) {
      const std::uint64_t sector = std::uint64_t{first} + s;
      std::uint8_t* out = buffer + std::size_t{s} * kSectorSize;
      const bool audio = sector < mp3Sectors;
      const std::uint64_t size = audio ? m_routine.mp3Size : m_routine.dataSize;
      const std::uint64_t base = audio ? RoutineFileHeader::kEncodedSize : m_routine.dataOffset;
      const std::uint64_t at = (audio ? sector : sector - mp3Sectors) * kSectorSize;
      // Whole sectors in one read: the common case, and the fast one.
      std::uint32_t run = 1;
      while (s + run < count && (sector + run < mp3Sectors) == audio && at + std::uint64_t{run + 1} * kSectorSize <= size) {
        ++run;
      }
      const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t{run} * kSectorSize, size - at));
      if (!ReadAt(m_file.fd.Get(), out, bytes, base + at)) {
        throw CFileAccessException("Error reading file: " + m_routine.converted + " changed or ends early");
      }
      if (bytes < std::size_t{run} * kSectorSize) {
        const std::size_t tail = std::size_t{run} * kSectorSize - bytes;
        if (audio) {
          std::memcpy(out + bytes, g_mp3SectorFiller.data(), tail);
        } else {
          std::memset(out + bytes, 0, tail);
        }
      }
      s += run - 1;
    }
  }

 private:
  const ConvertedRoutine& m_routine;
  RegularFile m_file;
};

std::uint64_t ImageHash(const ConvertedRoutine& routine) {
  CRoutineImage image(routine);
  std::vector<std::uint8_t> buffer(std::size_t{kPieceSectors} * kSectorSize);
  CSectorHash hash;
  for (std::uint32_t s = 0; s < routine.Sectors();) {
    const std::uint32_t count = std::min(kPieceSectors, routine.Sectors() - s);
    image.Read(s, count, buffer.data());
    hash.Add(buffer.data(), std::size_t{count} * kSectorSize);
    s += count;
  }
  return hash.Value();
}

// The content key of a file: its size and a hash of its bytes.
std::string ContentKey(const std::string& path) {
  RegularFile file = OpenRegularFile(path);
  if (!file.fd.IsValid()) throw CFileAccessException("Could not open file " + path + ": " + file.Reason());
  std::vector<std::uint8_t> buffer(std::size_t{kPieceSectors} * kSectorSize);
  std::uint64_t hash = EditHash(nullptr, 0), size = 0;
  for (;;) {
    const ssize_t got = ::read(file.fd.Get(), buffer.data(), buffer.size());
    if (got < 0) throw CFileAccessException("Error reading file " + path);
    if (got == 0) break;
    hash = EditHash(buffer.data(), static_cast<std::size_t>(got), hash);
    size += static_cast<std::uint64_t>(got);
  }
  char key[48];
  std::snprintf(key, sizeof key, "%016llx-%llu", static_cast<unsigned long long>(hash),
                static_cast<unsigned long long>(size));
  return key;
}

// A key of the file's identity, size and times, or "" when it cannot be had.
std::string StatKey(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  const std::string text = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
                           std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
                           std::to_string(info.st_mtim.tv_nsec) + ":" + std::to_string(info.st_ctim.tv_sec) + "." +
                           std::to_string(info.st_ctim.tv_nsec);
  char key[32];
  std::snprintf(key, sizeof key, "stat-%016llx",
                static_cast<unsigned long long>(EditHash(text.data(), text.size())));
  return key;
}

std::string ReadSmallFile(const std::string& path) {
  RegularFile file = OpenRegularFile(path);
  if (!file.fd.IsValid()) return {};
  char text[128];
  const ssize_t got = ::pread(file.fd.Get(), text, sizeof text, 0);
  return got > 0 && got < static_cast<ssize_t>(sizeof text) ? std::string(text, static_cast<std::size_t>(got)) : "";
}

// Written whole or not at all; a cache that cannot be written only costs time.
void WriteSmallFile(const std::string& path, const std::string& text) {
  try {
    COutputFile out(path, {}, {});
    if (std::fwrite(text.data(), 1, text.size(), out.Stream()) == text.size()) out.Commit();
  } catch (const CVornError&) {
  }
}

// A converted routine file as the cache holds it (header of MP3 kind, sizes
// that match the file), or nothing.
std::optional<ConvertedRoutine> ReadConverted(const std::string& path) {
  RegularFile file = OpenRegularFile(path);
  if (!file.fd.IsValid()) return std::nullopt;
  std::uint8_t raw[RoutineFileHeader::kEncodedSize];
  struct stat info {};
  if (!ReadAt(file.fd.Get(), raw, sizeof raw, 0) || ::fstat(file.fd.Get(), &info) != 0) return std::nullopt;
  const RoutineFileHeader header = RoutineFileHeader::Decode(raw);
  if (header.version != 1 || header.audioFormat != RoutineFileHeader::kAudioFormatMp3 ||
      static_cast<std::uint64_t>(info.st_size) != sizeof raw + std::uint64_t{header.audioSize} + header.dataSize) {
    return std::nullopt;
  }
  ConvertedRoutine routine;
  routine.converted = path;
  routine.mp3Size = header.audioSize;
  routine.dataSize = header.dataSize;
  routine.dataOffset = sizeof raw + std::uint64_t{header.audioSize};
  return routine;
}

void CopyBytes(std::FILE* from, std::FILE* to, std::uint64_t bytes, const std::string& path,
               const CCancelFlag* cancel) {
  std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
  while (bytes > 0) {
    ThrowIfCancelled(cancel);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes));
    if (std::fread(buffer.data(), 1, n, from) != n) throw CFileAccessException("Error reading file " + path);
    if (std::fwrite(buffer.data(), 1, n, to) != n) throw CFileAccessException("Error writing the converted routine");
    bytes -= n;
  }
}

// Converts `source` as an import would and keeps the result at `target` as a
// routine file of the disk's MP3 kind. Audio already of that kind is not
// copied: the source serves as it is.
ConvertedRoutine Convert(const std::string& source, const std::string& target, CStatusText* status,
                         CProgressBar* progress, const CCancelFlag* cancel) {
  PreparedRoutine prepared = PrepareRoutine(source, ConversionContext{status, progress, cancel});
  ConvertedRoutine routine;
  routine.mp3Size = prepared.mp3Size;
  routine.dataSize = prepared.header.dataSize;
  if (!prepared.convertedStream) {
    routine.converted = source;
    routine.dataOffset = RoutineFileHeader::kEncodedSize + std::uint64_t{prepared.header.audioSize};
    return routine;
  }
  COutputFile out(target, {source}, {});
  RoutineFileHeader header = prepared.header;
  header.audioFormat = RoutineFileHeader::kAudioFormatMp3;
  header.audioSize = prepared.mp3Size;
  std::uint8_t raw[RoutineFileHeader::kEncodedSize];
  header.Encode(raw);
  if (std::fwrite(raw, 1, sizeof raw, out.Stream()) != sizeof raw) {
    throw CFileAccessException("Error writing the converted routine " + target);
  }
  CopyBytes(prepared.convertedStream.get(), out.Stream(), prepared.mp3Size, source, cancel);
  // The routine file stands at its control data once the audio is converted.
  CopyBytes(prepared.routineFile.get(), out.Stream(), prepared.header.dataSize, source, cancel);
  out.Commit();
  routine.converted = target;
  routine.dataOffset = sizeof raw + std::uint64_t{prepared.mp3Size};
  return routine;
}

RoutineEntry EntryFor(const ShowSetRoutine& source, const RoutineFileHeader& header) {
  RoutineEntry entry;
  if (source.title) {
    const std::string text = Utf8ToDiskText(*source.title);  // checked when the show set was read
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min(text.size(), entry.title.size())),
              entry.title.begin());
  } else {
    for (std::size_t i = 0; i < entry.title.size() && header.title[i] != '\0'; ++i) entry.title[i] = header.title[i];
  }
  entry.frameRate = header.frameRate;
  entry.baudCode = header.baudCode;
  entry.controllerSettings = header.controllerSettings;
  const RoutineSettingsChange& change = source.settings;
  if (change.controllerSettings) entry.controllerSettings = *change.controllerSettings;
  if (change.protocol) entry.controllerSettings[0] = *change.protocol;
  if (change.frameRate) entry.frameRate = *change.frameRate;
  if (change.baudCode) entry.baudCode = *change.baudCode;
  return entry;
}

RoutineFileHeader ReadHeader(const std::string& path) {
  RegularFile file = OpenRegularFile(path);
  std::uint8_t raw[RoutineFileHeader::kEncodedSize];
  if (!file.fd.IsValid() || !ReadAt(file.fd.Get(), raw, sizeof raw, 0)) {
    throw CFileAccessException("Error reading file " + path);
  }
  return RoutineFileHeader::Decode(raw);
}

// Reads routines [from, to) of `table`, which lie end to end, in large pieces
// and hands each routine's hash to
// `check` as soon as its last sector is in; reading stops when `check` says so.
void HashRoutines(CSectorDevice& device, const std::vector<RoutineEntry>& table, std::size_t from, std::size_t to,
                  const std::function<bool(std::size_t, std::uint64_t)>& check,
                  const std::function<void(std::uint32_t)>& done, const CCancelFlag* cancel) {
  if (from >= to) return;
  const std::uint32_t first = table[from].startSector;
  const std::uint32_t end = table[to - 1].endSector;
  std::size_t k = from;
  CSectorHash hash;
  bool going = true;
  // Hashes the sectors from `sector` on and closes every routine they end.
  const auto feed = [&](std::uint32_t sector, const std::uint8_t* bytes, std::uint32_t count) {
    while (going && k < to) {
      if (sector == table[k].endSector) {
        going = check(k, hash.Value());
        hash = CSectorHash();
        ++k;
        continue;
      }
      if (count == 0) break;
      const std::uint32_t take = std::min(count, table[k].endSector - sector);
      hash.Add(bytes, std::size_t{take} * kSectorSize);
      sector += take;
      bytes += std::size_t{take} * kSectorSize;
      count -= take;
    }
  };
  // Hashed on this thread as each piece arrives: even a fast card reads far
  // slower than this hashes, and a helper thread per piece only waits for a
  // processor on a busy machine. Not zeroed: every byte is read before use.
  // Page-aligned, so a drive reading past its cache reads straight into it.
  struct Free {
    void operator()(std::uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<std::uint8_t, Free> buffer(
      static_cast<std::uint8_t*>(std::aligned_alloc(4096, std::size_t{kReadSectors} * kSectorSize)));
  if (!buffer) throw std::bad_alloc();
  // Pieces start on 4 KiB boundaries (routines start at sector 1), so a
  // drive read past its cache goes straight into the buffer; the sectors
  // before `first` are read and not hashed.
  constexpr std::uint32_t kAlignSectors = 4096 / kSectorSize;
  for (std::uint32_t s = first / kAlignSectors * kAlignSectors; s < end && going;) {
    ThrowIfCancelled(cancel);
    const std::uint32_t n = std::min(kReadSectors, end - s);
    device.ReadSectors(s, n, buffer.get());
    const std::uint32_t skip = s < first ? first - s : 0;
    feed(s + skip, buffer.get() + std::size_t{skip} * kSectorSize, n - skip);
    if (done) done(n - skip);
    s += n;
  }
  feed(end, nullptr, 0);  // routines of no sectors, at the start or the end
}

// Reads a drive from its medium, not from this computer's cache of what was
// written, for as long as it lives: with direct I/O where the drive takes it,
// else after syncing it and dropping its cache.
class CMediumReads {
 public:
  explicit CMediumReads(CSectorDevice& device) : m_drive(dynamic_cast<CDriveAccess*>(&device)) {
    if (!m_drive) return;
    m_direct = m_drive->ReadFromMedium(true);
    if (!m_direct && !m_drive->DropCache()) {
      throw CUsbDeviceException("Verify failed\n" + device.GetName() + " cannot be read back from the card itself.");
    }
  }
  ~CMediumReads() {
    if (m_direct) m_drive->ReadFromMedium(false);
  }
  CMediumReads(const CMediumReads&) = delete;
  CMediumReads& operator=(const CMediumReads&) = delete;

 private:
  CDriveAccess* m_drive;
  bool m_direct = false;
};

// The show's table placed from sector 1.
std::vector<RoutineEntry> Placed(const std::vector<ConvertedRoutine>& routines) {
  std::vector<RoutineEntry> table;
  std::uint32_t next = 1;
  for (const ConvertedRoutine& r : routines) {
    RoutineEntry entry = r.entry;
    entry.startSector = next;
    entry.dataSector = next + r.entry.dataSector;
    entry.endSector = next + r.entry.endSector;
    next = entry.endSector;
    table.push_back(entry);
  }
  return table;
}

// Reports a phase and its percent to the caller, only when it changes.
class CDiskReporter {
 public:
  CDiskReporter(const SyncOptions& options, std::size_t index, std::string name)
      : m_options(options), m_progress{index, std::move(name), SyncPhase::kWaiting, 0} {}

  void Phase(SyncPhase phase, std::uint64_t total = 0) {
    m_progress.phase = phase;
    m_progress.percent = phase == SyncPhase::kDone ? 100 : 0;
    m_total = total;
    m_done = 0;
    Send();
  }
  void Advance(std::uint64_t sectors) {
    m_done += sectors;
    const int percent = m_total ? static_cast<int>(std::min<std::uint64_t>(100, m_done * 100 / m_total)) : 100;
    if (percent != m_progress.percent) {
      m_progress.percent = percent;
      Send();
    }
  }

 private:
  void Send() {
    if (m_options.progress) m_options.progress(m_progress);
  }
  const SyncOptions& m_options;
  SyncProgress m_progress;
  std::uint64_t m_total = 0, m_done = 0;
};

DiskSyncPlan Plan(CVornDisk& disk, const CConvertedShow& show, CDiskReporter* reporter, const CCancelFlag* cancel) {
  CSectorDevice& device = disk.Device();
  DiskSyncPlan plan;
  const std::vector<RoutineEntry> target = show.Table();
  const std::vector<RoutineEntry>& old = disk.Table();
  plan.formatted = disk.IsValid();
  plan.oldCount = old.size();
  // The routines worth reading: those whose records already match.
  std::size_t candidates = 0;
  std::uint64_t toRead = 0;
  while (candidates < old.size() && candidates < target.size() && old[candidates] == target[candidates]) {
    toRead += target[candidates].endSector - target[candidates].startSector;
    ++candidates;
  }
  if (reporter) reporter->Phase(SyncPhase::kComparing, toRead);
  std::optional<CMediumReads> medium;
  if (candidates > 0) medium.emplace(device);
  const auto& routines = show.Routines();
  HashRoutines(
      device, target, 0, candidates,
      [&](std::size_t k, std::uint64_t hash) {
        if (hash != routines[k].imageHash) return false;
        plan.kept = k + 1;
        return true;
      },
      [&](std::uint32_t n) { if (reporter) reporter->Advance(n); }, cancel);
  for (std::size_t k = plan.kept; k < target.size(); ++k) {
    plan.writeSectors += target[k].endSector - target[k].startSector;
    ++plan.written;
  }
  // A disk that holds the show and more only loses the rest: nothing to write
  // but the table. Room is needed only for what is written: the show, its
  // table, and the copy of the table an append moves out of the way.
  if (plan.written > 0) {
    const std::uint64_t end = target.back().endSector;
    const std::uint64_t needed = std::max(end + SectorsRead(target.size()),
                                          end + TableSectors(target.size()) + SectorsRead(target.size() - 1));
    const std::uint64_t size = device.GetSectorCount();
    if (size != 0 && needed > size) {
      plan.fits = false;
      plan.missingSectors = needed - size;
    }
  }
  return plan;
}

DiskSyncResult SyncOne(std::size_t index, const CConvertedShow& show, const SyncDisk& target,
                       const SyncOptions& options) {
  DiskSyncResult result;
  result.name = target.name;
  const auto start = std::chrono::steady_clock::now();
  CDiskReporter reporter(options, index, target.name);
  CSectorDevice& device = *target.device;
  try {
    if (EditPending(DiskIdentity(device), options.recordRoot)) {
      throw CEditRecordError("An edit of " + target.name + " was interrupted and the disk holds part of the new "
                             "show; finish it first ('vorn3ctl recover " + target.name + "'). Nothing was written "
                             "to it.");
    }
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    result.plan = Plan(disk, show, &reporter, options.cancel);
    result.verified = result.plan.kept;
    if (!result.plan.fits) {
      throw CUsbDeviceException("Not enough free space on " + target.name + " for the show: " +
                                std::to_string(result.plan.missingSectors) + " more sectors (" +
                                Megabytes(result.plan.missingSectors) + ") are needed; nothing was written to it.");
    }
    if (options.dryRun) {
      result.phase = SyncPhase::kDone;
      reporter.Phase(SyncPhase::kDone);
      result.time = std::chrono::steady_clock::now() - start;
      return result;
    }
    result.kept = result.plan.kept;
    const auto& routines = show.Routines();
    const std::vector<RoutineEntry> table = show.Table();
    const bool tableMatches = disk.IsValid() && disk.Table() == table;
    if (!tableMatches) {
      ThrowIfCancelled(options.cancel);
      reporter.Phase(SyncPhase::kWriting, result.plan.writeSectors);
      // From here on the disk reads as its old show or as the new show's
      // first routines: the table shrinks to what is kept (one header write),
      // then each routine is appended and committed on its own.
      if (disk.IsValid()) disk.TruncateTable(result.plan.kept);
      const std::uint32_t piece =
          std::clamp<std::uint32_t>(device.TransferSectors(), kProtocolPieceSectors, kPieceSectors);
      std::vector<std::uint8_t> buffer(std::size_t{piece} * kSectorSize);
      for (std::size_t k = result.plan.kept; k < routines.size(); ++k) {
        ThrowIfCancelled(options.cancel);
        CRoutineImage image(routines[k]);
        const RoutineEntry& entry = table[k];
        disk.AppendRoutine(entry, [&] {
          for (std::uint32_t s = 0; s < routines[k].Sectors();) {
            ThrowIfCancelled(options.cancel);
            const std::uint32_t count = std::min(piece, routines[k].Sectors() - s);
            image.Read(s, count, buffer.data());
            device.WriteSectors(entry.startSector + s, count, buffer.data());
            s += count;
            reporter.Advance(count);
          }
        });
        ++result.written;
      }
      // Read back from the medium: every routine written, then the table.
      std::uint64_t toVerify = 0;
      for (std::size_t k = result.plan.kept; k < routines.size(); ++k) toVerify += routines[k].Sectors();
      reporter.Phase(SyncPhase::kVerifying, toVerify);
      CMediumReads medium(device);
      std::optional<std::size_t> wrong;
      HashRoutines(
          device, table, result.plan.kept, routines.size(),
          [&](std::size_t k, std::uint64_t hash) {
            if (hash != routines[k].imageHash) wrong = k;
            return !wrong;
          },
          [&](std::uint32_t n) { reporter.Advance(n); }, options.cancel);
      if (wrong) {
        throw CUsbDeviceException("Verify failed\nRoutine " + std::to_string(*wrong + 1) + " of " + target.name +
                                  " read back differently from what was written: the card may be failing.");
      }
      result.verified += routines.size() - result.plan.kept;
    }
    CVornDisk check(device, nullptr);
    if (check.ReadTable() != table || !check.IsValid()) {
      throw CUsbDeviceException("Verify failed\nThe routine table of " + target.name +
                                " read back differently from what was written.");
    }
    result.phase = SyncPhase::kDone;
    reporter.Phase(SyncPhase::kDone);
  } catch (const CCancelled&) {
    result.phase = SyncPhase::kCancelled;
    reporter.Phase(SyncPhase::kCancelled);
  } catch (const CVornError& error) {
    result.failure = error;
    result.phase = SyncPhase::kFailed;
    reporter.Phase(SyncPhase::kFailed);
  } catch (const std::exception& error) {
    result.failure = CVornError(target.name + ": " + error.what());
    result.phase = SyncPhase::kFailed;
    reporter.Phase(SyncPhase::kFailed);
  }
  result.time = std::chrono::steady_clock::now() - start;
  return result;
}

// The run folders of syncs that were killed (named after a process that no
// longer runs): nothing else would ever remove them.
void RemoveAbandonedRunDirs(const std::string& temp) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(temp, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("vorn-sync-", 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + 10, nullptr, 10);
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
      std::error_code ignored;
      std::filesystem::remove_all(entry.path(), ignored);
    }
  }
}

}  // namespace

std::uint64_t SectorImageHash(const void* sectors, std::size_t size) {
  CSectorHash hash;
  hash.Add(static_cast<const std::uint8_t*>(sectors), size);
  return hash.Value();
}

// ---- the converted show -----------------------------------------------------

std::string CConvertedShow::DefaultCacheDir() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && cache[0] == '/') return std::string(cache) + "/vorn3manager/converted";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.cache/vorn3manager/converted";
}

std::unique_ptr<CConvertedShow> CConvertedShow::Prepare(const ShowSet& set, const std::string& cacheDir,
                                                        CStatusText* status, CProgressBar* progress,
                                                        const CCancelFlag* cancel) {
  std::unique_ptr<CConvertedShow> show(new CConvertedShow);
  std::string folder = cacheDir;
  std::error_code error;
  if (folder.empty()) {
    const std::string temp = std::filesystem::temp_directory_path(error).string();
    RemoveAbandonedRunDirs(temp);
    std::string pattern = temp + "/vorn-sync-" + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw CFileAccessException("Could not make a folder for the converted routines");
    show->m_runDir = pattern;
    folder = pattern;
  } else {
    std::filesystem::create_directories(folder, error);
    if (error) throw CFileAccessException("Could not make the cache folder " + folder + ": " + error.message());
  }
  // Each routine once, however often the show names it; by content, so a
  // routine renamed or copied is not converted again.
  std::map<std::string, ConvertedRoutine> byContent;
  for (const ShowSetRoutine& source : set.routines) {
    ThrowIfCancelled(cancel);
    // Across runs the file's identity and times find its content key without
    // reading it again (any write changes its ctime); within a run, hashing it
    // costs far less than a conversion.
    const std::string statKey = cacheDir.empty() ? std::string() : StatKey(source.path);
    std::string key = statKey.empty() ? std::string() : ReadSmallFile(folder + "/" + statKey + ".key");
    if (key.empty()) {
      key = ContentKey(source.path);
      if (!statKey.empty()) WriteSmallFile(folder + "/" + statKey + ".key", key);
    }
    auto found = byContent.find(key);
    if (found == byContent.end()) {
      const std::string target = folder + "/" + key + ".vorn";
      std::optional<ConvertedRoutine> cached = ReadConverted(target);
      ConvertedRoutine routine;
      if (cached) {
        routine = *cached;
      } else {
        if (status) status->SetText("Converting " + source.file);
        try {
          routine = Convert(source.path, target, status, progress, cancel);
        } catch (const CCancelled&) {
          throw;
        } catch (const CVornError& e) {
          throw CVornError(source.file + ": " + e.what(), e.Caption(), e.Icon(), e.Detail());
        }
        if (routine.converted != source.path) ++show->m_converted;
      }
      routine.imageHash = 0;
      routine.entry.dataSector = static_cast<std::uint32_t>(SectorsFor(routine.mp3Size));
      routine.entry.endSector = static_cast<std::uint32_t>(routine.entry.dataSector + SectorsFor(routine.dataSize));
      routine.imageHash = ImageHash(routine);
      found = byContent.emplace(key, routine).first;
    }
    ConvertedRoutine routine = found->second;
    routine.source = source.path;
    const RoutineEntry placed = routine.entry;
    routine.entry = EntryFor(source, ReadHeader(source.path));
    routine.entry.startSector = 0;
    routine.entry.dataSector = placed.dataSector;
    routine.entry.endSector = placed.endSector;
    show->m_routines.push_back(routine);
  }
  if (status) status->SetText({});
  std::uint64_t end = 1;
  for (const ConvertedRoutine& r : show->m_routines) end += r.Sectors();
  if (end + SectorsRead(show->m_routines.size()) > std::numeric_limits<std::uint32_t>::max()) {
    throw CShowSetError("The show of " + set.path + " is larger than any disk can hold.");
  }
  return show;
}

CConvertedShow::~CConvertedShow() {
  if (!m_runDir.empty()) {
    std::error_code error;
    std::filesystem::remove_all(m_runDir, error);
  }
}

std::vector<RoutineEntry> CConvertedShow::Table() const { return Placed(m_routines); }

std::uint64_t CConvertedShow::DiskSectors() const {
  std::uint64_t end = 1;
  for (const ConvertedRoutine& r : m_routines) end += r.Sectors();
  return end + SectorsRead(m_routines.size());
}

// ---- syncing disks ----------------------------------------------------------

const char* SyncPhaseName(SyncPhase phase) {
  switch (phase) {
    case SyncPhase::kWaiting: return "waiting";
    case SyncPhase::kComparing: return "comparing";
    case SyncPhase::kWriting: return "writing";
    case SyncPhase::kVerifying: return "verifying";
    case SyncPhase::kDone: return "done";
    case SyncPhase::kFailed: return "failed";
    case SyncPhase::kCancelled: return "cancelled";
  }
  return "?";
}

void RefuseSameDisk(const std::vector<SyncDisk>& disks) {
  std::map<std::string, std::string> seen;
  for (const SyncDisk& disk : disks) {
    const std::string identity = DiskIdentity(*disk.device);
    const auto [it, added] = seen.emplace(identity, disk.name);
    if (!added) {
      throw CShowSyncError(it->second + " and " + disk.name + " are the same disk; name each disk once. "
                           "Nothing was written.");
    }
  }
}

DiskSyncPlan PlanDisk(CSectorDevice& device, const CConvertedShow& show) {
  CVornDisk disk(device, nullptr);
  disk.ReadTable();
  return Plan(disk, show, nullptr, nullptr);
}

std::vector<DiskSyncResult> SyncShow(const CConvertedShow& show, const std::vector<SyncDisk>& disks,
                                     const SyncOptions& options) {
  if (disks.empty()) throw CShowSyncError("No disk to write the show to.");
  RefuseSameDisk(disks);
  // One worker per disk: a unit on USB and a card reader wait on different
  // buses, so their writes overlap.
  std::vector<std::future<DiskSyncResult>> workers;
  for (std::size_t i = 0; i < disks.size(); ++i) {
    workers.push_back(std::async(std::launch::async, [&, i] { return SyncOne(i, show, disks[i], options); }));
  }
  std::vector<DiskSyncResult> results;
  for (auto& worker : workers) results.push_back(worker.get());
  return results;
}

}  // namespace vorn
