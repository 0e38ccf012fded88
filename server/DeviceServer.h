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
#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"

struct usb_device;
struct usb_config_descriptor;
struct usb_interface_descriptor;
struct usb_endpoint_descriptor;

namespace vorn {

class CManagerCommandLineInfo;

// Largest payload a block may announce: N + 2 must stay a positive 16-bit value.
inline constexpr int kMaxBlockPayload = 32765;
inline constexpr int kBlockGranule = 128;
inline constexpr int kBlockWriteTimeoutMs = 6000;

class CDeviceServer {
 public:
  // Reads the unit name and the baud rate from `commandLine`; not owned.
  explicit CDeviceServer(const CManagerCommandLineInfo* commandLine);
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
  const CManagerCommandLineInfo* m_commandLine;
  CUsbHandle m_usbHandle;
  struct usb_device* m_usbDevice = nullptr;  // libusb's own record
  const struct usb_config_descriptor* m_config = nullptr;
  const struct usb_interface_descriptor* m_interface = nullptr;
  const struct usb_endpoint_descriptor* m_endpoints = nullptr;
  std::uint8_t* m_sharedBlock = nullptr;  // view of m_sharedMem
};

// Bytes one transfer carries for a block announcing `payload` bytes: the length
// word and the payload, rounded up to a multiple of 128.
int BlockTransferLength(int payload);

// What the server makes of the block in front of it, before anything reaches
// the unit: the announced payload N, the transfer length T, and whether the
// block may go out (0 <= N <= kMaxBlockPayload and T within the `readable`
// bytes). A block too short to hold its length word is refused with N = T = 0.
struct BlockShape {
  int payload = 0;
  int length = 0;
  bool sendable = false;
};
BlockShape InspectBlock(const std::uint8_t* block, std::size_t readable);

}  // namespace vorn
