#include "server/DeviceServer.h"

#include <usb.h>

#include <array>
#include <cstdio>

#include "app/CommandLineInfo.h"
#include "device/BaudRate.h"
#include "device/DeviceExceptions.h"
#include "device/UsbProtocol.h"
#include "device/UsbUnit.h"
#include "platform/LittleEndian.h"
#include "platform/MessageBox.h"
#include "platform/WaitForEvents.h"

namespace vorn {
namespace {

template <class... Args>
std::string Format(const char* format, Args... args) {
  char text[512];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

// The reason an object could not be opened goes to stderr: the message box
// keeps the fixed text, the terminal gets the detail (missing, foreign owner).
void ReportOpenFailure(const std::string& reason) {
  std::fprintf(stderr, "vorn3manager: %s\n", reason.c_str());
}

}  // namespace

int BlockTransferLength(int payload) {
  const int length = payload + 2;
  return (length + kBlockGranule - 1) / kBlockGranule * kBlockGranule;
}

CDeviceServer::CDeviceServer(const CManagerCommandLineInfo* commandLine)
    : m_commandLine(commandLine) {}

const std::string& CDeviceServer::Name() const { return m_commandLine->UnitName(); }

int CDeviceServer::Run() {
  CNamedEvent quitEvent;
  try {
    OpenSharedMemory();
    if (!quitEvent.Open(Name() + "_QUITEVENT")) {
      ReportOpenFailure(quitEvent.Failure());
      ShowMessageBox("could not open quitevent");
      return 0;
    }
    OpenUnit();
    SetBaudRate();
    SignalReady();

    CNamedEvent* const pair[] = {&quitEvent, &m_dataReadyEvent};
    for (;;) {
      const int which = WaitForFirstEvent(pair);
      if (which != 1) break;  // quit, or a failed wait
      SendBlock();
      m_dataReadyEvent.Reset();
      m_dataDoneEvent.Set();
    }
  } catch (const CUsbDeviceException& e) {
    ShowMessageBox(Format("FATAL SERVER %s ERROR: %s\n", Name().c_str(), e.GetMessage().c_str()));
    return 0;
  }
  try {
    CloseUnit();
    CloseSharedMemory();
    quitEvent.Close();
  } catch (const CUsbDeviceException& e) {
    ShowMessageBox(Format("FATAL SERVER %s ERROR: %s\n", Name().c_str(), e.GetMessage().c_str()));
    return 0;
  }
  return 1;
}

void CDeviceServer::OpenSharedMemory() {
  if (!m_sharedMem.Open(Name() + "_SHAREDMEM")) {
    ReportOpenFailure(m_sharedMem.Failure());
    throw CUsbDeviceException("Could not create file-mapping object.");
  }
  if (!m_sharedMem.Map()) {
    ReportOpenFailure(m_sharedMem.Failure());
    throw CUsbDeviceException("Could not map view of file.");
  }
  m_sharedBlock = m_sharedMem.Data();
  if (!m_dataReadyEvent.Open(Name() + "_DATAREADYEVENT")) {
    ReportOpenFailure(m_dataReadyEvent.Failure());
    throw CUsbDeviceException("could not open m_dataReadyEvent");
  }
  if (!m_dataDoneEvent.Open(Name() + "_DATADONEEVENT")) {
    ReportOpenFailure(m_dataDoneEvent.Failure());
    throw CUsbDeviceException("could not open m_dataDoneEvent");
  }
}

void CDeviceServer::OpenUnit() {
  m_usbDevice = FindUnitByName(Name());
  if (m_usbDevice == nullptr) throw CUsbDeviceException("COULD NOT FIND DEVICE");

  m_usbHandle.Reset(usb_open(m_usbDevice));
  if (!m_usbHandle) throw CUsbDeviceException("Unable to open device");

  // The live output sits on the unit's second configuration; a unit without one
  // (or without an endpoint there) cannot serve, and must not be read past the
  // end of its descriptors.
  const int configurations = m_usbDevice->descriptor.bNumConfigurations;
  if (configurations < 2 || m_usbDevice->config == nullptr) {
    throw CUsbDeviceException(
        Format("THE UNIT OFFERS NO SECOND CONFIGURATION (it has %i)", configurations));
  }
  m_config = &m_usbDevice->config[1];
  if (usb_set_configuration(m_usbHandle.Get(), m_config->bConfigurationValue) != 0) {
    throw CUsbDeviceException("COULD NOT SELECT CONFIGURATION");
  }

  if (m_config->bNumInterfaces < 1 || m_config->interface == nullptr ||
      m_config->interface[0].num_altsetting < 1 || m_config->interface[0].altsetting == nullptr) {
    throw CUsbDeviceException("THE UNIT'S SECOND CONFIGURATION HAS NO INTERFACE");
  }
  m_interface = &m_config->interface[0].altsetting[0];
  if (usb_claim_interface(m_usbHandle.Get(), m_interface->bInterfaceNumber) != 0) {
    throw CUsbDeviceException("COULD NOT CLAIM INTERFACE");
  }
  if (usb_set_altinterface(m_usbHandle.Get(), m_interface->bAlternateSetting) != 0) {
    throw CUsbDeviceException("COULD NOT SET ALTERNATE INTERFACE");
  }

  if (m_interface->bNumEndpoints < 1 || m_interface->endpoint == nullptr) {
    throw CUsbDeviceException("THE UNIT'S SECOND CONFIGURATION HAS NO ENDPOINT");
  }
  m_endpoints = m_interface->endpoint;
}

void CDeviceServer::SetBaudRate() {
  const std::optional<std::uint8_t> code = BaudCodeForRate(m_commandLine->BaudRate());
  if (!code) throw CUsbDeviceException("Unsupported baud rate");
  char data = static_cast<char>(*code);
  const int result = usb_control_msg(m_usbHandle.Get(), kUnitRequestType, kRequestSetBaudRate, 0,
                                     0, &data, 1, kBaudRequestTimeoutMs);
  if (result < 0) {
    throw CUsbDeviceException(Format("Unable to send baud rate command (err=%i)", result));
  }
}

void CDeviceServer::SignalReady() {
  CNamedEvent readyEvent;
  if (!readyEvent.Open(Name() + "_READYEVENT")) {
    ReportOpenFailure(readyEvent.Failure());
    ShowMessageBox("could not open readyEvent");
    return;
  }
  readyEvent.Set();
}

void CDeviceServer::SendBlock() {
  // The length word is the editor's; a wrong one must not make us read beyond
  // the block (and send whatever lies behind it to the unit).
  const int payload = static_cast<std::int16_t>(GetLe16(m_sharedBlock));
  const int length = BlockTransferLength(payload);
  if (payload < 0 || payload > kMaxBlockPayload ||
      static_cast<std::size_t>(length) > m_sharedMem.Size()) {
    throw CUsbDeviceException(Format("Invalid block length %i (%i bytes to send, the block holds %zu)",
                                     payload, length, m_sharedMem.Size()));
  }
  const int result = usb_bulk_write(m_usbHandle.Get(), m_endpoints[0].bEndpointAddress,
                                    reinterpret_cast<const char*>(m_sharedBlock), length,
                                    kBlockWriteTimeoutMs);
  if (result < 0) {
    throw CUsbDeviceException(
        Format("error %i (%s) during usb_bulk_write\n", result, usb_strerror()));
  }
  if (result != length) {
    // A short write would otherwise be answered with data done as if whole.
    throw CUsbDeviceException(
        Format("error %i (short write of %i bytes) during usb_bulk_write\n", result, length));
  }
}

void CDeviceServer::CloseUnit() {
  if (usb_release_interface(m_usbHandle.Get(), 0) != 0) {
    throw CUsbDeviceException(Format("Could not release interface (%s)", usb_strerror()));
  }
  m_usbHandle.Reset();
}

void CDeviceServer::CloseSharedMemory() {
  m_sharedMem.Unmap();
  m_sharedBlock = nullptr;
  m_sharedMem.Close();
  m_dataReadyEvent.Close();
  m_dataDoneEvent.Close();
}

}  // namespace vorn
