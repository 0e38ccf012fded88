// Event-loop latency of the main window while it imports a five-minute WAV
// routine (decode, MP3 encode, write), against the peer: the same window idle
// for the same time. A 2 ms timer on the user-interface thread records how late
// each tick fires; the worst lateness is what a user would feel as a stall.
//
//   bench/ui_latency_bench [seconds of audio, default 300]
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "device/ImageDevice.h"
#include "disk/VornDisk.h"
#include "platform/LittleEndian.h"
#include "platform/MessageBox.h"
#include "ui/ControlList.h"
#include "ui/DeviceSource.h"
#include "ui/ManagerDlg.h"

namespace {

namespace fs = std::filesystem;
using namespace vorn;

class CAnswerYes final : public CMessagePresenter {
 public:
  MessageAnswer Present(const MessageRequest& request) override {
    std::fprintf(stderr, "box: %s\n", request.text.c_str());
    return request.buttons == MessageButtons::kYesNo ? MessageAnswer::kYes : MessageAnswer::kOk;
  }
};

class CBenchDlg final : public CManagerDlg {
 public:
  using CManagerDlg::CManagerDlg;
  QStringList files;

 protected:
  QStringList AskForRoutineFiles() override { return files; }
};

// A ".vorn" file whose audio is a 16-bit stereo 44,100 Hz WAV of a tone.
void WriteWavRoutine(const fs::path& path, int seconds) {
  const std::uint32_t frames = 44100u * static_cast<std::uint32_t>(seconds);
  const std::uint32_t pcmBytes = frames * 4;
  const std::uint32_t wavBytes = 44 + pcmBytes;
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(seconds) * 40 * 16;  // 25 ms frames

  std::vector<std::uint8_t> header(68, 0);
  header[0] = 1;
  const char title[] = "Five minutes";
  std::copy(title, title + sizeof title - 1, header.begin() + 1);
  PutLe32(&header[20], 0);  // not MP3: must be converted
  PutLe32(&header[24], wavBytes);
  PutLe32(&header[28], dataBytes);
  header[32] = 25;
  header[33] = 4;

  std::vector<std::uint8_t> wav(44, 0);
  std::copy_n("RIFF", 4, wav.begin());
  PutLe32(&wav[4], wavBytes - 8);
  std::copy_n("WAVEfmt ", 8, wav.begin() + 8);
  PutLe32(&wav[16], 16);
  PutLe16(&wav[20], 1);
  PutLe16(&wav[22], 2);
  PutLe32(&wav[24], 44100);
  PutLe32(&wav[28], 44100 * 4);
  PutLe16(&wav[32], 4);
  PutLe16(&wav[34], 16);
  std::copy_n("data", 4, wav.begin() + 36);
  PutLe32(&wav[40], pcmBytes);

  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(header.data()), 68);
  out.write(reinterpret_cast<const char*>(wav.data()), 44);
  std::vector<std::uint8_t> chunk(44100 * 4);
  for (int s = 0; s < seconds; ++s) {
    for (std::uint32_t i = 0; i < 44100; ++i) {
      const double t = (s * 44100.0 + i) / 44100.0;
      const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * (220 + 2 * s) * t));
      PutLe16(&chunk[i * 4], static_cast<std::uint16_t>(v));
      PutLe16(&chunk[i * 4 + 2], static_cast<std::uint16_t>(v));
    }
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
  }
  std::vector<char> data(dataBytes, 0x11);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

struct Lateness {
  double maxMs = 0;
  long ticks = 0;
  std::vector<double> samples;

  double Percentile(double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<std::size_t>(p * (samples.size() - 1))];
  }
  long Over(double ms) const { return std::count_if(samples.begin(), samples.end(), [ms](double v) { return v > ms; }); }
};

// Runs the event loop, ticking every `intervalMs`, until `done` holds.
template <class Done>
Lateness Measure(int intervalMs, Done done) {
  Lateness result;
  QElapsedTimer clock;
  clock.start();
  qint64 last = clock.nsecsElapsed();
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(intervalMs);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    const double late = (now - last) / 1e6 - intervalMs;
    if (late > result.maxMs) result.maxMs = late;
    result.samples.push_back(late);
    last = now;
    ++result.ticks;
  });
  tick.start();
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 300;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  const fs::path dir = fs::temp_directory_path() / ("vorn-ui-latency-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path routine = dir / "five-minutes.vorn";
  const fs::path image = dir / "disk.img";
  WriteWavRoutine(routine, seconds);
  { std::ofstream create(image, std::ios::binary); }
  fs::resize_file(image, std::uint64_t{65536} * 512);
  {
    CImageDevice device(image.string(), false);
    device.Open(CImageDevice::EntryFor(image.string()));
    CVornDisk disk(device, nullptr);
    disk.Format();
    device.Close();
  }
  qputenv("VORN_DEMO_IMAGE", QByteArray::fromStdString(image.string()));

  CAnswerYes presenter;
  SetMessagePresenter(&presenter);
  double importSeconds = 0;
  Lateness importing, idle;
  int rows = 0;
  {
    CBenchDlg dialog(MakeNoDeviceSource());
    dialog.show();
    dialog.files = {QString::fromStdString(routine.string())};
    QCoreApplication::processEvents();
    // The disk is read off the user-interface thread at the start.
    while (dialog.IsBusy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(0, dialog.Button("m_addButton"), &QPushButton::click);
    bool started = false;
    importing = Measure(2, [&] {
      if (dialog.IsImporting()) started = true;
      return started && !dialog.IsImporting();
    });
    const qint64 importMs = wall.elapsed();
    importSeconds = importMs / 1000.0;
    rows = dialog.RoutineList()->rowCount();

    QElapsedTimer idleWall;
    idleWall.start();
    idle = Measure(2, [&] { return idleWall.elapsed() >= importMs; });
  }
  SetMessagePresenter(nullptr);
  fs::remove_all(dir);

  std::printf("ui latency: %d s WAV routine imported in %.1f s, %d row(s) listed\n", seconds,
              importSeconds, rows);
  std::printf("  event-loop lateness while importing: max %7.2f ms, p99 %6.2f ms, %ld of %ld ticks > 50 ms\n",
              importing.maxMs, importing.Percentile(0.99), importing.Over(50), importing.ticks);
  std::printf("  peer, the same window idle:          max %7.2f ms, p99 %6.2f ms, %ld of %ld ticks > 50 ms\n",
              idle.maxMs, idle.Percentile(0.99), idle.Over(50), idle.ticks);
  std::printf("  ratio importing / idle: %.2f   goal: max < 50 ms -> %s\n",
              idle.maxMs > 0 ? importing.maxMs / idle.maxMs : 0.0,
              importing.maxMs < 50 ? "met" : "NOT met");
  return rows == 1 ? 0 : 1;
}
