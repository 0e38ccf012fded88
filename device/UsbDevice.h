#pragma once
// A VORN unit on USB as a sector device. Each transfer is one vendor request
// carrying the command block, one bulk transfer of the data and one 128-byte
// status packet whose checksum confirms the data.

#include <usb.h>

#include <cstdint>
#include <string>

#include "device/SectorDevice.h"
#include "device/UsbHandle.h"

namespace vorn {

class CUsbDevice : public CSectorDevice {
 public:
  CUsbDevice() = default;
  CUsbDevice(const CUsbDevice&) = delete;
  CUsbDevice& operator=(const CUsbDevice&) = delete;
  ~CUsbDevice() override = default;  // an open handle is closed without a release

  std::uint32_t GetSectorCount() override { return m_sectorCount; }
  std::string GetName() override { return m_description; }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override;
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override;
  // Opens the unit of a unit entry on its first configuration and claims it.
  void Open(const DeviceEntry& entry) override;
  // Releases interface 0 and closes; a failed release keeps the handle.
  void Close() override;
  // Asks the unit for its identify block; false when the status does not confirm it.
  bool Identify() override;

  const std::string& Manufacturer() const { return m_manufacturer; }
  const std::string& Product() const { return m_product; }
  // The parts of the description, from the last confirmed Identify.
  const std::string& Model() const { return m_model; }
  const std::string& Serial() const { return m_serial; }

 private:
  void RequireOpen() const;
  std::string ReadString(std::uint8_t index, const char* failure);
  void SendCommand(int request, std::uint32_t first, std::uint32_t count, const char* failure);
  bool ReadStatus(std::uint8_t expected);

  CUsbHandle m_handle;
  std::string m_manufacturer;
  std::string m_product;
  const usb_config_descriptor* m_configuration = nullptr;
  const usb_interface_descriptor* m_interface = nullptr;
  const usb_endpoint_descriptor* m_outEndpoint = nullptr;
  const usb_endpoint_descriptor* m_inEndpoint = nullptr;
  std::string m_description;
  std::string m_model;
  std::string m_serial;
  std::uint32_t m_sectorCount = 0;
};

}  // namespace vorn
