// vorn3ctl create-image: a new, blank disk image file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "device/DeviceExceptions.h"
#include "device/SectorDevice.h"
#include "platform/CheckedNumber.h"
#include "platform/UniqueFd.h"
#include "tools/Commands.h"

namespace vorn {
namespace {

// "64M", "1G", "512K", "1048576": bytes, with binary suffixes; never wraps.
std::uint64_t ParseSize(const std::string& text) {
  const auto bytes = ParseByteSize(text);
  if (!bytes) throw CUsageError("invalid size '" + text + "' (bytes, or a number with K, M or G)");
  return *bytes;
}

int Run(const CCommandLine& commandLine) {
  const std::string& path = commandLine.Positional()[0];
  std::uint64_t bytes = ParseSize(commandLine.Value("--size", "64M"));
  std::uint64_t sectors = bytes / kSectorSize;
  if (bytes % kSectorSize != 0) throw CUsageError("the size must be a whole number of 512-byte sectors");
  // Header plus the first table sector are the least a VORN disk needs.
  if (sectors < 2) throw CUsageError("the size must be at least 1024 bytes");
  if (sectors > std::numeric_limits<std::uint32_t>::max()) throw CUsageError("the size must be below 2 TiB");

  CUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!fd.IsValid()) {
    throw CUsbDeviceException("Could not create " + path + ": " + std::strerror(errno));
  }
  if (::ftruncate(fd.Get(), static_cast<off_t>(bytes)) != 0 || ::fsync(fd.Get()) != 0) {
    int error = errno;
    ::unlink(path.c_str());
    throw CUsbDeviceException("Could not create " + path + ": " + std::strerror(error));
  }
  std::printf("Created %s (%llu sectors, not formatted)\n", path.c_str(),
              static_cast<unsigned long long>(sectors));
  return kExitOk;
}

}  // namespace

Command CreateImageCommand() {
  return {"create-image", "PATH [--size SIZE]", "create a blank disk image file",
          "The image is all zeros, so it reads as an unformatted disk; an existing\n"
          "file is never overwritten.",
          {{"--size", "SIZE", "image size in bytes, or with K, M or G (default 64M)"}},
          1, 1, Run};
}

}  // namespace vorn
