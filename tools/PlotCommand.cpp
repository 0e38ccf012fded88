// vorn3ctl plot: the preview's picture of one routine (waveform, time ruler,
// control-data lanes, notes) as a PNG or SVG file, without a display.
#include <QGuiApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "device/DeviceExceptions.h"
#include "disk/RoutinePreview.h"
#include "disk/VornDisk.h"
#include "platform/CheckedNumber.h"
#include "plot/PlotFile.h"
#include "tools/Commands.h"
#include "tools/DiskArgument.h"
#include "tools/OutputFile.h"
#include "tools/StopSignals.h"
#include "tools/TerminalPresenter.h"

namespace vorn {
namespace {

constexpr int kDefaultWidth = 1600;
constexpr int kDefaultWaveHeight = 200;
constexpr int kSmallest = 200;
constexpr int kLargest = 16384;  // a larger image is no picture anyone looks at

double ParseSeconds(const std::string& option, const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || value < 0) {
    throw CUsageError(option + " wants seconds (0 or more), not '" + text + "'");
  }
  return value;
}

int ParseSize(const CCommandLine& commandLine, const std::string& option, int fallback) {
  if (!commandLine.Has(option)) return fallback;
  const std::string text = commandLine.Value(option);
  const auto value = ParseSigned(text, kSmallest, kLargest);
  if (!value) {
    throw CUsageError(option + " wants a number of pixels from " + std::to_string(kSmallest) + " to " +
                      std::to_string(kLargest) + ", not '" + text + "'");
  }
  return static_cast<int>(*value);
}

// Text wants fonts, and fonts a Qt Gui application; with no display to show
// on, Qt draws offscreen.
std::unique_ptr<QGuiApplication> MakeGuiApplication() {
  if (QGuiApplication::instance() != nullptr) return nullptr;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // Qt's remarks about the session (no runtime directory, no display
  // plugin settings) are nothing the user of a command-line tool can act on.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "vorn3ctl: %s\n", qPrintable(message));
  });
  static int argc = 1;
  static char name[] = "vorn3ctl";
  static char* argv[] = {name, nullptr};
  return std::make_unique<QGuiApplication>(argc, argv);
}

int Run(const CCommandLine& commandLine) {
  const auto& arguments = commandLine.Positional();
  if (!commandLine.Has("--output")) throw CUsageError("-o FILE.png or -o FILE.svg names the picture to write");
  const std::string output = commandLine.Value("--output");
  const std::optional<PlotFormat> format = PlotFormatOf(output);
  if (!format) throw CUsageError("-o wants a file name ending in .png or .svg, not '" + output + "'");
  PlotView view;
  if (commandLine.Has("--from")) view.from = ParseSeconds("--from", commandLine.Value("--from"));
  if (commandLine.Has("--to")) {
    view.to = ParseSeconds("--to", commandLine.Value("--to"));
    if (view.to <= view.from) throw CUsageError("--to must lie after --from");
  }
  const int width = ParseSize(commandLine, "--width", kDefaultWidth);

  // Checked before the disk is read: the output must not be the disk.
  COutputFile file = OpenOutputFile(output, {arguments[0]}, commandLine.Has(kForceOption));
  auto device = OpenDiskArgument(arguments[0], ImageAccess::kRead, DiskOptionsOf(commandLine));
  CVornDisk disk(*device, nullptr);
  const auto& table = disk.ReadTable();
  if (!disk.IsValid()) throw CUsbDeviceException("The disk is not formatted as a VORN disk");
  const std::size_t index = ParseUnsigned(arguments[1], table.size()).value_or(0);
  if (index < 1) {
    throw CUsageError(table.empty() ? std::string("the disk holds no routine")
                                    : "N must be a routine number from 1 to " + std::to_string(table.size()));
  }
  CCancelFlag cancel;
  CStopSignals stopSignals(&cancel);
  const RoutinePicture picture = PreviewRoutine(*device, table[index - 1], {}, &cancel);
  device->Close();

  const auto app = MakeGuiApplication();
  const int height =
      ParseSize(commandLine, "--height", std::clamp(CRoutinePainter::NaturalHeight(picture, width, kDefaultWaveHeight),
                                                    kSmallest, kLargest));
  WritePlot(picture, view, QSize(width, height), *format, file.Fd(), output);
  file.Commit();
  std::printf("Plotted routine %zu \"%s\" to %s (%dx%d): audio %s, %zu control lane%s\n", index,
              PrintableText(picture.title).c_str(), PrintableText(output).c_str(), width, height,
              PreviewTimeText(picture.audioSeconds).c_str(), picture.control.lanes.size(),
              picture.control.lanes.size() == 1 ? "" : "s");
  for (const std::string& note : picture.AllNotes()) std::printf("  %s\n", PrintableText(note).c_str());
  return kExitOk;
}

}  // namespace

Command PlotCommand() {
  return {"plot", "DISK N -o FILE.png|FILE.svg [--width W] [--height H] [--from S] [--to S] [--force]",
          "draw a routine's waveform and control data to a PNG or SVG file",
          "N counts from 1 in the order 'list' shows. The picture is the preview\n"
          "window's: the audio's waveform, a time ruler, one lane per servo or DMX\n"
          "slot (or the bytes of each frame), and notes on how the control data was\n"
          "read and what is wrong with it (also printed). Needs no display.",
          {{"-o,--output", "FILE", "the picture to write: .png or .svg"},
           {"--width", "W", "width in pixels (default 1600)"},
           {"--height", "H", "height in pixels (default: room for every lane)"},
           {"--from", "S", "start of the time span shown, in seconds"},
           {"--to", "S", "end of the time span shown, in seconds (default: the end)"},
           {kForceOption, nullptr, "replace FILE if it exists"},
           kUnmountOption},
          2, 2, Run};
}

}  // namespace vorn
