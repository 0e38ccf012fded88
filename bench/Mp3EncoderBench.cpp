// Encodes a 44.1 kHz 16-bit stereo WAV with CMp3Writer, reading it in the
// conversion driver's 1024-frame pieces: the encoder alone, for comparison with
// the lame command line on the same file (bench/mp3-encoder.sh).
// Usage: mp3_encoder_bench IN.wav OUT.mp3

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "audio/Mp3Writer.h"
#include "platform/LittleEndian.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Positions the file at the first sample; false unless 16-bit stereo 44.1 kHz PCM.
bool FindSamples(std::FILE* wav, std::uint32_t& dataBytes) {
  std::uint8_t riff[12];
  if (std::fread(riff, 1, 12, wav) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return false;
  }
  bool formatOk = false;
  std::uint8_t chunk[8];
  while (std::fread(chunk, 1, 8, wav) == 8) {
    const std::uint32_t size = vorn::GetLe32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
      std::vector<std::uint8_t> fmt(size);
      if (std::fread(fmt.data(), 1, size, wav) != size) return false;
      formatOk = vorn::GetLe16(&fmt[0]) == 1 && vorn::GetLe16(&fmt[2]) == 2 &&
                 vorn::GetLe32(&fmt[4]) == 44100 && vorn::GetLe16(&fmt[14]) == 16;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      dataBytes = size;
      return formatOk;
    } else if (std::fseek(wav, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
      return false;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s IN.wav OUT.mp3\n", argv[0]);
    return 2;
  }
  std::unique_ptr<std::FILE, FileCloser> wav(std::fopen(argv[1], "rb"));
  std::uint32_t dataBytes = 0;
  if (!wav || !FindSamples(wav.get(), dataBytes)) {
    std::fprintf(stderr, "%s: not a 44.1 kHz 16-bit stereo WAV\n", argv[1]);
    return 1;
  }
  try {
    vorn::CMp3Writer writer;
    if (!writer.Open(argv[2])) return 1;
    std::int32_t frames[1024];
    std::uint64_t left = dataBytes / 4;
    while (left > 0) {
      const std::size_t want = left < 1024 ? static_cast<std::size_t>(left) : 1024;
      const std::size_t got = std::fread(frames, 4, want, wav.get());
      if (!writer.Write(frames, static_cast<int>(got))) return 1;
      if (got < want) break;
      left -= got;
    }
    if (!writer.Close()) return 1;
  } catch (const std::exception& e) {
    // The writer raises its failures for its caller to show.
    std::fprintf(stderr, "%s: %s\n", argv[2], e.what());
    return 1;
  }
  return 0;
}
