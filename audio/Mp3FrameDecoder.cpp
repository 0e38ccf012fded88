#include "audio/Mp3FrameDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <array>

#include "audio/FfmpegError.h"

namespace vorn {
namespace {

constexpr std::size_t kLargestFrame = 418;

std::int16_t FromFloat(float value) {
  const float scaled = std::clamp(value, -1.0F, 1.0F) * 32767.0F;
  return static_cast<std::int16_t>(scaled < 0 ? scaled - 0.5F : scaled + 0.5F);
}

// Appends the frame's samples as interleaved 16-bit stereo; one loop per
// sample format, as this runs for every sample of an hour of audio.
void AppendSamples(const AVFrame& frame, std::vector<std::int16_t>& out) {
  const auto format = static_cast<AVSampleFormat>(frame.format);
  const int channels = frame.ch_layout.nb_channels;
  const int count = frame.nb_samples;
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const int second = channels > 1 ? 1 : 0;
  const std::size_t base = out.size();
  out.resize(base + 2 * static_cast<std::size_t>(count));
  std::int16_t* to = out.data() + base;
  const auto each = [&](auto sampleOf) {
    for (int i = 0; i < count; ++i) {
      to[2 * i] = sampleOf(0, i);
      to[2 * i + 1] = sampleOf(second, i);
    }
  };
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
      if (planar) {
        each([&](int c, int i) { return FromFloat(reinterpret_cast<const float*>(frame.extended_data[c])[i]); });
      } else {
        const auto* data = reinterpret_cast<const float*>(frame.extended_data[0]);
        each([&](int c, int i) { return FromFloat(data[i * channels + c]); });
      }
      return;
    case AV_SAMPLE_FMT_S16:
      if (planar) {
        each([&](int c, int i) { return reinterpret_cast<const std::int16_t*>(frame.extended_data[c])[i]; });
      } else {
        const auto* data = reinterpret_cast<const std::int16_t*>(frame.extended_data[0]);
        each([&](int c, int i) { return data[i * channels + c]; });
      }
      return;
    default:
      std::fill(to, to + 2 * count, std::int16_t{0});  // the MP3 decoders give none of the others
  }
}

}  // namespace

struct CMp3FrameDecoder::Codec {
  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  // The decoder may read a little past a packet's end.
  std::array<std::uint8_t, kLargestFrame + AV_INPUT_BUFFER_PADDING_SIZE> buffer{};

  ~Codec() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
  }
};

CMp3FrameDecoder::CMp3FrameDecoder(bool strict) : m_codec(std::make_unique<Codec>()) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
  if (codec == nullptr) ThrowDecoderError("No MP3 decoder");
  m_codec->context = avcodec_alloc_context3(codec);
  m_codec->packet = av_packet_alloc();
  m_codec->frame = av_frame_alloc();
  if (m_codec->context == nullptr || m_codec->packet == nullptr || m_codec->frame == nullptr) {
    ThrowDecoderError("Out of memory for the MP3 decoder");
  }
  if (strict) m_codec->context->err_recognition |= AV_EF_EXPLODE | AV_EF_BUFFER | AV_EF_BITSTREAM;
  CheckResult(avcodec_open2(m_codec->context, codec, nullptr), "Opening the MP3 decoder");
}

CMp3FrameDecoder::~CMp3FrameDecoder() = default;

void CMp3FrameDecoder::Flush() { avcodec_flush_buffers(m_codec->context); }

bool CMp3FrameDecoder::Decode(const std::uint8_t* data, std::size_t size, std::vector<std::int16_t>* samples) {
  Codec& c = *m_codec;
  size = std::min(size, kLargestFrame);
  std::copy(data, data + size, c.buffer.begin());
  std::fill(c.buffer.begin() + static_cast<std::ptrdiff_t>(size), c.buffer.end(), 0);
  av_packet_unref(c.packet);
  c.packet->data = c.buffer.data();
  c.packet->size = static_cast<int>(size);
  if (samples != nullptr) samples->clear();
  bool good = avcodec_send_packet(c.context, c.packet) >= 0;
  for (;;) {
    const int received = avcodec_receive_frame(c.context, c.frame);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
    if (received < 0) {
      good = false;
      break;
    }
    if (c.frame->decode_error_flags != 0) good = false;
    if (samples != nullptr && c.frame->ch_layout.nb_channels > 0) AppendSamples(*c.frame, *samples);
    av_frame_unref(c.frame);
  }
  return good;
}

}  // namespace vorn
