#pragma once
// The three error types that carry every failure to the user. They share the
// one error base (platform/Error.h), so a caller that only reports needs one
// catch; a handler for one of them still never catches another.

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "platform/Cancel.h"
#include "platform/Error.h"

namespace vorn {

template <class Tag>
class CMessageException : public CVornError {
 public:
  using CVornError::CVornError;
};

// Every sector device failure, every server failure, "Too few tracks".
using CUsbDeviceException = CMessageException<struct UsbDeviceTag>;
// A routine file that cannot be opened.
using CDriveAccessException = CMessageException<struct DriveAccessTag>;
// A routine file, its MP3 frames or its conversion failing.
using CFileAccessException = CMessageException<struct FileAccessTag>;

// Runs `step` and gives the message of the failure that ended it: a CVornError,
// or anything else derived from std::exception (a temporary
// file that cannot be made, memory), which is reported the same way rather than
// ending the program with a disk half written. nullopt when the step completed.
// Every place that shows failures to a user (a message box, a line on stderr)
// catches through here, so none of them misses a type.
template <class Step>
std::optional<std::string> FailureOf(Step&& step) {
  try {
    std::forward<Step>(step)();
    return std::nullopt;
  } catch (const CCancelled&) {
    throw;  // a cancelled action is no failure: its caller decides what to say
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
}

}  // namespace vorn
