// vorn3ctl: the command-line tool for VORN disks.
#include <string>
#include <vector>

#include "tools/Command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return vorn::RunVorn3ctl(args);
}
