#include "ui/DeviceEvent.h"

namespace vorn {

bool CallsForRefresh(const DeviceEvent& event) {
  if (event.subsystem != "usb" && event.subsystem != "block") return false;
  if (event.action == "add" || event.action == "remove") return true;
  if (event.subsystem != "block" || event.action != "change") return false;
  const auto media = event.properties.find("DISK_MEDIA_CHANGE");
  return media != event.properties.end() && media->second == "1";
}

}  // namespace vorn
