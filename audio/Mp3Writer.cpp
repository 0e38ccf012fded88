#include "audio/Mp3Writer.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstring>

#include "platform/MessageBox.h"

namespace vorn {
namespace {

constexpr int kChannels = 2;
constexpr int kSampleRate = 44100;
constexpr int kBitrate = 128;
// lame's own bound for one call's output: 1.25 * samples per channel + 7200.
constexpr int kMp3BufferSize = 5 * (CMp3Writer::kChunkSamples / kChannels) / 4 + 7200;
// Frames packed per Write when WritePlanar interleaves its two lists.
constexpr int kPackFrames = 1024;

void ShowError(const char* text) { ShowMessageBox(text, kAppName, MessageIcon::kError); }

void ShowEncoderMissing() {
  ShowMessageBox(
      "The MP3 encoder library \"libmp3lame\" is required to create this MP3 file.\n"
      "Please install it (Debian package libmp3lame0) and try again.",
      "Unable to encode MP3", MessageIcon::kError);
}

}  // namespace

void CMp3Writer::LameCloser::operator()(lame_global_struct* flags) const { lame_close(flags); }

bool CMp3Writer::Open(const std::string& path) {
  StopEncoder();
  m_output.reset();
  m_path = path;
  std::FILE* stream = std::fopen(path.c_str(), "wb+");
  if (stream == nullptr) {
    ShowError("Error creating file\n");
    return false;
  }
  return StartEncoder(stream);
}

bool CMp3Writer::StartEncoder(std::FILE* stream) {
  if (stream == nullptr) return false;
  m_output.reset(stream);

  m_encoder.reset(lame_init());
  if (!m_encoder) {
    ShowEncoderMissing();
    return false;
  }
  if (!ConfigureEncoder()) {
    ShowError("Error opening encoding stream");
    m_encoder.reset();
    return false;
  }
  if (lame_init_params(m_encoder.get()) < 0) {
    ShowEncoderMissing();
    m_encoder.reset();
    return false;
  }
  // The unit plays one kind only; an encoder that chose another is of no use.
  if (lame_get_version(m_encoder.get()) != 1 || lame_get_out_samplerate(m_encoder.get()) != kSampleRate ||
      lame_get_brate(m_encoder.get()) != kBitrate || lame_get_VBR(m_encoder.get()) != vbr_off) {
    ShowError("Error opening encoding stream");
    m_encoder.reset();
    return false;
  }

  m_mp3BufferSize = kMp3BufferSize;
  m_mp3Buffer = std::make_unique<unsigned char[]>(static_cast<std::size_t>(m_mp3BufferSize));
  m_pcmBuffer = std::make_unique<std::int16_t[]>(kChunkSamples);
  m_freeSamples = kChunkSamples;
  return true;
}

bool CMp3Writer::ConfigureEncoder() {
  lame_global_flags* flags = m_encoder.get();
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

bool CMp3Writer::EncodeChunk(int samples) {
  const int bytes = lame_encode_buffer_interleaved(m_encoder.get(), m_pcmBuffer.get(),
                                                   samples / kChannels, m_mp3Buffer.get(),
                                                   m_mp3BufferSize);
  if (bytes < 0) {
    ShowError("beEncodeChunk() failed");
    return false;
  }
  if (!WriteOutput(static_cast<std::size_t>(bytes))) {
    ShowError("fwrite error");
    return false;
  }
  return true;
}

bool CMp3Writer::WriteOutput(std::size_t bytes) {
  return bytes == 0 || std::fwrite(m_mp3Buffer.get(), 1, bytes, m_output.get()) == bytes;
}

bool CMp3Writer::Write(const std::int32_t* frames, int count) {
  if (count <= 0) return true;
  if (!m_encoder || frames == nullptr) return false;
  // Each 32-bit word holds two 16-bit samples in stream order.
  std::size_t remaining = static_cast<std::size_t>(count) * kChannels;
  const auto* source = reinterpret_cast<const std::int16_t*>(frames);
  while (remaining > 0) {
    const std::size_t take = std::min(static_cast<std::size_t>(m_freeSamples), remaining);
    std::memcpy(m_pcmBuffer.get() + (kChunkSamples - m_freeSamples), source,
                take * sizeof(std::int16_t));
    m_freeSamples -= static_cast<int>(take);
    if (m_freeSamples == 0) {
      if (!EncodeChunk(kChunkSamples)) return false;
      m_freeSamples = kChunkSamples;
    }
    remaining -= take;
    source += take;
  }
  return true;
}

bool CMp3Writer::WritePlanar(const std::int32_t* first, const std::int32_t* second, int count,
                             int /*reserved1*/, int /*reserved2*/) {
  std::int16_t packed[kPackFrames * kChannels];
  for (int done = 0; done < count;) {
    const int frames = std::min(kPackFrames, count - done);
    for (int i = 0; i < frames; ++i) {
      packed[2 * i] = static_cast<std::int16_t>(first ? first[done + i] : 0);
      packed[2 * i + 1] = static_cast<std::int16_t>(second ? second[done + i] : 0);
    }
    std::int32_t words[kPackFrames];
    std::memcpy(words, packed, sizeof(std::int32_t) * static_cast<std::size_t>(frames));
    if (!Write(words, frames)) return false;
    done += frames;
  }
  return true;
}

bool CMp3Writer::Close() {
  if (!m_encoder) return false;
  if (m_freeSamples < kChunkSamples && !EncodeChunk(kChunkSamples - m_freeSamples)) {
    ShowError("error in Close");
    return false;
  }
  const int flushed = lame_encode_flush(m_encoder.get(), m_mp3Buffer.get(), m_mp3BufferSize);
  if (flushed < 0) {
    // lame's codes are negative; the box shows their magnitude.
    char text[64];
    std::snprintf(text, sizeof text, "beExitStream failed (%lu)",
                  static_cast<unsigned long>(-static_cast<long>(flushed)));
    StopEncoder();
    ShowError(text);
    return false;
  }
  if (!WriteOutput(static_cast<std::size_t>(flushed))) {
    ShowError("Output file write error");
    StopEncoder();
    return false;
  }
  StopEncoder();
  // stdio may still hold the last bytes: a failing close means a short file.
  if (std::fclose(m_output.release()) != 0) {
    ShowError("Output file write error");
    return false;
  }
  return true;
}

void CMp3Writer::StopEncoder() {
  m_encoder.reset();
  m_mp3Buffer.reset();
  m_pcmBuffer.reset();
  m_freeSamples = 0;
}

}  // namespace vorn
