#include "disk/RoutinePreview.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "audio/Mp3Peaks.h"
#include "disk/ControlLanes.h"

namespace vorn {
namespace {

// The first read is small so the first columns come at once; later reads
// grow to 4 MiB, where a drive or an image keeps its pace.
constexpr std::uint32_t kFirstPieceSectors = 64;
constexpr std::uint32_t kLargestPieceSectors = 8192;
constexpr std::size_t kHeadBytes = 64 * 1024;
// A batch is a few hundred columns: often enough to draw as the decoding
// goes, seldom enough to cost nothing.
constexpr std::size_t kBatchColumns = 256;

std::string Format(const char* format, auto... values) {
  std::array<char, 512> text{};
  std::snprintf(text.data(), text.size(), format, values...);
  return text.data();
}

// Reads [first, end) piece by piece, handing each to `take`.
template <class Take>
void ReadRegion(CSectorDevice& device, std::uint64_t first, std::uint64_t end, const CCancelFlag* cancel,
                std::vector<std::uint8_t>& piece, Take take) {
  std::uint32_t size = kFirstPieceSectors;
  for (std::uint64_t sector = first; sector < end;) {
    ThrowIfCancelled(cancel);
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, end - sector));
    piece.resize(static_cast<std::size_t>(count) * kSectorSize);
    device.ReadSectors(static_cast<std::uint32_t>(sector), count, piece.data());
    if (!take(piece.data(), piece.size())) return;
    sector += count;
    size = std::min(size * 2, kLargestPieceSectors);
  }
}

}  // namespace

double RoutinePicture::Seconds() const { return std::max(audioSeconds, control.Seconds()); }

std::vector<std::string> RoutinePicture::AllNotes() const {
  std::vector<std::string> all;
  if (!control.frameNote.empty()) all.push_back(control.frameNote);
  all.insert(all.end(), control.notes.begin(), control.notes.end());
  all.insert(all.end(), notes.begin(), notes.end());
  return all;
}

std::string PreviewTimeText(double seconds) {
  const auto tenths = static_cast<long long>(std::llround(std::max(0.0, seconds) * 10));
  return Format("%lld:%02lld.%lld", tenths / 600, (tenths / 10) % 60, tenths % 10);
}

RoutinePicture PreviewRoutine(CSectorDevice& device, const RoutineEntry& entry, const PreviewSink& sink,
                              const CCancelFlag* cancel) {
  RoutinePicture picture;
  picture.title = entry.DisplayTitle();

  // A table read by another program, or a disk that shrank: what lies past
  // the end is not read, and the picture says so.
  std::uint64_t start = entry.startSector;
  std::uint64_t data = std::max<std::uint64_t>(entry.dataSector, start);
  std::uint64_t end = std::max<std::uint64_t>(entry.endSector, data);
  const std::uint64_t sectors = device.GetSectorCount();
  if (sectors != 0 && end > sectors) {
    picture.notes.push_back(Format("the routine (sectors %llu to %llu) runs past the end of the disk (%llu sectors): "
                                   "only what lies inside is shown",
                                   static_cast<unsigned long long>(start), static_cast<unsigned long long>(end - 1),
                                   static_cast<unsigned long long>(sectors)));
    start = std::min(start, sectors);
    data = std::min(data, sectors);
    end = sectors;
  }
  if (entry.startSector == 0 && entry.endSector > 0) {
    picture.notes.push_back("the routine starts at sector 0, over the disk's header");
  }

  const std::uint64_t audioBytes = (data - start) * kSectorSize;
  // The disk's kind is a constant 128 kbit/s: the region's bytes give the
  // audio's length before any of it is decoded.
  const double audioEstimate = static_cast<double>(audioBytes) / 16000.0;
  std::uint64_t controlBytes = (end - data) * kSectorSize;
  if (controlBytes > kMaxControlBytes) {
    picture.notes.push_back(Format("the control data is %.0f MB; only its first %llu MB are decoded",
                                   static_cast<double>(controlBytes) / 1048576.0,
                                   static_cast<unsigned long long>(kMaxControlBytes >> 20)));
    controlBytes = kMaxControlBytes;
  }
  const std::uint64_t controlEnd = data + controlBytes / kSectorSize;

  std::vector<std::uint8_t> piece;
  std::vector<std::uint8_t> head;
  ReadRegion(device, data, std::min<std::uint64_t>(controlEnd, data + kHeadBytes / kSectorSize), cancel, piece,
             [&](const std::uint8_t* bytes, std::size_t size) {
               head.insert(head.end(), bytes, bytes + size);
               return true;
             });
  CControlDecoder control({entry.Protocol(), entry.frameRate, controlBytes, audioEstimate}, head);
  control.Feed(head.data(), head.size());
  ReadRegion(device, data + head.size() / kSectorSize, controlEnd, cancel, piece,
             [&](const std::uint8_t* bytes, std::size_t size) {
               control.Feed(bytes, size);
               return true;
             });
  picture.control = control.Finish();
  if (controlBytes == 0) picture.control.frameNote.clear();

  picture.samplesPerColumn = SamplesPerColumnFor(audioBytes);
  picture.audioSeconds = audioEstimate;
  if (sink.started) sink.started(picture);

  CMp3Peaks peaks(picture.samplesPerColumn, kBatchColumns,
                  [&](std::uint64_t first, const std::vector<PeakColumn>& columns) {
                    picture.peaks.resize(first);
                    picture.peaks.insert(picture.peaks.end(), columns.begin(), columns.end());
                    if (sink.peaks) sink.peaks(first, columns);
                  });
  ReadRegion(device, start, data, cancel, piece, [&](const std::uint8_t* bytes, std::size_t size) {
    peaks.Feed(bytes, size);
    return peaks.Walking();
  });
  const Mp3PeaksReport report = peaks.Finish();
  picture.audioSeconds = static_cast<double>(report.samples) / kPeakSampleRate;
  picture.audioComplete = true;
  if (audioBytes == 0) picture.notes.push_back("the routine has no audio");
  if (report.badHeaderByte) {
    picture.notes.push_back("the MP3 data stops being frames of the disk's kind at " +
                            PreviewTimeText(picture.audioSeconds) +
                            Format(" (byte %llu): the rest is not drawn",
                                   static_cast<unsigned long long>(*report.badHeaderByte)));
  }
  if (report.decodeErrors != 0) {
    picture.notes.push_back(Format("%llu damaged MP3 frame%s, the first at ",
                                   static_cast<unsigned long long>(report.decodeErrors),
                                   report.decodeErrors == 1 ? "" : "s") +
                            PreviewTimeText(*report.firstBadSeconds));
  }
  return picture;
}

}  // namespace vorn
