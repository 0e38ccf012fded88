// The preview's one decoding pass of a routine, against FFmpeg decoding the
// same MP3 to nothing (`ffmpeg -v error -i MP3 -f null -`), run one after the
// other in the same process: the time until the first batch of waveform
// columns is out, the time of the whole pass, and the pass's peak memory.
//
//   preview_bench IMAGE N MP3      (RUNS, default 3; bench/preview.sh makes the inputs)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "device/ImageDevice.h"
#include "disk/RoutinePreview.h"
#include "disk/VornDisk.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: preview_bench IMAGE N MP3\n");
    return 2;
  }
  const std::string image = argv[1];
  const auto index = static_cast<std::size_t>(std::atoi(argv[2]));
  const std::string mp3 = argv[3];
  const int runs = std::getenv("RUNS") != nullptr ? std::max(1, std::atoi(std::getenv("RUNS"))) : 3;

  double bestFirst = 1e9;
  double bestPass = 1e9;
  double bestPeer = 1e9;
  double seconds = 0;
  for (int run = 0; run < runs; ++run) {
    vorn::CImageDevice device(image, false, vorn::ImageAccess::kRead);
    device.Open(vorn::CImageDevice::EntryFor(image));
    vorn::CVornDisk disk(device, nullptr);
    const vorn::RoutineEntry entry = disk.ReadTable().at(index - 1);
    std::optional<double> first;
    const Clock::time_point start = Clock::now();
    vorn::PreviewSink sink;
    sink.peaks = [&](std::uint64_t, const std::vector<vorn::PeakColumn>&) {
      if (!first) first = Since(start);
    };
    const vorn::RoutinePicture picture = vorn::PreviewRoutine(device, entry, sink);
    const double pass = Since(start);
    device.Close();
    seconds = picture.audioSeconds;
    bestFirst = std::min(bestFirst, first.value_or(pass));
    bestPass = std::min(bestPass, pass);

    const Clock::time_point peerStart = Clock::now();
    const std::string command = "ffmpeg -v error -i '" + mp3 + "' -f null -";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "the peer failed: %s\n", command.c_str());
      return 1;
    }
    bestPeer = std::min(bestPeer, Since(peerStart));
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("routine: %.1f min of audio\n", seconds / 60);
  std::printf("first waveform columns after: %.3f s (goal < 1 s)\n", bestFirst);
  std::printf("whole preview pass: %.2f s; ffmpeg -f null: %.2f s; ratio %.2f (best of %d)\n", bestPass, bestPeer,
              bestPass / bestPeer, runs);
  std::printf("peak resident memory of the pass: %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}
