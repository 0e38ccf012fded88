#pragma once
// Reports a failed FFmpeg step the way every decoding step does: one error box,
// caption kDecoderErrorCaption, text "<label>: <FFmpeg's text for the code>".

#include <string>

namespace vorn {

// The caption users and their help texts know from the program's decoding
// errors, whatever library decodes underneath.
inline constexpr const char* kDecoderErrorCaption = "CDirectXUtils Error!";

// Shows the box when result is a negative FFmpeg error code; true when it is not.
bool CheckResult(int result, const std::string& label);
// The text FFmpeg gives for an error code ("Unknown Error: 0x.." when it has none).
std::string FfmpegErrorText(int result);

}  // namespace vorn
