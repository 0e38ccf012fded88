#pragma once
// A failed FFmpeg step is raised the way every decoding step's failure is: one
// error, caption kDecoderErrorCaption, text "<label>: <FFmpeg's text for the
// code>". Whoever runs the conversion shows it.

#include <string>

#include "device/DeviceExceptions.h"

namespace vorn {

// The caption users and their help texts know from the program's decoding
// errors, whatever library decodes underneath.
inline constexpr const char* kDecoderErrorCaption = "CDirectXUtils Error!";

// A decoding failure, with the decoder's caption.
[[noreturn]] void ThrowDecoderError(const std::string& text);
// Throws the decoder's error when result is a negative FFmpeg error code.
void CheckResult(int result, const std::string& label);
// The text FFmpeg gives for an error code ("Unknown Error: 0x.." when it has none).
std::string FfmpegErrorText(int result);

}  // namespace vorn
