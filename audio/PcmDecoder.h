#pragma once
// Decodes one audio file with FFmpeg into the decoder's PCM format: 44,100 Hz,
// signed 16-bit, 2 channels interleaved, first channel first. Resamples and maps
// channels as needed (mono goes to both channels at full level), drains decoder
// and resampler at the end, and writes to the PCM file in large blocks, so its
// memory does not grow with the length of the audio.

#include <string>

#include "audio/PcmTempFile.h"

namespace vorn {

inline constexpr int kPcmSampleRate = 44100;
inline constexpr int kPcmChannels = 2;
inline constexpr int kPcmFrameBytes = 4;

// Appends the whole decoded audio of path to pcm. A failed step is shown in one
// message box and gives false; a decoding error in mid-stream fails as well.
bool DecodeToPcm(const std::string& path, CPcmTempFile& pcm);

}  // namespace vorn
