#pragma once
// Encodes 44,100 Hz 16-bit stereo frames with libmp3lame into an MP3 file of the
// disk's kind: MPEG-1 Layer III, 128 kbit/s constant, joint stereo, no bit
// reservoir, no Info tag, no ID3. Samples are gathered into chunks of
// kChunkSamples; the encoder sees only full chunks, except the last at Close.
// Every failure throws CFileAccessException with its text ("fwrite error" and
// "Output file write error" followed by the file and the system's reason).

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "audio/AudioWriter.h"
#include "audio/LameEncoder.h"

namespace vorn {

class CMp3Writer final : public CAudioWriter {
 public:
  // One chunk: four MPEG-1 frames of stereo samples (both channels counted).
  static constexpr int kChunkSamples = 4 * 1152 * 2;

  CMp3Writer() = default;
  CMp3Writer(const CMp3Writer&) = delete;
  CMp3Writer& operator=(const CMp3Writer&) = delete;
  // Frees the encoder and closes the output without flushing: only Close
  // finishes a file.
  ~CMp3Writer() override = default;

  // Creates (truncates) the output file and starts the encoder.
  bool Open(const std::string& path) override;
  // count interleaved frames, each a 32-bit word holding the two signed 16-bit
  // samples in stream order (as the audio source's interleaved Read gives them).
  bool Write(const std::int32_t* frames, int count);
  // Packs first[i] / second[i] (null: silence) into frames and calls Write.
  bool WritePlanar(const std::int32_t* first, const std::int32_t* second, int count,
                   int reserved1, int reserved2) override;
  // Encodes the buffered samples, flushes the encoder and closes the output.
  bool Close() override;

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  bool StartEncoder(std::FILE* stream);
  bool EncodeChunk(int samples);
  bool WriteOutput(std::size_t bytes);
  std::string WriteFailure() const;
  void StopEncoder();

  std::unique_ptr<unsigned char[]> m_mp3Buffer;
  std::unique_ptr<std::int16_t[]> m_pcmBuffer;
  int m_freeSamples = 0;
  CLameEncoder m_encoder;
  int m_mp3BufferSize = 0;
  std::unique_ptr<std::FILE, FileCloser> m_output;
  std::string m_path;
};

}  // namespace vorn
