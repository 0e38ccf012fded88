#pragma once
// The interactive mode of the program: the main window, run modally.

#include <memory>
#include <string>

namespace vorn {

class CDeviceSource;
class CQtMessagePresenter;

// Runs the main window on the system's disks until it is closed; returns the
// process exit status. Without a display it says how to get one and returns 1.
int RunMainWindowMode(int argc, char** argv);

// The window on `source` until it closes. A termination signal is handled from
// before the window is made: its making may ask (unmount the card?) or show a
// box, and such a signal must end the window as Cancel does, never the process
// on the spot. The window's boxes are owned by it through `presenter` (may be
// null); a knock at `beaconPath` (empty: none) brings it to the front.
int RunManagerWindow(std::unique_ptr<CDeviceSource> source, CQtMessagePresenter* presenter,
                     const std::string& beaconPath);

// For a start refused because a window runs already: brings that window to the
// front, so a double-click on the icon is seen to do something.
void ShowRunningMainWindow();

}  // namespace vorn
