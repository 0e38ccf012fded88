#include "sim/SimLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace vorn::sim {

void CSimLog::Open(const std::string& path) {
  m_fd.Reset();
  if (path.empty()) return;
  m_fd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!m_fd.IsValid()) std::fprintf(stderr, "vornusbsim: cannot open log %s\n", path.c_str());
}

void CSimLog::Event(const std::string& line) {
  if (!m_fd.IsValid()) return;
  const std::string text = line + "\n";
  if (::write(m_fd.Get(), text.data(), text.size()) < 0) {
    // A log that cannot be written must not change what the unit answers.
  }
}

void CSimLog::OutOfShape(const std::string& who, const std::string& what) {
  const std::string line = who + " " + kOutOfShape + " " + what;
  if (m_fd.IsValid()) {
    Event(line);
  } else {
    std::fprintf(stderr, "vornusbsim: %s\n", line.c_str());
  }
}

}  // namespace vorn::sim
