#pragma once
// Opening and creating the POSIX shared-memory objects that carry the named
// blocks and events shared with the show editor.
//
// POSIX shm names are shared by every user of the machine, so an object found
// under a name is trusted only when it is a regular object owned by our own
// user and writable by nobody else: another local user must never be able to
// feed a unit, stall a server or read a unit list through a name we use.

#include <cstddef>
#include <string>

#include "platform/UniqueFd.h"

namespace vorn {

// "/NAME", the form shm_open takes.
std::string ShmPath(const std::string& name);

// Opens an existing object read/write. On failure returns an invalid fd and
// puts the reason (missing, foreign owner, writable by others, ...) in `reason`;
// `missing` tells whether there simply is no object under the name.
CUniqueFd OpenTrustedShm(const std::string& name, std::string& reason, bool& missing);

// Creates a new object of `size` bytes (zero-filled) with O_CREAT|O_EXCL and
// mode 0600. Throws std::system_error naming the object when it already exists
// or cannot be created; a half-created object is removed again.
CUniqueFd CreateExclusiveShm(const std::string& name, std::size_t size);

// Size of an open object, from fstat; -1 when fstat fails.
long long ShmSize(int fd);

}  // namespace vorn
