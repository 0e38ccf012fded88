#pragma once
// A file the program makes (vorn3ctl's export, make-routine, backup and
// create-image; the window's backup and export), written the one safe way: into a new temporary file beside it (one
// without a name where the filesystem allows, so a killed command leaves none), put in place only when everything
// went through. A command that fails or is
// cut short leaves the old file, if any, as it was; a file the command did not
// create is never truncated or removed.
//
// Refused before anything is written: an output that is the same file as one
// the command reads (the disk among them), an output that is not a regular
// file, one another program holds locked (a disk image in use), and an
// existing file the caller's check does not let go (vorn3ctl wants --force or
// asks on a terminal; the window's file dialog has asked already).

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"
#include "platform/UniqueFile.h"

namespace vorn {

class COutputFile {
 public:
  // Called with the output's name when that name is taken; returns to let the
  // file be replaced, throws to refuse. Empty: replace without asking.
  using ReplaceCheck = std::function<void(const std::string& path)>;

  // `inputs`: every file the command reads, as the user named them; names that
  // are no file (a unit, a drive) are skipped. Throws CFileAccessException.
  COutputFile(const std::string& path, const std::vector<std::string>& inputs, const ReplaceCheck& mayReplace);
  ~COutputFile();  // removes the temporary file unless committed
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  const std::string& Path() const { return m_path; }
  // A path that opens the temporary file being written (it may have no name
  // of its own: then a /proc/self/fd path).
  const std::string& TempPath() const { return m_tempPath; }
  int Fd() const;
  // A stream on the temporary file ("wb+"), made on first use; Fd() then
  // belongs to it.
  std::FILE* Stream();

  // Flushes to the medium and renames over the output. An output that did not
  // exist when the command began and exists now was made by someone else: it
  // is kept and the command fails. Throws CFileAccessException.
  void Commit();

 private:
  [[noreturn]] void Fail(const std::string& what, int error) const;
  void SyncDirectory() const;

  std::string m_path;    // as the user named it
  std::string m_target;  // the file renamed over (a symbolic link's target)
  std::string m_tempPath;
  bool m_replaces = false;
  bool m_committed = false;
  bool m_unnamed = false;  // an O_TMPFILE file: nothing to remove, gone with its descriptor
  CUniqueFd m_fd;
  CUniqueFile m_stream;
};

// The one of `inputs` that is the same file as `output` (same device and
// inode, whatever the names), or null; names that are no file match nothing.
const std::string* SameFileAmong(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace vorn
