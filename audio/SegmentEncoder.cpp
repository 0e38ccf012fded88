#include "audio/SegmentEncoder.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "audio/LameEncoder.h"
#include "audio/Mp3Frames.h"
#include "platform/CheckedNumber.h"
#include "device/DeviceExceptions.h"

namespace vorn {
namespace {

// The default plan, measured with bench/segment-plan.sh. From 2 frames of
// pre-roll an encoder started in mid-song writes a single encoder's frames,
// byte for byte, at every seam of music at full level; quiet music takes
// longer to settle (the encoder's hearing threshold adapts slowly), but with 8
// frames its worst second is within 0.3 dB of a single encoder's. Segments of
// 16 padding periods (784 frames, 20.5 seconds) cost 1-2% more CPU than one
// encoder (pre-roll and encoder set-up; 392 frames cost 4%) and, since the
// segments shrink towards the end of the audio, keep both workers of a 2-core
// machine busy to the end: 0.51 of one encoder's time on 5 minutes, against
// 0.525 with 392-frame segments.
constexpr std::uint32_t kDefaultSegmentFrames = 16 * kPaddingPeriodFrames;
constexpr std::uint32_t kDefaultPrerollFrames = 8;

// PCM frames handed to an encoder per call: four MP3 frames.
constexpr std::size_t kFeedFrames = 4 * kMp3FrameSamples;
// Audio the encoder must have behind the end of a frame before it writes that
// frame (its analysis window reaches 224 samples past the frame), with room to
// spare: a segment is the last one unless more audio than this follows it.
constexpr std::uint64_t kLookaheadSamples = 2 * kMp3FrameSamples;
// How often the waiting threads look at the cancel flag.
constexpr auto kPollInterval = std::chrono::milliseconds(100);

constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();

// MP3 bytes of a frame of the disk's kind: 417, or 418 with the padding bit.
std::size_t FrameSize(const std::uint8_t* header) { return 417 + ((header[2] >> 1) & 1u); }

// Splits one encoder's output into frames: drops the first `drop`, keeps those
// before `keepEnd` and holds the ones behind it until told whether they count.
class CFrameCutter {
 public:
  CFrameCutter(std::uint64_t drop, std::uint64_t keepEnd) : m_drop(drop), m_keepEnd(keepEnd) {}

  // False when the bytes are not frames of the disk's kind.
  bool Add(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& kept,
           std::uint64_t& keptFrames) {
    m_partial.insert(m_partial.end(), bytes, bytes + size);
    std::size_t at = 0;
    while (m_partial.size() - at >= 4) {
      const std::uint8_t* frame = m_partial.data() + at;
      if (!IsAcceptedFrameHeader(frame)) return false;
      const std::size_t length = FrameSize(frame);
      if (m_partial.size() - at < length) break;
      const std::uint64_t index = m_frames++;
      if (index >= m_keepEnd) {
        m_held.insert(m_held.end(), frame, frame + length);
        ++m_heldFrames;
      } else if (index >= m_drop) {
        kept.insert(kept.end(), frame, frame + length);
        ++keptFrames;
      }
      at += length;
    }
    m_partial.erase(m_partial.begin(), m_partial.begin() + static_cast<std::ptrdiff_t>(at));
    return true;
  }

  // Every frame up to keepEnd has come.
  bool Full() const { return m_frames >= m_keepEnd; }
  // The encoder's output ended on a frame boundary.
  bool Whole() const { return m_partial.empty(); }

  // From now on every frame is kept, the held ones first.
  void KeepAll(std::vector<std::uint8_t>& kept, std::uint64_t& keptFrames) {
    kept.insert(kept.end(), m_held.begin(), m_held.end());
    keptFrames += m_heldFrames;
    m_held.clear();
    m_heldFrames = 0;
    m_keepEnd = kNoEnd;
  }

 private:
  const std::uint64_t m_drop;
  std::uint64_t m_keepEnd;
  std::uint64_t m_frames = 0;
  std::vector<std::uint8_t> m_partial;
  std::vector<std::uint8_t> m_held;
  std::uint64_t m_heldFrames = 0;
};

// Segments start on whole padding periods, so their frames pad as a single
// encoder's do.
SegmentPlan Normalised(SegmentPlan plan) {
  const std::uint32_t periods =
      (plan.segmentFrames + kPaddingPeriodFrames - 1) / kPaddingPeriodFrames;
  plan.segmentFrames = periods * kPaddingPeriodFrames;
  return plan;
}

unsigned ProcessorsAvailable() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

}  // namespace

SegmentPlan DefaultSegmentPlan(unsigned threads) {
  if (threads <= 1) return {};
  return {kDefaultSegmentFrames, kDefaultPrerollFrames};
}

unsigned DefaultEncoderThreads() {
  if (const char* text = std::getenv(kEncoderThreadsVariable)) {
    const auto threads = ParseUnsigned(text, kMaxEncoderThreads);
    if (threads && *threads >= 1) return static_cast<unsigned>(*threads);
  }
  return std::min(ProcessorsAvailable(), kMaxEncoderThreads);
}

CSegmentEncoder::CSegmentEncoder(std::FILE* output, PcmReader reader, unsigned threads,
                                 SegmentPlan plan, const CCancelFlag* cancel,
                                 LastStretchObserver lastStretch)
    : m_output(output),
      m_reader(std::move(reader)),
      m_plan(Normalised(plan)),
      m_cancel(cancel),
      m_lastStretch(std::move(lastStretch)),
      // Enough claims in flight to keep every worker busy while the segment
      // being written finishes, few enough that the held output stays small.
      m_maxAhead(2 * std::uint64_t{std::clamp(threads, 1u, kMaxEncoderThreads)} + 2) {
  // One segment gives a single encoder's output; more workers could not help.
  const unsigned workers = m_plan.segmentFrames == 0 ? 1 : std::clamp(threads, 1u, kMaxEncoderThreads);
  m_workerCount = workers;
  for (unsigned i = 0; i < workers; ++i) {
    try {
      m_workers.emplace_back(&CSegmentEncoder::Work, this);
    } catch (const std::system_error&) {
      break;  // fewer workers still finish the job
    }
  }
  if (m_workers.empty()) Fail("Unable to start the MP3 encoder");
}

CSegmentEncoder::~CSegmentEncoder() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  for (std::thread& worker : m_workers) worker.join();
}

void CSegmentEncoder::PcmAvailable(std::uint64_t frames) {
  {
    std::lock_guard lock(m_mutex);
    m_pcmFrames = std::max(m_pcmFrames, frames);
  }
  m_changed.notify_all();
}

void CSegmentEncoder::PcmEnded(bool complete) {
  {
    std::lock_guard lock(m_mutex);
    m_pcmEnded = true;
    if (!complete) m_stop = true;
  }
  m_changed.notify_all();
}

bool CSegmentEncoder::Done() const { return m_lastSegment && m_head > *m_lastSegment; }

void CSegmentEncoder::Finish(const std::function<void(std::uint64_t)>& progress) {
  for (;;) {
    std::uint64_t encoded = 0;
    bool finished = false;
    {
      std::unique_lock lock(m_mutex);
      m_changed.wait_for(lock, kPollInterval, [this] { return Done() || m_stop; });
      if (!m_stop && m_cancel && m_cancel->IsCancelled()) {
        m_cancelled = true;
        m_stop = true;
        m_changed.notify_all();
      }
      encoded = m_encodedFrames;
      finished = Done() || m_stop;
    }
    if (progress) progress(encoded);
    if (finished) break;
  }
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_changed.notify_all();
  for (std::thread& worker : m_workers) worker.join();
  m_workers.clear();

  if (m_cancelled) throw CCancelled();
  if (!m_failure.empty()) throw CFileAccessException(m_failure);
  // Stopped with neither: the PCM ended incomplete, which its source reports.
  if (!Done()) throw CFileAccessException("Error writing MP3 data");
}

void CSegmentEncoder::Work() {
  try {
    while (const std::optional<Segment> segment = Claim()) {
      if (!EncodeSegment(*segment)) break;
    }
    bool tell = false;
    {
      std::lock_guard lock(m_mutex);
      // Out of work, or the encoding is complete (Finish may have stopped
      // the others already); never after a failure or a cancel.
      tell = (!m_stop || Done()) && !m_lastStretchTold;
      m_lastStretchTold = true;
    }
    if (tell && m_lastStretch) m_lastStretch();
  } catch (const CCancelled&) {
    {
      std::lock_guard lock(m_mutex);
      m_cancelled = true;
      m_stop = true;
    }
    m_changed.notify_all();
  } catch (const std::exception& e) {
    Fail(std::string("The MP3 encoder failed: ") + e.what());
  }
}

std::optional<CSegmentEncoder::Segment> CSegmentEncoder::Claim() {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return m_stop || m_noMoreSegments || m_nextClaim < m_head + m_maxAhead; });
  if (m_stop || m_noMoreSegments) return std::nullopt;
  if (m_lastSegment && m_nextClaim > *m_lastSegment) return std::nullopt;
  if (m_plan.segmentFrames == 0 && m_nextClaim > 0) return std::nullopt;
  const Segment segment{m_nextClaim++, m_nextStart, NextLength()};
  m_nextStart += segment.length;
  return segment;
}

// While the audio is still growing, a whole segment. Once its length is
// known, half a worker's share of what is left (guided scheduling): the last
// segments are short, so no worker is left with a long one while the others
// have nothing to do. Shorter segments cost their pre-roll more often, which
// is why the share does not start out smaller.
std::uint64_t CSegmentEncoder::NextLength() const {
  const std::uint64_t full = m_plan.segmentFrames;
  if (full == 0 || !m_pcmEnded) return full;
  const std::uint64_t frames = (m_pcmFrames + kMp3FrameSamples - 1) / kMp3FrameSamples;
  const std::uint64_t left = frames > m_nextStart ? frames - m_nextStart : 0;
  const std::uint64_t share = (left + 2 * m_workerCount - 1) / (2 * m_workerCount);
  const std::uint64_t periods = (share + kPaddingPeriodFrames - 1) / kPaddingPeriodFrames;
  return std::clamp<std::uint64_t>(periods * kPaddingPeriodFrames, kPaddingPeriodFrames, full);
}

std::optional<std::uint64_t> CSegmentEncoder::WaitForPcm(std::uint64_t frames) {
  std::unique_lock lock(m_mutex);
  for (;;) {
    if (m_stop) return std::nullopt;
    if (m_pcmFrames > frames || m_pcmEnded) return m_pcmFrames;
    m_changed.wait_for(lock, kPollInterval);
    if (m_cancel && m_cancel->IsCancelled()) throw CCancelled();
  }
}

bool CSegmentEncoder::EncodeSegment(const Segment& claimed) {
  const std::uint64_t segment = claimed.index;
  const std::uint64_t length = claimed.length;
  const std::uint64_t preroll = m_plan.prerollFrames;
  const bool single = length == 0;
  // The first frame this segment's encoder encodes, and its first kept frame.
  const std::uint64_t startFrame = claimed.startFrame;
  const std::uint64_t drop = segment == 0 ? 0 : preroll;
  // A segment exists when the audio reaches past its first kept frame by more
  // than the encoder needs to finish the frames before it.
  if (segment > 0) {
    const std::uint64_t threshold = (startFrame + drop) * kMp3FrameSamples + kLookaheadSamples;
    const std::optional<std::uint64_t> pcm = WaitForPcm(threshold);
    if (!pcm) return false;
    if (*pcm <= threshold) {
      NoMoreSegments();
      return false;
    }
  }
  // Past this much audio the next segment exists and this one ends at its quota.
  const std::uint64_t nextThreshold =
      single ? kNoEnd : (startFrame + length + preroll) * kMp3FrameSamples + kLookaheadSamples;

  CLameEncoder encoder;
  if (encoder.Start() != CLameEncoder::StartResult::kReady) {
    Fail("Error opening encoding stream");
    return false;
  }
  CFrameCutter cutter(drop, single ? kNoEnd : length + preroll);
  std::vector<std::int16_t> pcm(kFeedFrames * 2);
  std::vector<std::uint8_t> mp3(static_cast<std::size_t>(CLameEncoder::OutputBound(kFeedFrames)));
  std::vector<std::uint8_t> kept;
  std::uint64_t position = startFrame * kMp3FrameSamples;
  bool last = single;

  for (;;) {
    ThrowIfCancelled(m_cancel);
    kept.clear();
    std::uint64_t keptFrames = 0;
    if (!last && cutter.Full()) {
      const std::optional<std::uint64_t> available = WaitForPcm(nextThreshold);
      if (!available) return false;
      if (*available > nextThreshold) break;  // the next segment takes over
      last = true;
      cutter.KeepAll(kept, keptFrames);
    }
    const std::optional<std::uint64_t> available = WaitForPcm(position);
    if (!available) return false;
    if (*available > position) {
      // Audio past the next segment's threshold would only make frames that
      // are dropped; feed it only if the quota is somehow not met by then.
      const std::uint64_t end = !last && position < nextThreshold
                                    ? std::min(*available, nextThreshold)
                                    : *available;
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(kFeedFrames, end - position));
      const std::size_t got = m_reader(position, pcm.data(), want);
      if (got != want) {
        Fail("Unable to read the decoded audio from its temporary file");
        return false;
      }
      const int bytes = encoder.Encode(pcm.data(), static_cast<int>(got), mp3.data(),
                                       static_cast<int>(mp3.size()));
      if (bytes < 0 || !cutter.Add(mp3.data(), static_cast<std::size_t>(bytes), kept, keptFrames)) {
        Fail("beEncodeChunk() failed");
        return false;
      }
      position += got;
      Emit(segment, kept, keptFrames);
      continue;
    }
    // All the audio there is went in: this is the last segment.
    if (!last) {
      if (*available > nextThreshold) {
        Fail("The MP3 encoder lost its place in the audio");
        return false;
      }
      last = true;
      cutter.KeepAll(kept, keptFrames);
    }
    const int bytes = encoder.Flush(mp3.data(), static_cast<int>(mp3.size()));
    if (bytes < 0 || !cutter.Add(mp3.data(), static_cast<std::size_t>(bytes), kept, keptFrames) ||
        !cutter.Whole()) {
      Fail("beExitStream failed (" + std::to_string(bytes < 0 ? -bytes : 0) + ")");
      return false;
    }
    Emit(segment, kept, keptFrames);
    break;
  }
  Complete(segment, last);
  return true;
}

void CSegmentEncoder::Emit(std::uint64_t segment, const std::vector<std::uint8_t>& bytes,
                           std::uint64_t frames) {
  if (bytes.empty()) return;
  std::lock_guard lock(m_mutex);
  m_encodedFrames += frames * kMp3FrameSamples;
  if (segment == m_head) {
    WriteOut(bytes.data(), bytes.size());
  } else {
    std::vector<std::uint8_t>& pending = m_pending[segment].bytes;
    pending.insert(pending.end(), bytes.begin(), bytes.end());
  }
}

void CSegmentEncoder::Complete(std::uint64_t segment, bool last) {
  {
    std::lock_guard lock(m_mutex);
    m_pending[segment].complete = true;
    if (last) m_lastSegment = segment;
    // Write out every segment that is now next in line, and what the one after
    // them has made so far; from then on it writes straight to the output.
    for (auto it = m_pending.find(m_head); it != m_pending.end() && it->second.complete;
         it = m_pending.find(m_head)) {
      m_pending.erase(it);
      ++m_head;
      auto next = m_pending.find(m_head);
      if (next != m_pending.end() && !next->second.bytes.empty()) {
        if (!WriteOut(next->second.bytes.data(), next->second.bytes.size())) break;
        next->second.bytes.clear();
        next->second.bytes.shrink_to_fit();
      }
    }
  }
  m_changed.notify_all();
}

void CSegmentEncoder::NoMoreSegments() {
  {
    std::lock_guard lock(m_mutex);
    m_noMoreSegments = true;
  }
  m_changed.notify_all();
}

bool CSegmentEncoder::WriteOut(const std::uint8_t* bytes, std::size_t size) {
  if (!m_failure.empty()) return false;
  errno = 0;
  if (std::fwrite(bytes, 1, size, m_output) == size) return true;
  // A full disk is the usual cause: say which, and where.
  const int error = errno;
  m_failure = "fwrite error";
  if (!m_outputName.empty()) m_failure += ": " + m_outputName;
  if (error != 0) m_failure += std::string(": ") + std::strerror(error);
  m_stop = true;
  return false;
}

void CSegmentEncoder::Fail(const std::string& text) {
  {
    std::lock_guard lock(m_mutex);
    if (m_failure.empty()) m_failure = text;
    m_stop = true;
  }
  m_changed.notify_all();
}

}  // namespace vorn
