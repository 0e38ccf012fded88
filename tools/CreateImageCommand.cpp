// vorn3ctl create-image: a new, blank disk image file.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "device/DeviceExceptions.h"
#include "device/SectorDevice.h"
#include "platform/CheckedNumber.h"
#include "tools/Commands.h"
#include "tools/OutputFile.h"

namespace vorn {
namespace {

// Sector numbers are 32-bit: an image larger than 2^32 - 1 sectors could not
// be addressed to its end.
constexpr std::uint64_t kLargestImage = std::uint64_t{std::numeric_limits<std::uint32_t>::max()} * kSectorSize;

int Run(const CCommandLine& commandLine) {
  const std::string& path = commandLine.Positional()[0];
  const std::string text = commandLine.Value("--size", "64M");
  // Checked against the largest image before the suffix multiplies, so no
  // size wraps round to a small one.
  const std::optional<std::uint64_t> parsed = ParseByteSize(text, kLargestImage);
  if (!parsed) {
    // Digits and a known suffix that do not fit: too large, not malformed.
    const std::size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    if (digits != 0 && ParseByteSize("1" + text.substr(digits))) {
      throw CUsageError("the size must be below 2 TiB (2^32 - 1 sectors)");
    }
    throw CUsageError("invalid size '" + text + "' (bytes, or with K, M or G)");
  }
  const std::uint64_t bytes = *parsed;
  const std::uint64_t sectors = bytes / kSectorSize;
  if (bytes % kSectorSize != 0) throw CUsageError("the size must be a whole number of 512-byte sectors");
  // Header plus the first table sector are the least a VORN disk needs.
  if (sectors < 2) throw CUsageError("the size must be at least 1024 bytes");

  COutputFile file = OpenOutputFile(path, {}, commandLine.Has(kForceOption));
  if (::ftruncate(file.Fd(), static_cast<off_t>(bytes)) != 0) {
    throw CUsbDeviceException("Could not create " + path + ": " + std::strerror(errno));
  }
  file.Commit();
  std::printf("Created %s (%llu sectors, not formatted)\n", path.c_str(),
              static_cast<unsigned long long>(sectors));
  return kExitOk;
}

}  // namespace

Command CreateImageCommand() {
  return {"create-image", "PATH [--size SIZE] [--force]", "create a blank disk image file",
          "The image is all zeros, so it reads as an unformatted disk; an existing\n"
          "file is replaced only with --force.",
          {{"--size", "SIZE", "image size in bytes, or with K, M or G (default 64M)"},
           {kForceOption, nullptr, "replace PATH if it exists"}},
          1, 1, Run};
}

}  // namespace vorn
