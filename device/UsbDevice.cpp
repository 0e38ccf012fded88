#include "device/UsbDevice.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <vector>

#include "device/DeviceExceptions.h"
#include "device/IdentifyBlock.h"
#include "device/UsbProtocol.h"
#include "device/UsbUnit.h"
#include "platform/LittleEndian.h"

namespace vorn {

namespace {

constexpr int kStringBufferSize = 256;
constexpr std::uint32_t kMaxSectorsPerTransfer = INT_MAX / kSectorSize;

[[noreturn]] void ThrowResult(const char* format, int result) {
  char text[160];
  std::snprintf(text, sizeof text, format, result);
  throw CUsbDeviceException(text);
}

[[noreturn]] void ThrowBulkResult(const char* format, int result) {
  char text[400];
  std::snprintf(text, sizeof text, format, result, usb_strerror());
  throw CUsbDeviceException(text);
}

// A count whose byte length does not fit libusb's int length cannot travel in
// one bulk transfer; it is refused before anything reaches the unit.
void CheckTransferLength(std::uint32_t count, const char* commandFailure) {
  if (count > kMaxSectorsPerTransfer) ThrowResult(commandFailure, -EINVAL);
}

}  // namespace

void CUsbDevice::Open(const DeviceEntry& entry) {
  struct usb_device* record = const_cast<struct usb_device*>(entry.Unit());
  if (record == nullptr || m_handle) throw CUsbDeviceException("Unable to open device");

  m_handle.Reset(usb_open(record));
  if (!m_handle) throw CUsbDeviceException("Unable to open device");

  m_manufacturer = ReadString(record->descriptor.iManufacturer,
                              "COULD NOT RETRIEVE MANUFACTURER STRING");
  m_product = ReadString(record->descriptor.iProduct, "COULD NOT RETRIEVE PRODUCT STRING");

  // The disk interface: first configuration, an IN and an OUT endpoint.
  const UnitInterface claimed = ClaimUnitInterface(m_handle.Get(), *record, 0, 2);
  m_configuration = claimed.config;
  m_interface = claimed.interface;
  m_inEndpoint = &claimed.endpoints[0];
  m_outEndpoint = &claimed.endpoints[1];
}

std::string CUsbDevice::ReadString(std::uint8_t index, const char* failure) {
  if (index == 0) throw CUsbDeviceException(failure);
  char buffer[kStringBufferSize] = {};
  const int length = usb_get_string_simple(m_handle.Get(), index, buffer, sizeof buffer);
  if (length < 1) throw CUsbDeviceException(failure);
  return std::string(buffer, static_cast<std::size_t>(length < kStringBufferSize ? length
                                                                               : kStringBufferSize - 1));
}

void CUsbDevice::Close() {
  if (!m_handle) return;
  // Interface 0 is released whatever number was claimed: the unit's disk
  // interface is always number 0.
  if (usb_release_interface(m_handle.Get(), 0) != 0) {
    throw CUsbDeviceException("COULD NOT RELEASE INTERFACE");
  }
  m_handle.Reset();
  m_configuration = nullptr;
  m_interface = nullptr;
  m_inEndpoint = nullptr;
  m_outEndpoint = nullptr;
}

void CUsbDevice::RequireOpen() const {
  // An Open that failed part-way keeps its handle for Close, but without the
  // endpoints no transfer can be made.
  if (!m_handle || m_inEndpoint == nullptr || m_outEndpoint == nullptr) {
    throw CUsbDeviceException("Unable to open device");
  }
}

void CUsbDevice::SendCommand(int request, std::uint32_t first, std::uint32_t count,
                             const char* failure) {
  std::uint8_t block[kCommandBlockSize];
  PutLe32(block, first);
  PutLe32(block + 4, count);
  const int result = usb_control_msg(m_handle.Get(), kUnitRequestType, request, 0, 0,
                                     reinterpret_cast<char*>(block), sizeof block, kUnitTimeoutMs);
  if (result < 0) ThrowResult(failure, result);
}

bool CUsbDevice::ReadStatus(std::uint8_t expected) {
  std::uint8_t packet[kStatusPacketSize];
  const int result = usb_bulk_read(m_handle.Get(), m_inEndpoint->bEndpointAddress,
                                   reinterpret_cast<char*>(packet), sizeof packet, kUnitTimeoutMs);
  if (result != static_cast<int>(kStatusPacketSize)) {
    ThrowBulkResult("Unable to read device id checksum (err=%i, %s)", result);
  }
  return StatusConfirms(packet, expected);
}

void CUsbDevice::ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) {
  RequireOpen();
  CheckTransferLength(count, "Unable to send read sector command (err=%i)");
  SendCommand(kRequestReadSectors, first, count, "Unable to send read sector command (err=%i)");

  const int length = static_cast<int>(count * kSectorSize);
  const int result = usb_bulk_read(m_handle.Get(), m_inEndpoint->bEndpointAddress,
                                   static_cast<char*>(buffer), length, kUnitTimeoutMs);
  if (result != length) ThrowBulkResult("Unable to read sector (err=%i, %s)", result);

  if (!ReadStatus(XorChecksum(buffer, static_cast<std::size_t>(length)))) {
    throw CUsbDeviceException("Invalid checksum");
  }
}

void CUsbDevice::WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) {
  RequireOpen();
  CheckTransferLength(count, "Unable to send write sector command (err=%i)");
  const int length = static_cast<int>(count * kSectorSize);
  const std::uint8_t sum = XorChecksum(buffer, static_cast<std::size_t>(length));

  SendCommand(kRequestWriteSectors, first, count, "Unable to send write sector command (err=%i)");
  // libusb 0.1 takes a non-const pointer but only reads from it.
  const int result = usb_bulk_write(m_handle.Get(), m_outEndpoint->bEndpointAddress,
                                    static_cast<const char*>(buffer), length, kUnitTimeoutMs);
  if (result != length) ThrowBulkResult("Unable to write sector (err=%i, %s)", result);

  if (!ReadStatus(sum)) throw CUsbDeviceException("Invalid checksum");
}

bool CUsbDevice::Identify() {
  RequireOpen();
  const int sent = usb_control_msg(m_handle.Get(), kUnitRequestType, kRequestIdentify, 0, 0,
                                   nullptr, 0, kUnitTimeoutMs);
  if (sent != 0) ThrowResult("Unable to query device id (err=%i)", sent);

  std::vector<std::uint8_t> block(kIdentifyBlockSize);
  const int result = usb_bulk_read(m_handle.Get(), m_inEndpoint->bEndpointAddress,
                                   reinterpret_cast<char*>(block.data()),
                                   static_cast<int>(block.size()), kUnitTimeoutMs);
  if (result != static_cast<int>(kIdentifyBlockSize)) {
    ThrowBulkResult("Unable to read device id (err=%i, %s)", result);
  }
  if (!ReadStatus(XorChecksum(block.data(), block.size()))) return false;

  const UnitIdentity identity = ParseIdentifyBlock(block.data());
  m_sectorCount = identity.sectorCount;
  m_model = identity.model;
  m_serial = identity.serial;
  m_description = identity.model + " - " + identity.serial;
  return true;
}

}  // namespace vorn
