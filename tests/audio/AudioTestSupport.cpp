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
#include "platform/Error.h"
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

Pcm MakeMusic(double seconds, double level, double noteSeconds) {
  constexpr int kRate = 44100;
  const auto frames = static_cast<std::size_t>(std::lround(seconds * kRate));
  const double notes[] = {220.0, 330.0, 262.0, 392.0, 294.0, 440.0, 247.0, 370.0};
  const auto noteFrames = static_cast<std::size_t>(noteSeconds * kRate);
  std::vector<double> left(frames, 0.0), right(frames, 0.0);
  // Plucked strings (Karplus-Strong), a new note each noteFrames, panned by turns.
  std::uint32_t noise = 12345;
  auto random = [&noise] {
    noise = noise * 1664525u + 1013904223u;
    return static_cast<double>(noise >> 8) / static_cast<double>(1u << 24) * 2.0 - 1.0;
  };
  for (std::size_t start = 0, n = 0; start < frames; start += noteFrames, ++n) {
    const auto period = static_cast<std::size_t>(kRate / notes[n % std::size(notes)]);
    std::vector<double> line(period);
    for (double& v : line) v = random();
    const double pan = (n % 2 == 0) ? 0.7 : 0.3;
    for (std::size_t i = 0; i < 2 * noteFrames && start + i < frames; ++i) {
      const double v = line[i % period];
      line[i % period] = 0.996 * 0.5 * (v + line[(i + 1) % period]);
      left[start + i] += 0.35 * pan * v;
      right[start + i] += 0.35 * (1.0 - pan) * v;
    }
    // Every third note a short burst of noise.
    if (n % 3 == 2) {
      for (std::size_t i = 0; i < kRate / 25 && start + i < frames; ++i) {
        const double envelope = 1.0 - static_cast<double>(i) / (kRate / 25.0);
        left[start + i] += 0.15 * envelope * random();
        right[start + i] += 0.15 * envelope * random();
      }
    }
  }
  Pcm pcm;
  pcm.samples.resize(2 * frames);
  double phase = 0.0;
  for (std::size_t i = 0; i < frames; ++i) {
    // 60 Hz up to 8 kHz over the whole, exponentially.
    const double f = 60.0 * std::pow(8000.0 / 60.0, static_cast<double>(i) / static_cast<double>(frames));
    phase += 2.0 * M_PI * f / kRate;
    const double sweep = 0.08 * std::sin(phase);
    auto sample = [level](double v) {
      return static_cast<std::int16_t>(std::lround(std::clamp(level * v, -1.0, 1.0) * 32767.0));
    };
    pcm.samples[2 * i] = sample(left[i] + sweep);
    pcm.samples[2 * i + 1] = sample(right[i] + sweep);
  }
  return pcm;
}

SnrProfile MeasureSnr(const std::vector<std::int16_t>& source, const std::vector<std::int16_t>& decoded,
                      int delay) {
  constexpr std::size_t kWindow = 44100;
  const std::size_t frames = source.size() / 2;
  const auto lag = static_cast<std::size_t>(std::max(delay, 0));
  SnrProfile profile;
  double signalAll = 0, noiseAll = 0;
  for (std::size_t start = 0; start < frames; start += kWindow) {
    double signal = 0, noise = 0;
    for (std::size_t i = start; i < std::min(frames, start + kWindow); ++i) {
      for (std::size_t ch = 0; ch < 2; ++ch) {
        const double x = source[2 * i + ch];
        const std::size_t at = 2 * (i + lag) + ch;
        const double y = at < decoded.size() ? decoded[at] : 0.0;
        signal += x * x;
        noise += (x - y) * (x - y);
      }
    }
    signalAll += signal;
    noiseAll += noise;
    const double count = 2.0 * static_cast<double>(std::min(frames, start + kWindow) - start);
    const double quietPower = std::pow(32768.0 * 1e-4, 2);  // -80 dBFS
    profile.windows.push_back(signal / count < quietPower
                                  ? std::nan("")
                                  : 10.0 * std::log10(signal / std::max(noise, 1.0)));
  }
  profile.whole = 10.0 * std::log10(signalAll / std::max(noiseAll, 1.0));
  return profile;
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
  // One read of the whole file: a byte-wise iterator takes minutes for a disk
  // image in the unoptimised sanitizer build.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
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
  try {
    if (!source.Open(path)) return result;
  } catch (const CVornError&) {
    return result;
  }
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
