#pragma once
// Owns one shared read/write memory mapping of a file descriptor.

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vorn {

class CMapping {
 public:
  CMapping() = default;
  CMapping(CMapping&& other) noexcept
      : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}
  CMapping& operator=(CMapping&& other) noexcept;
  CMapping(const CMapping&) = delete;
  CMapping& operator=(const CMapping&) = delete;
  ~CMapping() { Reset(); }

  // Maps `size` bytes of `fd` from offset 0, shared, read/write. False (errno
  // set) when mmap fails or size is 0; the mapping held before is released.
  bool Map(int fd, std::size_t size);
  void Reset();

  std::uint8_t* Data() const { return m_data; }
  std::size_t Size() const { return m_size; }
  bool IsMapped() const { return m_data != nullptr; }

 private:
  std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
};

}  // namespace vorn
