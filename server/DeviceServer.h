#pragma once
// Server mode: lends one VORN unit to the show editor for live output. The
// editor writes blocks of control data into NAME_SHAREDMEM and signals them
// with NAME_DATAREADYEVENT; each block goes to the unit as one bulk transfer on
// its second configuration, answered by NAME_DATADONEEVENT, until
// NAME_QUITEVENT. The named objects are described in docs/named-objects.md.

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/UsbHandle.h"
#include "server/LiveLink.h"
#include "server/ServerOptions.h"
#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"

struct usb_device;
struct usb_config_descriptor;
struct usb_interface_descriptor;
struct usb_endpoint_descriptor;

namespace vorn {

class CDeviceServer {
 public:
  explicit CDeviceServer(ServerOptions options);
  CDeviceServer(const CDeviceServer&) = delete;
  CDeviceServer& operator=(const CDeviceServer&) = delete;

  // 1 after an orderly stop; 0 after a fatal error or when the quit event
  // cannot be opened.
  int Run();

 private:
  void OpenSharedMemory();
  void OpenUnit();
  void SetBaudRate();
  void SendBlock();
  void CloseUnit();
  void CloseSharedMemory();
  void SignalReady();
  const std::string& Name() const;

  CSharedBlock m_sharedMem;
  CNamedEvent m_dataReadyEvent;
  CNamedEvent m_dataDoneEvent;
  const ServerOptions m_options;
  const LiveObjectNames m_names;
  CUsbHandle m_usbHandle;
  struct usb_device* m_usbDevice = nullptr;  // libusb's own record
  const struct usb_config_descriptor* m_config = nullptr;
  const struct usb_interface_descriptor* m_interface = nullptr;
  const struct usb_endpoint_descriptor* m_endpoints = nullptr;
  std::uint8_t* m_sharedBlock = nullptr;  // view of m_sharedMem
};

}  // namespace vorn
