#pragma once
// The interactive mode of the program: the main window, run modally.

namespace vorn {

// Runs the main window on the system's disks until it is closed; returns the
// process exit status. Without a display it says how to get one and returns 1.
int RunMainWindowMode(int argc, char** argv);

}  // namespace vorn
