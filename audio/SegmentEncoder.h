#pragma once
// Segment-parallel MP3 encoding of 44,100 Hz 16-bit stereo PCM into the disk's
// MP3 kind, on as many workers as asked for.
//
// Without a bit reservoir every frame's bits are its own; what ties one stretch
// of audio to the next inside the encoder is only the filter bank's overlap and
// the psychoacoustic model's short memory. So the audio is cut into segments of
// S MP3 frames, and each segment's encoder starts K frames early on the audio
// before it (the pre-roll) and drops the frames of the pre-roll: by the first
// frame it keeps, it carries the state a single encoder would carry there.
//
// A segment of length L that starts at frame B (B > 0) starts encoding at B
// and keeps the frames B+K .. B+L+K-1; segment 0 starts at frame 0 and keeps
// 0 .. L+K-1; the last segment keeps everything to the end, flush included.
// Segments are S frames long until the length of the audio is known; from then
// on each takes a share of what is left that shrinks towards the end (never
// more than S, never less than one padding period), so the workers run out of
// audio together rather than one finishing a whole segment alone. Encoders
// start on multiples of the 49-frame padding period (128 kbit/s at 44,100 Hz
// is 417.96 bytes a frame, so frames of 417 and 418 bytes take turns in a
// pattern that repeats every 49 frames), so every kept frame has the size, and
// the file the frame count, of a single encoder's. With S = 0 there is one
// segment: the output is byte for byte that of one encoder.
//
// The PCM may still be growing while the workers run (the decoder publishes
// how far it got), and the finished segments are joined in order into the
// output file as they come; only segments finished ahead of an earlier one are
// held in memory, and workers never run more than a few segments ahead.

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Cancel.h"

namespace vorn {

inline constexpr std::uint32_t kMp3FrameSamples = 1152;
inline constexpr std::uint32_t kPaddingPeriodFrames = 49;
// Most encoder workers a conversion starts, whatever it is asked for.
inline constexpr unsigned kMaxEncoderThreads = 64;
// Environment variable that sets the number of encoder workers of every
// conversion that is not given one (the window's imports, for one).
inline constexpr const char* kEncoderThreadsVariable = "VORN_ENCODER_THREADS";

struct SegmentPlan {
  // MP3 frames per segment, a multiple of kPaddingPeriodFrames; 0: one segment.
  std::uint32_t segmentFrames = 0;
  // Frames each segment but the first encodes ahead of its own and drops.
  std::uint32_t prerollFrames = 0;
};

// The plan conversions use: one segment for one worker (the output of a single
// encoder), else segments short enough to share out and keep every worker busy.
SegmentPlan DefaultSegmentPlan(unsigned threads);

// kEncoderThreadsVariable when it holds a number from 1 to kMaxEncoderThreads,
// else the number of processors this process may run on.
unsigned DefaultEncoderThreads();

class CSegmentEncoder {
 public:
  // Reads up to `count` interleaved frames from frame `first` on into `samples`;
  // returns the frames read. Called from the workers, for frames already published.
  using PcmReader =
      std::function<std::size_t(std::uint64_t first, std::int16_t* samples, std::size_t count)>;

  // Called once, from a worker, when the first worker finds no segment left
  // to take: the conversion is in its last stretch and a processor is free.
  using LastStretchObserver = std::function<void()>;

  // Starts the workers; they wait for PCM. The output stream receives the MP3
  // bytes in order and stays the caller's.
  CSegmentEncoder(std::FILE* output, PcmReader reader, unsigned threads, SegmentPlan plan,
                  const CCancelFlag* cancel, LastStretchObserver lastStretch = {});
  CSegmentEncoder(const CSegmentEncoder&) = delete;
  CSegmentEncoder& operator=(const CSegmentEncoder&) = delete;
  // Stops the workers and waits for them; the output may then be cut short.
  ~CSegmentEncoder();

  // The decoder's side: `frames` PCM frames can be read now.
  void PcmAvailable(std::uint64_t frames);
  // No more PCM will come; complete false: the decoding failed, so the workers
  // stop without finishing.
  void PcmEnded(bool complete);

  // What the output is, for the message of a failed write (no output name
  // is said when none is set).
  void SetOutputName(std::string name) { m_outputName = std::move(name); }

  // Waits until the whole output is written, calling `progress` on this thread
  // about ten times a second with the PCM frames encoded so far. Throws
  // CFileAccessException after a failure and CCancelled when the cancel flag
  // was set.
  void Finish(const std::function<void(std::uint64_t encodedFrames)>& progress);

 private:
  struct Pending {
    std::vector<std::uint8_t> bytes;  // kept MP3 bytes not yet in the output
    bool complete = false;
  };
  struct Segment {
    std::uint64_t index = 0;
    std::uint64_t startFrame = 0;  // a multiple of kPaddingPeriodFrames
    std::uint64_t length = 0;      // frames; 0: the one segment of a single encoder
  };

  void Work();
  bool EncodeSegment(const Segment& segment);
  std::optional<Segment> Claim();
  std::uint64_t NextLength() const;  // under m_mutex
  // Waits until more than `frames` PCM frames exist or the PCM has ended; the
  // PCM frames there are then, or nothing when the workers are to stop.
  std::optional<std::uint64_t> WaitForPcm(std::uint64_t frames);
  void Emit(std::uint64_t segment, const std::vector<std::uint8_t>& bytes, std::uint64_t frames);
  void Complete(std::uint64_t segment, bool last);
  void NoMoreSegments();
  void Fail(const std::string& text);
  bool WriteOut(const std::uint8_t* bytes, std::size_t size);  // under m_mutex
  bool Done() const;  // under m_mutex

  std::FILE* const m_output;
  std::string m_outputName;
  const PcmReader m_reader;
  const SegmentPlan m_plan;
  const CCancelFlag* const m_cancel;
  const LastStretchObserver m_lastStretch;
  const std::uint64_t m_maxAhead;

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::uint64_t m_pcmFrames = 0;
  bool m_pcmEnded = false;
  bool m_stop = false;
  bool m_cancelled = false;
  std::string m_failure;
  std::uint64_t m_nextClaim = 0;
  std::uint64_t m_nextStart = 0;  // the first frame of the segment claimed next
  unsigned m_workerCount = 0;
  bool m_noMoreSegments = false;
  std::uint64_t m_head = 0;  // the segment whose bytes go to the output now
  std::optional<std::uint64_t> m_lastSegment;
  std::map<std::uint64_t, Pending> m_pending;
  std::uint64_t m_encodedFrames = 0;
  bool m_lastStretchTold = false;

  std::vector<std::thread> m_workers;
};

}  // namespace vorn
