// 100 MB written to and read back from a simulated VORN unit through
// CUsbDevice, in the 64 KiB pieces the disk layout uses, against a named peer:
// the same pieces written and read straight to and from an image file
// (pwrite/pread). The ratio shows what the protocol costs on top of the disk;
// the unit's log gives the USB transactions per piece (command, bulk, status).

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "device/DeviceExceptions.h"
#include "device/UsbDevice.h"
#include "device/UsbUnit.h"
#include "platform/UniqueFd.h"
#include "tests/support/SimTestBed.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kPieceSectors = 128;  // 64 KiB
constexpr std::uint32_t kPieceBytes = kPieceSectors * vorn::kSectorSize;
constexpr std::uint64_t kTotalBytes = 100ull * 1000 * 1000;
constexpr std::uint32_t kPieces = (kTotalBytes + kPieceBytes - 1) / kPieceBytes;
constexpr int kRounds = 3;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::uint8_t> Pattern() {
  std::vector<std::uint8_t> data(kPieceBytes);
  std::mt19937 random(42);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  return data;
}

struct Timing {
  double write = 0;
  double read = 0;
};

Timing RunUnit(const std::vector<std::uint8_t>& piece) {
  vorn::CUsbDevice device;
  vorn::DeviceEntry entry;
  entry.key = vorn::UnitRecord(
      std::make_shared<const struct usb_device>(*vorn::FindUnitByName("VORN3")));
  device.Open(entry);
  Timing timing;
  auto start = Clock::now();
  for (std::uint32_t i = 0; i < kPieces; ++i) device.WriteSectors(i * kPieceSectors, kPieceSectors, piece.data());
  timing.write = Seconds(start);

  std::vector<std::uint8_t> back(kPieceBytes);
  start = Clock::now();
  for (std::uint32_t i = 0; i < kPieces; ++i) {
    device.ReadSectors(i * kPieceSectors, kPieceSectors, back.data());
    if (std::memcmp(back.data(), piece.data(), kPieceBytes) != 0) {
      throw vorn::CUsbDeviceException("read back differs at piece " + std::to_string(i));
    }
  }
  timing.read = Seconds(start);
  device.Close();
  return timing;
}

Timing RunFile(const std::string& path, const std::vector<std::uint8_t>& piece) {
  vorn::CUniqueFd fd(::open(path.c_str(), O_RDWR));
  Timing timing;
  auto start = Clock::now();
  for (std::uint32_t i = 0; i < kPieces; ++i) {
    if (::pwrite(fd.Get(), piece.data(), kPieceBytes, off_t(i) * kPieceBytes) != kPieceBytes) throw 1;
  }
  timing.write = Seconds(start);
  std::vector<std::uint8_t> back(kPieceBytes);
  start = Clock::now();
  for (std::uint32_t i = 0; i < kPieces; ++i) {
    if (::pread(fd.Get(), back.data(), kPieceBytes, off_t(i) * kPieceBytes) != kPieceBytes) throw 1;
    if (std::memcmp(back.data(), piece.data(), kPieceBytes) != 0) throw 2;
  }
  timing.read = Seconds(start);
  return timing;
}

}  // namespace

int main() {
  if (!vorn::test::CSimTestBed::Active()) {
    std::fprintf(stderr, "usb_throughput: the unit simulator is not linked first\n");
    return 1;
  }
  vorn::test::CSimTestBed bed;
  const std::uint64_t sectors = std::uint64_t(kPieces) * kPieceSectors;
  vorn::sim::SimUnitSpec unit;
  unit.devnum = 3;
  unit.image = bed.Image("unit.img", sectors);
  vorn::sim::CSimConfigWriter writer;
  writer.Bus("001").Unit(unit);
  bed.Install(writer);
  const std::string peerImage = bed.Image("peer.img", sectors);

  const auto piece = Pattern();
  try {
    // Best of three rounds each, the two taking turns, so that a busy moment
    // of the machine does not count against either.
    Timing usb{1e9, 1e9};
    Timing file{1e9, 1e9};
    for (int round = 0; round < kRounds; ++round) {
      const Timing u = RunUnit(piece);
      const Timing f = RunFile(peerImage, piece);
      usb = {std::min(usb.write, u.write), std::min(usb.read, u.read)};
      file = {std::min(file.write, f.write), std::min(file.read, f.read)};
    }

    const auto log = bed.Log();
    std::size_t transactions = 0;
    for (const char* event : {"read", "write", "identify", "data-in", "data-out", "status"}) {
      transactions += log.Matching(event).size();
    }
    const double mb = double(kPieces) * kPieceBytes / 1e6;
    std::printf("usb_throughput: %.1f MB in %u pieces of 64 KiB, written then read back (best of %d)\n",
                mb, kPieces, kRounds);
    std::printf("  CUsbDevice on the simulator: write %.1f MB/s, read %.1f MB/s\n", mb / usb.write,
                mb / usb.read);
    std::printf("  peer (pwrite/pread on an image file): write %.1f MB/s, read %.1f MB/s\n",
                mb / file.write, mb / file.read);
    std::printf("  ratio unit/peer: write %.2f, read %.2f\n", file.write / usb.write, file.read / usb.read);
    std::printf("  USB transactions: %zu = %.2f per 64 KiB piece, %.1f per MB (protocol: 3 per piece)\n",
                transactions, double(transactions) / (2.0 * kRounds * kPieces),
                double(transactions) / (2.0 * kRounds * mb));
    std::printf("  out-of-shape requests: %zu\n", log.OutOfShape().size());
    return transactions == 6ull * kRounds * kPieces && log.OutOfShape().empty() ? 0 : 1;
  } catch (const vorn::CUsbDeviceException& error) {
    std::fprintf(stderr, "usb_throughput: %s\n", error.GetMessage().c_str());
    return 1;
  }
}
