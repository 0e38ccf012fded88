// A ".vorn" routine file of any contents: its 68-byte header decodes and
// encodes back to the same bytes, and its import onto a formatted disk either
// stores exactly the file's sections behind the header or fails leaving the
// disk reading as before. Files whose audio would go to the decoder are only
// decoded as far as the header: the decoder has its own limits.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/Mp3Frames.h"
#include "audio/RoutineFileHeader.h"
#include "device/DeviceExceptions.h"
#include "disk/VornDisk.h"
#include "platform/UniqueFile.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace vorn;
using vorn::fuzz::CFuzzDevice;

namespace {

constexpr std::uint32_t kDiskSectors = 256;

// Whether the import would hand the audio to the decoder.
bool NeedsDecoding(const RoutineFileHeader& header, const std::string& path) {
  if (header.audioSize == 0) return false;
  CUniqueFile file(std::fopen(path.c_str(), "rb"));
  VORN_FUZZ_CHECK(file != nullptr);
  VORN_FUZZ_CHECK(std::fseek(file.get(), RoutineFileHeader::kEncodedSize, SEEK_SET) == 0);
  try {
    return !IsCompatibleMp3(header, file.get());
  } catch (const CFileAccessException&) {
    return false;  // the import fails on the same frame before any decoding
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < RoutineFileHeader::kEncodedSize) return 0;
  const RoutineFileHeader header = RoutineFileHeader::Decode(data);
  std::array<std::uint8_t, RoutineFileHeader::kEncodedSize> encoded{};
  header.Encode(encoded.data());
  VORN_FUZZ_CHECK(std::memcmp(encoded.data(), data, encoded.size()) == 0);

  const std::string path = vorn::fuzz::WriteScratch("routine.vorn", data, size);
  if (header.version != 1 || NeedsDecoding(header, path)) return 0;

  std::vector<std::uint8_t> blank(std::size_t{kDiskSectors} * kSectorSize, 0);
  CFuzzDevice device(blank, true);
  {
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    disk.Format();
  }
  bool imported = false;
  try {
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    disk.AddRoutine(path, nullptr);
    imported = true;
  } catch (const CFileAccessException&) {
  } catch (const CUsbDeviceException&) {
  } catch (const CDriveAccessException&) {
  }

  CVornDisk reader(device, nullptr);
  const std::vector<RoutineEntry> table = reader.ReadTable();
  VORN_FUZZ_CHECK(reader.IsValid());
  if (!imported) {
    VORN_FUZZ_CHECK(table.empty());
    return 0;
  }
  VORN_FUZZ_CHECK(table.size() == 1);
  const RoutineEntry& entry = table[0];
  VORN_FUZZ_CHECK(entry.startSector == 1);
  VORN_FUZZ_CHECK(std::uint64_t{entry.dataSector - entry.startSector} * kSectorSize >= header.audioSize);
  VORN_FUZZ_CHECK(std::uint64_t{entry.endSector - entry.dataSector} * kSectorSize >= header.dataSize);
  VORN_FUZZ_CHECK(RoutineFileHeader::kEncodedSize + std::uint64_t{header.audioSize} + header.dataSize <= size);
  const std::uint8_t* audio = data + RoutineFileHeader::kEncodedSize;
  VORN_FUZZ_CHECK(std::memcmp(device.Sector(entry.startSector), audio, header.audioSize) == 0);
  VORN_FUZZ_CHECK(std::memcmp(device.Sector(entry.dataSector), audio + header.audioSize, header.dataSize) == 0);
  return 0;
}
