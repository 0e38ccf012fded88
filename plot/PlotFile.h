#pragma once
// The picture written to a file as PNG or SVG, by the painter the window uses.

#include <optional>
#include <string>

#include <QSize>

#include "plot/RoutinePainter.h"

namespace vorn {

enum class PlotFormat { kPng, kSvg };

// The format a file name asks for by its ending (".png", ".svg", any case);
// none for another.
std::optional<PlotFormat> PlotFormatOf(const std::string& path);

// Writes the picture, `size` pixels, to the open file descriptor `fd` (left
// open). Throws CFileAccessException when it cannot be written.
void WritePlot(const RoutinePicture& picture, const PlotView& view, QSize size, PlotFormat format, int fd,
               const std::string& name);

}  // namespace vorn
