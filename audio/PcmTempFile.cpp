#include "audio/PcmTempFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/TempFiles.h"

namespace vorn {

bool CPcmTempFile::Create(std::string& error) {
  Remove();
  try {
    TempFile file = MakeUnnamedTempFile();
    m_path = std::move(file.path);
    m_fd = std::move(file.fd);
  } catch (const std::system_error& e) {
    error = e.what();
    return false;
  }
  // Written once front to back, then read once front to back.
  ::posix_fadvise(m_fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  return true;
}

bool CPcmTempFile::WriteAll(const void* data, std::size_t size, std::string& error) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t written = ::write(m_fd.Get(), bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      error = "in " + TempDirectory() + ": " + std::strerror(errno);
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
    m_written += static_cast<std::uint64_t>(written);
  }
  if (m_growth) m_growth(m_written);
  return true;
}

std::size_t CPcmTempFile::ReadUpTo(void* data, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::size_t total = 0;
  while (total < size) {
    const ssize_t got = ::read(m_fd.Get(), bytes + total, size - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

CUniqueFd CPcmTempFile::Duplicate() const {
  return CUniqueFd(m_fd.IsValid() ? ::fcntl(m_fd.Get(), F_DUPFD_CLOEXEC, 0) : -1);
}

std::size_t CPcmTempFile::ReadAt(int fd, std::uint64_t offset, void* data, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::size_t total = 0;
  while (total < size && offset + total <= static_cast<std::uint64_t>(INT64_MAX)) {
    const ssize_t got = ::pread(fd, bytes + total, size - total,
                                static_cast<off_t>(offset + total));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::size_t>(got);
  }
  return total;
}

bool CPcmTempFile::SeekTo(std::uint64_t offset) {
  if (!m_fd.IsValid() || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return ::lseek(m_fd.Get(), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::uint64_t CPcmTempFile::GetSize() const {
  struct stat info {};
  if (!m_fd.IsValid() || ::fstat(m_fd.Get(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

void CPcmTempFile::Remove() {
  m_fd.Reset();
  m_written = 0;
  m_path.clear();  // the file had no name: closing it was its end
}

}  // namespace vorn
