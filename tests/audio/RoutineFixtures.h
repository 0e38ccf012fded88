#pragma once
// Inputs for import tests, made at test time: WAV bytes of generated tones,
// ".vorn" routine files, MP3 frame chains of the disk's kind.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/RoutineFileHeader.h"
#include "platform/LittleEndian.h"
#include "tests/audio/AudioTestSupport.h"

namespace vorn::test {

// `frames` frames of a sine per channel, at 44,100 Hz.
inline Pcm Tone(int frames, double leftHz, double rightHz, double amplitude = 0.37) {
  return MakeTone(44100, {leftHz, rightHz}, frames / 44100.0, amplitude);
}

// The bytes of a canonical 44-byte-header PCM WAV of 44,100 Hz stereo 16-bit samples.
inline std::vector<std::uint8_t> WavBytes(const Pcm& pcm) {
  const std::vector<std::int16_t>& samples = pcm.samples;
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<std::uint8_t> out(44 + dataBytes);
  std::uint8_t* p = out.data();
  auto tag = [&](std::size_t at, const char* text) { std::copy(text, text + 4, p + at); };
  tag(0, "RIFF");
  PutLe32(p + 4, 36 + dataBytes);
  tag(8, "WAVE");
  tag(12, "fmt ");
  PutLe32(p + 16, 16);
  PutLe16(p + 20, 1);       // PCM
  PutLe16(p + 22, 2);       // channels
  PutLe32(p + 24, 44100);   // frames per second
  PutLe32(p + 28, 176400);  // bytes per second
  PutLe16(p + 32, 4);       // bytes per frame
  PutLe16(p + 34, 16);      // bits per sample
  tag(36, "data");
  PutLe32(p + 40, dataBytes);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    PutLe16(p + 44 + 2 * i, static_cast<std::uint16_t>(samples[i]));
  }
  return out;
}

inline RoutineFileHeader MakeHeader(const char* title, std::uint32_t audioFormat,
                                    std::uint32_t audioSize, std::uint32_t dataSize) {
  RoutineFileHeader header;
  for (std::size_t i = 0; title[i] != '\0' && i + 1 < header.title.size(); ++i) {
    header.title[i] = title[i];
  }
  header.audioFormat = audioFormat;
  header.audioSize = audioSize;
  header.dataSize = dataSize;
  header.frameRate = 20;
  header.baudCode = 2;
  for (std::size_t i = 0; i < header.controllerSettings.size(); ++i) {
    header.controllerSettings[i] = static_cast<std::uint8_t>(i * 3 + 1);
  }
  return header;
}

// Header bytes, then `audio`, then `data`: a ".vorn" file (or a damaged one,
// when the sizes in the header say otherwise).
inline std::vector<std::uint8_t> RoutineFileBytes(const RoutineFileHeader& header,
                                                  const std::vector<std::uint8_t>& audio,
                                                  const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out(RoutineFileHeader::kEncodedSize);
  header.Encode(out.data());
  out.insert(out.end(), audio.begin(), audio.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// Bytes 0..n-1 of a recognisable pattern that differs from sector to sector.
inline std::vector<std::uint8_t> PatternBytes(std::size_t n, std::uint8_t seed = 0) {
  std::vector<std::uint8_t> out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 512);
  return out;
}

// `frames` frames with headers of the disk's MP3 kind (alternately unpadded and
// padded) and noise for bodies: what the pass-through check accepts, though
// no decoder would make sense of it.
inline std::vector<std::uint8_t> DiskKindFrames(int frames, std::uint32_t seed = 7) {
  std::vector<std::uint8_t> out;
  std::uint32_t state = seed;
  for (int i = 0; i < frames; ++i) {
    const bool padded = i % 2 == 1;
    out.insert(out.end(), {0xFF, 0xFB, static_cast<std::uint8_t>(padded ? 0x92 : 0x90), 0x44});
    for (int b = 4; b < 417 + (padded ? 1 : 0); ++b) {
      state = state * 1103515245u + 12345u;
      out.push_back(static_cast<std::uint8_t>(state >> 16));
    }
  }
  return out;
}

}  // namespace vorn::test
