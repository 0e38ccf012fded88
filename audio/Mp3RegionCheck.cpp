#include "audio/Mp3RegionCheck.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <array>

#include "audio/FfmpegError.h"
#include "audio/Mp3Frames.h"

namespace vorn {
namespace {

constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kUnpaddedFrameSize = 417;

}  // namespace

// One MP3 decoder, fed one whole frame per packet: a bad frame then fails its
// own packet instead of being skipped silently inside a larger one.
struct CMp3RegionCheck::Decoder {
  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  // The decoder may read a little past a packet's end.
  std::array<std::uint8_t, kUnpaddedFrameSize + 1 + AV_INPUT_BUFFER_PADDING_SIZE> buffer{};

  Decoder() {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
    if (codec == nullptr) ThrowDecoderError("No MP3 decoder");
    context = avcodec_alloc_context3(codec);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (context == nullptr || packet == nullptr || frame == nullptr) {
      Release();
      ThrowDecoderError("Out of memory for the MP3 decoder");
    }
    // Damage the decoder would conceal (a frame that reads past its data) is
    // what the check looks for, so it counts as an error here.
    context->err_recognition |= AV_EF_EXPLODE | AV_EF_BUFFER | AV_EF_BITSTREAM;
    const int opened = avcodec_open2(context, codec, nullptr);
    if (opened < 0) {
      Release();
      CheckResult(opened, "Opening the MP3 decoder");
    }
  }
  ~Decoder() { Release(); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  void Release() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
  }

  // True when the frame decodes without an error.
  bool Decode(const std::uint8_t* data, std::size_t size) {
    std::copy(data, data + size, buffer.begin());
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(size), buffer.end(), 0);
    av_packet_unref(packet);
    packet->data = buffer.data();
    packet->size = static_cast<int>(size);
    bool good = avcodec_send_packet(context, packet) >= 0;
    for (;;) {
      const int received = avcodec_receive_frame(context, frame);
      if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) break;
      if (received < 0) {
        good = false;
        break;
      }
      if (frame->decode_error_flags != 0) good = false;
      av_frame_unref(frame);
    }
    return good;
  }
};

CMp3RegionCheck::CMp3RegionCheck() : m_decoder(std::make_unique<Decoder>()) {
  m_frame.reserve(kUnpaddedFrameSize + 1);
}

CMp3RegionCheck::~CMp3RegionCheck() = default;

void CMp3RegionCheck::Feed(const std::uint8_t* data, std::size_t size) {
  m_endFinder.Feed(data, size);
  std::size_t at = 0;
  while (m_walking && at < size) {
    if (m_frame.empty()) {
      m_frameStart = m_position + at;
    }
    const std::size_t want = m_frameSize == 0 ? kHeaderSize : m_frameSize;
    const std::size_t take = std::min(want - m_frame.size(), size - at);
    m_frame.insert(m_frame.end(), data + at, data + at + take);
    at += take;
    if (m_frame.size() < want) break;
    if (m_frameSize == 0) {
      if (!IsAcceptedFrameHeader(m_frame.data())) {
        m_walking = false;
        m_badHeader = m_frameStart;
        m_badHeaderFrame = m_frameIndex;
        break;
      }
      m_frameSize = kUnpaddedFrameSize + ((m_frame[2] >> 1) & 1u);
      continue;
    }
    DecodeFrame();
  }
  m_position += size;
}

void CMp3RegionCheck::DecodeFrame() {
  if (!m_decoder->Decode(m_frame.data(), m_frame.size())) {
    ++m_decodeErrors;
    if (!m_firstBadFrame) {
      m_firstBadFrame = m_frameIndex;
      m_firstBadFrameStart = m_frameStart;
    }
  }
  ++m_frameIndex;
  m_frame.clear();
  m_frameSize = 0;
}

Mp3RegionReport CMp3RegionCheck::Finish() {
  Mp3RegionReport report;
  report.dataBytes = m_endFinder.End();
  if (m_badHeader && *m_badHeader < report.dataBytes) {
    report.badHeaderByte = m_badHeader;
    report.badHeaderFrame = m_badHeaderFrame;
  }
  if (m_firstBadFrameStart && *m_firstBadFrameStart < report.dataBytes) {
    report.decodeErrors = m_decodeErrors;
    report.firstBadFrame = m_firstBadFrame;
  }
  return report;
}

}  // namespace vorn
