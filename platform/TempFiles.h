#pragma once
// Temporary files of an import: unique names with the "zov" prefix in the
// temporary directory ($TMPDIR, else /tmp), created atomically, and a list that
// deletes its files when it ends.

#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace vorn {

inline constexpr const char* kTempPrefix = "zov";

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
