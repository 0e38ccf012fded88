#include "plot/RoutinePainter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

#include "disk/RoutinePreview.h"

namespace vorn {
namespace {

constexpr int kMargin = 6;

const QColor kBackground(255, 255, 255);
const QColor kGrid(226, 226, 226);
const QColor kText(32, 32, 32);
const QColor kNote(150, 80, 0);
const QColor kWave(30, 70, 150);
const QColor kLane(20, 120, 60);
const QColor kPlayhead(210, 30, 30);

QString Text(const std::string& text) { return QString::fromUtf8(text.c_str()); }

// Seconds between ruler labels: the smallest step that leaves room for a label.
double RulerStep(double secondsPerPixel, int labelWidth) {
  static constexpr std::array<double, 14> kSteps = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800};
  for (double step : kSteps) {
    if (step / secondsPerPixel >= labelWidth) return step;
  }
  return 3600;
}

QString RulerText(double seconds, double step) {
  const auto whole = static_cast<long long>(std::floor(seconds + 1e-6));
  QString text = QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
  if (step < 1) text += QStringLiteral(".%1").arg(static_cast<int>(std::lround((seconds - whole) * 10)) % 10);
  return text;
}

std::vector<std::string> HeaderLines(const RoutinePicture& picture) {
  std::vector<std::string> lines;
  std::string title = picture.title.empty() ? std::string("(untitled)") : picture.title;
  title += "  \xE2\x80\x94  audio " + PreviewTimeText(picture.audioSeconds);
  if (!picture.audioComplete) title += " (decoding)";
  if (picture.control.frames != 0) {
    title += ", " + picture.control.protocol + " " + std::to_string(picture.control.frames) + " frames, " +
             PreviewTimeText(picture.control.Seconds());
  }
  lines.push_back(title);
  for (const std::string& note : picture.AllNotes()) lines.push_back(note);
  return lines;
}

int LineHeight() {
  const QFontMetrics metrics{QFont()};
  return metrics.height();
}

}  // namespace

int PlotGeometry::XOf(double seconds) const {
  return left + static_cast<int>(std::lround((seconds - from) / (to - from) * (right - left)));
}

double PlotGeometry::SecondsAt(int x) const {
  return from + (to - from) * static_cast<double>(x - left) / std::max(1, right - left);
}

int CRoutinePainter::NaturalHeight(const RoutinePicture& picture, int /*width*/, int waveHeight) {
  const int lines = static_cast<int>(HeaderLines(picture).size());
  const int lanes = static_cast<int>(picture.control.lanes.size());
  return kMargin + lines * LineHeight() + kMargin + kRulerHeight + waveHeight + kLaneGap +
         lanes * (kLaneHeight + kLaneGap) + kMargin;
}

PlotGeometry CRoutinePainter::Layout(const RoutinePicture& picture, const QRect& area, const PlotView& view) {
  PlotGeometry g;
  g.from = std::max(0.0, view.from);
  g.to = view.to > g.from ? view.to : std::max(g.from + 1.0, picture.Seconds());
  if (g.to <= g.from) g.to = g.from + 1;
  g.left = area.left() + kLabelWidth;
  g.right = std::max(g.left + 1, area.right() - kMargin);
  const int lines = static_cast<int>(HeaderLines(picture).size());
  g.header = QRect(area.left() + kMargin, area.top() + kMargin, area.width() - 2 * kMargin, lines * LineHeight());
  g.ruler = QRect(g.left, g.header.bottom() + 1 + kMargin, g.right - g.left, kRulerHeight);
  const int lanes = static_cast<int>(picture.control.lanes.size());
  const int below = lanes * (kLaneHeight + kLaneGap);
  const int waveHeight = std::max(40, area.bottom() - kMargin - below - g.ruler.bottom() - kLaneGap);
  g.wave = QRect(g.left, g.ruler.bottom() + 1, g.right - g.left, waveHeight);
  int y = g.wave.bottom() + 1 + kLaneGap;
  for (int k = 0; k < lanes; ++k) {
    g.lanes.emplace_back(g.left, y, g.right - g.left, kLaneHeight);
    y += kLaneHeight + kLaneGap;
  }
  return g;
}

void CRoutinePainter::Paint(QPainter& painter, const QRect& area, const RoutinePicture& picture,
                            const PlotView& view) {
  const PlotGeometry g = Layout(picture, area, view);
  painter.save();
  painter.setClipRect(area);
  painter.fillRect(area, kBackground);
  painter.setRenderHint(QPainter::Antialiasing, false);

  // Title and notes.
  const std::vector<std::string> lines = HeaderLines(picture);
  const int lineHeight = LineHeight();
  for (std::size_t k = 0; k < lines.size(); ++k) {
    painter.setPen(k == 0 ? kText : kNote);
    const QRect line(g.header.left(), g.header.top() + static_cast<int>(k) * lineHeight, g.header.width(), lineHeight);
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, painter.fontMetrics().elidedText(Text(lines[k]), Qt::ElideRight, line.width()));
  }

  // Ruler and the grid lines under everything.
  const double secondsPerPixel = (g.to - g.from) / std::max(1, g.right - g.left);
  const double step = RulerStep(secondsPerPixel, 70);
  const int bottom = g.lanes.empty() ? g.wave.bottom() : g.lanes.back().bottom();
  for (double t = std::ceil(g.from / step) * step; t <= g.to + 1e-9; t += step) {
    const int x = g.XOf(t);
    painter.setPen(kGrid);
    painter.drawLine(x, g.ruler.bottom() - 4, x, bottom);
    painter.setPen(kText);
    painter.drawLine(x, g.ruler.bottom() - 6, x, g.ruler.bottom());
    if (x + 40 > g.right) continue;  // no room for the label
    painter.drawText(QRect(x + 2, g.ruler.top(), 80, g.ruler.height() - 4), Qt::AlignLeft | Qt::AlignVCenter,
                     RulerText(t, step));
  }
  painter.setPen(kText);
  painter.drawLine(g.left, g.ruler.bottom(), g.right, g.ruler.bottom());

  // The waveform: per pixel column, the lowest and highest sample under it.
  painter.setPen(kText);
  painter.drawText(QRect(area.left() + kMargin, g.wave.top(), kLabelWidth - 2 * kMargin, g.wave.height()),
                   Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("audio"));
  painter.setPen(kGrid);
  const int middle = g.wave.center().y();
  painter.drawLine(g.left, middle, g.right, middle);
  // Each trace is one path: one element in an SVG, not one per pixel column.
  QPainterPath wavePath;
  wavePath.setFillRule(Qt::WindingFill);
  const double columnSeconds = static_cast<double>(picture.samplesPerColumn) / kPeakSampleRate;
  const auto columns = static_cast<std::int64_t>(picture.peaks.size());
  const double half = g.wave.height() / 2.0 - 1;
  for (int x = g.left; x < g.right; ++x) {
    const double t0 = g.SecondsAt(x);
    const double t1 = g.SecondsAt(x + 1);
    const auto c0 = static_cast<std::int64_t>(std::floor(t0 / columnSeconds));
    const auto c1 = std::max(c0 + 1, static_cast<std::int64_t>(std::floor(t1 / columnSeconds)));
    if (c0 < 0 || c0 >= columns) continue;
    int low = 32767;
    int high = -32768;
    for (std::int64_t c = c0; c < std::min(c1, columns); ++c) {
      low = std::min<int>(low, picture.peaks[static_cast<std::size_t>(c)].low);
      high = std::max<int>(high, picture.peaks[static_cast<std::size_t>(c)].high);
    }
    const int yHigh = middle - static_cast<int>(std::lround(high / 32768.0 * half));
    const int yLow = middle - static_cast<int>(std::lround(low / 32768.0 * half));
    wavePath.addRect(x, yHigh, 1, std::max(yHigh, yLow) - yHigh + 1);
  }
  painter.fillPath(wavePath, kWave);

  // The lanes: per pixel column, the span of values of the frames under it.
  const ControlPicture& control = picture.control;
  const double frameSeconds = control.frameSeconds;
  for (std::size_t k = 0; k < control.lanes.size() && k < g.lanes.size(); ++k) {
    const ControlLane& lane = control.lanes[k];
    const QRect& r = g.lanes[k];
    painter.setPen(kGrid);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    painter.setPen(kText);
    painter.drawText(QRect(area.left() + kMargin, r.top(), kLabelWidth - 2 * kMargin, r.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, Text(lane.name));
    if (frameSeconds <= 0 || control.columns == 0) continue;
    const double laneColumnSeconds = frameSeconds * static_cast<double>(control.framesPerColumn);
    const auto laneColumns = static_cast<std::int64_t>(control.columns);
    const auto columnsAt = [&](int x) {
      const auto c0 = static_cast<std::int64_t>(std::floor(g.SecondsAt(x) / laneColumnSeconds));
      const auto c1 = std::max(c0 + 1, static_cast<std::int64_t>(std::floor(g.SecondsAt(x + 1) / laneColumnSeconds)));
      return std::make_pair(c0, std::min(c1, laneColumns));
    };
    if (lane.kind == ControlLane::Kind::kBytes) {
      // One rectangle per run of equal shade in a row, not one per pixel.
      const int rows = std::max(1, lane.rows);
      for (int row = 0; row < rows; ++row) {
        const int y0 = r.top() + 1 + row * (r.height() - 2) / rows;
        const int y1 = r.top() + 1 + (row + 1) * (r.height() - 2) / rows;
        int runStart = r.left();
        int runValue = -1;
        for (int x = r.left(); x <= r.right(); ++x) {
          int value = -1;
          if (x < r.right()) {
            const auto [c0, c1] = columnsAt(x);
            for (std::int64_t c = std::max<std::int64_t>(c0, 0); c < c1; ++c) {
              value = std::max<int>(value, lane.cells[static_cast<std::size_t>(c) * static_cast<std::size_t>(rows) +
                                                     static_cast<std::size_t>(row)]);
            }
          }
          if (value == runValue) continue;
          if (runValue > 0) {
            painter.fillRect(QRect(runStart, y0, x - runStart, std::max(1, y1 - y0)),
                             QColor(255 - runValue, 255 - runValue, 255 - runValue));
          }
          runStart = x;
          runValue = value;
        }
      }
      continue;
    }
    QPainterPath lanePath;
    lanePath.setFillRule(Qt::WindingFill);
    for (int x = r.left(); x < r.right(); ++x) {
      const auto [c0, c1] = columnsAt(x);
      if (c0 < 0 || c0 >= laneColumns) continue;
      int low = 256;
      int high = -1;
      for (std::int64_t c = c0; c < c1; ++c) {
        const auto at = static_cast<std::size_t>(c);
        if (lane.low[at] > lane.high[at]) continue;
        low = std::min<int>(low, lane.low[at]);
        high = std::max<int>(high, lane.high[at]);
      }
      if (high < 0) continue;
      const double scale = (r.height() - 3) / static_cast<double>(std::max(1, lane.maxValue));
      const int yHigh = r.bottom() - 1 - static_cast<int>(std::lround(high * scale));
      const int yLow = r.bottom() - 1 - static_cast<int>(std::lround(low * scale));
      lanePath.addRect(x, yHigh, 1, yLow - yHigh + 1);
    }
    painter.fillPath(lanePath, kLane);
  }

  if (view.playhead && *view.playhead >= g.from && *view.playhead <= g.to) {
    const int x = g.XOf(*view.playhead);
    painter.setPen(QPen(kPlayhead, 2));
    painter.drawLine(x, g.ruler.top(), x, bottom);
  }
  painter.restore();
}

}  // namespace vorn
