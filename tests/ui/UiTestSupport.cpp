#include "UiTestSupport.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <fstream>
#include <vector>

#include "platform/LittleEndian.h"

namespace vorn::test {
namespace {

// Holds every write until the test opens the gate.
class CGatedDevice final : public CSectorDevice {
 public:
  explicit CGatedDevice(std::shared_ptr<CImageSource::Shared> shared) : m_shared(std::move(shared)) {}
  std::uint32_t GetSectorCount() override { return m_image.GetSectorCount(); }
  std::string GetName() override { return m_image.GetName(); }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    if (const int delay = m_shared->readDelayMs.load(); delay > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    }
    if (m_shared->unplugged) throw CDriveAccessException("Unable to read from the drive: No such device");
    if (Wrapped(first, count, [&](std::uint32_t at, std::size_t i) {
          m_image.ReadSectors(at, 1, static_cast<char*>(buffer) + i * kSectorSize);
        })) {
      return;
    }
    m_image.ReadSectors(first, count, buffer);
  }
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override {
    ++m_shared->writes;
    if (m_shared->writeDelayMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(m_shared->writeDelayMs));
    }
    std::unique_lock lock(m_shared->gateMutex);
    if (!m_shared->gateOpen && m_shared->passBeforeGate > 0) {
      --m_shared->passBeforeGate;
    } else {
      ++m_shared->writesWaiting;
      m_shared->gateChanged.wait(lock, [this] { return m_shared->gateOpen; });
      --m_shared->writesWaiting;
    }
    lock.unlock();
    if (Wrapped(first, count, [&](std::uint32_t at, std::size_t i) {
          m_image.WriteSectors(at, 1, static_cast<const char*>(buffer) + i * kSectorSize);
        })) {
      return;
    }
    if (m_shared->garbleWrites.load()) {
      std::vector<std::uint8_t> landed(static_cast<const std::uint8_t*>(buffer),
                                       static_cast<const std::uint8_t*>(buffer) + std::size_t{count} * kSectorSize);
      landed[0] ^= 0xFF;
      m_image.WriteSectors(first, count, landed.data());
      return;
    }
    m_image.WriteSectors(first, count, buffer);
  }
  void Open(const DeviceEntry& entry) override {
    if (m_shared->unplugged) throw CDriveAccessException("Unable to open the drive: No such device");
    ++m_shared->opens;
    {
      std::unique_lock lock(m_shared->gateMutex);
      ++m_shared->opensWaiting;
      m_shared->gateChanged.wait(lock, [this] { return !m_shared->holdOpens; });
      --m_shared->opensWaiting;
    }
    m_image.Open(entry);
  }
  void Close() override { m_image.Close(); }
  bool Identify() override { return true; }

 private:
  // A fake card: sector s lands on s mod wrapAt.
  bool Wrapped(std::uint32_t first, std::uint32_t count, const std::function<void(std::uint32_t, std::size_t)>& at) {
    const std::uint32_t wrap = m_shared->wrapAt.load();
    for (std::uint32_t i = 0; wrap != 0 && i < count; ++i) at((first + i) % wrap, i);
    return wrap != 0;
  }

  std::shared_ptr<CImageSource::Shared> m_shared;
  CImageDevice m_image{std::string(), false};
};

}  // namespace

void CImageSource::Shared::CloseGate(int pass) {
  std::lock_guard lock(gateMutex);
  gateOpen = false;
  passBeforeGate = pass;
}

void CImageSource::Shared::OpenGate() {
  {
    std::lock_guard lock(gateMutex);
    gateOpen = true;
    holdOpens = false;
  }
  gateChanged.notify_all();
}

void CImageSource::EnumerateDrives(std::vector<DeviceEntry>& drives) {
  ++m_shared->enumerations;
  drives.clear();
  for (std::size_t i = 0; i < m_shared->drives.size(); ++i) {
    drives.push_back(DeviceEntry{static_cast<int>(i), m_shared->drives[i], ""});
  }
}

void CImageSource::EnumerateUnits(std::vector<DeviceEntry>& units) {
  units.clear();
  for (std::size_t i = 0; i < m_shared->units.size(); ++i) {
    units.push_back(DeviceEntry{std::monostate{}, m_shared->units[i], "VORN" + std::to_string(i + 2)});
  }
  if (m_shared->unitError) throw CUsbDeviceException(*m_shared->unitError);
}

std::unique_ptr<CSectorDevice> CImageSource::NewDriveDevice() {
  return std::make_unique<CGatedDevice>(m_shared);
}

std::string WriteRoutineFile(const std::filesystem::path& path, const std::string& title,
                             std::uint32_t dataSize, std::uint8_t baudCode, std::uint8_t frameRate,
                             std::uint8_t protocol, std::uint8_t version) {
  std::vector<std::uint8_t> bytes(68 + dataSize, 0);
  bytes[0] = version;
  std::memcpy(&bytes[1], title.data(), std::min<std::size_t>(title.size(), 18));
  PutLe32(&bytes[20], 1);  // MP3 frames (there are none: no audio)
  PutLe32(&bytes[24], 0);
  PutLe32(&bytes[28], dataSize);
  bytes[32] = frameRate;
  bytes[33] = baudCode;
  bytes[34] = protocol;
  for (std::uint32_t i = 0; i < dataSize; ++i) bytes[68 + i] = static_cast<std::uint8_t>(i * 7);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

std::string WriteAudioRoutineFile(const std::filesystem::path& path, const std::string& title,
                                  double seconds, std::uint32_t dataSize) {
  const auto frames = static_cast<std::uint32_t>(seconds * 44100);
  std::vector<std::uint8_t> wav(44 + std::size_t{frames} * 4);
  std::memcpy(&wav[0], "RIFF", 4);
  PutLe32(&wav[4], static_cast<std::uint32_t>(wav.size() - 8));
  std::memcpy(&wav[8], "WAVEfmt ", 8);
  PutLe32(&wav[16], 16);
  PutLe16(&wav[20], 1);  // PCM
  PutLe16(&wav[22], 2);
  PutLe32(&wav[24], 44100);
  PutLe32(&wav[28], 44100 * 4);
  PutLe16(&wav[32], 4);
  PutLe16(&wav[34], 16);
  std::memcpy(&wav[36], "data", 4);
  PutLe32(&wav[40], frames * 4);
  for (std::uint32_t i = 0; i < frames; ++i) {
    // A rising saw, different on each channel: cheap and never silent.
    const auto left = static_cast<std::uint16_t>((i * 300) & 0x3FFF);
    const auto right = static_cast<std::uint16_t>((i * 450) & 0x3FFF);
    PutLe16(&wav[44 + std::size_t{i} * 4], left);
    PutLe16(&wav[46 + std::size_t{i} * 4], right);
  }
  std::vector<std::uint8_t> bytes(68, 0);
  bytes[0] = 1;
  std::memcpy(&bytes[1], title.data(), std::min<std::size_t>(title.size(), 18));
  PutLe32(&bytes[20], 0);  // not MP3: converted
  PutLe32(&bytes[24], static_cast<std::uint32_t>(wav.size()));
  PutLe32(&bytes[28], dataSize);
  bytes[32] = 20;
  bytes[33] = 2;
  bytes.insert(bytes.end(), wav.begin(), wav.end());
  for (std::uint32_t i = 0; i < dataSize; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 5));
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

std::string MakeImage(const std::filesystem::path& path, std::uint32_t sectors) {
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, std::uint64_t{sectors} * 512);
  return path.string();
}

std::vector<char> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace vorn::test
