#pragma once
// Temporary files of an import: unique names with the "zov" prefix in the
// temporary directory ($TMPDIR, else /tmp), created atomically, and a list that
// deletes its files when it ends.

#include <string>
#include <vector>

namespace vorn {

inline constexpr const char* kTempPrefix = "zov";

// Creates a new empty file "<tmpdir>/zovXXXXXX" (mode 0600) and returns its path.
// Throws std::system_error when the file cannot be created.
std::string MakeTempFile();

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
