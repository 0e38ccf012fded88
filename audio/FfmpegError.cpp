#include "audio/FfmpegError.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cstdio>

namespace vorn {

std::string FfmpegErrorText(int result) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(result, text, sizeof text) < 0) {
    std::snprintf(text, sizeof text, "Unknown Error: 0x%2x", static_cast<unsigned>(result));
  }
  return text;
}

void ThrowDecoderError(const std::string& text) {
  throw CFileAccessException(text, kDecoderErrorCaption, MessageIcon::kError);
}

void CheckResult(int result, const std::string& label) {
  if (result < 0) ThrowDecoderError(label + ": " + FfmpegErrorText(result));
}

}  // namespace vorn
