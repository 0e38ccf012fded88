#include "audio/LameEncoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <iterator>

#include "device/DeviceExceptions.h"

namespace vorn {
namespace {

constexpr int kChannels = 2;
constexpr int kSampleRate = 44100;
constexpr int kBitrate = 128;

bool Configure(lame_global_flags* flags) {
  // Each setter reports a refused value as a negative result.
  const int results[] = {
      lame_set_in_samplerate(flags, kSampleRate),
      lame_set_num_channels(flags, kChannels),
      lame_set_out_samplerate(flags, kSampleRate),  // 44,100 Hz out: MPEG-1
      lame_set_mode(flags, JOINT_STEREO),
      lame_set_VBR(flags, vbr_off),
      lame_set_brate(flags, kBitrate),
      lame_set_quality(flags, 2),  // the high-quality preset
      lame_set_original(flags, 1),
      lame_set_copyright(flags, 0),
      lame_set_extension(flags, 0),  // private bit
      lame_set_error_protection(flags, 0),  // no CRC
      lame_set_emphasis(flags, 0),
      lame_set_disable_reservoir(flags, 1),  // every frame stands alone
      lame_set_strict_ISO(flags, 0),
      lame_set_bWriteVbrTag(flags, 0),  // no Info frame ahead of the audio
      lame_set_findReplayGain(flags, 0),
  };
  // No ID3 tag either: none is asked for, and automatic tags are switched off.
  lame_set_write_id3tag_automatic(flags, 0);
  return std::all_of(std::begin(results), std::end(results), [](int r) { return r >= 0; });
}

}  // namespace

CLameEncoder::~CLameEncoder() { Stop(); }

void CLameEncoder::Stop() {
  if (m_flags != nullptr) lame_close(m_flags);
  m_flags = nullptr;
}

CLameEncoder::StartResult CLameEncoder::Start() {
  Stop();
  m_flags = lame_init();
  if (m_flags == nullptr) return StartResult::kUnavailable;
  if (!Configure(m_flags)) {
    Stop();
    return StartResult::kRefused;
  }
  if (lame_init_params(m_flags) < 0) {
    Stop();
    return StartResult::kUnavailable;
  }
  // The unit plays one kind only; an encoder that chose another is of no use.
  if (lame_get_version(m_flags) != 1 || lame_get_out_samplerate(m_flags) != kSampleRate ||
      lame_get_brate(m_flags) != kBitrate || lame_get_VBR(m_flags) != vbr_off) {
    Stop();
    return StartResult::kRefused;
  }
  return StartResult::kReady;
}

int CLameEncoder::Encode(const std::int16_t* interleaved, int frames, std::uint8_t* out,
                         int outSize) {
  if (m_flags == nullptr) return -1;
  // lame takes a non-const pointer but only reads the samples.
  return lame_encode_buffer_interleaved(m_flags, const_cast<std::int16_t*>(interleaved), frames,
                                        out, outSize);
}

int CLameEncoder::Flush(std::uint8_t* out, int outSize) {
  if (m_flags == nullptr) return -1;
  return lame_encode_flush(m_flags, out, outSize);
}

void ThrowEncoderUnavailable() {
  throw CFileAccessException(
      "The MP3 encoder library \"libmp3lame\" is required to create this MP3 file.\n"
      "Please install it (Debian package libmp3lame0) and try again.",
      "Unable to encode MP3", MessageIcon::kError);
}

}  // namespace vorn
