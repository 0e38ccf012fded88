#pragma once
// Whether a file offered as a disk image plainly is something else: a sound
// file or a routine file named by mistake would be formatted over, and the
// user's file lost. vorn3ctl refuses such a file unless forced; the window
// does not open it.

#include <optional>
#include <string>

#include "device/ImageDevice.h"

namespace vorn {

// Why the open `image` cannot be a disk image ("its size is not a whole number
// of 512-byte sectors", "it starts like a WAV (RIFF) file"), or nothing.
std::optional<std::string> WhyNotADiskImage(CImageDevice& image);

}  // namespace vorn
