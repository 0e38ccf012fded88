#pragma once
// Helpers for the audio tests: a presenter that records message boxes, a
// scratch directory, WAV files written by the code itself and the fixture tools
// (ffmpeg, lame) run from the shell.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/MessageBox.h"
#include "tests/support/RecordingPresenter.h"

namespace vorn::test {

// A fresh directory, removed with its contents at the end.
class CScratchDir {
 public:
  CScratchDir();
  ~CScratchDir();
  CScratchDir(const CScratchDir&) = delete;
  CScratchDir& operator=(const CScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

// Interleaved 16-bit samples, channels per frame as given.
struct Pcm {
  int sampleRate = 44100;
  int channels = 2;
  std::vector<std::int16_t> samples;
  std::size_t Frames() const { return samples.size() / static_cast<std::size_t>(channels); }
};

// A sine per channel (frequency 0: silence), amplitude in full-scale units.
Pcm MakeTone(int sampleRate, const std::vector<double>& frequencies, double seconds,
             double amplitude = 0.5);
void WriteWav(const std::string& path, const Pcm& pcm);

// Runs a shell command quietly; true when it exits with 0.
bool RunCommand(const std::string& command);
bool HaveTool(const std::string& name);
// ffmpeg -i in [options] out
bool FfmpegConvert(const std::string& in, const std::string& options, const std::string& out);

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);

// The whole decoded output of the decoding source (interleaved, 2 channels);
// ok false when Open failed.
struct Decoded {
  bool ok = false;
  std::uint32_t length = 0;
  std::vector<std::int16_t> samples;
};
Decoded DecodeFile(const std::string& path);

// Music-like stereo audio at 44,100 Hz with transients: plucked notes (a new
// one every `noteSeconds`), short noise bursts and a slow sine sweep under
// them; `level` scales the whole.
Pcm MakeMusic(double seconds, double level = 1.0, double noteSeconds = 0.23);

// Signal-to-noise ratio of decoded audio against its source, in dB, both
// channels together: over the whole and per 1-second window. The decoded audio
// lags the source by `delay` frames. Windows where the source is near silence
// (below -80 dBFS) have no meaningful ratio and are left out (NaN).
struct SnrProfile {
  double whole = 0;
  std::vector<double> windows;
};
SnrProfile MeasureSnr(const std::vector<std::int16_t>& source, const std::vector<std::int16_t>& decoded,
                      int delay);

// Best normalised cross-correlation of one channel of b against a, trying
// delays of b from 0 to maxDelay frames.
double BestCorrelation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                       int channel, int maxDelay, int* delayOut = nullptr);

}  // namespace vorn::test
