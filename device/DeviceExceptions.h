#pragma once
// The three error types that carry every failure to the user. They are
// unrelated types (a handler for one never catches another), each holds one
// message, and they are thrown and caught by value.

#include <string>
#include <utility>

namespace vorn {

template <class Tag>
class CMessageException {
 public:
  explicit CMessageException(std::string message) : m_message(std::move(message)) {}
  std::string GetMessage() const { return m_message; }

 private:
  std::string m_message;
};

// Every sector device failure, every server failure, "Too few tracks".
using CUsbDeviceException = CMessageException<struct UsbDeviceTag>;
// A routine file that cannot be opened.
using CDriveAccessException = CMessageException<struct DriveAccessTag>;
// A routine file, its MP3 frames or its conversion failing.
using CFileAccessException = CMessageException<struct FileAccessTag>;

}  // namespace vorn
