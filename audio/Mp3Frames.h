#pragma once
// The one MP3 kind a VORN disk stores (MPEG-1 Layer III, 128 kbit/s, 44,100 Hz)
// and the silent frame that pads the last MP3 sector of a routine.

#include <array>
#include <cstdint>
#include <cstdio>

#include "audio/RoutineFileHeader.h"

namespace vorn {

inline constexpr std::size_t kSilentFrameSize = 418;
extern const std::array<std::uint8_t, kSilentFrameSize> g_silentMp3Frame;
// 512 bytes: the silent frame followed by its first 94 bytes.
extern const std::array<std::uint8_t, 512> g_mp3SectorFiller;

// True when the 4 header bytes are of the accepted kind.
bool IsAcceptedFrameHeader(const std::uint8_t* header);

// Walks the frame headers of the audio section at the file's position; true when
// every frame is of the accepted kind and the last one ends with the section. Restores the position; throws
// CFileAccessException "Unable to read mp3 frame" when a header cannot be read.
bool IsCompatibleMp3(const RoutineFileHeader& header, std::FILE* routineFile);

}  // namespace vorn
