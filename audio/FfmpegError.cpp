#include "audio/FfmpegError.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cstdio>

#include "platform/MessageBox.h"

namespace vorn {

std::string FfmpegErrorText(int result) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  if (av_strerror(result, text, sizeof text) < 0) {
    std::snprintf(text, sizeof text, "Unknown Error: 0x%2x", static_cast<unsigned>(result));
  }
  return text;
}

bool CheckResult(int result, const std::string& label) {
  if (result >= 0) return true;
  ShowMessageBox(label + ": " + FfmpegErrorText(result), kDecoderErrorCaption, MessageIcon::kError);
  return false;
}

}  // namespace vorn
