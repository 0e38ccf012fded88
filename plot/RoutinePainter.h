#pragma once
// The one picture of a routine: title and notes, a time ruler, the waveform
// and the control data's lanes on one time axis, and a playhead. Painted on
// any QPainter, so the preview window, the PNG and the SVG are the same
// drawing; a view chooses the time span shown.

#include <QRect>
#include <QSize>

#include <optional>
#include <vector>

#include "disk/RoutinePicture.h"

class QPainter;

namespace vorn {

struct PlotView {
  double from = 0;  // seconds
  double to = 0;    // seconds; 0 or less: to the end of the routine
  std::optional<double> playhead;
};

// Where the parts of the picture lie, for a given area: the window maps a
// click to a time with it, and the tests read pixels of a lane.
struct PlotGeometry {
  QRect header;  // title and notes
  QRect ruler;
  QRect wave;
  std::vector<QRect> lanes;
  int left = 0;   // x of `from`
  int right = 0;  // x of `to`
  double from = 0;
  double to = 1;

  int XOf(double seconds) const;
  double SecondsAt(int x) const;
};

class CRoutinePainter {
 public:
  static constexpr int kLabelWidth = 84;
  static constexpr int kRulerHeight = 22;
  static constexpr int kLaneHeight = 34;
  static constexpr int kLaneGap = 4;

  // The picture's natural height for `width` and `waveHeight`: header,
  // ruler, waveform and every lane.
  static int NaturalHeight(const RoutinePicture& picture, int width, int waveHeight = 140);
  static PlotGeometry Layout(const RoutinePicture& picture, const QRect& area, const PlotView& view);
  static void Paint(QPainter& painter, const QRect& area, const RoutinePicture& picture, const PlotView& view);
};

}  // namespace vorn
