#include "audio/ConvertAudio.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <system_error>

#include "audio/FfmpegAudioSource.h"
#include "audio/Mp3Frames.h"
#include "audio/Mp3Writer.h"
#include "device/DeviceExceptions.h"
#include "platform/UniqueFile.h"

namespace vorn {
namespace {

constexpr std::size_t kCopyBufferSize = 4096;
constexpr int kChunkFrames = 1024;          // one chunk fills the 4096-byte buffer
constexpr std::uint32_t kFramesPerStep = 1048576;  // the bar steps once per 1024 chunks

// A new "zov" temporary file, registered so it is deleted when the disk action ends.
TempFile NewTempFile(CTempFileList& tempFiles, const char* what) {
  try {
    TempFile file = MakeTempFile();
    tempFiles.Add(file.path);
    return file;
  } catch (const std::system_error& e) {
    throw CFileAccessException(std::string("Unable to create temporary ") + what + " file (" +
                               e.what() + ")");
  }
}

[[noreturn]] void ThrowWriteError(const std::string& path, int error) {
  throw CFileAccessException("Unable to write temporary input audio file " + path + " (" +
                             std::strerror(error) + ")");
}

// Copies the audio section, which the routine file stands at, into `file`.
void CopyAudio(std::FILE* routineFile, std::uint32_t audioSize, TempFile& file) {
  const std::string& path = file.path;
  CUniqueFile copy(::fdopen(file.fd.Get(), "wb"));
  if (!copy) ThrowWriteError(path, errno);
  file.fd.Release();  // the stream owns it now
  std::array<std::uint8_t, kCopyBufferSize> buffer;
  std::uint32_t copied = 0;
  while (copied < audioSize) {
    std::size_t want = std::min<std::size_t>(buffer.size(), audioSize - copied);
    if (std::fread(buffer.data(), 1, want, routineFile) != want) {
      throw CFileAccessException("Error reading file");
    }
    if (std::fwrite(buffer.data(), 1, want, copy.get()) != want) ThrowWriteError(path, errno);
    copied += static_cast<std::uint32_t>(want);
  }
  // A full disk may only show when the stream's last buffer goes out.
  if (std::fclose(copy.release()) != 0) ThrowWriteError(path, errno);
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

  TempFile input = NewTempFile(context.tempFiles, "input audio");
  const std::string inputPath = input.path;
  CopyAudio(routineFile, header.audioSize, input);

  CFfmpegAudioSource source;
  source.SetCancelFlag(context.cancel);
  CMp3Writer writer;
  if (!source.Open(inputPath)) {
    throw CFileAccessException("Unable to open temporary input audio file");
  }
  // The encoder writes through its own stream; the converted MP3 is read back
  // through the descriptor the file was created with.
  TempFile output = NewTempFile(context.tempFiles, "output audio");
  const std::string& outputPath = output.path;
  if (!writer.Open(outputPath)) {
    throw CFileAccessException("Unable to create temporary output audio file");
  }

  if (context.progress) {
    const std::uint32_t frames = source.GetLength();
    context.progress->SetRange(0, 1 + static_cast<int>(frames / kFramesPerStep));
    context.progress->SetPos(0);
    context.progress->SetStep(1);
  }
  if (context.status) context.status->SetText("Converting Audio");

  std::array<std::int32_t, kChunkFrames> chunk;
  int read = 0;
  std::uint32_t i = 0;
  do {
    read = source.Read(chunk.data(), nullptr, kChunkFrames, true);
    if (!writer.Write(chunk.data(), read)) throw CFileAccessException("Error writing MP3 data");
    if (context.progress && i % 1024 == 0) context.progress->StepIt();
    ++i;
  } while (read == kChunkFrames);

  // The last frames and the encoder's flush are written here; an output cut
  // short must not pass for a finished conversion.
  const bool closed = writer.Close();
  source.Close();
  if (!closed) throw CFileAccessException("Error writing MP3 data");

  CUniqueFile converted(::fdopen(output.fd.Get(), "rb"));
  if (converted) output.fd.Release();
  if (!converted) {
    throw CFileAccessException("Could not open converted mp3 file " + outputPath);
  }
  if (std::fseek(converted.get(), 0, SEEK_END) != 0) {
    throw CFileAccessException("Could not open converted mp3 file " + outputPath);
  }
  const long size = std::ftell(converted.get());
  if (size < 0 || std::fseek(converted.get(), 0, SEEK_SET) != 0) {
    throw CFileAccessException("Could not open converted mp3 file " + outputPath);
  }
  if (static_cast<unsigned long>(size) > std::numeric_limits<std::uint32_t>::max()) {
    throw CFileAccessException("The converted audio is too long for one routine");
  }
  mp3Size = static_cast<std::uint32_t>(size);
  mp3Stream = converted.release();
}

}  // namespace vorn
