// vorn3ctl backup: copies a disk (a card or a unit) into a new image file that
// every command, and `restore`, takes as a disk.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/DeviceExceptions.h"
#include "device/ImageDevice.h"
#include "disk/DiskCopy.h"
#include "disk/VornDisk.h"
#include "platform/UniqueFd.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

// The new image file: created empty of the right size, removed again unless
// the copy into it went through.
class CNewImageFile {
 public:
  CNewImageFile(std::string path, std::uint32_t sectors) : m_path(std::move(path)) {
    m_fd.Reset(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!m_fd.IsValid()) Fail("Could not create ");
    if (::ftruncate(m_fd.Get(), static_cast<off_t>(sectors) * kSectorSize) != 0) {
      const int error = errno;  // no destructor runs for a constructor that throws
      ::unlink(m_path.c_str());
      errno = error;
      Fail("Could not create ");
    }
  }
  ~CNewImageFile() {
    if (!m_kept) ::unlink(m_path.c_str());
  }
  CNewImageFile(const CNewImageFile&) = delete;
  CNewImageFile& operator=(const CNewImageFile&) = delete;

  // The copy wrote through its own descriptor without waiting for the medium;
  // one flush at the end makes the whole backup durable.
  void Keep() {
    if (::fsync(m_fd.Get()) != 0) Fail("Error writing ");
    m_kept = true;
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw CFileAccessException(what + m_path + ": " + std::strerror(errno));
  }
  std::string m_path;
  CUniqueFd m_fd;
  bool m_kept = false;
};

int Run(const CCommandLine& commandLine) {
  const std::string& out = commandLine.Positional()[1];
  auto device = OpenDiskArgument(commandLine.Positional()[0], DiskOptionsOf(commandLine));

  CVornDisk disk(*device, nullptr);
  const std::size_t routines = disk.ReadTable().size();
  std::uint32_t sectors = commandLine.Has("--whole") ? 0 : UsedSectorCount(disk);
  if (sectors == 0) {
    // Asked for, or not a formatted VORN disk: nothing is known to be unused.
    sectors = device->GetSectorCount();
    if (sectors == 0) throw CUsbDeviceException("The disk does not report its size; nothing was copied");
  }

  CNewImageFile file(out, sectors);
  CImageDevice image(out, /*durable=*/false);
  image.Open(CImageDevice::EntryFor(out));
  CopyDisk(*device, image, sectors, OptionalStatusLine(commandLine.Has("--quiet"), "Backing up").get());
  image.Close();
  file.Keep();
  device->Close();
  std::printf("Backed up %zu routine%s (%u sectors, %.2f MB) to %s\n", routines, routines == 1 ? "" : "s",
              sectors, sectors * double{kSectorSize} / 1048576.0, out.c_str());
  return kExitOk;
}

}  // namespace

Command BackupCommand() {
  return {"backup", "DISK IMAGE [--whole] [--quiet] [--unmount]", "copy a disk into a new image file",
          "Copies the sectors the disk uses (header, routines and table) into IMAGE,\n"
          "a new file that every command takes as a disk and `restore` writes back.\n"
          "A disk that is not formatted is copied whole. IMAGE is never overwritten.",
          {{"--whole", nullptr, "copy every sector of the disk, used or not"},
           {"--quiet", nullptr, "no progress bar"},
           kUnmountOption},
          2, 2, Run};
}

}  // namespace vorn
