#pragma once
// Whole-file locks between programs that share a file (a disk image the window
// and vorn3ctl both reach). Open-file-description locks: they belong to the
// open file, not to the process, so two opens in one process exclude each
// other too, and closing the descriptor releases them. Advisory: they keep our
// own programs apart; nothing else honours them.

namespace vorn {

enum class FileLockMode { kShared, kExclusive };

// Takes the lock without waiting. Returns 0 when held, else the errno:
// EAGAIN (or EACCES) when another open file holds a lock that conflicts.
// An exclusive lock needs a descriptor opened for writing.
int TryLockFile(int fd, FileLockMode mode);

// True when another open file holds any lock on the file (a reader or a writer).
bool IsFileLockedByOthers(int fd);

bool IsLockConflict(int error);

}  // namespace vorn
