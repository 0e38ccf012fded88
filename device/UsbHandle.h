#pragma once
// Owns one open libusb 0.1 device handle; usb_close on every path.

#include <usb.h>

#include <utility>

namespace vorn {

class CUsbHandle {
 public:
  CUsbHandle() = default;
  explicit CUsbHandle(usb_dev_handle* handle) : m_handle(handle) {}
  CUsbHandle(CUsbHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
  CUsbHandle& operator=(CUsbHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_handle, nullptr));
    return *this;
  }
  CUsbHandle(const CUsbHandle&) = delete;
  CUsbHandle& operator=(const CUsbHandle&) = delete;
  ~CUsbHandle() { Reset(); }

  usb_dev_handle* Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }
  void Reset(usb_dev_handle* handle = nullptr) {
    if (m_handle != nullptr) usb_close(m_handle);
    m_handle = handle;
  }

 private:
  usb_dev_handle* m_handle = nullptr;
};

}  // namespace vorn
