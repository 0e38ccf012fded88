#include "tools/OutputFile.h"

#include <unistd.h>

#include "device/DeviceExceptions.h"
#include "platform/MessageBox.h"
#include "tools/CommandLine.h"

namespace vorn {

void RefuseSameFile(const std::string& output, const std::vector<std::string>& inputs) {
  if (const std::string* input = SameFileAmong(output, inputs)) {
    throw CUsageError(output + " is the same file as " + *input + "; nothing was written");
  }
}

COutputFile OpenOutputFile(const std::string& path, const std::vector<std::string>& inputs, bool force) {
  if (path.empty() || path.back() == '/') throw CUsageError("'" + path + "' names no file");
  RefuseSameFile(path, inputs);
  return COutputFile(path, inputs, [force](const std::string& name) {
    if (force) return;
    if (::isatty(STDIN_FILENO) != 1) throw CUsageError(name + " already exists: give --force to replace it");
    if (!AskYesNo(name + " already exists. Do you want to replace it?")) {
      throw CFileAccessException(name + " was not replaced; nothing was written");
    }
  });
}

}  // namespace vorn
