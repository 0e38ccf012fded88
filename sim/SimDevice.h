#pragma once
// One simulated USB device: its libusb records (device, configurations,
// interfaces, endpoints) and, for a VORN unit, the unit itself: the vendor
// requests, the bulk data phases and the status packet, against a disk image.
// Anything a real unit would refuse fails with a negative errno value and is
// logged as out of shape.

#include <usb.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"
#include "sim/SimConfig.h"
#include "sim/SimLog.h"

namespace vorn::sim {
class CSimDevice;
}

// libusb leaves the handle opaque; this is the simulator's.
struct usb_dev_handle {
  vorn::sim::CSimDevice* device = nullptr;
  int claimed = -1;  // the interface this handle holds, -1 for none
};

namespace vorn::sim {

class CSimDevice {
 public:
  CSimDevice(const DeviceConfig& config, usb_bus* bus, CSimLog& log);
  CSimDevice(const CSimDevice&) = delete;
  CSimDevice& operator=(const CSimDevice&) = delete;

  struct usb_device* Record() { return &m_record; }
  bool Present() const { return m_present; }
  void Unplug(const char* why);
  const std::string& Who() const { return m_who; }

  int Open();
  int GetString(int index, char* buffer, std::size_t size);
  int SetConfiguration(usb_dev_handle* handle, int value);
  int Claim(usb_dev_handle* handle, int number);
  int SetAltSetting(usb_dev_handle* handle, int alternate);
  int Release(usb_dev_handle* handle, int number);
  void Close(usb_dev_handle* handle);
  int Control(usb_dev_handle* handle, int type, int request, int value, int index, char* bytes,
              int size, int timeout);
  int BulkRead(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeout);
  int BulkWrite(usb_dev_handle* handle, int endpoint, const char* bytes, int size, int timeout);

 private:
  enum class Phase { Idle, DataIn, DataOut, Status };

  void BuildDescriptors();
  bool FaultActive(Fault fault, unsigned clock) const;
  int Refuse(const std::string& what, int error);
  int Faulted(Fault fault, int error);
  // Moves `size` bytes between `bytes` and the image from sector `first` on,
  // as the medium holds them; the bytes moved.
  ssize_t ImageIo(bool write, char* bytes, std::size_t size, std::uint32_t first);
  int BeginTransfer(usb_dev_handle* handle);
  const usb_endpoint_descriptor* ActiveEndpoint(int address) const;
  int DiskCommand(int request, const char* bytes, int size, int timeout);
  int LiveCommand(int request, const char* bytes, int size, int timeout);
  int SendData(char* bytes, int size);
  int SendStatus(char* bytes, int size);
  int TakeData(const char* bytes, int size);
  int TakeLiveData(const char* bytes, int size, int timeout);
  void BuildIdentifyBlock();
  bool InRange() const;

  DeviceConfig m_config;
  CSimLog& m_log;
  std::string m_who;

  struct usb_device m_record{};
  std::vector<usb_config_descriptor> m_configs;
  std::vector<usb_interface> m_interfaces;
  std::vector<usb_interface_descriptor> m_altsettings;
  std::vector<std::vector<usb_endpoint_descriptor>> m_endpoints;

  CUniqueFd m_image;
  CUniqueFd m_capture;
  std::uint64_t m_sectors = 0;

  bool m_present = true;
  int m_activeConfiguration = 1;
  usb_dev_handle* m_claimedBy = nullptr;
  unsigned m_transfers = 0;
  unsigned m_clock = 0;  // index of the transfer in progress

  Phase m_phase = Phase::Idle;
  int m_command = 0;
  std::uint32_t m_first = 0;
  std::uint32_t m_count = 0;
  std::uint8_t m_sum = 0;
  bool m_rangeError = false;
  std::vector<std::uint8_t> m_identify;
};

}  // namespace vorn::sim
