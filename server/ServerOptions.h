#pragma once
// What the server mode is told on the command line: the unit to lend and the
// baud rate to set on it. The entry point fills it in; the server does not
// know how the command line is spelled.

#include <cstdint>
#include <string>

namespace vorn {

struct ServerOptions {
  std::string unitName;
  std::int32_t baudRate = 0;
};

}  // namespace vorn
