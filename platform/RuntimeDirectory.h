#pragma once
// The per-user directory that holds the objects running instances share (the
// start-up lock and the running-mode block). Every instance of one login must
// find the same directory, and no other user may be able to plant or hold files
// in it, so it is created mode 0700 and refused unless it is a real directory
// owned by us with no group or other access.
//
// Location: $XDG_RUNTIME_DIR/vorn3manager when XDG_RUNTIME_DIR is an absolute
// path; otherwise /tmp/vorn3manager-<uid>.

#include <string>

#include "platform/UniqueFd.h"

namespace vorn {

// The directory's path for the given XDG_RUNTIME_DIR value (nullptr when the
// variable is unset) and fallback base directory.
std::string RuntimeDirectoryPath(const char* xdgRuntimeDir, const std::string& fallbackBase);

// Creates the directory when missing (its parent must exist) and opens it.
// Returns an invalid descriptor and a reason in *error when the directory
// cannot be made or must not be trusted.
CUniqueFd OpenPrivateDirectory(const std::string& path, std::string* error);

// OpenPrivateDirectory(RuntimeDirectoryPath(getenv("XDG_RUNTIME_DIR"), "/tmp")).
CUniqueFd OpenRuntimeDirectory(std::string* error);

}  // namespace vorn
