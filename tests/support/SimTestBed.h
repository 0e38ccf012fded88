#pragma once
// A scratch directory with a simulator config, disk images and the log, for
// tests that talk to simulated units. The simulator must be linked ahead of
// the real libusb (or preloaded); Active() tells whether it is.

#include <dlfcn.h>
#include <stdlib.h>
#include <usb.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "sim/SimConfigWriter.h"

namespace vorn::test {

class CSimTestBed {
 public:
  CSimTestBed() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vornsimXXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_dir = pattern;
  }
  CSimTestBed(const CSimTestBed&) = delete;
  CSimTestBed& operator=(const CSimTestBed&) = delete;
  ~CSimTestBed() {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }

  std::string Path(const std::string& name) const { return m_dir + "/" + name; }
  std::string LogPath() const { return Path("sim.log"); }
  sim::CSimLogReader Log() const { return sim::CSimLogReader(LogPath()); }

  // A fresh image of `sectors` sectors, returned by path.
  std::string Image(const std::string& name, std::uint64_t sectors) const {
    sim::CreateDiskImage(Path(name), sectors);
    return Path(name);
  }

  // Writes the config (with this bed's log) and points the simulator at it.
  void Install(sim::CSimConfigWriter& writer) {
    writer.Log(LogPath());
    writer.Install(Path("sim" + std::to_string(++m_generation) + ".conf"));
  }

  // The shell words that preload the simulator into a child process. Sanitizer
  // builds must accept a preloaded library ahead of their runtime.
  static std::string PreloadPrefix(const std::string& library) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : std::string();
    return "ASAN_OPTIONS='" + options + "verify_asan_link_order=0' LD_PRELOAD='" + library + "' ";
  }

  // True when libusb calls reach the simulator rather than the real library.
  static bool Active() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&usb_open), &info) == 0 || info.dli_fname == nullptr) {
      return false;
    }
    return std::strstr(info.dli_fname, "vornusbsim") != nullptr;
  }

 private:
  std::string m_dir;
  int m_generation = 0;
};

}  // namespace vorn::test
