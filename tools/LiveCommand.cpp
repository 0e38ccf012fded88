// vorn3ctl live: drives a unit live through vorn3manager's server mode, playing
// the show editor's part: the control data of a file, standard input or a
// routine on a disk goes to the unit in blocks paced at the frame period.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "device/BaudRate.h"
#include "device/DeviceExceptions.h"
#include "disk/VornDisk.h"
#include "platform/CheckedNumber.h"
#include "server/LiveLink.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/LiveSession.h"
#include "tools/StopSignals.h"

namespace vorn {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != stdin) std::fclose(file);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Where the blocks come from: a byte stream read block by block, or a
// routine's control data held in memory.
class CBlockSource {
 public:
  virtual ~CBlockSource() = default;
  // Fills up to `capacity` bytes; 0 at the end.
  virtual std::size_t Next(std::uint8_t* out, std::size_t capacity) = 0;
};

class CFileSource final : public CBlockSource {
 public:
  explicit CFileSource(UniqueFile file) : m_file(std::move(file)) {}
  std::size_t Next(std::uint8_t* out, std::size_t capacity) override {
    std::size_t filled = 0;
    while (filled < capacity) {
      const std::size_t got = std::fread(out + filled, 1, capacity - filled, m_file.get());
      if (got == 0) break;
      filled += got;
    }
    return filled;
  }

 private:
  UniqueFile m_file;
};

class CMemorySource final : public CBlockSource {
 public:
  explicit CMemorySource(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
  std::size_t Next(std::uint8_t* out, std::size_t capacity) override {
    const std::size_t count = std::min(capacity, m_bytes.size() - m_position);
    std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_position), count, out);
    m_position += count;
    return count;
  }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::size_t m_position = 0;
};

bool ParseInt(const std::string& text, long long low, long long high, long long& value) {
  const auto parsed = ParseSigned(text, low, high);
  if (parsed) value = *parsed;
  return parsed.has_value();
}

struct RoutineData {
  std::vector<std::uint8_t> bytes;
  RoutineEntry entry;
};

// The control data of routine `index` (1-based, as `vorn3ctl list` shows it).
RoutineData ReadRoutineData(const std::string& diskArgument, long long index) {
  std::unique_ptr<CSectorDevice> device = OpenDiskArgument(diskArgument, ImageAccess::kRead);
  CVornDisk disk(*device, nullptr);
  const std::vector<RoutineEntry>& table = disk.ReadTable();
  if (index < 1 || index > static_cast<long long>(table.size())) {
    throw CUsbDeviceException("the disk holds " + std::to_string(table.size()) +
                              " routines; there is no routine " + std::to_string(index));
  }
  RoutineData data;
  data.entry = table[static_cast<std::size_t>(index - 1)];
  if (data.entry.endSector < data.entry.dataSector) {
    throw CUsbDeviceException("routine " + std::to_string(index) + " has no control data");
  }
  const std::uint32_t sectors = data.entry.endSector - data.entry.dataSector;
  data.bytes.resize(static_cast<std::size_t>(sectors) * kSectorSize);
  if (sectors > 0) device->ReadSectors(data.entry.dataSector, sectors, data.bytes.data());
  device->Close();
  return data;
}

int RunLive(const CCommandLine& commandLine) {
  const std::vector<std::string>& args = commandLine.Positional();
  const bool fromRoutine = commandLine.Has("--routine");

  std::unique_ptr<CBlockSource> source;
  long long baudRate = 0;
  long long frameMs = 0;
  bool haveBaud = false, haveFrame = false;
  if (commandLine.Has("--baud")) {
    if (!ParseInt(commandLine.Value("--baud"), 0, 1000000, baudRate)) {
      throw CUsageError("--baud takes a rate in bit/s");
    }
    haveBaud = true;
  }
  if (commandLine.Has("--frame-ms")) {
    if (!ParseInt(commandLine.Value("--frame-ms"), 0, 60000, frameMs)) {
      throw CUsageError("--frame-ms takes a period of 0 to 60000 ms");
    }
    haveFrame = true;
  }
  long long blockBytes = 0;
  if (!ParseInt(commandLine.Value("--block-bytes"), 1, kMaxBlockPayload, blockBytes)) {
    throw CUsageError("--block-bytes takes a payload size of 1 to " +
                      std::to_string(kMaxBlockPayload) + " bytes");
  }

  if (fromRoutine) {
    long long index = 0;
    if (!ParseInt(args[1], 1, 1 << 20, index)) throw CUsageError("INDEX is a routine number");
    try {
      RoutineData data = ReadRoutineData(commandLine.Value("--routine"), index);
      // The routine knows its own rate and period; options given still win.
      if (!haveBaud) {
        baudRate = BaudRateForCode(data.entry.baudCode).value_or(0);
        haveBaud = true;
      }
      if (!haveFrame) {
        frameMs = data.entry.frameRate;
        haveFrame = true;
      }
      source = std::make_unique<CMemorySource>(std::move(data.bytes));
    } catch (const CUsbDeviceException& e) {
      std::fprintf(stderr, "vorn3ctl: %s\n", e.GetMessage().c_str());
      return kExitFailure;
    }
  } else {
    UniqueFile file(args[1] == "-" ? stdin : std::fopen(args[1].c_str(), "rb"));
    if (!file) {
      std::fprintf(stderr, "vorn3ctl: cannot open %s\n", args[1].c_str());
      return kExitFailure;
    }
    source = std::make_unique<CFileSource>(std::move(file));
  }
  if (!haveBaud) throw CUsageError("--baud is needed (2400, 4800, 9600, 19200, 38400, 250000)");

  LiveSessionOptions options;
  options.unit = args[0];
  options.baudRate = static_cast<int>(baudRate);
  options.blockBytes = static_cast<int>(blockBytes);
  std::vector<std::uint8_t> payload(static_cast<std::size_t>(blockBytes));
  long long blocks = 0, bytes = 0;
  // Caught from before the objects exist until after they are gone.
  CStopSignals stopSignals;
  try {
    CLiveSession session(options);
    const auto period = std::chrono::milliseconds(frameMs);
    auto next = std::chrono::steady_clock::now();
    for (;;) {
      if (StopRequested()) break;
      const std::size_t size = source->Next(payload.data(), payload.size());
      if (size == 0 || StopRequested()) break;
      SleepUnlessStopped(next);
      if (StopRequested() || !session.SendBlock(payload.data(), static_cast<int>(size))) break;
      next += period;
      ++blocks;
      bytes += static_cast<long long>(size);
    }
    if (StopRequested()) std::fprintf(stderr, "vorn3ctl: stopped\n");
    const int exitCode = session.Finish();
    std::printf("%s: sent %lld blocks (%lld bytes); server ended with %s\n",
                session.Unit().c_str(), blocks, bytes, session.Server().DescribeEnd().c_str());
    return exitCode == 0 ? kExitOk : kExitFailure;
  } catch (const CLiveSessionError& e) {
    std::fprintf(stderr, "vorn3ctl: %s (after %lld blocks)\n", e.what(), blocks);
    return kExitFailure;
  }
}

}  // namespace

Command LiveCommand() {
  return Command{
      "live",
      "UNIT --baud RATE --block-bytes N [--frame-ms M] FILE|-  |  UNIT --routine DISK INDEX ...",
      "drive a unit live through vorn3manager's server, as the show editor does",
      "Starts vorn3manager -server UNIT RATE and sends the bytes of FILE (or standard\n"
      "input) in blocks of N payload bytes, one every M ms (default 0: as fast as the\n"
      "server takes them). With --routine, the control data of routine INDEX of DISK\n"
      "is sent instead, at the routine's baud rate and frame period unless given.",
      {{"--baud", "RATE", "serial rate: 2400, 4800, 9600, 19200, 38400 or 250000"},
       {"--block-bytes", "N", "payload bytes per block, 1 to 32765"},
       {"--frame-ms", "M", "one block every M milliseconds"},
       {"--routine", "DISK", "send the control data of a routine of DISK (INDEX: its number)"}},
      2,
      2,
      RunLive};
}

}  // namespace vorn
