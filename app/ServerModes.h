#pragma once
// The server and list modes as start-up runs them, shared by every build of
// vorn3manager (the native program and the module that runs under Wine). Built
// into the executables, not the app library: it joins start-up to the server,
// and neither of those two libraries knows the other.

#include "app/ManagerApp.h"

namespace vorn {

// Plugs the list and server handlers into `handlers`.
void AddServerModes(ModeHandlers& handlers);

}  // namespace vorn
