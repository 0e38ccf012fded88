#include "tests/server/SimWorld.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vorn::test {

CSimWorld::CSimWorld() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/vornsimXXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_dir = pattern;
  std::filesystem::create_directory(Path("run"));
  std::filesystem::permissions(Path("run"), std::filesystem::perms::owner_all);
}

CSimWorld::~CSimWorld() {
  std::error_code ignored;
  if (std::getenv("VORN_KEEP_SIM_WORLD") == nullptr) std::filesystem::remove_all(m_dir, ignored);
}

void CSimWorld::WriteConfig(const std::string& text) {
  std::ofstream out(Path("sim.conf"));
  out << "log " << Path("sim.log") << "\n" << text;
}

std::string CSimWorld::Read(const std::string& name) const {
  std::ifstream in(Path(name), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool CSimWorld::Exists(const std::string& name) const {
  return std::filesystem::exists(Path(name));
}

CChildProcess CSimWorld::Start(const std::vector<std::string>& argv) const {
  // In sanitizer builds the preloaded simulator comes before the sanitizer
  // runtime, which is harmless here since the program links that runtime.
  const char* asanOptions = std::getenv("ASAN_OPTIONS");
  const std::string sanitizer = std::string("ASAN_OPTIONS=") +
                                (asanOptions ? std::string(asanOptions) + ":" : std::string()) +
                                "verify_asan_link_order=0";
  return CChildProcess::Start(argv,
                              {std::string("LD_PRELOAD=") + VORN_SIM_LIBRARY, sanitizer,
                               std::string(VORN_SIM_CONFIG_ENV) + "=" + Path("sim.conf"),
                               "XDG_RUNTIME_DIR=" + Path("run"),
                               std::string("VORN3MANAGER=") + VORN3MANAGER_PATH,
                               // Children run headless, whatever display the shell has.
                               "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
                              Path("stderr.txt"));
}

CChildProcess CSimWorld::StartManager(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {VORN3MANAGER_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return Start(argv);
}

std::string UnitName(int devnum) { return "VORN" + std::to_string(devnum); }

int CountOf(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + what.size())) {
    ++count;
  }
  return count;
}

}  // namespace vorn::test
