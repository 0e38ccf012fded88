#pragma once
// Opening a file a user named, for reading, only when it is a regular file.
// The open must not wait: a FIFO without a writer blocks an ordinary open for
// ever, and some device nodes block too. So the name is opened non-blocking,
// the open descriptor is checked with fstat (the same file the check saw, no
// second look-up by name), and only then is it made blocking for the reads.

#include <string>

#include "platform/UniqueFd.h"
#include "platform/UniqueFile.h"

namespace vorn {

struct RegularFile {
  CUniqueFd fd;             // open for reading, blocking; invalid on failure
  int error = 0;            // errno of a failed open, fstat or fcntl
  bool notRegular = false;  // it opened, but is a FIFO, device, directory, ...

  // Why it failed: "not a regular file" or the system's text for `error`.
  std::string Reason() const;
};

RegularFile OpenRegularFile(const std::string& path);

// The same as a stdio stream; null on failure, with `reason` set.
CUniqueFile OpenRegularFileStream(const std::string& path, std::string& reason);

}  // namespace vorn
