#include "disk/EditRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/LittleEndian.h"

namespace vorn {
namespace {

constexpr char kMagic[8] = {'V', 'O', 'R', 'N', 'E', 'D', 'I', 'T'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kPieceRecordSize = 28;  // copy, offset, count, hash, checksum
constexpr std::uint32_t kMaxTable = 1u << 24;  // more records than any disk holds

std::string SystemReason() { return std::strerror(errno); }

[[noreturn]] void Fail(const std::string& what) {
  throw CEditRecordError("Could not keep the recovery record of the edit: " + what + ": " + SystemReason());
}

void SyncDirectory(const std::string& path) {
  CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.IsValid()) ::fsync(fd.Get());
}

void WriteAll(int fd, const void* bytes, std::size_t size, std::uint64_t offset, const std::string& path) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  while (size > 0) {
    const ssize_t done = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (done < 0) {
      if (errno == EINTR) continue;
      Fail(path);
    }
    p += done;
    size -= static_cast<std::size_t>(done);
    offset += static_cast<std::uint64_t>(done);
  }
}

bool ReadAll(int fd, void* bytes, std::size_t size, std::uint64_t offset) {
  auto* p = static_cast<std::uint8_t*>(bytes);
  while (size > 0) {
    const ssize_t done = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    size -= static_cast<std::size_t>(done);
    offset += static_cast<std::uint64_t>(done);
  }
  return true;
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd.IsValid()) Fail(path);
  WriteAll(fd.Get(), bytes.data(), bytes.size(), 0, path);
  if (::fsync(fd.Get()) != 0) Fail(path);
}

// A stash file seen as a disk, so that the import's writer fills it.
class CStashDevice final : public CSectorDevice {
 public:
  CStashDevice(int fd, std::string path, std::uint64_t sectors)
      : m_fd(fd), m_path(std::move(path)), m_sectors(sectors) {}
  std::uint32_t GetSectorCount() override { return static_cast<std::uint32_t>(m_sectors); }
  std::string GetName() override { return m_path; }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    if (!ReadAll(m_fd, buffer, std::size_t{count} * kSectorSize, std::uint64_t{first} * kSectorSize)) Fail(m_path);
  }
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override {
    if (std::uint64_t{first} + count > m_sectors) {
      errno = EFBIG;
      Fail(m_path);
    }
    WriteAll(m_fd, buffer, std::size_t{count} * kSectorSize, std::uint64_t{first} * kSectorSize, m_path);
  }
  void Open(const DeviceEntry&) override {}
  void Close() override {}
  bool Identify() override { return true; }

 private:
  int m_fd;
  std::string m_path;
  std::uint64_t m_sectors;
};

std::uint64_t HashFile(int fd, std::uint64_t bytes) {
  std::vector<std::uint8_t> buffer(1 << 20);
  std::uint64_t hash = EditHash(nullptr, 0);
  for (std::uint64_t offset = 0; offset < bytes;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes - offset));
    if (!ReadAll(fd, buffer.data(), n, offset)) return ~hash;
    hash = EditHash(buffer.data(), n, hash);
    offset += n;
  }
  return hash;
}

class CWriter {
 public:
  void U8(std::uint8_t v) { m_bytes.push_back(v); }
  void U32(std::uint32_t v) {
    std::uint8_t b[4];
    PutLe32(b, v);
    m_bytes.insert(m_bytes.end(), b, b + 4);
  }
  void U64(std::uint64_t v) {
    U32(static_cast<std::uint32_t>(v));
    U32(static_cast<std::uint32_t>(v >> 32));
  }
  void Bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    m_bytes.insert(m_bytes.end(), b, b + n);
  }
  void Table(const std::vector<RoutineEntry>& table) {
    U32(static_cast<std::uint32_t>(table.size()));
    for (const RoutineEntry& entry : table) {
      std::uint8_t record[RoutineEntry::kEncodedSize];
      entry.Encode(record);
      Bytes(record, sizeof record);
    }
  }
  std::vector<std::uint8_t>& Result() { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
};

class CReader {
 public:
  explicit CReader(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
  bool Has(std::size_t n) const { return m_bytes.size() - m_at >= n; }
  std::uint8_t U8() { return Has(1) ? m_bytes[m_at++] : (m_ok = false, 0); }
  std::uint32_t U32() {
    if (!Has(4)) return m_ok = false, 0;
    const std::uint32_t v = GetLe32(m_bytes.data() + m_at);
    m_at += 4;
    return v;
  }
  std::uint64_t U64() {
    const std::uint64_t low = U32();
    return low | (std::uint64_t{U32()} << 32);
  }
  std::vector<RoutineEntry> Table() {
    std::vector<RoutineEntry> table;
    const std::uint32_t count = U32();
    if (count > kMaxTable || !Has(std::size_t{count} * RoutineEntry::kEncodedSize)) {
      m_ok = false;
      return table;
    }
    for (std::uint32_t k = 0; k < count; ++k) {
      table.push_back(RoutineEntry::Decode(m_bytes.data() + m_at));
      m_at += RoutineEntry::kEncodedSize;
    }
    return table;
  }
  std::string Text() {
    const std::uint32_t n = U32();
    if (n > 4096 || !Has(n)) return m_ok = false, std::string();
    std::string text(reinterpret_cast<const char*>(m_bytes.data() + m_at), n);
    m_at += n;
    return text;
  }
  bool Ok() const { return m_ok; }
  bool AtEnd() const { return m_at == m_bytes.size(); }

 private:
  const std::vector<std::uint8_t>& m_bytes;
  std::size_t m_at = 0;
  bool m_ok = true;
};

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.IsValid()) return bytes;
  std::uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}

std::string Hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

// FNV-1a over 8-byte words: fast enough to hash every moved sector on the way
// without slowing the copy, and it catches a sector that reads back otherwise.
std::uint64_t EditHash(const void* bytes, std::size_t size, std::uint64_t seed) {
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  std::uint64_t hash = seed;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    hash = (hash ^ word) * 0x100000001b3ull;
    hash ^= hash >> 29;
  }
  for (; i < size; ++i) hash = (hash ^ p[i]) * 0x100000001b3ull;
  return hash;
}

std::vector<std::uint8_t> EncodePlan(const EditPlan& plan) {
  CWriter out;
  out.Bytes(kMagic, sizeof kMagic);
  out.U32(kVersion);
  out.U32(static_cast<std::uint32_t>(plan.identity.size()));
  out.Bytes(plan.identity.data(), plan.identity.size());
  out.U32(plan.oldTableSector);
  out.Table(plan.oldTable);
  out.Table(plan.newTable);
  out.U32(plan.prefixCount);
  out.U32(plan.prefixTableSector);
  out.U32(static_cast<std::uint32_t>(plan.copies.size()));
  for (const EditCopy& copy : plan.copies) {
    out.U32(static_cast<std::uint32_t>(copy.stash));
    out.U32(copy.from);
    out.U32(copy.to);
    out.U32(copy.count);
    out.U8(copy.backward ? 1 : 0);
    out.U32(copy.piece);
  }
  out.U32(static_cast<std::uint32_t>(plan.stashSectors.size()));
  for (std::size_t n = 0; n < plan.stashSectors.size(); ++n) {
    out.U64(plan.stashSectors[n]);
    out.U64(n < plan.stashHashes.size() ? plan.stashHashes[n] : 0);
  }
  out.U64(EditHash(out.Result().data(), out.Result().size()));
  return std::move(out.Result());
}

std::optional<EditPlan> DecodePlan(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < sizeof kMagic + 8 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return std::nullopt;
  const std::size_t body = bytes.size() - 8;
  if (EditHash(bytes.data(), body) != (GetLe32(bytes.data() + body) | std::uint64_t{GetLe32(bytes.data() + body + 4)} << 32)) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> content(bytes.begin() + sizeof kMagic, bytes.begin() + static_cast<std::ptrdiff_t>(body));
  CReader in(content);
  EditPlan plan;
  if (in.U32() != kVersion) return std::nullopt;
  plan.identity = in.Text();
  plan.oldTableSector = in.U32();
  plan.oldTable = in.Table();
  plan.newTable = in.Table();
  plan.prefixCount = in.U32();
  plan.prefixTableSector = in.U32();
  const std::uint32_t copies = in.U32();
  if (!in.Ok() || copies > kMaxTable) return std::nullopt;
  for (std::uint32_t k = 0; k < copies && in.Ok(); ++k) {
    EditCopy copy;
    copy.stash = static_cast<std::int32_t>(in.U32());
    copy.from = in.U32();
    copy.to = in.U32();
    copy.count = in.U32();
    copy.backward = in.U8() != 0;
    copy.piece = in.U32();
    plan.copies.push_back(copy);
  }
  const std::uint32_t stashes = in.U32();
  if (!in.Ok() || stashes > kMaxTable) return std::nullopt;
  for (std::uint32_t k = 0; k < stashes && in.Ok(); ++k) {
    plan.stashSectors.push_back(in.U64());
    plan.stashHashes.push_back(in.U64());
  }
  if (!in.Ok() || !in.AtEnd() || plan.prefixCount > plan.newTable.size()) return std::nullopt;
  for (const EditCopy& copy : plan.copies) {
    if (copy.piece == 0 || (copy.stash >= 0 && static_cast<std::uint32_t>(copy.stash) >= stashes)) return std::nullopt;
  }
  return plan;
}

std::string CEditRecord::DefaultRoot() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/vorn3manager";
  const char* home = std::getenv("HOME");
  return std::string(home && home[0] == '/' ? home : "/tmp") + "/.local/state/vorn3manager";
}

std::string CEditRecord::DirectoryFor(const std::string& root, const std::string& identity) {
  return root + "/edit-" + Hex(EditHash(identity.data(), identity.size()));
}

CEditRecord::CEditRecord(std::string directory, EditPlan plan)
    : m_directory(std::move(directory)), m_plan(std::move(plan)) {}

void CEditRecord::OpenFiles(bool readPieces) {
  const std::string log = m_directory + "/pieces";
  m_pieceLog.Reset(::open(log.c_str(), O_RDWR | O_CLOEXEC));
  if (!m_pieceLog.IsValid()) Fail(log);
  if (readPieces) {
    // Whole entries with a good checksum, up to the first that is not (a
    // write cut short by the end of the process).
    const std::vector<std::uint8_t> bytes = ReadWholeFile(log);
    for (std::size_t at = 0; at + kPieceRecordSize <= bytes.size(); at += kPieceRecordSize) {
      const std::uint8_t* p = bytes.data() + at;
      if (GetLe32(p + 24) != static_cast<std::uint32_t>(EditHash(p, 24))) break;
      EditPiece piece{GetLe32(p), GetLe32(p + 4), GetLe32(p + 8), GetLe32(p + 12) | std::uint64_t{GetLe32(p + 16)} << 32};
      if (piece.copy >= m_plan.copies.size()) break;
      m_pieces.push_back(piece);
    }
  }
  for (std::size_t n = 0; n < m_plan.stashSectors.size(); ++n) {
    const std::string path = m_directory + "/stash-" + std::to_string(n);
    m_stash.emplace_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!m_stash.back().IsValid()) {
      throw CEditRecordError("The recovery record in " + m_directory +
                             " is damaged (a file of it is missing); it was not applied and the disk was left as it is.");
    }
  }
}

std::unique_ptr<CEditRecord> CEditRecord::Find(const std::string& root, const std::string& identity) {
  const std::string directory = DirectoryFor(root, identity);
  struct stat info {};
  if (::stat((directory + "/plan").c_str(), &info) != 0) return nullptr;
  const std::optional<EditPlan> plan = DecodePlan(ReadWholeFile(directory + "/plan"));
  if (!plan) {
    throw CEditRecordError("The recovery record in " + directory +
                           " is damaged; it was not applied and the disk was left as it is.");
  }
  if (plan->identity != identity) {
    throw CEditRecordError("The recovery record in " + directory + " belongs to another disk (" + plan->identity +
                           "); it was not applied and the disk was left as it is.");
  }
  std::unique_ptr<CEditRecord> record(new CEditRecord(directory, *plan));
  record->OpenFiles(true);
  return record;
}

std::unique_ptr<CEditRecord> CEditRecord::Create(const std::string& root, EditPlan plan,
                                                 const std::function<void(std::size_t, CSectorDevice&)>& fillStash) {
  std::error_code error;
  std::filesystem::create_directories(root, error);
  ::chmod(root.c_str(), 0700);
  const std::string directory = DirectoryFor(root, plan.identity);
  struct stat info {};
  if (::stat(directory.c_str(), &info) == 0) {
    if (::stat((directory + "/plan").c_str(), &info) == 0) {
      throw CEditRecordError("An interrupted edit of this disk is waiting to be finished (record in " + directory +
                             "); finish it first.");
    }
    std::filesystem::remove_all(directory, error);  // a record that was being removed
  }
  const std::string building = directory + ".new";
  std::filesystem::remove_all(building, error);
  if (::mkdir(building.c_str(), 0700) != 0) Fail(building);

  plan.stashHashes.assign(plan.stashSectors.size(), 0);
  for (std::size_t n = 0; n < plan.stashSectors.size(); ++n) {
    const std::string path = building + "/stash-" + std::to_string(n);
    CUniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.IsValid()) Fail(path);
    CStashDevice device(fd.Get(), path, plan.stashSectors[n]);
    fillStash(n, device);
    if (::fsync(fd.Get()) != 0) Fail(path);
    plan.stashHashes[n] = HashFile(fd.Get(), plan.stashSectors[n] * kSectorSize);
  }
  WriteFile(building + "/pieces", {});
  WriteFile(building + "/plan", EncodePlan(plan));
  SyncDirectory(building);
  if (::rename(building.c_str(), directory.c_str()) != 0) Fail(directory);
  SyncDirectory(root);

  std::unique_ptr<CEditRecord> record(new CEditRecord(directory, std::move(plan)));
  record->OpenFiles(false);
  return record;
}

void CEditRecord::AddPiece(const EditPiece& piece) {
  std::uint8_t bytes[kPieceRecordSize];
  PutLe32(bytes, piece.copy);
  PutLe32(bytes + 4, piece.offset);
  PutLe32(bytes + 8, piece.count);
  PutLe32(bytes + 12, static_cast<std::uint32_t>(piece.hash));
  PutLe32(bytes + 16, static_cast<std::uint32_t>(piece.hash >> 32));
  PutLe32(bytes + 20, 0);
  PutLe32(bytes + 24, static_cast<std::uint32_t>(EditHash(bytes, 24)));
  WriteAll(m_pieceLog.Get(), bytes, sizeof bytes, m_pieces.size() * kPieceRecordSize, m_directory + "/pieces");
  if (::fdatasync(m_pieceLog.Get()) != 0) Fail(m_directory + "/pieces");
  m_pieces.push_back(piece);
}

void CEditRecord::ReadStash(std::size_t index, std::uint32_t sector, std::uint32_t count, void* buffer) {
  if (!ReadAll(m_stash.at(index).Get(), buffer, std::size_t{count} * kSectorSize, std::uint64_t{sector} * kSectorSize)) {
    throw CEditRecordError("The recovery record in " + m_directory + " is damaged (a stash file is short).");
  }
}

void CEditRecord::CheckStash() {
  for (std::size_t n = 0; n < m_stash.size(); ++n) {
    if (HashFile(m_stash[n].Get(), m_plan.stashSectors[n] * kSectorSize) != m_plan.stashHashes[n]) {
      throw CEditRecordError("The recovery record in " + m_directory +
                             " is damaged (its saved routine data changed); it was not applied and the disk was "
                             "left as it is.");
    }
  }
}

void CEditRecord::Remove() {
  m_pieceLog.Reset();
  m_stash.clear();
  // The plan first: without it the directory is no record, whatever is left.
  if (::unlink((m_directory + "/plan").c_str()) != 0 && errno != ENOENT) Fail(m_directory + "/plan");
  SyncDirectory(m_directory);
  std::error_code error;
  std::filesystem::remove_all(m_directory, error);
}

}  // namespace vorn
