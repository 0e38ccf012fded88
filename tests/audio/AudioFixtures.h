#pragma once
// Inputs for audio and import tests, made at test time: generated tones as PCM
// and WAV, ".vorn" routine files, scratch directories.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/RoutineFileHeader.h"
#include "platform/LittleEndian.h"

namespace vorn::test {

// A directory of its own under the temporary directory, removed at the end.
class CScratchDir {
 public:
  CScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorntestXXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    m_path = pattern;
  }
  ~CScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  CScratchDir(const CScratchDir&) = delete;
  CScratchDir& operator=(const CScratchDir&) = delete;
  std::string File(const std::string& name) const { return (m_path / name).string(); }
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// Interleaved 16-bit stereo samples: one sine per channel.
inline std::vector<std::int16_t> StereoTone(int frames, double leftHz, double rightHz,
                                            double amplitude = 12000.0) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * 2);
  for (int i = 0; i < frames; ++i) {
    const double t = i / 44100.0;
    samples[2 * i] = static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * leftHz * t));
    samples[2 * i + 1] = static_cast<std::int16_t>(amplitude * std::sin(2 * M_PI * rightHz * t));
  }
  return samples;
}

// A canonical 44-byte-header PCM WAV of 44,100 Hz stereo 16-bit samples.
inline std::vector<std::uint8_t> WavBytes(const std::vector<std::int16_t>& samples) {
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

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
