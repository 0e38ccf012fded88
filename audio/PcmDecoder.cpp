#include "audio/PcmDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/FfmpegError.h"
#include "platform/RegularFile.h"

namespace vorn {
namespace {

// 256 KiB per write to the PCM file.
constexpr int kBlockFrames = 65536;
// Room made for each call that drains the resampler.
constexpr int kDrainFrames = 4096;
// The demuxers read the input through a buffer of this size.
constexpr int kInputBufferBytes = 65536;

struct FormatCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct ResamplerFreer {
  void operator()(SwrContext* context) const { swr_free(&context); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFreer {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct IoFreer {
  void operator()(AVIOContext* io) const {
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using IoPtr = std::unique_ptr<AVIOContext, IoFreer>;

// The input file as the demuxers see it: our own descriptor of a regular file
// (so no protocol is involved in reading it), read and sought through these
// callbacks, each of which first looks whether the decoding is to end.
class CInput {
 public:
  explicit CInput(const DecodeLimits& limits)
      : m_cancel(limits.cancel), m_deadline(std::chrono::steady_clock::now() + limits.timeLimit) {}

  CUniqueFd fd;

  bool Cancelled() const { return m_cancel != nullptr && m_cancel->IsCancelled(); }
  bool TimeIsUp() const { return std::chrono::steady_clock::now() >= m_deadline; }
  bool Interrupted() const { return Cancelled() || TimeIsUp(); }

  static int Read(void* opaque, std::uint8_t* buffer, int size) {
    auto* input = static_cast<CInput*>(opaque);
    if (input->Interrupted()) return AVERROR_EXIT;
    ssize_t got = 0;
    do {
      got = ::read(input->fd.Get(), buffer, static_cast<std::size_t>(size));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return AVERROR(errno);
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
  }

  static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
    auto* input = static_cast<CInput*>(opaque);
    if (input->Interrupted()) return AVERROR_EXIT;
    if (whence & AVSEEK_SIZE) {
      struct stat st {};
      return ::fstat(input->fd.Get(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t position = ::lseek(input->fd.Get(), static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : static_cast<std::int64_t>(position);
  }

  // FFmpeg's own blocking calls (any file a demuxer would open) ask here.
  static int Interrupt(void* opaque) { return static_cast<CInput*>(opaque)->Interrupted() ? 1 : 0; }

 private:
  const CCancelFlag* m_cancel;
  std::chrono::steady_clock::time_point m_deadline;
};

// The input format a resampler was made for; a change in mid-stream (chained
// Ogg streams, for one) needs a new resampler.
struct InputFormat {
  int sampleFormat = -1;
  int sampleRate = 0;
  AVChannelLayout layout{};

  bool Matches(const AVFrame& frame) const {
    return frame.format == sampleFormat && frame.sample_rate == sampleRate &&
           av_channel_layout_compare(&frame.ch_layout, &layout) == 0;
  }
};

class CPcmDecoder {
 public:
  CPcmDecoder(CPcmTempFile& pcm, const DecodeLimits& limits)
      : m_pcm(pcm),
        m_input(limits),
        m_lengthKnown(limits.lengthKnown),
        m_block(kBlockFrames * kPcmFrameBytes) {}
  CPcmDecoder(const CPcmDecoder&) = delete;
  CPcmDecoder& operator=(const CPcmDecoder&) = delete;
  ~CPcmDecoder() { av_channel_layout_uninit(&m_inputFormat.layout); }

  void Run(const std::string& path);

 private:
  void OpenInput(const std::string& path);
  void TellLength() const;
  // CheckResult, except that a step ended by the cancel flag throws
  // CCancelled and one ended by the deadline says so.
  void Check(int result, const std::string& label) const;
  void Decode(const AVPacket* packet);  // null drains the decoder
  void Resample(const AVFrame* frame);  // null drains the resampler
  void Convert(const std::uint8_t* const* input, int inputFrames);
  void MakeResampler(const AVFrame& frame);
  void MakeRoom(int frames);
  void WriteBlock();
  int Room() const { return static_cast<int>(m_block.size() / kPcmFrameBytes) - m_blockFrames; }

  CPcmTempFile& m_pcm;
  CInput m_input;
  const std::function<void(std::uint64_t)>& m_lengthKnown;
  IoPtr m_io;  // outlives m_format, which reads through it
  FormatPtr m_format;
  CodecPtr m_codec;
  ResamplerPtr m_resampler;
  InputFormat m_inputFormat;
  int m_streamIndex = -1;
  int m_refusedPacket = 0;  // the decoder's error for a damaged packet, 0 when none
  std::string m_refusedLabel;
  std::vector<std::uint8_t> m_block;  // converted frames waiting to be written
  int m_blockFrames = 0;
};

void CPcmDecoder::Run(const std::string& path) {
  OpenInput(path);
  TellLength();

  PacketPtr packet(av_packet_alloc());
  CheckResult(packet ? 0 : AVERROR(ENOMEM), "av_packet_alloc");
  int result = 0;
  while ((result = av_read_frame(m_format.get(), packet.get())) >= 0) {
    if (m_input.Cancelled()) throw CCancelled();
    // An empty packet would read as "end of stream" to the decoder.
    if (packet->stream_index == m_streamIndex && packet->size > 0) {
      // A packet the decoder refused fails the decoding once audio follows it.
      CheckResult(m_refusedPacket, m_refusedLabel);
      Decode(packet.get());
    }
    av_packet_unref(packet.get());
  }
  if (result != AVERROR_EOF) Check(result, "av_read_frame");
  // Demuxers may take a failed read for the end of the input: an interrupted
  // or failed read must not pass for audio that was whole.
  if (m_input.Interrupted()) Check(AVERROR_EXIT, "av_read_frame");
  if (m_io->error < 0) Check(m_io->error, "av_read_frame");
  // A refused last packet is the unfinished end of a file cut short (a WAV cut
  // inside a frame, a FLAC cut inside its last frame): what came before it is
  // whole, so the decoding keeps it, as it does for formats whose parsers drop
  // such a tail themselves.

  Decode(nullptr);
  Resample(nullptr);
  WriteBlock();
}

// The length the container states, in output frames: exact where the stream
// or its header counts the samples (WAV, FLAC, most others), left untold where
// the demuxer only guessed it from the bit rate, which can be far off.
void CPcmDecoder::TellLength() const {
  if (!m_lengthKnown) return;
  const AVFormatContext* format = m_format.get();
  if (format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return;
  const AVStream* stream = format->streams[m_streamIndex];
  std::int64_t frames = -1;
  if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
    frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, kPcmSampleRate});
  } else if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
    frames = av_rescale(format->duration, kPcmSampleRate, AV_TIME_BASE);
  }
  if (frames > 0) m_lengthKnown(static_cast<std::uint64_t>(frames));
}

void CPcmDecoder::Check(int result, const std::string& label) const {
  if (result >= 0) return;
  if (m_input.Cancelled()) throw CCancelled();
  if (result == AVERROR_EXIT && m_input.TimeIsUp()) {
    ThrowDecoderError(label + ": the audio did not end within the time a decoding may take");
  }
  CheckResult(result, label);
}

void CPcmDecoder::OpenInput(const std::string& path) {
  RegularFile opened = OpenRegularFile(path);
  if (!opened.fd.IsValid()) ThrowDecoderError("avformat_open_input: " + opened.Reason());
  m_input.fd = std::move(opened.fd);

  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kInputBufferBytes));
  CheckResult(buffer ? 0 : AVERROR(ENOMEM), "av_malloc");
  m_io.reset(avio_alloc_context(buffer, kInputBufferBytes, 0, &m_input, &CInput::Read, nullptr,
                                &CInput::Seek));
  if (!m_io) av_free(buffer);
  CheckResult(m_io ? 0 : AVERROR(ENOMEM), "avio_alloc_context");

  // Probe first, to name a refused format in the message rather than let the
  // open fail with a bare "Invalid argument".
  const AVInputFormat* probed = nullptr;
  Check(av_probe_input_buffer2(m_io.get(), &probed, path.c_str(), nullptr, 0, 0),
        "avformat_open_input");
  if (av_match_list(probed->name, kAudioDemuxers, ',') <= 0) {
    ThrowDecoderError(std::string("avformat_open_input: the input is not audio the program reads (") +
                      probed->name + ")");
  }

  AVFormatContext* format = avformat_alloc_context();
  CheckResult(format ? 0 : AVERROR(ENOMEM), "avformat_alloc_context");
  format->pb = m_io.get();
  format->interrupt_callback = {&CInput::Interrupt, &m_input};
  // The whitelists hold for every file the demuxer would open itself, too.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "format_whitelist", kAudioDemuxers, 0);
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  const int result = avformat_open_input(&format, path.c_str(), probed, &options);
  av_dict_free(&options);
  Check(result, "avformat_open_input");  // on failure it freed the context
  m_format.reset(format);
  Check(avformat_find_stream_info(format, nullptr), "avformat_find_stream_info");
  const AVCodec* decoder = nullptr;
  m_streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  CheckResult(m_streamIndex, "av_find_best_stream");

  m_codec.reset(avcodec_alloc_context3(decoder));
  CheckResult(m_codec ? 0 : AVERROR(ENOMEM), "avcodec_alloc_context3");
  CheckResult(avcodec_parameters_to_context(m_codec.get(), format->streams[m_streamIndex]->codecpar),
              "avcodec_parameters_to_context");
  CheckResult(avcodec_open2(m_codec.get(), decoder, nullptr), "avcodec_open2");
}

void CPcmDecoder::Decode(const AVPacket* packet) {
  const int sent = avcodec_send_packet(m_codec.get(), packet);
  if (sent == AVERROR_INVALIDDATA && packet != nullptr) {
    m_refusedPacket = sent;
    m_refusedLabel = "avcodec_send_packet";
    return;
  }
  CheckResult(sent, "avcodec_send_packet");
  FramePtr frame(av_frame_alloc());
  CheckResult(frame ? 0 : AVERROR(ENOMEM), "av_frame_alloc");
  for (;;) {
    const int result = avcodec_receive_frame(m_codec.get(), frame.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
    if (result == AVERROR_INVALIDDATA && packet != nullptr) {
      m_refusedPacket = result;
      m_refusedLabel = "avcodec_receive_frame";
      return;
    }
    CheckResult(result, "avcodec_receive_frame");
    Resample(frame.get());
    av_frame_unref(frame.get());
  }
}

void CPcmDecoder::Resample(const AVFrame* frame) {
  if (frame == nullptr) {
    if (!m_resampler) return;  // nothing was decoded
    // Empty the resampler's filter tail: null input means "end of stream".
    for (;;) {
      MakeRoom(kDrainFrames);
      const int before = m_blockFrames;
      Convert(nullptr, 0);
      if (m_blockFrames == before) return;
    }
  }
  if (frame->nb_samples <= 0) return;
  if (!m_resampler || !m_inputFormat.Matches(*frame)) {
    Resample(nullptr);
    MakeResampler(*frame);
  }
  // The frame goes in in pieces whose output fits an empty block: a low input
  // rate (a 1 Hz WAV makes 44,100 frames of each sample) would otherwise ask
  // for an output buffer as large as the frame's whole output at once.
  const auto format = static_cast<AVSampleFormat>(frame->format);
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const int channels = frame->ch_layout.nb_channels;
  const std::size_t stride = static_cast<std::size_t>(av_get_bytes_per_sample(format)) *
                             static_cast<std::size_t>(planar ? 1 : channels);
  const int piece = static_cast<int>(std::clamp<std::int64_t>(
      static_cast<std::int64_t>(kBlockFrames / 2) * frame->sample_rate / kPcmSampleRate, 1,
      kBlockFrames));
  std::vector<const std::uint8_t*> planes(planar ? static_cast<std::size_t>(channels) : 1);
  for (int done = 0; done < frame->nb_samples;) {
    const int count = std::min(piece, frame->nb_samples - done);
    for (std::size_t p = 0; p < planes.size(); ++p) {
      planes[p] = frame->extended_data[p] + static_cast<std::size_t>(done) * stride;
    }
    const int bound = swr_get_out_samples(m_resampler.get(), count);
    CheckResult(bound, "swr_get_out_samples");
    MakeRoom(bound);
    Convert(planes.data(), count);
    done += count;
  }
}

void CPcmDecoder::Convert(const std::uint8_t* const* input, int inputFrames) {
  std::uint8_t* output = m_block.data() + static_cast<std::size_t>(m_blockFrames) * kPcmFrameBytes;
  const int converted =
      swr_convert(m_resampler.get(), &output, Room(), const_cast<const std::uint8_t**>(input), inputFrames);
  CheckResult(converted, "swr_convert");
  m_blockFrames += converted;
}

void CPcmDecoder::MakeResampler(const AVFrame& frame) {
  av_channel_layout_uninit(&m_inputFormat.layout);
  m_resampler.reset();
  if (frame.ch_layout.nb_channels <= 0) CheckResult(AVERROR(EINVAL), "channel layout");
  AVChannelLayout inputLayout{};
  if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    // Channels without positions (a WAV without a channel mask): the usual ones.
    av_channel_layout_default(&inputLayout, frame.ch_layout.nb_channels);
  } else {
    CheckResult(av_channel_layout_copy(&inputLayout, &frame.ch_layout), "av_channel_layout_copy");
  }
  std::unique_ptr<AVChannelLayout, void (*)(AVChannelLayout*)> layoutGuard(
      &inputLayout, av_channel_layout_uninit);

  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  SwrContext* resampler = nullptr;
  CheckResult(swr_alloc_set_opts2(&resampler, &stereo, AV_SAMPLE_FMT_S16, kPcmSampleRate,
                                  &inputLayout, static_cast<AVSampleFormat>(frame.format),
                                  frame.sample_rate, 0, nullptr),
              "swr_alloc_set_opts2");
  m_resampler.reset(resampler);
  if (inputLayout.nb_channels == 1) {
    // Mono plays on both channels at its own level (the default mix would lower it by 3 dB).
    const double toBoth[kPcmChannels] = {1.0, 1.0};
    CheckResult(swr_set_matrix(resampler, toBoth, 1), "swr_set_matrix");
  }
  CheckResult(swr_init(resampler), "swr_init");

  m_inputFormat.sampleFormat = frame.format;
  m_inputFormat.sampleRate = frame.sample_rate;
  CheckResult(av_channel_layout_copy(&m_inputFormat.layout, &frame.ch_layout),
              "av_channel_layout_copy");
}

void CPcmDecoder::MakeRoom(int frames) {
  if (frames <= Room()) return;
  WriteBlock();
  // What the resampler holds back may still not fit an empty block; the block
  // then grows to that, which the pieces above keep near one block.
  const int capacity = static_cast<int>(m_block.size() / kPcmFrameBytes);
  if (frames > capacity) m_block.resize(static_cast<std::size_t>(frames) * kPcmFrameBytes);
}

void CPcmDecoder::WriteBlock() {
  std::string error;
  if (!m_pcm.WriteAll(m_block.data(), static_cast<std::size_t>(m_blockFrames) * kPcmFrameBytes,
                      error)) {
    ThrowDecoderError("Unable to write the decoded audio to the temporary file " + error);
  }
  m_blockFrames = 0;
}

}  // namespace

void DecodeToPcm(const std::string& path, CPcmTempFile& pcm, const DecodeLimits& limits) {
  // FFmpeg's own warnings (guessed durations and the like) are noise here; its
  // errors still reach stderr, and every failure reaches the user as an error.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
  CPcmDecoder decoder(pcm, limits);
  decoder.Run(path);
}

}  // namespace vorn
