#pragma once
// Temporary files of an import: unique names with the "zov" prefix in the
// temporary directory ($TMPDIR, else /tmp), created atomically, and a list that
// deletes its files when it ends.

#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace vorn {

inline constexpr const char* kTempPrefix = "zov";

// $TMPDIR, else /tmp.
std::string TempDirectory();

// A temporary file just made: open for reading and writing, and its name.
struct TempFile {
  CUniqueFd fd;
  std::string path;
};

// Creates a new empty file "<tmpdir>/zovXXXXXX" (mode 0600) and hands back the
// descriptor it was created with, so nobody has to reopen it by a name that
// could meanwhile point elsewhere. Throws std::system_error when the file
// cannot be created.
TempFile MakeTempFile();

// A temporary file that has no name in any directory, so nothing is left of it
// however the process ends (even by SIGKILL): created with O_TMPFILE where the
// file system has it, else named "zovXXXXXX" and unlinked at once. `path` is
// "/proc/self/fd/N", by which this process (and only while `fd` stays open)
// can open it again, e.g. for a library that reads a file by name. Throws
// std::system_error when it cannot be created.
TempFile MakeUnnamedTempFile();

class CTempFileList {
 public:
  CTempFileList() = default;
  CTempFileList(const CTempFileList&) = delete;
  CTempFileList& operator=(const CTempFileList&) = delete;
  ~CTempFileList();  // deletes every file, in list order, ignoring failures

  void Add(std::string path) { m_paths.push_back(std::move(path)); }
  const std::vector<std::string>& Paths() const { return m_paths; }

 private:
  std::vector<std::string> m_paths;
};

}  // namespace vorn
