// Measures what the segment encoder's plan costs and buys, on a 44.1 kHz
// 16-bit stereo WAV (bench/segment-plan.sh makes music-like ones):
//
//   segment_plan_bench seams IN.wav SEGMENT_FRAMES K...
//     for each pre-roll K: how many of the segmented output's frames, and how
//     many seams (the first frame a segment keeps), are byte for byte those of
//     a single encoder, with the single encoder as the peer in the same run;
//   segment_plan_bench quality IN.wav SEGMENT_FRAMES K...
//     for each pre-roll K: the signal-to-noise ratio of the decoded segmented
//     output against the source, over the whole and in the worst 1-second
//     window, next to the single encoder's (the peer);
//   segment_plan_bench time IN.wav THREADS SEGMENT_FRAMES K [RUNS]
//     median wall and CPU seconds of encoding the whole file with that plan
//     (RUNS runs, default 3), and the ratios to one worker with one segment
//     (the peer), alternated.
//
// The WAV is read straight from the file by every worker (pread), so the
// numbers are the encoder's alone, without decoding.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/SegmentEncoder.h"
#include "tests/audio/AudioTestSupport.h"
#include "platform/LittleEndian.h"
#include "platform/UniqueFd.h"

namespace {

using vorn::CSegmentEncoder;
using vorn::SegmentPlan;

struct Wav {
  vorn::CUniqueFd fd;
  std::uint64_t dataOffset = 0;
  std::uint64_t frames = 0;
};

// The data chunk of a 44.1 kHz 16-bit stereo PCM WAV.
bool OpenWav(const char* path, Wav& wav) {
  wav.fd.Reset(::open(path, O_RDONLY | O_CLOEXEC));
  if (!wav.fd.IsValid()) return false;
  std::uint8_t head[12];
  if (::pread(wav.fd.Get(), head, 12, 0) != 12 || std::memcmp(head, "RIFF", 4) != 0) return false;
  std::uint64_t at = 12;
  bool formatOk = false;
  for (;;) {
    std::uint8_t chunk[24];
    if (::pread(wav.fd.Get(), chunk, 8, static_cast<off_t>(at)) != 8) return false;
    const std::uint32_t size = vorn::GetLe32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (::pread(wav.fd.Get(), chunk + 8, 16, static_cast<off_t>(at + 8)) != 16) return false;
      formatOk = vorn::GetLe16(chunk + 8) == 1 && vorn::GetLe16(chunk + 10) == 2 &&
                 vorn::GetLe32(chunk + 12) == 44100 && vorn::GetLe16(chunk + 22) == 16;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      wav.dataOffset = at + 8;
      wav.frames = size / 4;
      return formatOk;
    }
    at += 8 + size + (size & 1);
  }
}

// Encodes the whole WAV with the plan into `mp3`; false on failure.
bool Encode(const Wav& wav, unsigned threads, SegmentPlan plan, std::vector<std::uint8_t>& mp3) {
  std::FILE* out = std::tmpfile();
  if (out == nullptr) return false;
  bool ok = false;
  {
    CSegmentEncoder encoder(
        out,
        [&wav](std::uint64_t first, std::int16_t* samples, std::size_t count) {
          const ssize_t got = ::pread(wav.fd.Get(), samples, count * 4,
                                      static_cast<off_t>(wav.dataOffset + first * 4));
          return got < 0 ? std::size_t{0} : static_cast<std::size_t>(got) / 4;
        },
        threads, plan, nullptr);
    encoder.PcmAvailable(wav.frames);
    encoder.PcmEnded(true);
    try {
      encoder.Finish({});
      ok = true;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
  }
  std::fflush(out);
  const long size = std::ftell(out);
  mp3.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
  std::rewind(out);
  ok = ok && std::fread(mp3.data(), 1, mp3.size(), out) == mp3.size();
  std::fclose(out);
  return ok;
}

// Offsets of the frames (417 or 418 bytes each).
std::vector<std::size_t> FrameStarts(const std::vector<std::uint8_t>& mp3) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at + 4 <= mp3.size(); at += 417 + ((mp3[at + 2] >> 1) & 1u)) {
    starts.push_back(at);
  }
  return starts;
}

bool SameFrame(const std::vector<std::uint8_t>& a, std::size_t atA, const std::vector<std::uint8_t>& b,
               std::size_t atB) {
  const std::size_t size = 417 + ((a[atA + 2] >> 1) & 1u);
  return atA + size <= a.size() && atB + size <= b.size() &&
         std::memcmp(a.data() + atA, b.data() + atB, size) == 0;
}

int Seams(const Wav& wav, std::uint32_t segmentFrames, const std::vector<std::uint32_t>& prerolls) {
  std::vector<std::uint8_t> single;
  if (!Encode(wav, 1, {}, single)) return 1;
  const std::vector<std::size_t> reference = FrameStarts(single);
  std::printf("input %.1f s, %zu frames; segments of %u frames; peer: one encoder over the whole\n",
              static_cast<double>(wav.frames) / 44100.0, reference.size(), segmentFrames);
  std::printf("%8s %10s %12s %16s %18s\n", "preroll", "frames", "identical", "seams identical",
              "first diff after seam (max)");
  for (const std::uint32_t preroll : prerolls) {
    std::vector<std::uint8_t> split;
    if (!Encode(wav, 2, {segmentFrames, preroll}, split)) return 1;
    const std::vector<std::size_t> frames = FrameStarts(split);
    std::size_t identical = 0, seams = 0, seamsIdentical = 0, worstRun = 0;
    for (std::size_t f = 0; f < std::min(frames.size(), reference.size()); ++f) {
      if (SameFrame(split, frames[f], single, reference[f])) ++identical;
    }
    // A seam: the first frame segment s >= 1 keeps, s*S + K; how far behind it
    // the segmented output still differs from the peer.
    for (std::size_t seam = segmentFrames + preroll; seam < frames.size(); seam += segmentFrames) {
      ++seams;
      std::size_t run = 0;
      while (seam + run < std::min(frames.size(), reference.size()) &&
             !SameFrame(split, frames[seam + run], single, reference[seam + run]) &&
             run < segmentFrames) {
        ++run;
      }
      if (run == 0) ++seamsIdentical;
      worstRun = std::max(worstRun, run);
    }
    std::printf("%8u %10zu %11.3f%% %9zu of %-5zu %18zu%s\n", preroll, frames.size(),
                100.0 * static_cast<double>(identical) / static_cast<double>(reference.size()),
                seamsIdentical, seams, worstRun,
                frames.size() == reference.size() ? "" : "   FRAME COUNT DIFFERS");
  }
  return 0;
}

// Decoded MP3 bytes, through a temporary file.
std::vector<std::int16_t> Decode(const std::vector<std::uint8_t>& mp3) {
  vorn::test::CScratchDir dir;
  vorn::test::WriteBytes(dir / "out.mp3", mp3);
  return vorn::test::DecodeFile(dir / "out.mp3").samples;
}

int Quality(const Wav& wav, std::uint32_t segmentFrames, const std::vector<std::uint32_t>& prerolls) {
  std::vector<std::int16_t> source(wav.frames * 2);
  if (::pread(wav.fd.Get(), source.data(), source.size() * 2, static_cast<off_t>(wav.dataOffset)) !=
      static_cast<ssize_t>(source.size() * 2)) {
    return 1;
  }
  std::vector<std::uint8_t> single;
  if (!Encode(wav, 1, {}, single)) return 1;
  const std::vector<std::int16_t> peer = Decode(single);
  int delay = 0;
  vorn::test::BestCorrelation(source, peer, 0, 3000, &delay);
  const vorn::test::SnrProfile reference = vorn::test::MeasureSnr(source, peer, delay);
  double peerWorst = 1e9;
  for (double w : reference.windows) {
    if (!std::isnan(w)) peerWorst = std::min(peerWorst, w);
  }
  std::printf("input %.1f s; segments of %u frames; peer: one encoder, SNR %.2f dB whole, %.2f dB "
              "worst window (delay %d)\n",
              static_cast<double>(wav.frames) / 44100.0, segmentFrames, reference.whole, peerWorst, delay);
  std::printf("%8s %12s %14s %22s\n", "preroll", "SNR whole", "minus peer", "worst window - peer's");
  for (const std::uint32_t preroll : prerolls) {
    std::vector<std::uint8_t> split;
    if (!Encode(wav, 2, {segmentFrames, preroll}, split)) return 1;
    const vorn::test::SnrProfile ours = vorn::test::MeasureSnr(source, Decode(split), delay);
    double worstDelta = 1e9;
    for (std::size_t w = 0; w < ours.windows.size() && w < reference.windows.size(); ++w) {
      if (!std::isnan(ours.windows[w])) {
        worstDelta = std::min(worstDelta, ours.windows[w] - reference.windows[w]);
      }
    }
    std::printf("%8u %9.2f dB %11.2f dB %19.2f dB\n", preroll, ours.whole, ours.whole - reference.whole,
                worstDelta);
  }
  return 0;
}

struct Cost {
  double wall = 0;
  double cpu = 0;  // user + system of every thread of the process
};

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Cost Measure(const Wav& wav, unsigned threads, SegmentPlan plan) {
  std::vector<std::uint8_t> mp3;
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  if (!Encode(wav, threads, plan, mp3)) std::exit(1);
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
          CpuSeconds() - cpu};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Time(const Wav& wav, unsigned threads, SegmentPlan plan, int runs) {
  std::vector<double> oursWall, oursCpu, peerWall, peerCpu;
  for (int run = 0; run < runs; ++run) {
    const Cost ours = Measure(wav, threads, plan);
    const Cost peer = Measure(wav, 1, {});
    oursWall.push_back(ours.wall);
    oursCpu.push_back(ours.cpu);
    peerWall.push_back(peer.wall);
    peerCpu.push_back(peer.cpu);
  }
  std::printf("threads %u segment %u preroll %u (median of %d): %.2f s wall / %.2f s cpu; "
              "one encoder %.2f s wall / %.2f s cpu; ratio wall %.3f, cpu %.3f\n",
              threads, plan.segmentFrames, plan.prerollFrames, runs, Median(oursWall),
              Median(oursCpu), Median(peerWall), Median(peerCpu), Median(oursWall) / Median(peerWall),
              Median(oursCpu) / Median(peerCpu));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  Wav wav;
  if ((mode != "seams" && mode != "quality" && mode != "time") || argc < 5 || !OpenWav(argv[2], wav)) {
    std::fprintf(stderr,
                 "usage: %s seams|quality IN.wav SEGMENT_FRAMES K...\n"
                 "       %s time IN.wav THREADS SEGMENT_FRAMES K [RUNS]\n"
                 "(IN.wav: 44.1 kHz 16-bit stereo)\n",
                 argv[0], argv[0]);
    return 2;
  }
  if (mode != "time") {
    std::vector<std::uint32_t> prerolls;
    for (int i = 4; i < argc; ++i) prerolls.push_back(static_cast<std::uint32_t>(std::atoi(argv[i])));
    const auto segmentFrames = static_cast<std::uint32_t>(std::atoi(argv[3]));
    return mode == "seams" ? Seams(wav, segmentFrames, prerolls) : Quality(wav, segmentFrames, prerolls);
  }
  if (argc < 6) return 2;
  return Time(wav, static_cast<unsigned>(std::atoi(argv[3])),
              {static_cast<std::uint32_t>(std::atoi(argv[4])), static_cast<std::uint32_t>(std::atoi(argv[5]))},
              argc > 6 ? std::atoi(argv[6]) : 3);
}
