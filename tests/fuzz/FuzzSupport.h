#pragma once
// Helpers the harnesses share: a disk in memory that fails like a real device
// past its end, and scratch files for code that reads by path.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "device/DeviceExceptions.h"
#include "device/SectorDevice.h"

namespace vorn::fuzz {

class CFuzzDevice : public CSectorDevice {
 public:
  // `reportsSize` false: a unit that has not told its size yet.
  CFuzzDevice(std::vector<std::uint8_t> bytes, bool reportsSize)
      : m_bytes(std::move(bytes)), m_reportsSize(reportsSize) {
    m_bytes.resize((m_bytes.size() + kSectorSize - 1) / kSectorSize * kSectorSize);
  }
  std::uint32_t GetSectorCount() override { return m_reportsSize ? Sectors() : 0; }
  std::string GetName() override { return "fuzz"; }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    ++reads;
    Check(first, count);
    std::memcpy(buffer, m_bytes.data() + std::size_t{first} * kSectorSize, std::size_t{count} * kSectorSize);
  }
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override {
    Check(first, count);
    std::memcpy(m_bytes.data() + std::size_t{first} * kSectorSize, buffer, std::size_t{count} * kSectorSize);
  }
  void Open(const DeviceEntry&) override {}
  void Close() override {}
  bool Identify() override { return true; }

  std::uint32_t Sectors() const { return static_cast<std::uint32_t>(m_bytes.size() / kSectorSize); }
  const std::uint8_t* Sector(std::uint32_t n) const { return m_bytes.data() + std::size_t{n} * kSectorSize; }
  std::size_t reads = 0;

 private:
  void Check(std::uint32_t first, std::uint32_t count) const {
    if (std::uint64_t{first} + count > Sectors()) throw CUsbDeviceException("Unable to read sector");
  }
  std::vector<std::uint8_t> m_bytes;
  bool m_reportsSize;
};

// A directory of this process's own (in /dev/shm when there is one), removed
// with what it holds when the process exits normally.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/vorn-fuzz-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  static const bool cleanup = [] {
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(dir, ignored);
    });
    return true;
  }();
  (void)cleanup;
  return dir;
}

// Writes `size` bytes to ScratchDir()/name and gives its path.
inline std::string WriteScratch(const std::string& name, const void* data, std::size_t size) {
  const std::string path = ScratchDir() + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  if (std::fclose(file) != 0) std::abort();
  return path;
}

// A fuzzer's own assertion: a finding, reported like a crash.
#define VORN_FUZZ_CHECK(condition)                                                   \
  do {                                                                               \
    if (!(condition)) {                                                              \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)

}  // namespace vorn::fuzz
