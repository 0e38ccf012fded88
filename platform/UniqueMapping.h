#pragma once
// Owns one memory mapping; unmaps it on every path.

#include <sys/mman.h>

#include <cstddef>
#include <utility>

namespace vorn {

class CUniqueMapping {
 public:
  CUniqueMapping() = default;
  // Takes a result of mmap; MAP_FAILED counts as no mapping.
  CUniqueMapping(void* address, std::size_t length)
      : m_address(address == MAP_FAILED ? nullptr : address), m_length(length) {}
  CUniqueMapping(CUniqueMapping&& other) noexcept
      : m_address(std::exchange(other.m_address, nullptr)), m_length(other.m_length) {}
  CUniqueMapping& operator=(CUniqueMapping&& other) noexcept {
    if (this != &other) {
      Reset();
      m_address = std::exchange(other.m_address, nullptr);
      m_length = other.m_length;
    }
    return *this;
  }
  CUniqueMapping(const CUniqueMapping&) = delete;
  CUniqueMapping& operator=(const CUniqueMapping&) = delete;
  ~CUniqueMapping() { Reset(); }

  void* Get() const { return m_address; }
  std::size_t Length() const { return m_length; }
  bool IsValid() const { return m_address != nullptr; }
  void Reset() {
    if (m_address) ::munmap(m_address, m_length);
    m_address = nullptr;
  }

 private:
  void* m_address = nullptr;
  std::size_t m_length = 0;
};

}  // namespace vorn
