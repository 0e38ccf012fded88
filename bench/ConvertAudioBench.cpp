// Converts one audio file the way a routine import does (ConvertAudio with a
// non-MP3 audio section) and reports the wall time and the peak resident memory
// of the process. bench/convert-audio.sh runs it next to the lame command line.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "audio/ConvertAudio.h"
#include "device/DeviceExceptions.h"
#include "platform/UniqueFile.h"

int main(int argc, char** argv) {
  using namespace vorn;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s AUDIO_FILE\n", argv[0]);
    return 2;
  }
  CUniqueFile input(std::fopen(argv[1], "rb"));
  if (!input) {
    std::perror(argv[1]);
    return 1;
  }
  RoutineFileHeader header;
  header.audioFormat = 0;  // anything but MP3 frames of the disk's kind: always converted
  header.audioSize = static_cast<std::uint32_t>(std::filesystem::file_size(argv[1]));

  std::uint32_t mp3Size = 0;
  std::FILE* mp3Stream = nullptr;
  const auto start = std::chrono::steady_clock::now();
  try {
    ConvertAudio(header, input.get(), mp3Size, mp3Stream, ConversionContext{});
  } catch (const CFileAccessException& e) {
    std::fprintf(stderr, "%s\n", e.GetMessage().c_str());
    return 1;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  CUniqueFile converted(mp3Stream);

  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("seconds %.3f\nmp3_bytes %u\npeak_rss_kb %ld\n", elapsed.count(), mp3Size,
              usage.ru_maxrss);
  return 0;
}
