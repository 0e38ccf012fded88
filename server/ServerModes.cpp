#include "server/ServerModes.h"

#include "server/DeviceServer.h"
#include "server/ListDevices.h"

namespace vorn {

void AddServerModes(ModeHandlers& handlers) {
  handlers.runList = [] {
    ListDevices();
    return kExitOk;
  };
  // The exit status tells a client whether the server stopped in order.
  handlers.runServer = [](const CManagerCommandLineInfo& cmdInfo) {
    CDeviceServer server(&cmdInfo);
    return server.Run() == 1 ? kExitOk : kExitModeFailed;
  };
}

}  // namespace vorn
