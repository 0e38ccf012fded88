#include "platform/DirectXProbe.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace vorn {
namespace {

// A decoder counts only if it can actually be opened, not merely looked up:
// a stripped FFmpeg build may register a codec id without a working decoder.
bool DecoderOpens(AVCodecID id, int sampleRate, int channels) {
  const AVCodec* codec = avcodec_find_decoder(id);
  if (!codec) return false;
  AVCodecContext* context = avcodec_alloc_context3(codec);
  if (!context) return false;
  context->sample_rate = sampleRate;
  av_channel_layout_default(&context->ch_layout, channels);
  if (id == AV_CODEC_ID_PCM_S16LE) context->sample_fmt = AV_SAMPLE_FMT_S16;
  bool opened = avcodec_open2(context, codec, nullptr) == 0;
  avcodec_free_context(&context);
  return opened;
}

bool ForcedMissingForTests() {
  const char* value = std::getenv(kForceNoDecoderEnv);
  return value && *value;
}

}  // namespace

std::uint32_t PackDirectXVersion(std::uint32_t major, std::uint32_t minor, char letter) {
  unsigned char c = static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(letter)));
  std::uint32_t n = (c >= 'a' && c <= 'z') ? static_cast<std::uint32_t>(c - 'a' + 1) : 0;
  return major * 65536u + minor * 256u + n;
}

void FormatDirectXVersion(std::uint32_t major, std::uint32_t minor, char letter, char* text,
                          std::size_t textSize) {
  if (!text || textSize == 0) return;
  char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
  if (lower == ' ')
    std::snprintf(text, textSize, "%u.%u", major, minor);
  else
    std::snprintf(text, textSize, "%u.%u%c", major, minor, lower);
  text[textSize - 1] = '\0';
}

bool DecoderBackEndAvailable() {
  if (ForcedMissingForTests()) return false;
  return av_find_input_format("wav") && av_find_input_format("mp3") &&
         DecoderOpens(AV_CODEC_ID_PCM_S16LE, 44100, 2) && DecoderOpens(AV_CODEC_ID_MP3, 44100, 2);
}

bool ProbeDirectXVersion(std::uint32_t* packedVersion, char* text, std::size_t textSize) {
  if (packedVersion) *packedVersion = 0;
  if (text && textSize > 0) text[0] = '\0';
  if (!DecoderBackEndAvailable()) return false;

  const std::uint32_t major = 9, minor = 0;
  const char letter = ' ';
  if (packedVersion) *packedVersion = PackDirectXVersion(major, minor, letter);
  FormatDirectXVersion(major, minor, letter, text, textSize);
  return true;
}

}  // namespace vorn
