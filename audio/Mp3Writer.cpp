#include "audio/Mp3Writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "device/DeviceExceptions.h"

namespace vorn {
namespace {

constexpr int kChannels = 2;
constexpr int kMp3BufferSize = CLameEncoder::OutputBound(CMp3Writer::kChunkSamples / kChannels);
// Frames packed per Write when WritePlanar interleaves its two lists.
constexpr int kPackFrames = 1024;

[[noreturn]] void Fail(const std::string& text) { throw CFileAccessException(text); }

}  // namespace

bool CMp3Writer::Open(const std::string& path) {
  StopEncoder();
  m_output.reset();
  m_path = path;
  std::FILE* stream = std::fopen(path.c_str(), "wb+");
  if (stream == nullptr) Fail("Error creating file\n");
  return StartEncoder(stream);
}

bool CMp3Writer::StartEncoder(std::FILE* stream) {
  if (stream == nullptr) return false;
  m_output.reset(stream);

  switch (m_encoder.Start()) {
    case CLameEncoder::StartResult::kReady:
      break;
    case CLameEncoder::StartResult::kUnavailable:
      ThrowEncoderUnavailable();
    case CLameEncoder::StartResult::kRefused:
      Fail("Error opening encoding stream");
  }

  m_mp3BufferSize = kMp3BufferSize;
  m_mp3Buffer = std::make_unique<unsigned char[]>(static_cast<std::size_t>(m_mp3BufferSize));
  m_pcmBuffer = std::make_unique<std::int16_t[]>(kChunkSamples);
  m_freeSamples = kChunkSamples;
  return true;
}

bool CMp3Writer::EncodeChunk(int samples) {
  const int bytes = m_encoder.Encode(m_pcmBuffer.get(), samples / kChannels, m_mp3Buffer.get(),
                                     m_mp3BufferSize);
  if (bytes < 0) Fail("beEncodeChunk() failed");
  if (!WriteOutput(static_cast<std::size_t>(bytes))) Fail("fwrite error: " + WriteFailure());
  return true;
}

bool CMp3Writer::WriteOutput(std::size_t bytes) {
  errno = 0;
  return bytes == 0 || std::fwrite(m_mp3Buffer.get(), 1, bytes, m_output.get()) == bytes;
}

// The file and the system's reason (a full disk, mostly) for the write that failed.
std::string CMp3Writer::WriteFailure() const {
  const int error = errno;
  return m_path + (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
}

bool CMp3Writer::Write(const std::int32_t* frames, int count) {
  if (count <= 0) return true;
  if (!m_encoder.IsStarted() || frames == nullptr) return false;
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
  if (!m_encoder.IsStarted()) return false;
  if (m_freeSamples < kChunkSamples) EncodeChunk(kChunkSamples - m_freeSamples);
  const int flushed = m_encoder.Flush(m_mp3Buffer.get(), m_mp3BufferSize);
  if (flushed < 0) {
    // lame's codes are negative; the box shows their magnitude.
    char text[64];
    std::snprintf(text, sizeof text, "beExitStream failed (%lu)",
                  static_cast<unsigned long>(-static_cast<long>(flushed)));
    StopEncoder();
    Fail(text);
  }
  if (!WriteOutput(static_cast<std::size_t>(flushed))) {
    const std::string failure = WriteFailure();
    StopEncoder();
    Fail("Output file write error: " + failure);
  }
  StopEncoder();
  // stdio may still hold the last bytes: a failing close means a short file.
  if (std::fclose(m_output.release()) != 0) Fail("Output file write error: " + WriteFailure());
  return true;
}

void CMp3Writer::StopEncoder() {
  m_encoder.Stop();
  m_mp3Buffer.reset();
  m_pcmBuffer.reset();
  m_freeSamples = 0;
}

}  // namespace vorn
