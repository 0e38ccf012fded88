#include "audio/Mp3Frames.h"

#include <sys/types.h>

#include "device/DeviceExceptions.h"

namespace vorn {
namespace {

constexpr std::array<std::uint8_t, kSilentFrameSize> MakeSilentFrame() {
  std::array<std::uint8_t, kSilentFrameSize> frame{};
  // Header: MPEG-1 Layer III, no CRC, 128 kbit/s, 44,100 Hz, padded (418 bytes),
  // joint stereo, copyright and original bits set.
  constexpr std::uint8_t kHeader[4] = {0xFF, 0xFB, 0x93, 0x4C};
  // Side information: no main data, global gain 151 in every granule and channel,
  // so the frame decodes to silence without a bit reservoir.
  constexpr std::uint8_t kSideInfo[32] = {
      0x00, 0x00, 0x00, 0x00, 0x00, 0x4B, 0x80, 0x00, 0x00, 0x08, 0x00,
      0x00, 0x09, 0x70, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x2E, 0x00,
      0x00, 0x00, 0x20, 0x00, 0x00, 0x25, 0xC0, 0x00, 0x00, 0x04};
  std::size_t i = 0;
  for (std::uint8_t b : kHeader) frame[i++] = b;
  for (std::uint8_t b : kSideInfo) frame[i++] = b;
  while (i < frame.size()) frame[i++] = 0xFF;
  return frame;
}

constexpr std::array<std::uint8_t, 512> MakeSectorFiller(
    const std::array<std::uint8_t, kSilentFrameSize>& frame) {
  std::array<std::uint8_t, 512> filler{};
  for (std::size_t i = 0; i < filler.size(); ++i) filler[i] = frame[i % frame.size()];
  return filler;
}

// Accepted frames are 417 bytes plus the padding bit: 144 * 128000 / 44100, rounded down.
constexpr std::uint32_t kUnpaddedFrameSize = 417;
constexpr std::size_t kHeaderSize = 4;

}  // namespace

const std::array<std::uint8_t, kSilentFrameSize> g_silentMp3Frame = MakeSilentFrame();
const std::array<std::uint8_t, 512> g_mp3SectorFiller = MakeSectorFiller(MakeSilentFrame());

bool IsAcceptedFrameHeader(const std::uint8_t* header) {
  return header[0] == 0xFF && (header[1] & 0xFE) == 0xFA && (header[2] & 0xFC) == 0x90;
}

bool IsCompatibleMp3(const RoutineFileHeader& header, std::FILE* routineFile) {
  if (header.audioFormat != RoutineFileHeader::kAudioFormatMp3) return false;

  // The walk hops from header to header and then returns to the first audio
  // byte. A stream that cannot seek (a pipe) would silently read the headers
  // back to back and leave the audio consumed, so the import would store the
  // wrong bytes: such a file cannot be checked at all.
  const off_t start = ::ftello(routineFile);
  if (start < 0) throw CFileAccessException("Unable to read mp3 frame");
  // 64 bits so that a walk near a 4 GiB audio size cannot wrap around and loop.
  std::uint64_t total = 0;
  bool result = false;
  while (total < header.audioSize) {
    std::uint8_t frameHeader[kHeaderSize];
    if (std::fread(frameHeader, 1, kHeaderSize, routineFile) != kHeaderSize) {
      throw CFileAccessException("Unable to read mp3 frame");
    }
    const std::uint32_t padding = (frameHeader[2] >> 1) & 1u;
    // Only the headers are read: the walk hops over each frame's body.
    if (::fseeko(routineFile, static_cast<off_t>(kUnpaddedFrameSize - kHeaderSize + padding),
                 SEEK_CUR) != 0) {
      throw CFileAccessException("Unable to read mp3 frame");
    }
    total += kUnpaddedFrameSize + padding;
    if (!IsAcceptedFrameHeader(frameHeader)) {
      result = false;
      break;
    }
    result = true;
  }
  if (::fseeko(routineFile, start, SEEK_SET) != 0) {
    throw CFileAccessException("Unable to read mp3 frame");
  }
  // A last frame that runs past the section (audio cut inside it) would end
  // the routine on the disk in a partial frame: such audio is converted.
  return result && total == header.audioSize;
}

}  // namespace vorn
