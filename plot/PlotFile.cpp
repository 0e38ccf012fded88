#include "plot/PlotFile.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgGenerator>

#include <algorithm>
#include <cctype>

#include "device/DeviceExceptions.h"

namespace vorn {

std::optional<PlotFormat> PlotFormatOf(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const auto endsWith = [&](const char* tail) {
    const std::string t(tail);
    return lower.size() > t.size() && lower.compare(lower.size() - t.size(), t.size(), t) == 0;
  };
  if (endsWith(".png")) return PlotFormat::kPng;
  if (endsWith(".svg")) return PlotFormat::kSvg;
  return std::nullopt;
}

void WritePlot(const RoutinePicture& picture, const PlotView& view, QSize size, PlotFormat format, int fd,
               const std::string& name) {
  QFile file;
  if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
    throw CFileAccessException("Unable to write the picture to " + name);
  }
  const QRect area(QPoint(0, 0), size);
  if (format == PlotFormat::kPng) {
    QImage image(size, QImage::Format_RGB32);
    {
      QPainter painter(&image);
      CRoutinePainter::Paint(painter, area, picture, view);
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
      throw CFileAccessException("Unable to write the picture to " + name + ": " + writer.errorString().toStdString());
    }
  } else {
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(size);
    svg.setViewBox(area);
    svg.setTitle(QString::fromUtf8(picture.title.c_str()));
    svg.setDescription(QStringLiteral("Waveform and control data of a VORN routine"));
    QPainter painter;
    if (!painter.begin(&svg)) throw CFileAccessException("Unable to write the picture to " + name);
    CRoutinePainter::Paint(painter, area, picture, view);
    painter.end();
  }
  if (!file.flush() || file.error() != QFileDevice::NoError) {
    throw CFileAccessException("Unable to write the picture to " + name + ": " + file.errorString().toStdString());
  }
}

}  // namespace vorn
