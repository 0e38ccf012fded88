#pragma once
// Decodes one audio file with FFmpeg into the decoder's PCM format: 44,100 Hz,
// signed 16-bit, 2 channels interleaved, first channel first. Resamples and maps
// channels as needed (mono goes to both channels at full level), drains decoder
// and resampler at the end, and writes to the PCM file in large blocks, so its
// memory does not grow with the length of the audio.

//
// The input is held to audio: it must be a regular file (opened without
// waiting, so a FIFO cannot block), only the demuxers of audio containers
// (kAudioDemuxers) may read it, and no demuxer may open anything else than
// local files (a playlist, a reference to another file or a network address
// inside the audio is refused). Every blocking call is bounded: the reads
// look at the cancel flag and at a deadline.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "audio/PcmTempFile.h"
#include "platform/Cancel.h"

namespace vorn {

inline constexpr int kPcmSampleRate = 44100;
inline constexpr int kPcmChannels = 2;
inline constexpr int kPcmFrameBytes = 4;

// FFmpeg's names of the demuxers the decoder lets read its input: audio
// containers and raw audio streams, nothing that holds playlists or
// references to other files.
inline constexpr const char* kAudioDemuxers =
    "wav,w64,mp3,flac,ogg,mov,aac,aiff,caf,au,wv,ape,tta,mpc,mpc8,ac3,eac3,dts,amr,voc,tak,dsf";

struct DecodeLimits {
  const CCancelFlag* cancel = nullptr;  // set: the decoding ends by throwing CCancelled
  // A whole decoding of a routine's longest audio takes minutes; past this the
  // input is taken for one that never ends.
  std::chrono::steady_clock::duration timeLimit = std::chrono::minutes(30);
  // Called once the input is open and before any decoding, with the length
  // its container states in output frames (not called when it states none it
  // can vouch for). May throw to refuse the input before any PCM is written.
  std::function<void(std::uint64_t frames)> lengthKnown{};
};

// Appends the whole decoded audio of path to pcm. A failed step, or a decoding
// error in mid-stream, throws CFileAccessException with the decoder's caption
// (kDecoderErrorCaption) and the text "<step>: <FFmpeg's error text>". Throws
// CCancelled when the limits' cancel flag is set before it ends.
void DecodeToPcm(const std::string& path, CPcmTempFile& pcm, const DecodeLimits& limits = {});

}  // namespace vorn
