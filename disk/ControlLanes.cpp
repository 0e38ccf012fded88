#include "disk/ControlLanes.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

namespace vorn {
namespace {

constexpr std::uint8_t kMiniSscSync = 255;
constexpr std::uint8_t kMiniSscMaxValue = 254;
// A routine moves at most this many servos; a first servo number that does
// not come back within this many commands leaves the frame's size open.
constexpr std::size_t kMaxServosPerFrame = 256;
constexpr std::uint64_t kLargestDmxFrame = 513;     // a start code and 512 slots
constexpr std::uint64_t kLargestBytesFrame = 4096;  // beyond it a "frame" says nothing
constexpr int kMaxByteRows = 64;                    // rows of the bytes lane
constexpr std::size_t kMaxSv203Line = 256;
constexpr std::uint64_t kSector = 512;

std::string Format(const char* format, auto... values) {
  std::array<char, 512> text{};
  std::snprintf(text.data(), text.size(), format, values...);
  return text.data();
}

unsigned long long U(std::uint64_t value) { return static_cast<unsigned long long>(value); }

}  // namespace

CControlDecoder::CControlDecoder(const ControlSetup& setup, const std::vector<std::uint8_t>& head) : m_setup(setup) {
  m_picture.protocol = setup.protocol.Name();
  m_picture.frameSeconds = setup.frameRate / 1000.0;
  if (setup.protocol.IsMiniSSC()) {
    InferMiniSsc(head);
  } else if (setup.protocol.IsSV203()) {
    InferSv203(head);
  } else if (setup.protocol.IsDMX()) {
    m_mode = Mode::kSlots;
    InferFixed("", head);
  } else {
    InferFixed("the protocol is Unknown (code " + std::to_string(setup.protocol.Code()) + ")", head);
  }
  // Columns enough for the frames the region can hold at the size taken, at
  // most kMaxLaneColumns; a longer run merges them later.
  const std::uint64_t frameBytes = std::max<std::uint64_t>(1, m_picture.frameBytes != 0 ? m_picture.frameBytes : 8);
  const std::uint64_t frames = std::max<std::uint64_t>(1, setup.regionBytes / frameBytes);
  m_picture.framesPerColumn = (frames + kMaxLaneColumns - 1) / kMaxLaneColumns;
  if (m_mode == Mode::kBytes) {
    m_bytesLane.kind = ControlLane::Kind::kBytes;
    m_bytesLane.name = "bytes";
    m_bytesLane.rows = static_cast<int>(std::min<std::uint64_t>(m_picture.frameBytes, kMaxByteRows));
    if (m_picture.frameBytes > kMaxByteRows) {
      Note(Format("only the first %d bytes of each %llu-byte frame are drawn", kMaxByteRows, U(m_picture.frameBytes)));
    }
  }
}

void CControlDecoder::InferMiniSsc(const std::vector<std::uint8_t>& head) {
  // A frame holds one command per servo the routine moves: its size is the
  // commands up to the first servo number that comes again.
  std::string fault;
  bool repeated = false;
  for (std::size_t i = 0; i + 2 < head.size() && m_servoOrder.size() < kMaxServosPerFrame; i += 3) {
    if (head[i] != kMiniSscSync) {
      if (head[i] != 0 || i == 0) fault = Format("no sync byte (255) at byte %zu", i);
      break;  // else the padding after a short data
    }
    if (head[i + 1] == kMiniSscSync) {
      fault = Format("servo number 255 at byte %zu", i + 1);
      break;
    }
    if (head[i + 2] == kMiniSscSync) {
      fault = Format("position 255 at byte %zu", i + 2);
      break;
    }
    if (!m_servoOrder.empty() && head[i + 1] == m_servoOrder.front()) {
      repeated = true;
      break;
    }
    m_servoOrder.push_back(head[i + 1]);
  }
  if (m_servoOrder.empty()) {
    if (head.empty()) {
      m_mode = Mode::kMiniSsc;
      m_servoOrder = {0};
      m_picture.frameBytes = 3;
      m_picture.frameNote = "MiniSSC: no control data";
      return;
    }
    InferFixed("the data does not decode as MiniSSC (" + (fault.empty() ? std::string("no whole command") : fault) +
               ")", head);
    return;
  }
  m_mode = Mode::kMiniSsc;
  const std::size_t servos = m_servoOrder.size();
  m_picture.frameBytes = 3 * servos;
  if (servos == kMaxServosPerFrame) {
    m_picture.frameNote = Format("MiniSSC: servo %d does not come again within %zu commands; a frame is taken "
                                 "to be %zu commands (unsure)", m_servoOrder.front(), kMaxServosPerFrame, servos);
  } else if (!repeated) {
    m_picture.frameNote = Format("MiniSSC: no servo number comes again, so the data is taken as one frame of "
                                 "%zu servos (unsure)", servos);
  } else {
    m_picture.frameNote = Format("MiniSSC: a frame is %zu command%s (%zu bytes): servo %d comes again after %zu",
                                 servos, servos == 1 ? "" : "s", 3 * servos, m_servoOrder.front(), servos);
  }
}

void CControlDecoder::InferSv203(const std::vector<std::uint8_t>& head) {
  const bool lines = std::any_of(head.begin(), head.end(), [](std::uint8_t b) { return b == '\r' || b == '\n'; });
  bool commands = false;
  for (std::size_t i = 0; i + 1 < head.size() && !commands; ++i) {
    commands = std::toupper(head[i]) == 'S' && std::toupper(head[i + 1]) == 'V';
  }
  if (!lines || !commands) {
    InferFixed(std::string("the data does not decode as SV203 (") +
               (!commands ? "no \"SV\" servo command" : "no line ends") + " in its first bytes)", head);
    return;
  }
  m_mode = Mode::kSv203;
  m_picture.frameBytes = 0;
  m_picture.frameNote = "SV203: a frame is one line of commands, up to its carriage return or line feed; frames "
                        "vary in size";
}

// The smallest period at which the bytes repeat best: control data changes
// little from frame to frame, so a byte is most like the same byte one frame
// later. 0 when the bytes show no period (all alike, or noise).
static std::uint64_t RepeatPeriod(const std::vector<std::uint8_t>& head, std::uint64_t largest) {
  const std::size_t n = std::min<std::size_t>(head.size(), 16384);
  const std::uint64_t top = std::min<std::uint64_t>(largest, n / 4);
  if (top < 2) return 0;
  std::vector<double> distance(top + 1, 0);
  double sum = 0;
  for (std::uint64_t period = 1; period <= top; ++period) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i + period < n; ++i) total += static_cast<std::uint64_t>(std::abs(head[i] - head[i + period]));
    distance[period] = static_cast<double>(total) / static_cast<double>(n - period);
    sum += distance[period];
  }
  const double mean = sum / static_cast<double>(top);
  const double best = *std::min_element(distance.begin() + 1, distance.end());
  if (mean <= 0 || best > mean / 4) return 0;
  for (std::uint64_t period = 1; period <= top; ++period) {
    if (distance[period] <= best + mean / 50) return period;
  }
  return 0;
}

void CControlDecoder::InferFixed(const std::string& why, const std::vector<std::uint8_t>& head) {
  if (!why.empty()) {
    m_mode = Mode::kBytes;
    Note(why + "; shown as the bytes of each frame");
  }
  const std::uint64_t largest = m_mode == Mode::kSlots ? kLargestDmxFrame : kLargestBytesFrame;
  const std::uint64_t fallback = m_mode == Mode::kSlots ? 512 : 16;
  const char* what = m_mode == Mode::kSlots ? "DMX" : "Bytes";
  if (const std::uint64_t period = RepeatPeriod(head, largest); period > 1) {
    m_picture.frameBytes = period;
    m_picture.frameNote = Format("%s: a frame is taken to be %llu bytes, the period at which the data repeats best; "
                                 "the routine does not state it", what, U(period));
    return;
  }
  // Nothing in the data marks where a frame ends: the size that makes the
  // frames play as long as the audio is the best there is.
  if (m_setup.frameRate != 0 && m_setup.audioSeconds > 0 && m_setup.regionBytes != 0) {
    const double frames = m_setup.audioSeconds * 1000.0 / m_setup.frameRate;
    const auto size = static_cast<std::uint64_t>(std::llround(static_cast<double>(m_setup.regionBytes) / frames));
    if (size >= 1 && size <= largest) {
      m_picture.frameBytes = size;
      m_picture.frameNote = Format("%s: a frame is taken to be %llu bytes, so that %llu-ms frames play as long as "
                                   "the audio (%.1f s); the routine does not state it (unsure)",
                                   what, U(size), U(m_setup.frameRate), m_setup.audioSeconds);
      return;
    }
  }
  m_picture.frameBytes = fallback;
  m_picture.frameNote = Format("%s: a frame is taken to be %llu bytes; %s (unsure)", what, U(fallback),
                               m_setup.frameRate == 0    ? "a 0 ms frame period gives nothing to measure it by"
                               : m_setup.audioSeconds <= 0 ? "there is no audio to measure it by"
                                                           : "measured against the audio it would not fit a frame");
}

void CControlDecoder::Feed(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i, ++m_offset) {
    const std::uint8_t byte = data[i];
    if (m_paddingStart) {
      AfterPadding(byte);
      continue;
    }
    switch (m_mode) {
      case Mode::kMiniSsc: TakeMiniSsc(byte); break;
      case Mode::kSv203: TakeSv203(byte); break;
      case Mode::kSlots:
      case Mode::kBytes: TakeFixed(byte); break;
    }
  }
}

void CControlDecoder::AfterPadding(std::uint8_t byte) {
  if (byte == 0 || m_afterPaddingNoted) return;
  m_afterPaddingNoted = true;
  Note(Format("the data stops at byte %llu (zeros), yet byte %llu is not zero: what follows is not shown",
              U(*m_paddingStart), U(m_offset)));
}

void CControlDecoder::TakeMiniSsc(std::uint8_t byte) {
  const auto fault = [this](const std::string& text) {
    ++m_badBytes;
    if (!m_firstFault) m_firstFault = text;
  };
  switch (m_phase) {
    case 0:
      if (byte == kMiniSscSync) {
        m_phase = 1;
      } else if (byte == 0) {
        m_paddingStart = m_offset;
      } else {
        fault(Format("no sync byte (255) at byte %llu", U(m_offset)));
      }
      return;
    case 1:
      if (byte == kMiniSscSync) {
        fault(Format("servo number 255 at byte %llu", U(m_offset)));
        return;  // taken as the next command's sync
      }
      m_servo = byte;
      m_phase = 2;
      return;
    default:
      if (byte == kMiniSscSync) {
        fault(Format("position 255 at byte %llu", U(m_offset)));
        m_phase = 1;
        return;
      }
      const std::size_t servos = m_servoOrder.size();
      if (m_servo != m_servoOrder[m_triples % servos]) ++m_outOfOrder;
      m_frame = m_triples / servos;
      Put(m_servo, m_frame, byte);
      ++m_triples;
      m_picture.frames = (m_triples + servos - 1) / servos;
      m_phase = 0;
      return;
  }
}

void CControlDecoder::TakeSv203(std::uint8_t byte) {
  if (byte == '\r' || byte == '\n') return EndSv203Line();
  if (byte == 0) {
    EndSv203Line();
    m_paddingStart = m_offset;
    return;
  }
  if (m_line.size() < kMaxSv203Line) {
    m_line.push_back(static_cast<char>(std::toupper(byte)));
  } else if (!m_lineTooLong) {
    m_lineTooLong = true;
    Note(Format("a line of more than %zu bytes ends at byte %llu: it is cut there", kMaxSv203Line, U(m_offset)));
  }
}

void CControlDecoder::EndSv203Line() {
  if (m_line.empty()) return;
  std::size_t i = 0;
  const auto number = [&](int& value) {
    while (i < m_line.size() && m_line[i] == ' ') ++i;
    bool any = false;
    value = 0;
    while (i < m_line.size() && std::isdigit(static_cast<unsigned char>(m_line[i])) != 0) {
      value = std::min(value * 10 + (m_line[i++] - '0'), 100000);
      any = true;
    }
    return any;
  };
  while (i < m_line.size()) {
    const char c = m_line[i];
    int value = 0;
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (c == 'S' && i + 1 < m_line.size() && m_line[i + 1] == 'V') {
      i += 2;
      if (number(value) && value <= 255) m_selected = value;
    } else if ((c == 'M' || c == 'I' || c == 'D') && m_selected >= 0) {
      ++i;
      if (!number(value)) continue;
      int& position = m_positions[m_selected];
      m_moved.push_back(m_selected);
      position = std::clamp(c == 'M' ? value : c == 'I' ? position + value : position - value, 0, 255);
    } else {
      ++i;
      // Board selects, waits and the like move nothing; skip the command's number.
      while (i < m_line.size() && std::isdigit(static_cast<unsigned char>(m_line[i])) != 0) ++i;
      if (std::isalpha(static_cast<unsigned char>(c)) == 0) continue;
      if (m_unknownCommands++ == 0) {
        m_firstFault = Format("command '%c' in the line ending at byte %llu moves no servo", c, U(m_offset));
      }
    }
  }
  // A held position needs putting once per column, a moved one at its move:
  // a flood of short lines under many servos stays linear in the data.
  const std::uint64_t column = ColumnOf(m_frame);
  if (column != m_heldColumn) {
    m_heldColumn = column;
    for (const auto& [servo, position] : m_positions) Put(servo, m_frame, static_cast<std::uint8_t>(position));
  } else {
    for (int servo : m_moved) Put(servo, m_frame, static_cast<std::uint8_t>(m_positions[servo]));
  }
  m_moved.clear();
  ++m_frame;
  m_picture.frames = m_frame;
  m_line.clear();
  m_lineTooLong = false;
}

void CControlDecoder::TakeFixed(std::uint8_t byte) {
  m_fixedFrame.push_back(byte);
  if (m_fixedFrame.size() < m_picture.frameBytes) return;
  const bool zero = std::all_of(m_fixedFrame.begin(), m_fixedFrame.end(), [](std::uint8_t b) { return b == 0; });
  if (zero) {
    if (m_zeroFrames++ == 0) m_zeroFramesStart = m_offset + 1 - m_fixedFrame.size();
  } else {
    ApplyFixedFrame(m_fixedFrame);
  }
  m_fixedFrame.clear();
}

void CControlDecoder::ApplyFixedFrame(const std::vector<std::uint8_t>& frame) {
  // All-zero frames held back turn out to be data: something follows them.
  if (m_zeroFrames != 0) {
    const std::vector<std::uint8_t> zeros(frame.size(), 0);
    const std::uint64_t held = std::exchange(m_zeroFrames, 0);
    for (std::uint64_t k = 0; k < held; ++k) ApplyFixedFrame(zeros);
  }
  if (m_mode == Mode::kSlots) {
    for (std::size_t slot = 0; slot < frame.size(); ++slot) Put(static_cast<int>(slot), m_frame, frame[slot]);
  } else {
    PutBytes(m_frame, frame);
  }
  m_picture.frames = ++m_frame;
}

std::uint64_t CControlDecoder::ColumnOf(std::uint64_t frame) {
  while (frame / m_picture.framesPerColumn >= kMaxLaneColumns) Compact();
  const std::uint64_t column = frame / m_picture.framesPerColumn;
  m_picture.columns = std::max(m_picture.columns, column + 1);
  return column;
}

// Twice the frames per column: neighbouring columns merge.
void CControlDecoder::Compact() {
  const auto mergeValues = [](ControlLane& lane) {
    for (std::size_t c = 0; 2 * c < lane.low.size(); ++c) {
      const std::size_t b = std::min(2 * c + 1, lane.low.size() - 1);
      lane.low[c] = std::min(lane.low[2 * c], lane.low[b]);
      lane.high[c] = std::max(lane.high[2 * c], lane.high[b]);
    }
    std::fill(lane.low.begin() + static_cast<std::ptrdiff_t>((lane.low.size() + 1) / 2), lane.low.end(), 255);
    std::fill(lane.high.begin() + static_cast<std::ptrdiff_t>((lane.high.size() + 1) / 2), lane.high.end(), 0);
  };
  for (auto& [key, lane] : m_lanes) mergeValues(lane);
  if (m_bytesLane.rows > 0 && !m_bytesLane.cells.empty()) {
    const auto rows = static_cast<std::size_t>(m_bytesLane.rows);
    for (std::size_t c = 0; c < kMaxLaneColumns / 2; ++c) {
      for (std::size_t r = 0; r < rows; ++r) {
        m_bytesLane.cells[c * rows + r] =
            std::max(m_bytesLane.cells[2 * c * rows + r], m_bytesLane.cells[(2 * c + 1) * rows + r]);
      }
    }
    std::fill(m_bytesLane.cells.begin() + static_cast<std::ptrdiff_t>(kMaxLaneColumns / 2 * rows),
              m_bytesLane.cells.end(), 0);
  }
  m_picture.framesPerColumn *= 2;
  m_picture.columns = (m_picture.columns + 1) / 2;
  m_heldColumn = UINT64_MAX;
}

void CControlDecoder::Put(int key, std::uint64_t frame, std::uint8_t value) {
  const std::uint64_t column = ColumnOf(frame);
  auto [found, added] = m_lanes.try_emplace(key);
  ControlLane& lane = found->second;
  if (added) {
    lane.name = (m_mode == Mode::kSlots ? "slot " : "servo ") + std::to_string(m_mode == Mode::kSlots ? key + 1 : key);
    lane.maxValue = m_mode == Mode::kMiniSsc ? kMiniSscMaxValue : 255;
    lane.low.assign(kMaxLaneColumns, 255);
    lane.high.assign(kMaxLaneColumns, 0);
  }
  lane.low[column] = std::min(lane.low[column], value);
  lane.high[column] = std::max(lane.high[column], value);
}

void CControlDecoder::PutBytes(std::uint64_t frame, const std::vector<std::uint8_t>& bytes) {
  const std::uint64_t column = ColumnOf(frame);
  const auto rows = static_cast<std::size_t>(m_bytesLane.rows);
  if (m_bytesLane.cells.empty()) m_bytesLane.cells.assign(kMaxLaneColumns * rows, 0);
  for (std::size_t r = 0; r < rows && r < bytes.size(); ++r) {
    std::uint8_t& cell = m_bytesLane.cells[column * rows + r];
    cell = std::max(cell, bytes[r]);
  }
}

ControlPicture CControlDecoder::Finish() {
  switch (m_mode) {
    case Mode::kMiniSsc:
      if (m_phase != 0) Note(Format("the data ends inside a command at byte %llu", U(m_offset)));
      if (m_outOfOrder != 0) {
        Note(Format("%llu command%s do not follow the first frame's servo order: frames are counted by commands, "
                    "so later ones may sit a little off in time", U(m_outOfOrder), m_outOfOrder == 1 ? "" : "s"));
      }
      break;
    case Mode::kSv203:
      EndSv203Line();
      break;
    case Mode::kSlots:
    case Mode::kBytes: {
      // Zeros in the last sector may be the padding after the data or data
      // that is zero; before the last sector they can only be data.
      const std::uint64_t lastSector = m_setup.regionBytes >= kSector ? m_setup.regionBytes - kSector + 1 : 0;
      if (m_zeroFrames != 0) {
        const std::uint64_t size = m_picture.frameBytes;
        std::uint64_t keep = 0;
        while (keep < m_zeroFrames && m_zeroFramesStart + keep * size < lastSector) ++keep;
        if (keep != 0) {
          m_zeroFrames = 0;
          const std::vector<std::uint8_t> zeros(size, 0);
          for (std::uint64_t k = 0; k < keep; ++k) ApplyFixedFrame(zeros);
        }
      }
      const bool partial = std::any_of(m_fixedFrame.begin(), m_fixedFrame.end(), [](std::uint8_t b) { return b != 0; });
      if (partial) {
        Note(Format("the data ends %zu bytes into a frame", m_fixedFrame.size()));
        m_fixedFrame.resize(m_picture.frameBytes, 0);
        ApplyFixedFrame(m_fixedFrame);
      }
      break;
    }
  }
  if (m_firstFault) {
    Note(m_picture.protocol + " data out of line: " + *m_firstFault +
         (m_badBytes + m_unknownCommands > 1 ? Format(" (%llu in all)", U(m_badBytes + m_unknownCommands)) : ""));
  }

  if (m_setup.frameRate == 0 && m_picture.frames != 0) {
    if (m_setup.audioSeconds > 0) {
      m_picture.frameSeconds = m_setup.audioSeconds / static_cast<double>(m_picture.frames);
      Note("the frame period is 0 ms, so the unit cannot play this control data; its frames are spread over the "
           "audio's length here");
    } else {
      m_picture.frameSeconds = 0.02;
      Note("the frame period is 0 ms, so the unit cannot play this control data; its frames are drawn 20 ms apart");
    }
  } else if (m_picture.frames != 0 && m_setup.audioSeconds > 0 &&
             std::fabs(m_picture.Seconds() - m_setup.audioSeconds) > 1.0) {
    Note(Format("the control data plays %.1f s, the audio %.1f s: the unit will cut one short", m_picture.Seconds(),
                m_setup.audioSeconds));
  }

  if (m_mode == Mode::kBytes) {
    if (m_picture.frames != 0) {
      m_bytesLane.cells.resize(m_picture.columns * static_cast<std::size_t>(m_bytesLane.rows));
      m_picture.lanes.push_back(std::move(m_bytesLane));
    }
  } else {
    std::uint64_t constant = 0;
    for (auto& [key, lane] : m_lanes) {
      lane.low.resize(m_picture.columns);
      lane.high.resize(m_picture.columns);
      const std::uint8_t low = *std::min_element(lane.low.begin(), lane.low.end());
      const std::uint8_t high = *std::max_element(lane.high.begin(), lane.high.end());
      if (m_mode == Mode::kSlots && low == high) {
        ++constant;
        continue;
      }
      m_picture.lanes.push_back(std::move(lane));
    }
    if (constant != 0) {
      Note(Format("%llu slot%s keep one value throughout and are not drawn", U(constant), constant == 1 ? "" : "s"));
    }
  }
  m_lanes.clear();
  return std::move(m_picture);
}

}  // namespace vorn
