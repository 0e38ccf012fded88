// vorn3ctl make-routine: builds a ".vorn" routine file (version 1) from an audio
// file and a control-data file, so routines can be made without the show editor.
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "audio/Mp3Frames.h"
#include "audio/RoutineFileHeader.h"
#include "device/BaudRate.h"
#include "device/DeviceExceptions.h"
#include "disk/DiskText.h"
#include "platform/CheckedNumber.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFile.h"
#include "tools/Commands.h"
#include "tools/OutputFile.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

int ParseNumber(const std::string& option, const std::string& text, int low, int high) {
  const auto value = ParseSigned(text, low, high);
  if (!value) {
    throw CUsageError(option + " wants a number from " + std::to_string(low) + " to " +
                      std::to_string(high) + ", not '" + text + "'");
  }
  return static_cast<int>(*value);
}

std::uint8_t ParseBaud(const std::string& text) {
  if (text == "DMX" || text == "dmx") return *BaudCodeForRate(kDmxBaudRate);
  // Only the listed rates are valid, so anything else (0, 9600.0, "fast") is
  // answered with that list, not with a range that would include 0.
  const auto rate = ParseSigned(text, 1, kDmxBaudRate);
  const auto code = rate ? BaudCodeForRate(static_cast<int>(*rate)) : std::nullopt;
  if (!code) {
    throw CUsageError("--baud wants 2400, 4800, 9600, 19200, 38400 or 250000 (DMX), not '" + text + "'");
  }
  return *code;
}

std::uint32_t SectionSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error) throw CDriveAccessException("Could not open file " + path);
  if (size > std::numeric_limits<std::uint32_t>::max()) {
    throw CFileAccessException(path + " is too large for a routine file (4 GiB at most)");
  }
  return static_cast<std::uint32_t>(size);
}

// 1 when the audio already is MP3 of the disk's kind (stored as is on import),
// else 0 (converted on import).
std::uint32_t AudioFormatOf(std::FILE* audio, std::uint32_t size) {
  RoutineFileHeader probe;
  probe.audioFormat = RoutineFileHeader::kAudioFormatMp3;
  probe.audioSize = size;
  try {
    return IsCompatibleMp3(probe, audio) ? RoutineFileHeader::kAudioFormatMp3 : 0;
  } catch (const CFileAccessException&) {
    return 0;  // frames that run out before the file does: not of the kind
  }
}

void CopySection(std::FILE* from, const std::string& fromPath, std::FILE* to,
                 const std::string& toPath) {
  std::array<char, 65536> buffer;
  std::size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), from)) > 0) {
    if (std::fwrite(buffer.data(), 1, got, to) != got) {
      throw CFileAccessException("Error writing " + toPath + ": " + std::strerror(errno));
    }
  }
  if (std::ferror(from)) throw CFileAccessException("Error reading file " + fromPath);
}

// Only regular files: a FIFO would block the open, a device would never end.
CUniqueFile OpenInput(const std::string& path) {
  std::string reason;
  CUniqueFile file = OpenRegularFileStream(path, reason);
  if (!file) throw CDriveAccessException("Could not open file " + path + ": " + reason);
  return file;
}

int Run(const CCommandLine& commandLine) {
  const std::string out = commandLine.Positional()[0];
  if (commandLine.Has("--protocol") && commandLine.Has("--settings")) {
    throw CUsageError("give --protocol or --settings, not both");
  }
  RoutineFileHeader header;
  header.version = 1;

  // The title is typed (or named) in UTF-8 and stored in the disk's code page,
  // one byte per character, so the limit counts characters either way.
  const std::size_t maxTitle = header.title.size() - 1;
  std::string title;
  if (commandLine.Has("--title")) {
    try {
      title = Utf8ToDiskText(commandLine.Value("--title"));
    } catch (const CDiskTextError& error) {
      throw CUsageError("--title: " + std::string(error.what()));
    }
    if (title.size() > maxTitle) {
      throw CUsageError("--title holds at most " + std::to_string(maxTitle) + " characters, not " +
                        std::to_string(title.size()));
    }
  } else {
    title = Utf8ToDiskTextLossy(std::filesystem::path(out).stem().string()).substr(0, maxTitle);
  }
  std::copy(title.begin(), title.end(), header.title.begin());
  header.baudCode = ParseBaud(commandLine.Value("--baud", "9600"));
  header.frameRate = static_cast<std::uint8_t>(ParseNumber("--frame-ms", commandLine.Value("--frame-ms", "20"), 0, 255));

  if (commandLine.Has("--settings")) {
    const std::string path = commandLine.Value("--settings");
    CUniqueFile settings = OpenInput(path);
    if (SectionSize(path) != header.controllerSettings.size() ||
        std::fread(header.controllerSettings.data(), 1, header.controllerSettings.size(),
                   settings.get()) != header.controllerSettings.size()) {
      throw CFileAccessException("The controller settings file " + path + " must hold exactly 32 bytes");
    }
  } else {
    header.controllerSettings[0] =
        static_cast<std::uint8_t>(ParseNumber("--protocol", commandLine.Value("--protocol", "0"), 0, 255));
  }

  std::vector<std::string> inputs;
  for (const char* option : {"--audio", "--data", "--settings"}) {
    if (commandLine.Has(option)) inputs.push_back(commandLine.Value(option));
  }
  COutputFile file = OpenOutputFile(out, inputs, commandLine.Has(kForceOption));

  CUniqueFile audio;
  if (commandLine.Has("--audio")) {
    const std::string path = commandLine.Value("--audio");
    audio = OpenInput(path);
    header.audioSize = SectionSize(path);
    header.audioFormat = AudioFormatOf(audio.get(), header.audioSize);
  }
  CUniqueFile data;
  if (commandLine.Has("--data")) {
    const std::string path = commandLine.Value("--data");
    data = OpenInput(path);
    header.dataSize = SectionSize(path);
  }

  std::array<std::uint8_t, RoutineFileHeader::kEncodedSize> raw{};
  header.Encode(raw.data());
  std::FILE* to = file.Stream();
  if (std::fwrite(raw.data(), 1, raw.size(), to) != raw.size()) {
    throw CFileAccessException("Error writing " + out + ": " + std::strerror(errno));
  }
  if (audio) CopySection(audio.get(), commandLine.Value("--audio"), to, out);
  if (data) CopySection(data.get(), commandLine.Value("--data"), to, out);
  file.Commit();

  std::printf("Wrote %s: \"%s\", audio %u bytes (%s), control data %u bytes\n",
              PrintableText(out).c_str(), PrintableText(DiskTextToUtf8(title)).c_str(), header.audioSize,
              header.audioSize == 0 ? "none"
              : header.audioFormat == RoutineFileHeader::kAudioFormatMp3
                  ? "MP3 of the disk's kind, stored as is"
                  : "converted when imported",
              header.dataSize);
  return kExitOk;
}

}  // namespace

Command MakeRoutineCommand() {
  return {"make-routine",
          "OUT.vorn [--audio FILE] [--data FILE] [--title T] [--baud RATE] [--frame-ms M]\n"
          "                    [--protocol CODE | --settings FILE] [--force]",
          "build a .vorn routine file from audio and control data",
          "The audio may be anything the decoder reads (WAV, MP3, FLAC, Ogg, AAC/M4A);\n"
          "MP3 already of the disk's kind (MPEG-1 Layer III, 128 kbit/s, 44,100 Hz) is\n"
          "marked to be stored unchanged. The control data is copied byte for byte.",
          {{"--audio", "FILE", "the routine's audio (none: a routine without audio)"},
           {"--data", "FILE", "the control-data frames (none: no control data)"},
           {"--title", "T", "title, at most 18 characters of Windows-1252 (default: the name of OUT)"},
           {"--baud", "RATE", "2400, 4800, 9600 (default), 19200, 38400 or 250000/DMX"},
           {"--frame-ms", "M", "control-data frame period in ms, 0..255 (default 20)"},
           {"--protocol", "CODE", "protocol code 0..255 (default 0, MiniSSC), other settings zero"},
           {"--settings", "FILE", "the 32 controller-setting bytes, protocol code first"},
           {kForceOption, nullptr, "replace OUT.vorn if it exists"}},
          1, 1, Run};
}

}  // namespace vorn
