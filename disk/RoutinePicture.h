#pragma once
// What the preview of a routine shows, as plain data: the waveform's columns
// and the control data's lanes on one time axis, with the notes that say how
// the control data was read and what is wrong or unsure about it. The
// window, the PNG and the SVG all draw this one record.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/Mp3Peaks.h"

namespace vorn {

struct ControlLane {
  enum class Kind {
    kValues,  // one value per frame (a servo's position, a DMX slot)
    kBytes,   // the bytes of each frame, one row per byte of the frame
  };
  Kind kind = Kind::kValues;
  std::string name;  // "servo 3", "slot 12", "bytes"
  int maxValue = 255;
  // kValues: the lowest and highest value per column; low > high where the
  // column holds no value for this lane.
  std::vector<std::uint8_t> low;
  std::vector<std::uint8_t> high;
  // kBytes: `rows` bytes per column (the highest of each byte over the
  // column's frames), column after column.
  int rows = 0;
  std::vector<std::uint8_t> cells;
};

struct ControlPicture {
  std::string protocol;            // as the grid names it
  std::uint64_t frames = 0;        // decoded frames
  std::uint64_t frameBytes = 0;    // the size a frame was taken to have (0: varies)
  double frameSeconds = 0;         // time from one frame to the next on the axis
  std::uint64_t framesPerColumn = 1;
  std::uint64_t columns = 0;
  std::string frameNote;           // how a frame's size was inferred
  std::vector<std::string> notes;  // what is wrong or unsure
  std::vector<ControlLane> lanes;

  double Seconds() const { return static_cast<double>(frames) * frameSeconds; }
};

struct RoutinePicture {
  std::string title;
  // The waveform: columns of samplesPerColumn samples at 44,100 Hz; `peaks`
  // holds those decoded so far.
  std::uint64_t samplesPerColumn = kMinSamplesPerColumn;
  std::vector<PeakColumn> peaks;
  double audioSeconds = 0;  // the length known so far (the whole once decoded)
  bool audioComplete = false;
  ControlPicture control;
  std::vector<std::string> notes;  // about the audio and the disk

  // The time the picture spans: the longer of audio and control data.
  double Seconds() const;
  // Every note, the control data's frame note first.
  std::vector<std::string> AllNotes() const;
};

}  // namespace vorn
