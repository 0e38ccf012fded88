#include "app/ServerModes.h"

#include "server/DeviceServer.h"
#include "server/ListDevices.h"

namespace vorn {

void AddServerModes(ModeHandlers& handlers) {
  // A list the editor was not told about is a failure its caller must see.
  handlers.runList = [] { return ListDevices() ? kExitOk : kExitModeFailed; };
  // The exit status tells a client whether the server stopped in order.
  handlers.runServer = [](const CManagerCommandLineInfo& cmdInfo) {
    CDeviceServer server(ServerOptions{cmdInfo.UnitName(), cmdInfo.BaudRate()});
    return server.Run() == 1 ? kExitOk : kExitModeFailed;
  };
}

}  // namespace vorn
