#pragma once
// Message boxes of the Wine module: installs a presenter that shows them with
// the system's MessageBoxA, and writes them to stderr when no display is there.
// Declared without Win32 types, so code built by the normal compiler calls it.

namespace vorn {

void InstallWin32MessageBoxes();

}  // namespace vorn
