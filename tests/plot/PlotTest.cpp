// The routine's picture as the user sees it: a routine with a known servo
// sweep, imported as any routine is, drawn to an image whose lane pixels are
// read back at two times; and vorn3ctl plot writing PNG and SVG, or nothing.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <fstream>

#include "disk/RoutinePreview.h"
#include "disk/VornDisk.h"
#include "plot/RoutinePainter.h"
#include "tests/audio/RoutineFixtures.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/ShellCommand.h"

namespace vorn {
namespace {

using test::CScratchDir;

class CGuiEnvironment final : public testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    m_app = std::make_unique<QGuiApplication>(m_argc, m_argv);
  }
  void TearDown() override { m_app.reset(); }

 private:
  int m_argc = 1;
  char m_name[16] = "vorn-plot-tests";
  char* m_argv[2] = {m_name, nullptr};
  std::unique_ptr<QGuiApplication> m_app;
};
[[maybe_unused]] testing::Environment* const g_gui = testing::AddGlobalTestEnvironment(new CGuiEnvironment);

constexpr int kFrames = 500;       // 10 s at 20 ms
constexpr int kSweepStart = 100;   // servo 1 holds 10 until frame 100 (2 s), then sweeps up to 250 at frame 400 (8 s)

int SweepAt(int frame) { return std::clamp(10 + (frame - kSweepStart) * 240 / 300, 10, 250); }

// A routine of 10 s of tone whose servo 1 sweeps while servo 0 holds still,
// imported onto a memory disk as the window imports it.
RoutineEntry ImportSweep(CMemoryDevice& device, const CScratchDir& dir) {
  std::vector<std::uint8_t> control;
  for (int f = 0; f < kFrames; ++f) {
    control.insert(control.end(), {255, 0, 127, 255, 1, static_cast<std::uint8_t>(SweepAt(f))});
  }
  const std::vector<std::uint8_t> wav = test::WavBytes(test::Tone(10 * 44100, 440, 660));
  const std::string path = dir / "sweep.vorn";
  RoutineFileHeader header =
      test::MakeHeader("Sweep", 0, static_cast<std::uint32_t>(wav.size()), static_cast<std::uint32_t>(control.size()));
  header.controllerSettings[0] = 0;  // MiniSSC
  test::WriteBytes(path, test::RoutineFileBytes(header, wav, control));
  CVornDisk disk(device, nullptr);
  disk.Format();
  disk.AddRoutine(path, nullptr);
  return disk.ReadTable().at(0);
}

// A lane of 34 pixels draws 0..254 in steps of about 8.
constexpr int kOnePixel = 9;

// The value the lane shows at column x: its highest drawn pixel, scaled back.
int LaneValueAt(const QImage& image, const QRect& lane, int x, int maxValue) {
  for (int y = lane.top() + 1; y < lane.bottom(); ++y) {
    const QColor c = image.pixelColor(x, y);
    if (c.green() > c.red() + 40 && c.green() > c.blue() + 20) {
      return static_cast<int>(std::lround((lane.bottom() - 1 - y) * maxValue / static_cast<double>(lane.height() - 3)));
    }
  }
  return -1;
}

TEST(PlotTest, TheSweepShowsInItsLaneAtTheRightTimes) {
  CScratchDir dir;
  CMemoryDevice device(8192);
  const RoutineEntry entry = ImportSweep(device, dir);
  const RoutinePicture picture = PreviewRoutine(device, entry);
  EXPECT_NEAR(picture.audioSeconds, 10.0, 0.1);
  ASSERT_EQ(picture.control.lanes.size(), 2u);
  EXPECT_EQ(picture.control.frames, static_cast<std::uint64_t>(kFrames));
  EXPECT_NE(picture.control.frameNote.find("a frame is 2 commands"), std::string::npos) << picture.control.frameNote;

  QImage image(1000, CRoutinePainter::NaturalHeight(picture, 1000), QImage::Format_RGB32);
  const QRect area = image.rect();
  {
    QPainter painter(&image);
    CRoutinePainter::Paint(painter, area, picture, {});
  }
  const PlotGeometry g = CRoutinePainter::Layout(picture, area, {});
  // servo 0 holds 127 throughout; servo 1 at 1 s (before the sweep), 5 s (half way) and 9 s (after).
  for (double t : {1.0, 5.0, 9.0}) EXPECT_NEAR(LaneValueAt(image, g.lanes[0], g.XOf(t), 254), 127, kOnePixel) << t;
  EXPECT_NEAR(LaneValueAt(image, g.lanes[1], g.XOf(1.0), 254), SweepAt(50), kOnePixel);
  EXPECT_NEAR(LaneValueAt(image, g.lanes[1], g.XOf(5.0), 254), SweepAt(250), kOnePixel);
  EXPECT_NEAR(LaneValueAt(image, g.lanes[1], g.XOf(9.0), 254), SweepAt(450), kOnePixel);
  // The tone (at 37 % of full scale) fills a quarter of the waveform's half height, not half of it.
  EXPECT_LT(image.pixelColor(g.XOf(5.0), g.wave.center().y() - g.wave.height() / 8).red(), 100);
  EXPECT_GT(image.pixelColor(g.XOf(5.0), g.wave.center().y() - g.wave.height() / 4).red(), 200);

  // Zoomed in on 4..6 s, the sweep is the same at 5 s.
  QImage zoomed(1000, image.height(), QImage::Format_RGB32);
  const PlotView view{4.0, 6.0, 5.5};
  {
    QPainter painter(&zoomed);
    CRoutinePainter::Paint(painter, area, picture, view);
  }
  const PlotGeometry z = CRoutinePainter::Layout(picture, area, view);
  EXPECT_NEAR(LaneValueAt(zoomed, z.lanes[1], z.XOf(5.0), 254), SweepAt(250), kOnePixel);
  const QColor playhead = zoomed.pixelColor(z.XOf(5.5), z.lanes[0].center().y());
  EXPECT_GT(playhead.red(), 180);
  EXPECT_LT(playhead.green(), 80);
}

TEST(PlotTest, PlotWritesPngOrSvgAndARefusalLeavesNothing) {
  CScratchDir dir;
  CMemoryDevice device(8192);
  ImportSweep(device, dir);
  const std::string image = dir / "disk.img";
  test::WriteBytes(image, device.Bytes());
  const std::string ctl = VORN3CTL_PATH;
  const auto plot = [&](const std::string& args) { return test::RunShellCommand(ctl + " plot '" + image + "' " + args); };

  const test::CommandResult png = plot("1 -o '" + dir / "a.png" + "' --width 800");
  EXPECT_EQ(png.code, 0) << png.err;
  QImage read(QString::fromStdString(dir / "a.png"));
  EXPECT_EQ(read.width(), 800);
  const test::CommandResult svg = plot("1 --output='" + dir / "a.svg" + "' --from 2 --to 4 --height 400");
  EXPECT_EQ(svg.code, 0) << svg.err;
  const std::vector<std::uint8_t> bytes = test::ReadBytes(dir / "a.svg");
  EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("<svg"), std::string::npos);

  struct Refusal {
    const char* args;
    const char* file;
    int code;
  };
  const std::vector<Refusal> refusals = {
      {"2 -o '%s'", "b.png", 2},            // no routine 2
      {"1 -o '%s' --from 5 --to 3", "c.png", 2},
      {"1 -o '%s'", "d.jpg", 2},            // neither PNG nor SVG
      {"1 -o '%s' --width 20", "e.png", 2},
  };
  for (const Refusal& refusal : refusals) {
    char args[512];
    std::snprintf(args, sizeof args, refusal.args, (dir / refusal.file).c_str());
    const test::CommandResult result = plot(args);
    EXPECT_EQ(result.code, refusal.code) << args << result.err;
    EXPECT_FALSE(test::FileExists(dir / refusal.file)) << args;
  }
  // An existing picture is replaced only with --force; refused, it stays as it was.
  const std::vector<std::uint8_t> before = test::ReadBytes(dir / "a.png");
  EXPECT_NE(plot("1 -o '" + dir / "a.png" + "' --width 300 < /dev/null").code, 0);
  EXPECT_EQ(test::ReadBytes(dir / "a.png"), before);
  // The disk named as the output is refused before anything is read or written.
  const std::vector<std::uint8_t> disk = test::ReadBytes(image);
  EXPECT_NE(test::RunShellCommand(ctl + " plot '" + image + "' 1 -o '" + image + "' --force").code, 0);
  EXPECT_EQ(test::ReadBytes(image), disk);
}

}  // namespace
}  // namespace vorn
