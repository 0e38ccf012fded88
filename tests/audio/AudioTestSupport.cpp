#include "tests/audio/AudioTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "audio/FfmpegAudioSource.h"
#include "platform/LittleEndian.h"

namespace vorn::test {

CScratchDir::CScratchDir() {
  std::string templ = std::filesystem::temp_directory_path().string() + "/vorn-audio-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = templ;
}

CScratchDir::~CScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

Pcm MakeTone(int sampleRate, const std::vector<double>& frequencies, double seconds,
             double amplitude) {
  Pcm pcm;
  pcm.sampleRate = sampleRate;
  pcm.channels = static_cast<int>(frequencies.size());
  const auto frames = static_cast<std::size_t>(std::lround(seconds * sampleRate));
  pcm.samples.reserve(frames * frequencies.size());
  for (std::size_t i = 0; i < frames; ++i) {
    for (double f : frequencies) {
      const double v = amplitude * std::sin(2.0 * M_PI * f * static_cast<double>(i) / sampleRate);
      pcm.samples.push_back(static_cast<std::int16_t>(std::lround(v * 32767.0)));
    }
  }
  return pcm;
}

void WriteWav(const std::string& path, const Pcm& pcm) {
  const auto dataBytes = static_cast<std::uint32_t>(pcm.samples.size() * 2);
  const auto channels = static_cast<std::uint16_t>(pcm.channels);
  std::vector<std::uint8_t> out(44 + dataBytes);
  auto put32 = [&](std::size_t at, std::uint32_t v) { PutLe32(out.data() + at, v); };
  auto put16 = [&](std::size_t at, std::uint16_t v) { PutLe16(out.data() + at, v); };
  std::copy_n("RIFF", 4, out.begin());
  put32(4, 36 + dataBytes);
  std::copy_n("WAVEfmt ", 8, out.begin() + 8);
  put32(16, 16);
  put16(20, 1);
  put16(22, channels);
  put32(24, static_cast<std::uint32_t>(pcm.sampleRate));
  put32(28, static_cast<std::uint32_t>(pcm.sampleRate) * channels * 2);
  put16(32, static_cast<std::uint16_t>(channels * 2));
  put16(34, 16);
  std::copy_n("data", 4, out.begin() + 36);
  put32(40, dataBytes);
  for (std::size_t i = 0; i < pcm.samples.size(); ++i) {
    put16(44 + 2 * i, static_cast<std::uint16_t>(pcm.samples[i]));
  }
  WriteBytes(path, out);
}

bool RunCommand(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool HaveTool(const std::string& name) { return RunCommand("command -v " + name); }

bool FfmpegConvert(const std::string& in, const std::string& options, const std::string& out) {
  return RunCommand("ffmpeg -nostdin -v error -y -i '" + in + "' " + options + " '" + out + "'");
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

Decoded DecodeFile(const std::string& path) {
  Decoded result;
  CFfmpegAudioSource source;
  if (!source.Open(path)) return result;
  result.ok = true;
  result.length = source.GetLength();
  result.samples.resize(static_cast<std::size_t>(result.length) * 2);
  auto* words = reinterpret_cast<std::int32_t*>(result.samples.data());
  std::size_t done = 0;
  while (done < result.length) {
    const int got = source.Read(words + done, nullptr, 1024, true);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  result.samples.resize(done * 2);
  return result;
}

namespace {

double CorrelationAt(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                     std::size_t channel, std::size_t delay, std::size_t limit) {
  const std::size_t framesB = b.size() / 2;
  if (framesB <= delay) return 0.0;
  const std::size_t n = std::min({a.size() / 2, framesB - delay, limit});
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = a[2 * i + channel];
    const double y = b[2 * (i + delay) + channel];
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0.0;
}

}  // namespace

double BestCorrelation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                       int channel, int maxDelay, int* delayOut) {
  // Find the delay on the first half second, then judge the whole signal there.
  const auto ch = static_cast<std::size_t>(channel);
  std::size_t bestDelay = 0;
  double best = -1.0;
  for (std::size_t delay = 0; delay <= static_cast<std::size_t>(maxDelay); ++delay) {
    const double c = CorrelationAt(a, b, ch, delay, 22050);
    if (c > best) {
      best = c;
      bestDelay = delay;
    }
  }
  if (delayOut) *delayOut = static_cast<int>(bestDelay);
  return CorrelationAt(a, b, ch, bestDelay, SIZE_MAX);
}

}  // namespace vorn::test
