#pragma once
// Turns a routine's audio section into MP3 data of the disk's kind: nothing for
// no audio, the routine file itself when it already is of that kind, else a
// converted temporary file that has no name (nothing of it outlives the process).

#include <cstdint>
#include <cstdio>
#include <functional>

#include "audio/RoutineFileHeader.h"
#include "platform/Cancel.h"
#include "platform/ProgressBar.h"
#include "platform/StatusText.h"

namespace vorn {

struct ConversionContext {
  CStatusText* status = nullptr;
  CProgressBar* progress = nullptr;
  const CCancelFlag* cancel = nullptr;  // checked between pieces and by blocking decoder calls
  unsigned threads = 0;  // encoder workers; 0: DefaultEncoderThreads()
  // Called once, from an encoder worker, when the encoding nears its end and
  // leaves a processor free (see CSegmentEncoder); never for audio passed through.
  std::function<void()> lastStretch{};
  // Told the size the MP3 will have at least, as soon as the input states its
  // length and before anything is decoded; throws to refuse the conversion
  // (the disk's room, say). The exact size is checked again once converted.
  std::function<void(std::uint64_t mp3Bytes)> checkRoom{};
};

// routineFile stands at the first audio byte. On return mp3Size bytes are to be
// read from mp3Stream (the routine file itself when passed through, a new stream
// the caller closes when converted, untouched when mp3Size is 0). Throws
// CFileAccessException on failure (a decoding step's with the decoder's
// caption, each failure one error for the caller to show), what checkRoom
// throws, and CCancelled when the cancel flag was set (the converted file is
// then unfinished and not handed out).
void ConvertAudio(const RoutineFileHeader& header, std::FILE* routineFile, std::uint32_t& mp3Size,
                  std::FILE*& mp3Stream, const ConversionContext& context);

}  // namespace vorn
