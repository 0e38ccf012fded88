#pragma once
// Decodes a routine's control data into lanes on the frames' time axis, per
// protocol where the data says it: MiniSSC (sync byte 255, servo number,
// position 0..254) as one lane per servo; SV203 (ASCII lines of servo
// commands: "SVn" selects a servo, "Mn" moves it, "In"/"Dn" step it) as one
// lane per servo; DMX as one lane per slot that changes; anything else, and
// data that does not decode as its protocol says, as one lane of the bytes of
// each frame.
//
// The routine states a frame's period but not its size, so the size is
// inferred (see docs/preview.md) and the picture's frame note says how; what
// is unsure or wrong goes into its notes. Fed piece by piece, with at most a
// few thousand columns per lane (columns merge in pairs when the data runs
// longer than foreseen), memory stays bounded whatever the data holds.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "disk/ProtocolCode.h"
#include "disk/RoutinePicture.h"

namespace vorn {

inline constexpr std::uint64_t kMaxLaneColumns = 4096;

struct ControlSetup {
  ProtocolCode protocol;
  std::uint8_t frameRate = 0;      // ms, from the routine's entry
  std::uint64_t regionBytes = 0;   // the bytes that will be fed
  double audioSeconds = 0;         // the audio's length, to measure frames against
};

class CControlDecoder {
 public:
  // `head`: the region's first bytes (up to 64 KiB), from which the frame's
  // size and the protocol's fit are judged; Feed then gets the whole region,
  // the head included.
  CControlDecoder(const ControlSetup& setup, const std::vector<std::uint8_t>& head);

  void Feed(const std::uint8_t* data, std::size_t size);
  ControlPicture Finish();

 private:
  enum class Mode { kMiniSsc, kSv203, kSlots, kBytes };

  void InferMiniSsc(const std::vector<std::uint8_t>& head);
  void InferSv203(const std::vector<std::uint8_t>& head);
  void InferFixed(const std::string& why, const std::vector<std::uint8_t>& head);
  void Note(const std::string& text) { m_picture.notes.push_back(text); }

  void TakeMiniSsc(std::uint8_t byte);
  void TakeSv203(std::uint8_t byte);
  void EndSv203Line();
  void TakeFixed(std::uint8_t byte);
  void ApplyFixedFrame(const std::vector<std::uint8_t>& frame);
  void AfterPadding(std::uint8_t byte);

  // The lanes' columns.
  void Put(int lane, std::uint64_t frame, std::uint8_t value);
  void PutBytes(std::uint64_t frame, const std::vector<std::uint8_t>& bytes);
  std::uint64_t ColumnOf(std::uint64_t frame);
  void Compact();

  ControlSetup m_setup;
  Mode m_mode = Mode::kBytes;
  ControlPicture m_picture;
  std::uint64_t m_offset = 0;  // bytes fed so far
  std::optional<std::uint64_t> m_paddingStart;
  bool m_afterPaddingNoted = false;
  std::uint64_t m_frame = 0;   // the frame being decoded
  std::uint64_t m_badBytes = 0;
  std::optional<std::string> m_firstFault;

  // MiniSSC
  std::vector<std::uint8_t> m_servoOrder;  // the servos of the first frame, in order
  int m_phase = 0;
  std::uint8_t m_servo = 0;
  std::uint64_t m_triples = 0;
  std::uint64_t m_outOfOrder = 0;

  // SV203
  std::string m_line;
  bool m_lineTooLong = false;
  int m_selected = -1;
  std::map<int, int> m_positions;  // servo -> position held
  std::vector<int> m_moved;        // servos moved by the line being decoded
  std::uint64_t m_heldColumn = UINT64_MAX;
  std::uint64_t m_unknownCommands = 0;

  // DMX and bytes
  std::vector<std::uint8_t> m_fixedFrame;
  std::uint64_t m_zeroFrames = 0;  // all-zero frames not yet applied: padding, or data
  std::uint64_t m_zeroFramesStart = 0;

  std::map<int, ControlLane> m_lanes;
  ControlLane m_bytesLane;
};

}  // namespace vorn
