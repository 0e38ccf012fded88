#include "server/DeviceServer.h"

#include <usb.h>

#include <array>
#include <cstdio>
#include <utility>

#include "device/BaudRate.h"
#include "device/DeviceExceptions.h"
#include "device/UsbProtocol.h"
#include "device/UsbUnit.h"
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

// The editor cut an event object short while the server held it: its word
// can no longer be read or written without killing the process.
constexpr const char* kEventLostMessage = "an event object was cut short by its creator";

}  // namespace

CDeviceServer::CDeviceServer(ServerOptions options)
    : m_options(std::move(options)), m_names(LiveObjectNamesFor(m_options.unitName)) {}

const std::string& CDeviceServer::Name() const { return m_options.unitName; }

int CDeviceServer::Run() {
  CNamedEvent quitEvent;
  try {
    OpenSharedMemory();
    if (!quitEvent.Open(m_names.quit)) {
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
      if (which == kWaitObjectLost) throw CUsbDeviceException(kEventLostMessage);
      if (which != 1) break;  // quit, or a failed wait
      SendBlock();
      if (!ResetThenSet(m_dataReadyEvent, m_dataDoneEvent)) {
        throw CUsbDeviceException(kEventLostMessage);
      }
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
  if (!m_sharedMem.Open(m_names.sharedMem)) {
    ReportOpenFailure(m_sharedMem.Failure());
    throw CUsbDeviceException("Could not create file-mapping object.");
  }
  if (!m_sharedMem.Map()) {
    ReportOpenFailure(m_sharedMem.Failure());
    throw CUsbDeviceException("Could not map view of file.");
  }
  m_sharedBlock = m_sharedMem.Data();
  if (!m_dataReadyEvent.Open(m_names.dataReady)) {
    ReportOpenFailure(m_dataReadyEvent.Failure());
    throw CUsbDeviceException("could not open m_dataReadyEvent");
  }
  if (!m_dataDoneEvent.Open(m_names.dataDone)) {
    ReportOpenFailure(m_dataDoneEvent.Failure());
    throw CUsbDeviceException("could not open m_dataDoneEvent");
  }
}

void CDeviceServer::OpenUnit() {
  m_usbDevice = FindUnitByName(Name());
  if (m_usbDevice == nullptr) throw CUsbDeviceException("COULD NOT FIND DEVICE");

  m_usbHandle.Reset(usb_open(m_usbDevice));
  if (!m_usbHandle) throw CUsbDeviceException("Unable to open device");

  // The live output sits on the unit's second configuration, one OUT endpoint.
  const UnitInterface claimed = ClaimUnitInterface(m_usbHandle.Get(), *m_usbDevice, 1, 1);
  m_config = claimed.config;
  m_interface = claimed.interface;
  m_endpoints = claimed.endpoints;
}

void CDeviceServer::SetBaudRate() {
  const std::optional<std::uint8_t> code = BaudCodeForRate(m_options.baudRate);
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
  if (!readyEvent.Open(m_names.ready)) {
    ReportOpenFailure(readyEvent.Failure());
    ShowMessageBox("could not open readyEvent");
    return;
  }
  readyEvent.Set();
}

void CDeviceServer::SendBlock() {
  // The length word is the editor's; a wrong one must not make us read beyond
  // the block (and send whatever lies behind it to the unit). The object's size
  // is asked anew for every block: its creator may have cut it short since we
  // mapped it, and a read past its end would kill the process.
  const std::size_t readable = m_sharedMem.ReadableSize();
  const BlockShape shape = InspectBlock(m_sharedBlock, readable);
  if (!shape.sendable) {
    throw CUsbDeviceException(Format("Invalid block length %i (%i bytes to send, the block holds %zu)",
                                     shape.payload, shape.length, readable));
  }
  const int length = shape.length;
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
