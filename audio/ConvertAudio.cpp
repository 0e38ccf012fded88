#include "audio/ConvertAudio.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "audio/FfmpegAudioSource.h"
#include "audio/LameEncoder.h"
#include "audio/Mp3Frames.h"
#include "audio/SegmentEncoder.h"
#include "device/DeviceExceptions.h"
#include "platform/UniqueFd.h"
#include "platform/TempFiles.h"
#include "platform/UniqueFile.h"

namespace vorn {
namespace {

// The copy runs before any decoding can start, so it is on the import's
// critical path: pieces this large go past stdio's buffers, one system call
// each way per MiB instead of one per 4 KiB.
constexpr std::size_t kCopyBufferSize = 1 << 20;
constexpr std::uint64_t kFramesPerStep = 1048576;  // the bar steps once per 1024 chunks of 1024 frames

// The MP3 of `frames` PCM frames, at least: whole frames of the disk's kind
// (1152 samples, 417 or 418 bytes at 128 kbit/s), so never above what the
// encoder writes, and within a frame or two of it.
std::uint64_t EstimatedMp3Bytes(std::uint64_t frames) {
  return frames / kMp3FrameSamples * 417;
}

// A new temporary file with no name: whatever ends the process, nothing of
// it stays behind.
TempFile NewTempFile(const char* what) {
  try {
    return MakeUnnamedTempFile();
  } catch (const std::system_error& e) {
    throw CFileAccessException(std::string("Unable to create temporary ") + what + " file (" +
                               e.what() + ")");
  }
}

[[noreturn]] void ThrowWriteError(int error) {
  throw CFileAccessException("Unable to write temporary input audio file in " + TempDirectory() +
                             " (" + std::strerror(error) + ")");
}

// A stream of its own on the temporary file; the file keeps its descriptor.
CUniqueFile StreamOn(const TempFile& file, const char* mode) {
  CUniqueFd own(::fcntl(file.fd.Get(), F_DUPFD_CLOEXEC, 0));
  CUniqueFile stream(own.IsValid() ? ::fdopen(own.Get(), mode) : nullptr);
  if (stream) own.Release();  // the stream owns it now
  return stream;
}

// Copies the audio section, which the routine file stands at, into `file`.
void CopyAudio(std::FILE* routineFile, std::uint32_t audioSize, const TempFile& file) {
  CUniqueFile copy = StreamOn(file, "wb");
  if (!copy) ThrowWriteError(errno);
  std::vector<std::uint8_t> buffer(kCopyBufferSize);
  std::uint32_t copied = 0;
  while (copied < audioSize) {
    std::size_t want = std::min<std::size_t>(buffer.size(), audioSize - copied);
    if (std::fread(buffer.data(), 1, want, routineFile) != want) {
      throw CFileAccessException("Error reading file");
    }
    if (std::fwrite(buffer.data(), 1, want, copy.get()) != want) ThrowWriteError(errno);
    copied += static_cast<std::uint32_t>(want);
  }
  // A full disk may only show when the stream's last buffer goes out.
  if (std::fclose(copy.release()) != 0) ThrowWriteError(errno);
}

// The conversion's progress bar: a range of one step per 2^20 frames, and a
// step each time the frames encoded pass another 2^20 (the first at the
// start), whichever worker encoded them. Driven from the converting thread only.
class CEncodingProgress {
 public:
  explicit CEncodingProgress(CProgressBar* bar) : m_bar(bar) {}

  void SetLength(std::uint64_t frames) {
    if (!m_bar || m_steps) return;
    m_steps = 1 + frames / kFramesPerStep;
    m_bar->SetRange(0, static_cast<int>(std::min<std::uint64_t>(m_steps, INT32_MAX)));
    m_bar->SetPos(0);
    m_bar->SetStep(1);
  }
  // Only once the length is known: a bar without its range would mislead.
  void Encoded(std::uint64_t frames) {
    if (!m_bar || !m_steps) return;
    const std::uint64_t due = std::min(m_steps, 1 + frames / kFramesPerStep);
    for (; m_stepped < due; ++m_stepped) m_bar->StepIt();
  }
  void Completed() {
    for (; m_stepped < m_steps; ++m_stepped) m_bar->StepIt();
  }

 private:
  CProgressBar* m_bar;
  std::uint64_t m_steps = 0;
  std::uint64_t m_stepped = 0;
};

// Decodes the input copy and encodes the PCM into `output` at the same time:
// the workers follow the decoder through the PCM file as it grows.
void DecodeAndEncode(const std::string& inputPath, std::FILE* output,
                     const ConversionContext& context) {
  CFfmpegAudioSource source;
  source.SetCancelFlag(context.cancel);
  // Refused before a byte is decoded when the stated length cannot fit: the
  // PCM of an hour is 635 MB, whatever the size of the file it came from.
  if (context.checkRoom) {
    source.SetLengthObserver([&context](std::uint64_t frames) {
      context.checkRoom(EstimatedMp3Bytes(frames));
    });
  }
  const unsigned threads = context.threads > 0 ? context.threads : DefaultEncoderThreads();
  CEncodingProgress progress(context.progress);
  {
    CSegmentEncoder encoder(
        output,
        [&source](std::uint64_t first, std::int16_t* samples, std::size_t count) {
          return source.ReadFramesAt(first, samples, count);
        },
        threads, DefaultSegmentPlan(threads), context.cancel, context.lastStretch);
    encoder.SetOutputName("the converted audio in " + TempDirectory());
    source.SetDecodeObserver([&encoder](std::uint64_t frames) { encoder.PcmAvailable(frames); });
    bool opened = false;
    try {
      opened = source.Open(inputPath);
    } catch (...) {
      encoder.PcmEnded(false);
      throw;
    }
    encoder.PcmEnded(opened);
    source.SetDecodeObserver({});
    ThrowIfCancelled(context.cancel);
    if (!opened) throw CFileAccessException("Unable to open temporary input audio file");

    progress.SetLength(source.GetLength());
    encoder.Finish([&progress](std::uint64_t frames) { progress.Encoded(frames); });
  }
  progress.Completed();
  source.Close();
}

}  // namespace

void ConvertAudio(const RoutineFileHeader& header, std::FILE* routineFile, std::uint32_t& mp3Size,
                  std::FILE*& mp3Stream, const ConversionContext& context) {
  if (header.audioSize == 0) {
    mp3Size = 0;
    return;
  }
  if (IsCompatibleMp3(header, routineFile)) {
    mp3Stream = routineFile;
    mp3Size = header.audioSize;
    return;
  }

  // The decoder opens the copy by its /proc name while `input` holds it open.
  const TempFile input = NewTempFile("input audio");
  CopyAudio(routineFile, header.audioSize, input);
  ThrowIfCancelled(context.cancel);

  // The encoder writes through a stream of its own on the output, and the
  // converted MP3 is read back through the descriptor it was created with.
  TempFile outputFile = NewTempFile("output audio");
  CUniqueFile output = StreamOn(outputFile, "wb");
  if (!output) throw CFileAccessException("Error creating file\n");
  {
    // The workers make their own encoders; one made here first tells whether
    // there is an encoder at all before any decoding starts.
    CLameEncoder probe;
    switch (probe.Start()) {
      case CLameEncoder::StartResult::kReady:
        break;
      case CLameEncoder::StartResult::kUnavailable:
        ThrowEncoderUnavailable();
      case CLameEncoder::StartResult::kRefused:
        throw CFileAccessException("Error opening encoding stream");
    }
  }
  if (context.status) context.status->SetText("Converting Audio");

  DecodeAndEncode(input.path, output.get(), context);
  // stdio may still hold the last bytes: a failing close means a short file.
  if (std::fclose(output.release()) != 0) {
    throw CFileAccessException("Output file write error: the converted audio in " +
                               TempDirectory() + ": " + std::strerror(errno));
  }

  CUniqueFile converted(::fdopen(outputFile.fd.Get(), "rb"));
  if (converted) outputFile.fd.Release();
  if (!converted) {
    throw CFileAccessException("Could not open converted mp3 file in " + TempDirectory());
  }
  if (std::fseek(converted.get(), 0, SEEK_END) != 0) {
    throw CFileAccessException("Could not open converted mp3 file in " + TempDirectory());
  }
  const long size = std::ftell(converted.get());
  if (size < 0 || std::fseek(converted.get(), 0, SEEK_SET) != 0) {
    throw CFileAccessException("Could not open converted mp3 file in " + TempDirectory());
  }
  if (static_cast<unsigned long>(size) > std::numeric_limits<std::uint32_t>::max()) {
    throw CFileAccessException("The converted audio is too long for one routine");
  }
  mp3Size = static_cast<std::uint32_t>(size);
  mp3Stream = converted.release();
}

}  // namespace vorn
