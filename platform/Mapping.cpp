#include "platform/Mapping.h"

#include <sys/mman.h>

#include <cerrno>

namespace vorn {

CMapping& CMapping::operator=(CMapping&& other) noexcept {
  if (this != &other) {
    Reset();
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
  }
  return *this;
}

bool CMapping::Map(int fd, std::size_t size) {
  Reset();
  if (size == 0) {
    errno = EINVAL;
    return false;
  }
  void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) return false;
  m_data = static_cast<std::uint8_t*>(data);
  m_size = size;
  return true;
}

void CMapping::Reset() {
  if (m_data) ::munmap(m_data, m_size);
  m_data = nullptr;
  m_size = 0;
}

}  // namespace vorn
