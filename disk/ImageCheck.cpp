#include "disk/ImageCheck.h"

#include <array>
#include <cstring>

#include "audio/RoutineFileHeader.h"

namespace vorn {
namespace {

// What the first bytes of a file say it is, when it is plainly not a disk
// image; nullptr otherwise. A VORN disk starts with its header magic or, blank,
// with zeros, so none of these can be one.
const char* ForeignKind(const std::uint8_t* start, std::uint64_t fileBytes) {
  static constexpr struct {
    const char* magic;
    const char* kind;
  } kSignatures[] = {{"RIFF", "a WAV (RIFF) file"}, {"ID3", "an MP3 file"}, {"fLaC", "a FLAC file"},
                     {"OggS", "an Ogg file"}, {"FORM", "an AIFF file"}};
  for (const auto& signature : kSignatures) {
    if (std::memcmp(start, signature.magic, std::strlen(signature.magic)) == 0) return signature.kind;
  }
  // A routine file: version 1, an audio kind, and section sizes that add up to the file.
  const RoutineFileHeader header = RoutineFileHeader::Decode(start);
  if (header.version == 1 && header.audioFormat <= RoutineFileHeader::kAudioFormatMp3 &&
      RoutineFileHeader::kEncodedSize + std::uint64_t{header.audioSize} + header.dataSize == fileBytes) {
    return "a routine file";
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> WhyNotADiskImage(CImageDevice& image) {
  if (image.FileBytes() % kSectorSize != 0) {
    return "its size is not a whole number of " + std::to_string(kSectorSize) + "-byte sectors";
  }
  if (image.FileBytes() == 0) return std::nullopt;  // nothing to lose; the first write fails anyway
  std::array<std::uint8_t, kSectorSize> first{};
  image.ReadSectors(0, 1, first.data());
  if (const char* kind = ForeignKind(first.data(), image.FileBytes())) return std::string("it starts like ") + kind;
  return std::nullopt;
}

}  // namespace vorn
