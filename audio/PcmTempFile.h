#pragma once
// The decoder's PCM file: an unnamed temporary file opened read-write, gone
// when this object lets it go (or the process ends, however it ends). Writes go straight to the descriptor, so
// callers hand it large blocks.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/UniqueFd.h"

namespace vorn {

class CPcmTempFile {
 public:
  CPcmTempFile() = default;
  CPcmTempFile(const CPcmTempFile&) = delete;
  CPcmTempFile& operator=(const CPcmTempFile&) = delete;
  ~CPcmTempFile() { Remove(); }

  // Makes and opens a new temporary file; on failure returns false and sets error.
  bool Create(std::string& error);
  // Writes all of data; on failure returns false and sets error.
  bool WriteAll(const void* data, std::size_t size, std::string& error);
  // Reads up to size bytes (fewer only at the end); returns the bytes read.
  std::size_t ReadUpTo(void* data, std::size_t size);
  // A descriptor of its own on the file (invalid when there is none), for
  // readers on other threads: it stays open when this object lets the file go.
  CUniqueFd Duplicate() const;
  // Reads up to size bytes at offset of the file behind fd, without moving any
  // read position; safe while the file grows, for the bytes already written.
  static std::size_t ReadAt(int fd, std::uint64_t offset, void* data, std::size_t size);
  // Called with the file's new size after every write, on the writing thread,
  // so readers on other threads can follow the file as it grows.
  void SetGrowthObserver(std::function<void(std::uint64_t size)> observer) {
    m_growth = std::move(observer);
  }
  bool SeekTo(std::uint64_t offset);
  std::uint64_t GetSize() const;

  bool IsOpen() const { return m_fd.IsValid(); }
  // "/proc/self/fd/N" while the file is open (it has no other name).
  const std::string& GetPath() const { return m_path; }
  // Closes the file, which ends it; does nothing when there is none.
  void Remove();

 private:
  CUniqueFd m_fd;
  std::string m_path;
  std::uint64_t m_written = 0;
  std::function<void(std::uint64_t)> m_growth;
};

}  // namespace vorn
