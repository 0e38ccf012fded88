#pragma once
// The simulator's event log: one line per event, appended with one write each
// so that several processes may share the file. Lines read
//   <bus>/<devnum> <event> <details>
// and every request a real unit would refuse carries the word OUT-OF-SHAPE.

#include <string>

#include "platform/UniqueFd.h"

namespace vorn::sim {

inline constexpr const char* kOutOfShape = "OUT-OF-SHAPE";

class CSimLog {
 public:
  // An empty path keeps no log; out-of-shape lines then go to stderr.
  void Open(const std::string& path);
  void Event(const std::string& line);
  void OutOfShape(const std::string& who, const std::string& what);

 private:
  CUniqueFd m_fd;
};

}  // namespace vorn::sim
