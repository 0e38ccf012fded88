#pragma once
// A scratch world for tests that run vorn3manager or vorn3ctl as real
// processes: a temporary folder holding the unit simulator's config, capture,
// baud and log files, a private runtime folder (so parallel tests do not
// arbitrate against each other), and the simulator preloaded into each child.

#include <string>
#include <vector>

#include "platform/ChildProcess.h"

namespace vorn::test {

class CSimWorld {
 public:
  CSimWorld();
  CSimWorld(const CSimWorld&) = delete;
  CSimWorld& operator=(const CSimWorld&) = delete;
  ~CSimWorld();

  std::string Path(const std::string& name) const { return m_dir + "/" + name; }
  // Writes the simulator config (a "log" line for sim.log goes first).
  void WriteConfig(const std::string& text);
  // The file's bytes; empty when it does not exist.
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

  // Starts a program with the simulator preloaded; its stderr goes to stderr.txt.
  CChildProcess Start(const std::vector<std::string>& argv) const;
  CChildProcess StartManager(const std::vector<std::string>& args) const;
  std::string Stderr() const { return Read("stderr.txt"); }

 private:
  std::string m_dir;
};

// The unit names of a test: every test picks its own device numbers, because
// the named objects of a unit are machine-wide and tests run in parallel.
std::string UnitName(int devnum);

// Counts the non-overlapping occurrences of `what` in `text`.
int CountOf(const std::string& text, const std::string& what);

}  // namespace vorn::test
