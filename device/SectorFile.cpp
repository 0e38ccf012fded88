#include "device/SectorFile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace vorn {

CSectorFile::CSectorFile(std::string node, std::uint32_t bytesPerSector, std::uint64_t sizeBytes,
                         Durability durability)
    : m_node(std::move(node)),
      m_bytesPerSector(bytesPerSector),
      m_sizeBytes(sizeBytes),
      m_durability(durability) {}

bool CSectorFile::Fail(int error) {
  m_error = error;
  return false;
}

int CSectorFile::ExtraOpenFlags() const {
  // O_EXCL without O_CREAT claims a block device exclusively; on the regular
  // file that stands in for a drive in tests it has no effect.
  int flags = O_EXCL | O_CLOEXEC;
  if (m_durability == Durability::kSyncEachWrite) flags |= O_DSYNC;
  return flags;
}

void CSectorFile::Adopt(CUniqueFd fd) {
  // A service that ignores O_DSYNC hands over a descriptor whose writes may
  // sit in the cache when they return; the card must not be pulled then.
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (m_durability == Durability::kSyncEachWrite && (flags < 0 || (flags & O_DSYNC) != O_DSYNC)) {
    m_durability = Durability::kSyncAfterWrite;
  }
  m_fd = std::move(fd);
  m_position = 0;
  m_error = 0;
}

bool CSectorFile::DropCache() {
  if (!IsOpen()) return Fail(EBADF);
  if (::fdatasync(m_fd.Get()) != 0) return Fail(errno);
  // Clean pages only go: after the sync above that is all of them. On a block
  // device this is the drive's own cache, which a user may drop; the buffer
  // flush below needs CAP_SYS_ADMIN and is only a second broom.
  if (const int error = ::posix_fadvise(m_fd.Get(), 0, 0, POSIX_FADV_DONTNEED); error != 0) return Fail(error);
  struct stat st {};
  if (::fstat(m_fd.Get(), &st) == 0 && S_ISBLK(st.st_mode)) (void)::ioctl(m_fd.Get(), BLKFLSBUF, 0);
  return true;
}

bool CSectorFile::SetDirectReads(bool on) {
  if (!IsOpen()) return Fail(EBADF);
  const int flags = ::fcntl(m_fd.Get(), F_GETFL);
  if (flags < 0) return Fail(errno);
  const int wanted = on ? flags | O_DIRECT : flags & ~O_DIRECT;
  if (wanted != flags && ::fcntl(m_fd.Get(), F_SETFL, wanted) != 0) return Fail(errno);
  m_direct = on;
  return true;
}

std::uint32_t CSectorFile::PieceSectors() const {
  constexpr std::uint64_t kStep = 65536;
  constexpr std::uint64_t kDefault = 4u << 20, kMost = 16u << 20;
  unsigned int optimal = 0;
  std::uint64_t bytes = kDefault;
  if (IsOpen() && ::ioctl(m_fd.Get(), BLKIOOPT, &optimal) == 0 && optimal > kDefault) {
    bytes = std::min<std::uint64_t>(optimal, kMost) / kStep * kStep;
  }
  return static_cast<std::uint32_t>(bytes / m_bytesPerSector);
}

bool CSectorFile::Open(bool writable) {
  const int flags = (writable ? O_RDWR : O_RDONLY) | ExtraOpenFlags();
  int fd;
  do {
    fd = ::open(m_node.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Fail(errno);
  CUniqueFd opened(fd);
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    int locked;
    do {
      locked = ::flock(fd, (writable ? LOCK_EX : LOCK_SH) | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) return Fail(errno == EWOULDBLOCK ? EBUSY : errno);
  }
  m_fd = std::move(opened);
  m_position = 0;
  return true;
}

bool CSectorFile::Seek(std::uint32_t sector) {
  if (!IsOpen()) return Fail(EBADF);
  const std::uint64_t offset = static_cast<std::uint64_t>(sector) * m_bytesPerSector;
  if (::lseek(m_fd.Get(), static_cast<off_t>(offset), SEEK_SET) < 0) return Fail(errno);
  m_position = offset;
  return true;
}

std::uint64_t CSectorFile::Clamp(std::uint64_t bytes) const {
  if (m_sizeBytes == 0) return bytes;
  if (m_position >= m_sizeBytes) return 0;
  return std::min(bytes, m_sizeBytes - m_position);
}

bool CSectorFile::ReadSectors(void* buffer, std::uint32_t count) {
  if (!IsOpen()) return Fail(EBADF);
  const std::uint64_t wanted = static_cast<std::uint64_t>(count) * m_bytesPerSector;
  const std::uint64_t allowed = Clamp(wanted);
  auto* out = static_cast<unsigned char*>(buffer);
  if (m_direct) {
    if (allowed != wanted) return Fail(EIO);
    if (ReadDirect(out, wanted)) return true;
    if (m_error != EINVAL) return false;
    // The node refused this read's shape after all: read through the cache,
    // emptied first so the bytes still come from the medium.
    if (!SetDirectReads(false) || !DropCache()) return false;
  }
  std::uint64_t done = 0;
  while (done < allowed) {
    const ssize_t got = ::read(m_fd.Get(), out + done, allowed - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(errno);
    if (got == 0) break;  // end of the medium
    done += static_cast<std::uint64_t>(got);
    m_position += static_cast<std::uint64_t>(got);
  }
  return done == wanted ? true : Fail(EIO);
}

// Direct I/O wants the buffer, the offset and the length aligned to the
// drive's logical block size: the read covers the sectors asked for, widened
// to 4 KiB boundaries (the largest block size there is in practice), into an
// aligned buffer of its own.
bool CSectorFile::ReadDirect(unsigned char* out, std::uint64_t bytes) {
  constexpr std::uint64_t kAlign = 4096;
  const std::uint64_t start = m_position / kAlign * kAlign;
  const std::uint64_t end = m_position + bytes;
  const std::uint64_t span = (end - start + kAlign - 1) / kAlign * kAlign;
  if (start == m_position && span == bytes && reinterpret_cast<std::uintptr_t>(out) % kAlign == 0) {
    // The caller's buffer has the shape already: read into it, no copy.
    for (std::uint64_t got = 0; got < bytes;) {
      const ssize_t n = ::pread(m_fd.Get(), out + got, bytes - got, static_cast<off_t>(start + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Fail(errno);
      if (n == 0) return Fail(EIO);
      got += static_cast<std::uint64_t>(n);
    }
    m_position = end;
    if (::lseek(m_fd.Get(), static_cast<off_t>(end), SEEK_SET) < 0) return Fail(errno);
    return true;
  }
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<unsigned char, Free> aligned(static_cast<unsigned char*>(std::aligned_alloc(kAlign, span)));
  if (!aligned) return Fail(ENOMEM);
  std::uint64_t got = 0;
  while (start + got < end) {
    const ssize_t n = ::pread(m_fd.Get(), aligned.get() + got, span - got, static_cast<off_t>(start + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno);
    if (n == 0) return Fail(EIO);  // the medium ends early
    got += static_cast<std::uint64_t>(n);
  }
  std::memcpy(out, aligned.get() + (m_position - start), bytes);
  m_position = end;
  // pread left the descriptor's offset behind; reads and writes go on from here.
  if (::lseek(m_fd.Get(), static_cast<off_t>(end), SEEK_SET) < 0) return Fail(errno);
  return true;
}

bool CSectorFile::WriteSectors(const void* buffer, std::uint32_t count) {
  if (!IsOpen()) return Fail(EBADF);
  const std::uint64_t wanted = static_cast<std::uint64_t>(count) * m_bytesPerSector;
  const std::uint64_t allowed = Clamp(wanted);
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::uint64_t done = 0;
  while (done < allowed) {
    const ssize_t put = ::write(m_fd.Get(), in + done, allowed - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return Fail(errno);
    if (put == 0) break;
    done += static_cast<std::uint64_t>(put);
    m_position += static_cast<std::uint64_t>(put);
  }
  if (m_durability == Durability::kSyncAfterWrite && done > 0 && ::fdatasync(m_fd.Get()) != 0) {
    return Fail(errno);
  }
  return done == wanted ? true : Fail(ENOSPC);
}

}  // namespace vorn
