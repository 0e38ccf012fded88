#include "sim/SimDevice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "device/UsbProtocol.h"
#include "platform/LittleEndian.h"

namespace vorn::sim {

namespace {

// The unit as its firmware defines it. These values are spelled out here, not
// shared with the program, so that the program is checked against the unit
// rather than against itself. Only the checksum, a pure function with its own
// known-answer test, is shared.
constexpr int kVendorOut = 0x40;
constexpr int kReadSectors = 0xA0;
constexpr int kIdentify = 0xA1;
constexpr int kWriteSectors = 0xA2;
constexpr int kSetBaud = 0xA3;
constexpr int kDiskTimeout = 5000;
constexpr int kBaudTimeout = 1000;
constexpr int kLiveTimeout = 6000;
constexpr int kSector = 512;
constexpr int kStatusSize = 128;
constexpr int kLiveGranule = 128;
constexpr std::uint8_t kDiskConfiguration = 1;
constexpr std::uint8_t kLiveConfiguration = 2;
constexpr std::uint8_t kDataInEndpoint = 0x81;
constexpr std::uint8_t kDataOutEndpoint = 0x02;
constexpr std::uint8_t kLiveOutEndpoint = 0x06;
constexpr std::uint8_t kManufacturerIndex = 1;
constexpr std::uint8_t kProductIndex = 2;

std::string Hex(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFFF);
  return text;
}

usb_endpoint_descriptor BulkEndpoint(std::uint8_t address) {
  usb_endpoint_descriptor endpoint{};
  endpoint.bLength = USB_DT_ENDPOINT_SIZE;
  endpoint.bDescriptorType = USB_DT_ENDPOINT;
  endpoint.bEndpointAddress = address;
  endpoint.bmAttributes = USB_ENDPOINT_TYPE_BULK;
  endpoint.wMaxPacketSize = 512;
  return endpoint;
}

// Writes text into an ATA identify field: space padded, characters in swapped pairs.
void PutAtaText(std::uint8_t* field, std::size_t length, const std::string& text) {
  for (std::size_t i = 0; i < length; ++i) {
    field[i ^ 1] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
  }
}

}  // namespace

CSimDevice::CSimDevice(const DeviceConfig& config, usb_bus* bus, CSimLog& log)
    : m_config(config), m_log(log) {
  char number[8];
  std::snprintf(number, sizeof number, "%03d", config.devnum);
  m_who = std::string(bus->dirname) + "/" + number;

  std::snprintf(m_record.filename, sizeof m_record.filename, "%03d", config.devnum);
  m_record.bus = bus;
  m_record.devnum = static_cast<std::uint8_t>(config.devnum);
  m_record.dev = this;
  BuildDescriptors();

  if (!config.image.empty()) {
    m_image.Reset(::open(config.image.c_str(), O_RDWR | O_CLOEXEC));
    struct stat info {};
    if (!m_image.IsValid() || ::fstat(m_image.Get(), &info) != 0) {
      throw CSimConfigError("line " + std::to_string(config.line) + ": cannot open image " +
                            config.image + ": " + std::strerror(errno));
    }
    m_sectors = static_cast<std::uint64_t>(info.st_size) / kSector;
  }
  if (!config.capture.empty()) {
    m_capture.Reset(::open(config.capture.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!m_capture.IsValid()) {
      throw CSimConfigError("line " + std::to_string(config.line) + ": cannot open capture " +
                            config.capture + ": " + std::strerror(errno));
    }
  }
}

void CSimDevice::BuildDescriptors() {
  usb_device_descriptor& d = m_record.descriptor;
  d.bLength = USB_DT_DEVICE_SIZE;
  d.bDescriptorType = USB_DT_DEVICE;
  d.bcdUSB = 0x0200;
  d.bDeviceClass = m_config.unit ? USB_CLASS_VENDOR_SPEC : USB_CLASS_PER_INTERFACE;
  d.bMaxPacketSize0 = 64;
  d.idVendor = m_config.vendor;
  d.idProduct = m_config.product;
  d.bcdDevice = 0x0100;
  d.iManufacturer = m_config.manufacturerString ? kManufacturerIndex : 0;
  d.iProduct = m_config.productString ? kProductIndex : 0;

  const bool twoConfigurations = m_config.unit && m_config.shape != Shape::OneConfiguration;
  const std::size_t count = twoConfigurations ? 2 : 1;
  d.bNumConfigurations = static_cast<std::uint8_t>(count);

  // Sized once: the records below point into these vectors.
  m_endpoints.resize(count);
  if (m_config.unit && m_config.shape != Shape::NoEndpoints) {
    m_endpoints[0] = {BulkEndpoint(kDataInEndpoint), BulkEndpoint(kDataOutEndpoint)};
    if (twoConfigurations) m_endpoints[1] = {BulkEndpoint(kLiveOutEndpoint)};
  }
  m_altsettings.resize(count);
  m_interfaces.resize(count);
  m_configs.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    usb_interface_descriptor& alt = m_altsettings[i];
    alt.bLength = USB_DT_INTERFACE_SIZE;
    alt.bDescriptorType = USB_DT_INTERFACE;
    alt.bInterfaceNumber = 0;
    alt.bAlternateSetting = 0;
    alt.bNumEndpoints = static_cast<std::uint8_t>(m_endpoints[i].size());
    alt.bInterfaceClass = USB_CLASS_VENDOR_SPEC;
    alt.endpoint = m_endpoints[i].empty() ? nullptr : m_endpoints[i].data();
    m_interfaces[i].altsetting = &alt;
    m_interfaces[i].num_altsetting = 1;

    usb_config_descriptor& c = m_configs[i];
    c.bLength = USB_DT_CONFIG_SIZE;
    c.bDescriptorType = USB_DT_CONFIG;
    c.wTotalLength = static_cast<std::uint16_t>(USB_DT_CONFIG_SIZE + USB_DT_INTERFACE_SIZE +
                                                USB_DT_ENDPOINT_SIZE * m_endpoints[i].size());
    c.bNumInterfaces = 1;
    c.bConfigurationValue = static_cast<std::uint8_t>(i + 1);
    c.bmAttributes = 0x80;
    c.MaxPower = 250;
    c.interface = &m_interfaces[i];
  }
  m_record.config = m_configs.data();
}

void CSimDevice::Unplug(const char* why) {
  if (!m_present) return;
  m_present = false;
  m_log.Event(m_who + " unplugged (" + why + ")");
}

bool CSimDevice::FaultActive(Fault fault, unsigned clock) const {
  for (const FaultSetting& setting : m_config.faults) {
    if (setting.fault == fault && clock >= setting.after) return true;
  }
  return false;
}

int CSimDevice::Refuse(const std::string& what, int error) {
  m_log.OutOfShape(m_who, what);
  m_phase = Phase::Idle;
  return error;
}

int CSimDevice::Faulted(Fault fault, int error) {
  m_log.Event(m_who + " FAULT " + FaultName(fault) + " -> " + std::to_string(error));
  m_phase = Phase::Idle;
  return error;
}

// Counts the transfer and plays an unplug that is due.
int CSimDevice::BeginTransfer(usb_dev_handle* handle) {
  if (!m_present) return -ENODEV;
  for (const FaultSetting& setting : m_config.faults) {
    if (setting.fault == Fault::Unplug && m_transfers >= setting.after) {
      Unplug("fault unplug-after");
      return -ENODEV;
    }
  }
  m_clock = m_transfers++;
  if (!m_config.unit) return Refuse("transfer to a device that is not a VORN unit", -EPIPE);
  if (handle->claimed < 0) return Refuse("transfer with no interface claimed", -EINVAL);
  return 0;
}

const usb_endpoint_descriptor* CSimDevice::ActiveEndpoint(int address) const {
  const std::size_t index = static_cast<std::size_t>(m_activeConfiguration - 1);
  for (const usb_endpoint_descriptor& endpoint : m_endpoints[index]) {
    if (endpoint.bEndpointAddress == address) return &endpoint;
  }
  return nullptr;
}

bool CSimDevice::InRange() const {
  return static_cast<std::uint64_t>(m_first) + m_count <= m_sectors;
}

int CSimDevice::Open() {
  if (!m_present) return -ENODEV;
  if (FaultActive(Fault::Open, m_transfers)) return Faulted(Fault::Open, -EACCES);
  m_log.Event(m_who + " open");
  return 0;
}

int CSimDevice::GetString(int index, char* buffer, std::size_t size) {
  if (!m_present) return -ENODEV;
  if (index == 0 || buffer == nullptr || size == 0) {
    return Refuse("string request for index " + std::to_string(index), -EINVAL);
  }
  const std::optional<std::string>* text = nullptr;
  if (index == kManufacturerIndex && m_config.manufacturerString) {
    if (FaultActive(Fault::ManufacturerString, m_transfers)) {
      return Faulted(Fault::ManufacturerString, -EPIPE);
    }
    text = &m_config.manufacturerString;
  } else if (index == kProductIndex && m_config.productString) {
    if (FaultActive(Fault::ProductString, m_transfers)) return Faulted(Fault::ProductString, -EPIPE);
    text = &m_config.productString;
  } else {
    return Refuse("string request for index " + std::to_string(index) + ", which the device lacks",
                  -EPIPE);
  }
  const std::size_t length = std::min((*text)->size(), size - 1);
  std::memcpy(buffer, (*text)->data(), length);
  buffer[length] = '\0';
  m_log.Event(m_who + " string " + std::to_string(index));
  return static_cast<int>(length);
}

int CSimDevice::SetConfiguration(usb_dev_handle* /*handle*/, int value) {
  if (!m_present) return -ENODEV;
  if (FaultActive(Fault::SetConfiguration, m_transfers)) {
    return Faulted(Fault::SetConfiguration, -EIO);
  }
  if (value < 1 || value > static_cast<int>(m_configs.size())) {
    return Refuse("set-configuration " + std::to_string(value) + ", which the device lacks", -EINVAL);
  }
  if (m_claimedBy != nullptr) return Refuse("set-configuration while an interface is claimed", -EBUSY);
  m_activeConfiguration = value;
  m_phase = Phase::Idle;
  m_log.Event(m_who + " set-configuration " + std::to_string(value));
  return 0;
}

int CSimDevice::Claim(usb_dev_handle* handle, int number) {
  if (!m_present) return -ENODEV;
  if (FaultActive(Fault::Claim, m_transfers)) return Faulted(Fault::Claim, -EBUSY);
  if (number != 0) {
    return Refuse("claim of interface " + std::to_string(number) + ", which the configuration lacks",
                  -EINVAL);
  }
  if (m_claimedBy != nullptr && m_claimedBy != handle) {
    m_log.Event(m_who + " claim " + std::to_string(number) + " busy");
    return -EBUSY;
  }
  m_claimedBy = handle;
  handle->claimed = number;
  m_log.Event(m_who + " claim " + std::to_string(number));
  return 0;
}

int CSimDevice::SetAltSetting(usb_dev_handle* handle, int alternate) {
  if (!m_present) return -ENODEV;
  if (handle->claimed < 0) return Refuse("set-altinterface with no interface claimed", -EINVAL);
  if (FaultActive(Fault::AltSetting, m_transfers)) return Faulted(Fault::AltSetting, -EIO);
  if (alternate != 0) {
    return Refuse("alternate setting " + std::to_string(alternate) + ", which the interface lacks",
                  -EINVAL);
  }
  m_phase = Phase::Idle;
  m_log.Event(m_who + " altsetting " + std::to_string(alternate));
  return 0;
}

int CSimDevice::Release(usb_dev_handle* handle, int number) {
  if (!m_present) return -ENODEV;
  if (FaultActive(Fault::Release, m_transfers)) return Faulted(Fault::Release, -EIO);
  if (handle->claimed != number) {
    return Refuse("release of interface " + std::to_string(number) + ", which is not claimed",
                  -EINVAL);
  }
  handle->claimed = -1;
  m_claimedBy = nullptr;
  m_log.Event(m_who + " release " + std::to_string(number));
  return 0;
}

void CSimDevice::Close(usb_dev_handle* handle) {
  if (m_claimedBy == handle) m_claimedBy = nullptr;
  m_log.Event(m_who + " close");
}

int CSimDevice::Control(usb_dev_handle* handle, int type, int request, int value, int index,
                        char* bytes, int size, int timeout) {
  if (const int refused = BeginTransfer(handle); refused != 0) return refused;
  const std::string name = "request " + Hex(request);
  if (type != kVendorOut) return Refuse(name + " with request type " + Hex(type), -EPIPE);
  if (value != 0 || index != 0) {
    return Refuse(name + " with value " + std::to_string(value) + ", index " + std::to_string(index),
                  -EPIPE);
  }
  if (size < 0 || (size > 0 && bytes == nullptr)) return Refuse(name + " with no data buffer", -EINVAL);
  if (FaultActive(Fault::Control, m_clock)) return Faulted(Fault::Control, -EPIPE);
  if (FaultActive(Fault::ControlTimeout, m_clock)) return Faulted(Fault::ControlTimeout, -ETIMEDOUT);
  if (m_activeConfiguration == kDiskConfiguration) return DiskCommand(request, bytes, size, timeout);
  return LiveCommand(request, bytes, size, timeout);
}

int CSimDevice::DiskCommand(int request, const char* bytes, int size, int timeout) {
  const std::string name = "request " + Hex(request);
  if (request != kReadSectors && request != kWriteSectors && request != kIdentify) {
    return Refuse(name + " on the disk configuration", -EPIPE);
  }
  if (timeout != kDiskTimeout) return Refuse(name + " with time-out " + std::to_string(timeout), -EPIPE);
  if (m_phase != Phase::Idle) return Refuse(name + " while the previous command is unfinished", -EPIPE);

  if (request == kIdentify) {
    if (size != 0) return Refuse(name + " with " + std::to_string(size) + " data bytes", -EPIPE);
    BuildIdentifyBlock();
    m_command = request;
    m_phase = Phase::DataIn;
    m_log.Event(m_who + " identify");
    return 0;
  }

  if (size != 8) return Refuse(name + " with " + std::to_string(size) + " data bytes", -EPIPE);
  const auto* block = reinterpret_cast<const std::uint8_t*>(bytes);
  m_first = GetLe32(block);
  m_count = GetLe32(block + 4);
  if (m_count > static_cast<std::uint32_t>(INT_MAX / kSector)) {
    return Refuse(name + " for " + std::to_string(m_count) + " sectors", -EPIPE);
  }
  m_rangeError = !InRange();
  m_command = request;
  m_phase = request == kReadSectors ? Phase::DataIn : Phase::DataOut;
  m_log.Event(m_who + (request == kReadSectors ? " read " : " write ") + std::to_string(m_first) +
              " " + std::to_string(m_count));
  if (m_rangeError) {
    // The unit still moves the data and then reports the failure in its status.
    m_log.OutOfShape(m_who, "sectors " + std::to_string(m_first) + "+" + std::to_string(m_count) +
                                " beyond the disk's " + std::to_string(m_sectors));
  }
  return 8;
}

int CSimDevice::LiveCommand(int request, const char* bytes, int size, int timeout) {
  const std::string name = "request " + Hex(request);
  if (request != kSetBaud) return Refuse(name + " on the live-output configuration", -EPIPE);
  if (timeout != kBaudTimeout) return Refuse(name + " with time-out " + std::to_string(timeout), -EPIPE);
  if (size != 1) return Refuse(name + " with " + std::to_string(size) + " data bytes", -EPIPE);
  const int code = static_cast<std::uint8_t>(bytes[0]);
  if (code > 5) return Refuse(name + " with baud-rate code " + std::to_string(code), -EPIPE);

  m_log.Event(m_who + " baud " + std::to_string(code));
  if (!m_config.baudFile.empty()) {
    if (FILE* file = std::fopen(m_config.baudFile.c_str(), "w")) {
      std::fprintf(file, "%d\n", code);
      std::fclose(file);
    }
  }
  return 1;
}

int CSimDevice::BulkRead(usb_dev_handle* handle, int endpoint, char* bytes, int size, int timeout) {
  if (const int refused = BeginTransfer(handle); refused != 0) return refused;
  const usb_endpoint_descriptor* found = ActiveEndpoint(endpoint);
  if (found == nullptr || (endpoint & USB_ENDPOINT_DIR_MASK) == 0) {
    return Refuse("bulk read on endpoint " + Hex(endpoint) + ", which configuration " +
                      std::to_string(m_activeConfiguration) + " has not as IN",
                  -EINVAL);
  }
  if (timeout != kDiskTimeout) {
    return Refuse("bulk read with time-out " + std::to_string(timeout), -EINVAL);
  }
  if (size < 0 || (size > 0 && bytes == nullptr)) return Refuse("bulk read with no buffer", -EINVAL);
  if (m_phase == Phase::DataIn) return SendData(bytes, size);
  if (m_phase == Phase::Status) return SendStatus(bytes, size);
  return Refuse("bulk read of " + std::to_string(size) + " bytes with nothing due", -ETIMEDOUT);
}

int CSimDevice::SendData(char* bytes, int size) {
  const int due = m_command == kIdentify ? kSector : static_cast<int>(m_count) * kSector;
  if (size != due) {
    return Refuse("bulk read of " + std::to_string(size) + " bytes where " + std::to_string(due) +
                      " are due",
                  -EOVERFLOW);
  }
  if (FaultActive(Fault::DataTimeout, m_clock)) return Faulted(Fault::DataTimeout, -ETIMEDOUT);

  if (m_command == kIdentify) {
    std::memcpy(bytes, m_identify.data(), kSector);
  } else if (m_rangeError) {
    std::memset(bytes, 0, static_cast<std::size_t>(size));
  } else if (size > 0) {
    const ssize_t got = ImageIo(false, bytes, static_cast<std::size_t>(size), m_first);
    if (got != size) {
      m_rangeError = true;
      std::memset(bytes, 0, static_cast<std::size_t>(size));
    }
  }
  if (FaultActive(Fault::DataShort, m_clock)) {
    Faulted(Fault::DataShort, 0);
    return size / 2;
  }
  m_sum = XorChecksum(bytes, static_cast<std::size_t>(size));
  m_phase = Phase::Status;
  m_log.Event(m_who + " data-in " + std::to_string(size));
  return size;
}

ssize_t CSimDevice::ImageIo(bool write, char* bytes, std::size_t size, std::uint32_t first) {
  const auto io = [&](char* at, std::size_t count, std::uint64_t sector) {
    const auto offset = static_cast<off_t>(sector * kSector);
    return write ? ::pwrite(m_image.Get(), at, count, offset) : ::pread(m_image.Get(), at, count, offset);
  };
  if (!FaultActive(Fault::WrapAround, m_clock) || m_sectors < 2) return io(bytes, size, first);
  // A fake card holds only the first half of what it claims, and each
  // sector past it lands on the one half the claim lower.
  const std::uint64_t half = m_sectors / 2;
  bool wrapped = false;
  std::size_t done = 0;
  for (std::uint64_t sector = first; done < size; ++sector) {
    const std::size_t count = std::min<std::size_t>(kSector, size - done);
    const std::uint64_t at = sector >= half ? sector - half : sector;
    wrapped = wrapped || at != sector;
    if (io(bytes + done, count, at) != static_cast<ssize_t>(count)) return static_cast<ssize_t>(done);
    done += count;
  }
  if (wrapped) Faulted(Fault::WrapAround, 0);
  return static_cast<ssize_t>(done);
}

int CSimDevice::SendStatus(char* bytes, int size) {
  if (size != kStatusSize) {
    return Refuse("status read of " + std::to_string(size) + " bytes", -EOVERFLOW);
  }
  if (FaultActive(Fault::StatusTimeout, m_clock)) return Faulted(Fault::StatusTimeout, -ETIMEDOUT);

  auto* packet = reinterpret_cast<std::uint8_t*>(bytes);
  packet[0] = m_rangeError ? 0x00 : 0xFF;
  packet[1] = m_rangeError ? 0x00 : 0xFF;
  packet[2] = m_sum;
  // The unit's own bookkeeping fills the rest; a host must not read meaning into it.
  for (int i = 3; i < kStatusSize; ++i) {
    packet[i] = static_cast<std::uint8_t>(i * 37 + m_first + static_cast<unsigned>(m_command));
  }
  if (FaultActive(Fault::StatusChecksum, m_clock)) {
    Faulted(Fault::StatusChecksum, 0);
    packet[2] ^= 0xFF;
  }
  if (FaultActive(Fault::StatusBytes, m_clock)) {
    Faulted(Fault::StatusBytes, 0);
    packet[0] = 0x7F;
  }
  m_phase = Phase::Idle;
  m_log.Event(m_who + " status " + Hex(packet[2]));
  if (FaultActive(Fault::StatusShort, m_clock)) {
    Faulted(Fault::StatusShort, 0);
    return kStatusSize / 2;
  }
  return kStatusSize;
}

int CSimDevice::BulkWrite(usb_dev_handle* handle, int endpoint, const char* bytes, int size,
                          int timeout) {
  if (const int refused = BeginTransfer(handle); refused != 0) return refused;
  const usb_endpoint_descriptor* found = ActiveEndpoint(endpoint);
  if (found == nullptr || (endpoint & USB_ENDPOINT_DIR_MASK) != 0) {
    return Refuse("bulk write on endpoint " + Hex(endpoint) + ", which configuration " +
                      std::to_string(m_activeConfiguration) + " has not as OUT",
                  -EINVAL);
  }
  if (size < 0 || (size > 0 && bytes == nullptr)) return Refuse("bulk write with no buffer", -EINVAL);
  if (FaultActive(Fault::BulkWrite, m_clock)) return Faulted(Fault::BulkWrite, -EIO);
  if (m_activeConfiguration == kLiveConfiguration) return TakeLiveData(bytes, size, timeout);

  if (timeout != kDiskTimeout) {
    return Refuse("bulk write with time-out " + std::to_string(timeout), -EINVAL);
  }
  if (m_phase != Phase::DataOut) {
    return Refuse("bulk write of " + std::to_string(size) + " bytes with no write command", -ETIMEDOUT);
  }
  return TakeData(bytes, size);
}

int CSimDevice::TakeData(const char* bytes, int size) {
  const int due = static_cast<int>(m_count) * kSector;
  if (size != due) {
    return Refuse("bulk write of " + std::to_string(size) + " bytes where " + std::to_string(due) +
                      " are due",
                  -EPIPE);
  }
  if (FaultActive(Fault::DataTimeout, m_clock)) return Faulted(Fault::DataTimeout, -ETIMEDOUT);
  // A short transfer still lands its whole sectors, as on the hardware.
  const bool shortened = FaultActive(Fault::DataShort, m_clock);
  const int taken = shortened ? size / 2 : size;
  if (!m_rangeError && taken > 0) {
    // A failing card: the checksum covers what the host sent, the medium gets
    // something else.
    std::string garbled;
    const char* landing = bytes;
    if (FaultActive(Fault::WriteGarble, m_clock)) {
      garbled.assign(bytes, static_cast<std::size_t>(taken));
      garbled[0] = static_cast<char>(garbled[0] ^ 0xFF);
      landing = garbled.data();
      Faulted(Fault::WriteGarble, 0);
    }
    const ssize_t put = ImageIo(true, const_cast<char*>(landing), static_cast<std::size_t>(taken), m_first);
    if (put != taken) m_rangeError = true;
  }
  if (shortened) {
    Faulted(Fault::DataShort, 0);
    return taken;
  }
  m_sum = XorChecksum(bytes, static_cast<std::size_t>(size));
  m_phase = Phase::Status;
  m_log.Event(m_who + " data-out " + std::to_string(size));
  return size;
}

int CSimDevice::TakeLiveData(const char* bytes, int size, int timeout) {
  if (timeout != kLiveTimeout) {
    return Refuse("live-output write with time-out " + std::to_string(timeout), -EINVAL);
  }
  if (size <= 0 || size % kLiveGranule != 0) {
    return Refuse("live-output write of " + std::to_string(size) + " bytes", -EPIPE);
  }
  if (m_capture.IsValid() && ::write(m_capture.Get(), bytes, static_cast<std::size_t>(size)) != size) {
    m_log.Event(m_who + " capture write failed");
  }
  m_log.Event(m_who + " capture " + std::to_string(size));
  return size;
}

void CSimDevice::BuildIdentifyBlock() {
  m_identify.assign(kSector, 0);
  std::uint8_t* block = m_identify.data();
  PutLe16(block + 0, 0x0040);                                  // fixed device
  PutAtaText(block + 20, 20, m_config.serial);                 // words 10-19
  PutAtaText(block + 46, 8, "1.0");                            // words 23-26, firmware
  PutAtaText(block + 54, 40, m_config.model);                  // words 27-46
  PutLe16(block + 98, 0x0200);                                 // word 49: LBA supported
  const std::uint32_t sectors =
      m_sectors > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(m_sectors);
  PutLe32(block + 120, sectors);                               // words 60-61
  PutLe32(block + 200, sectors);                               // words 100-103
  block[510] = 0xA5;                                           // word 255: signature, checksum
  std::uint8_t sum = 0;
  for (int i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + block[i]);
  block[511] = static_cast<std::uint8_t>(-sum);
  m_first = 0;
  m_rangeError = false;
}

}  // namespace vorn::sim
