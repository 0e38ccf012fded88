// Syncing disks from a show set, through CDriveAccess (O_DSYNC, as shipped) on
// drives whose nodes are image files in DIR, each figure against its peer in
// the same run:
//
//   1. four disks synced from a show of MIB MiB of routines that need
//      converting, against syncing one disk (goal <= 1.3: converted once,
//      written at the same time);
//   2. re-syncing a disk that differs only in its last routine (converted
//      routines kept across runs, --cache), against adding that routine to a
//      disk holding the others with its read-back, as `vorn3ctl add` does
//      (goal <= 1.1);
//   3. a disk that already holds a show (of 4 x MIB MiB, of the disk's kind),
//      against dd reading its routines
//      with iflag=direct (goal <= 1.1).
//
//   show_sync_bench DIR [MIB [RUNS]]

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/RoutineFileHeader.h"
#include "bench/DriveTree.h"
#include "device/DriveAccess.h"
#include "device/VerifyingDevice.h"
#include "disk/ShowSync.h"
#include "disk/VornDisk.h"

namespace {

namespace fs = std::filesystem;
constexpr int kRoutines = 8;
constexpr int kDisks = 5;  // four for the sync, one more for the peers

constexpr int kPairs = 3;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A routine file whose audio is a WAV of `seconds` seconds (a sweep, so the
// encoder has work), to be converted; 64 KiB of control data.
void WriteRoutine(const fs::path& path, const std::string& title, double seconds, double baseHz) {
  const std::uint32_t frames = static_cast<std::uint32_t>(seconds * 44100);
  const std::uint32_t pcmBytes = frames * 4;
  std::vector<std::uint8_t> wav(44);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) wav[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  std::copy_n("RIFF", 4, wav.begin());
  put32(4, 36 + pcmBytes);
  std::copy_n("WAVEfmt ", 8, wav.begin() + 8);
  put32(16, 16);
  put32(20, 1 | (2u << 16));
  put32(24, 44100);
  put32(28, 176400);
  put32(32, 4 | (16u << 16));
  std::copy_n("data", 4, wav.begin() + 36);
  put32(40, pcmBytes);
  vorn::RoutineFileHeader header;
  std::copy(title.begin(), title.end(), header.title.begin());
  header.audioFormat = 0;
  header.audioSize = 44 + pcmBytes;
  header.dataSize = 65536;
  header.frameRate = 20;
  header.baudCode = 2;
  std::uint8_t raw[vorn::RoutineFileHeader::kEncodedSize];
  header.Encode(raw);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(raw), sizeof raw);
  out.write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
  std::vector<std::int16_t> chunk(44100 * 2);
  double phase = 0;
  for (std::uint32_t done = 0; done < frames;) {
    const std::uint32_t n = std::min<std::uint32_t>(44100, frames - done);
    for (std::uint32_t i = 0; i < n; ++i) {
      const double hz = baseHz * (1.0 + 0.5 * std::sin((done + i) / 44100.0 * 0.3));
      phase += 2 * M_PI * hz / 44100;
      chunk[2 * i] = static_cast<std::int16_t>(9000 * std::sin(phase));
      chunk[2 * i + 1] = static_cast<std::int16_t>(9000 * std::sin(phase * 1.5));
    }
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n * 4));
    done += n;
  }
  std::vector<char> data(65536, 0x5A);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// A routine whose audio is already of the disk's kind (frame headers of
// 128 kbit/s, 44,100 Hz, noise for bodies): stored as it is, nothing to convert.
void WritePassThroughRoutine(const fs::path& path, const std::string& title, std::uint32_t frames, std::uint32_t seed) {
  std::vector<std::uint8_t> mp3;
  mp3.reserve(std::size_t{frames} * 418);
  std::uint32_t state = seed;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const bool padded = i % 2 == 1;
    mp3.insert(mp3.end(), {0xFF, 0xFB, static_cast<std::uint8_t>(padded ? 0x92 : 0x90), 0x44});
    for (int b = 4; b < 417 + (padded ? 1 : 0); ++b) {
      state = state * 1103515245u + 12345u;
      mp3.push_back(static_cast<std::uint8_t>(state >> 16));
    }
  }
  vorn::RoutineFileHeader header;
  std::copy(title.begin(), title.end(), header.title.begin());
  header.audioFormat = vorn::RoutineFileHeader::kAudioFormatMp3;
  header.audioSize = static_cast<std::uint32_t>(mp3.size());
  header.dataSize = 65536;
  std::uint8_t raw[vorn::RoutineFileHeader::kEncodedSize];
  header.Encode(raw);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(raw), sizeof raw);
  out.write(reinterpret_cast<const char*>(mp3.data()), static_cast<std::streamsize>(mp3.size()));
  std::vector<char> data(65536, 0x33);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void WriteShow(const fs::path& path, const std::vector<std::string>& files) {
  std::ofstream out(path);
  for (const std::string& file : files) out << "[[routine]]\nfile = \"" << file << "\"\n";
}

void DropFromCache(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY);
  ::fsync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Each drive a MiB larger than the one before: cards are told apart by name
// and size, and every tree names its drive alike.
struct Drives {
  std::vector<vorn::DriveRoots> roots;
  std::vector<fs::path> nodes;
  std::uint64_t bytes = 0;

  std::uint64_t Bytes(int k) const { return bytes + (std::uint64_t{static_cast<unsigned>(k)} << 20); }
  void Blank(int k) const {
    fs::remove(nodes[k]);
    std::ofstream(nodes[k]).close();
    fs::resize_file(nodes[k], Bytes(k));
  }
  std::unique_ptr<vorn::CDriveAccess> Open(int k) const {
    auto drive = std::make_unique<vorn::CDriveAccess>(roots[k]);
    drive->Open(vorn::DeviceEntry{0, "", ""});
    return drive;
  }
};

// Syncs `show` (read from `setPath`) onto drives [0, count); the time of it
// all, and in `writing` the time after the show was converted.
double TimeSync(const Drives& drives, const fs::path& setPath, int count, const std::string& cache,
                double* writing = nullptr) {
  std::vector<std::unique_ptr<vorn::CDriveAccess>> open;
  std::vector<vorn::SyncDisk> disks;
  for (int k = 0; k < count; ++k) {
    open.push_back(drives.Open(k));
    disks.push_back({"drive" + std::to_string(k), open.back().get()});
  }
  const auto start = std::chrono::steady_clock::now();
  const auto show = vorn::CConvertedShow::Prepare(vorn::LoadShowSet(setPath.string()), cache);
  const auto converted = std::chrono::steady_clock::now();
  for (const auto& result : vorn::SyncShow(*show, disks, {})) {
    if (!result.Succeeded()) throw std::runtime_error(result.name + ": " + result.failure->what());
  }
  const double seconds = Seconds(start);
  if (writing) *writing = Seconds(converted);
  for (auto& drive : open) drive->Close();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [MIB [RUNS]]\n", argv[0]);
    return 2;
  }
  const fs::path dir = argv[1];
  const double mib = argc > 2 ? std::atof(argv[2]) : 8;
  const int runs = argc > 3 ? std::atoi(argv[3]) : 1;
  // 128 kbit/s: 16,000 bytes of MP3 per second of audio.
  const double seconds = mib * (1 << 20) / 16000.0 / kRoutines;
  std::vector<std::string> files, others;
  for (int k = 0; k < kRoutines; ++k) {
    files.push_back("r" + std::to_string(k + 1) + ".vorn");
    WriteRoutine(dir / files.back(), "Routine " + std::to_string(k + 1), seconds, 220.0 + 40 * k);
  }
  WriteRoutine(dir / "other.vorn", "Other", seconds, 900.0);
  others = files;
  others.back() = "other.vorn";
  const std::vector<std::string> allButLast(files.begin(), files.end() - 1);
  WriteShow(dir / "show.toml", files);
  WriteShow(dir / "other.toml", others);
  WriteShow(dir / "first.toml", allButLast);

  Drives drives;
  drives.bytes = static_cast<std::uint64_t>(mib * 4.5 + 16) << 20;
  for (int k = 0; k < kDisks; ++k) {
    drives.roots.push_back(vorn::bench::MakeDriveTree(dir / ("d" + std::to_string(k)), drives.Bytes(k)));
    drives.nodes.push_back(dir / ("d" + std::to_string(k)) / "dev/sda");
  }
  const std::string cache = (dir / "cache").string();
  double one = 1e9, four = 1e9, prepare = 1e9, oneWriting = 0, fourWriting = 0;
  std::vector<double> resyncs, adds, resyncRatios, matches, dds, matchRatios;
  try {
    for (int run = 0; run < runs; ++run) {
      // 1. Four disks against one, each from blank and converting the show.
      // In turn which goes first: the machine's load comes and goes.
      for (int order = 0; order < 2; ++order) {
        for (int k = 0; k < 4; ++k) drives.Blank(k);
        double writing = 0;
        if ((order + run) % 2 == 0) {
          const double total = TimeSync(drives, dir / "show.toml", 1, "", &writing);
          if (total < one) oneWriting = writing;
          one = std::min(one, total);
        } else {
          const double total = TimeSync(drives, dir / "show.toml", 4, "", &writing);
          if (total < four) fourWriting = writing;
          four = std::min(four, total);
        }
      }

      // 2. Disk 0 holds the show with another last routine, disk 4 the show
      // without its last routine; the cache holds the routines both share
      // and never the last one, which both sides convert. Pairs in turn, the
      // median of their ratios: the machine's load comes and goes.
      fs::remove_all(cache);
      drives.Blank(0);
      drives.Blank(4);
      for (int pair = 0; pair < kPairs; ++pair) {
        TimeSync(drives, dir / "other.toml", 1, cache);
        {
          auto drive = drives.Open(4);
          const auto show = vorn::CConvertedShow::Prepare(vorn::LoadShowSet((dir / "first.toml").string()), cache);
          vorn::SyncShow(*show, {{"drive4", drive.get()}}, {});
          drive->Close();
        }
        DropFromCache(drives.nodes[0]);
        DropFromCache(drives.nodes[4]);
        std::set<fs::path> cached;
        for (const auto& entry : fs::directory_iterator(cache)) cached.insert(entry.path());
        double resync = 0, add = 0;
        const auto timeResync = [&] {
          resync = TimeSync(drives, dir / "show.toml", 1, cache);
          for (const auto& entry : fs::directory_iterator(cache)) {
            if (!cached.count(entry.path())) fs::remove(entry.path());
          }
        };
        const auto timeAdd = [&] {
          auto drive = drives.Open(4);
          const auto start = std::chrono::steady_clock::now();
          vorn::CVerifyingDevice verifier(*drive);
          vorn::CVornDisk disk(verifier, nullptr);
          disk.ReadTable();
          disk.AddRoutine((dir / files.back()).string(), nullptr);
          drive->DropCache();
          verifier.Verify();
          add = Seconds(start);
          drive->Close();
        };
        if (pair % 2 == 0) {
          timeResync();
          timeAdd();
        } else {
          timeAdd();
          timeResync();
        }
        resyncs.push_back(resync);
        adds.push_back(add);
        resyncRatios.push_back(resync / add);
      }

      // 3. Disk 0 holds a show of four times that size, already of the
      // disk's kind (a larger read, where fixed costs do not decide).
      std::vector<std::string> large;
      for (int k = 0; k < kRoutines; ++k) {
        large.push_back("big" + std::to_string(k + 1) + ".vorn");
        WritePassThroughRoutine(dir / large.back(), "Big " + std::to_string(k + 1),
                                static_cast<std::uint32_t>(4 * mib * (1 << 20) / 418 / kRoutines),
                                static_cast<std::uint32_t>(k + 1));
      }
      WriteShow(dir / "large.toml", large);
      drives.Blank(0);
      TimeSync(drives, dir / "large.toml", 1, "");
      const auto show = vorn::CConvertedShow::Prepare(vorn::LoadShowSet((dir / "large.toml").string()), "");
      const std::uint64_t end = show->Table().back().endSector * std::uint64_t{vorn::kSectorSize};
      const std::string read = "dd if=" + drives.nodes[0].string() +
                               " of=/dev/null bs=1M iflag=direct,count_bytes status=none count=" +
                               std::to_string((end + 4095) / 4096 * 4096);
      for (int pair = 0; pair < 3 * kPairs; ++pair) {
        auto drive = drives.Open(0);
        DropFromCache(drives.nodes[0]);
        auto start = std::chrono::steady_clock::now();
        const auto result = vorn::SyncShow(*show, {{"drive0", drive.get()}}, {});
        const double match = Seconds(start);
        if (result[0].written != 0 || !result[0].Succeeded()) throw std::runtime_error("the disk did not match");
        drive->Close();
        DropFromCache(drives.nodes[0]);
        start = std::chrono::steady_clock::now();
        if (std::system(read.c_str()) != 0) throw std::runtime_error("dd failed");
        const double dd = Seconds(start);
        matches.push_back(match);
        dds.push_back(dd);
        matchRatios.push_back(match / dd);
      }
      const auto start = std::chrono::steady_clock::now();
      vorn::CConvertedShow::Prepare(vorn::LoadShowSet((dir / "large.toml").string()), "");
      prepare = std::min(prepare, Seconds(start));
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  std::printf("show of %d routines, %.0f MiB of MP3 once converted, best of %d\n", kRoutines, mib, runs);
  std::printf("1. sync to 4 drives  %7.2f s   sync to 1 drive   %7.2f s   ratio %.2f  (goal <= 1.3)\n", four, one,
              four / one);
  std::printf("   of which writing and reading back, after the conversion: 4 drives %.2f s, 1 drive %.2f s\n",
              fourWriting, oneWriting);
  std::printf("2. re-sync, last routine differs %7.2f s   add that routine %7.2f s   median ratio of %zu pairs %.2f"
              "  (goal <= 1.1)\n",
              Median(resyncs), Median(adds), resyncRatios.size(), Median(resyncRatios));
  std::printf("3. (a show of %.0f MiB of the disk's kind)\n", 4 * mib);
  std::printf("   matching disk, read back %7.3f s   dd iflag=direct %7.3f s   median ratio of %zu pairs %.2f"
              "  (goal <= 1.1)\n",
              Median(matches), Median(dds), matchRatios.size(), Median(matchRatios));
  std::printf("   (3 leaves out the show's preparation, once per run for all disks: %.2f s)\n", prepare);
  return 0;
}
