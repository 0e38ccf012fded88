#include "ui/PreviewWindow.h"

#include <QAudioFormat>
#include <QAction>
#include <QAudioSink>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaDevices>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "audio/Mp3FrameDecoder.h"
#include "audio/Mp3Frames.h"
#include "disk/OutputFile.h"
#include "disk/RoutinePreview.h"
#include "platform/Cancel.h"
#include "platform/Error.h"
#include "platform/MessageBox.h"
#include "plot/PlotFile.h"

namespace vorn {

// Decoded audio on its way from the preview's thread to the audio sink: at
// most two seconds of it, so playing an hour costs no more than a minute.
class CPcmQueue {
 public:
  static constexpr std::size_t kCapacity = 2 * 44100 * 2;  // samples

  // Blocks while full; false once stopped.
  bool Push(const std::vector<std::int16_t>& samples, const CCancelFlag& stop) {
    std::unique_lock lock(m_mutex);
    while (m_samples.size() + samples.size() > kCapacity) {
      if (stop.IsCancelled()) return false;
      m_room.wait_for(lock, std::chrono::milliseconds(50));
    }
    m_samples.insert(m_samples.end(), samples.begin(), samples.end());
    return !stop.IsCancelled();
  }
  std::size_t Pop(char* out, std::size_t bytes) {
    std::lock_guard lock(m_mutex);
    const std::size_t count = std::min(bytes / 4 * 2, m_samples.size());
    for (std::size_t i = 0; i < count; ++i) {
      const std::int16_t sample = m_samples[i];
      std::memcpy(out + 2 * i, &sample, 2);
    }
    m_samples.erase(m_samples.begin(), m_samples.begin() + static_cast<std::ptrdiff_t>(count));
    m_room.notify_all();
    return count * 2;
  }
  void End() {
    std::lock_guard lock(m_mutex);
    m_ended = true;
  }
  bool Drained() {
    std::lock_guard lock(m_mutex);
    return m_ended && m_samples.empty();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_room;
  std::deque<std::int16_t> m_samples;
  bool m_ended = false;
};

namespace {

constexpr double kMp3BytesPerSecond = 16000.0;  // 128 kbit/s
constexpr std::uint32_t kPlayPieceSectors = 64;  // 32 KiB, two seconds of audio
constexpr std::size_t kUnpaddedFrame = 417;
constexpr double kShortestView = 0.05;  // seconds across the window at the deepest zoom

QString Text(const std::string& text) { return QString::fromUtf8(text.c_str()); }

// Decodes the routine's MP3 from about `from` seconds on into `queue`, until
// its frames end or `stop` is set. Runs on the preview's thread.
void PlayJob(CSectorDevice& device, const RoutineEntry& entry, double from, CPcmQueue& queue, const CCancelFlag& stop) {
  const std::uint64_t regionBytes = (static_cast<std::uint64_t>(entry.dataSector) - entry.startSector) * kSectorSize;
  const auto offset = std::min<std::uint64_t>(regionBytes, static_cast<std::uint64_t>(from * kMp3BytesPerSecond));
  std::uint64_t sector = entry.startSector + offset / kSectorSize;
  std::vector<std::uint8_t> bytes;
  std::size_t at = offset % kSectorSize;
  bool synced = offset == 0;
  CMp3FrameDecoder decoder(false);
  std::vector<std::int16_t> samples;
  std::vector<std::uint8_t> piece;
  while (sector < entry.dataSector && !stop.IsCancelled()) {
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPlayPieceSectors, entry.dataSector - sector));
    piece.resize(static_cast<std::size_t>(count) * kSectorSize);
    device.ReadSectors(static_cast<std::uint32_t>(sector), count, piece.data());
    sector += count;
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(at, bytes.size())));
    at = at > bytes.size() ? at - bytes.size() : 0;
    bytes.insert(bytes.end(), piece.begin(), piece.end());
    // Mid-stream, a frame starts where a header is followed by another one a
    // frame later.
    while (!synced && at + 4 <= bytes.size()) {
      if (IsAcceptedFrameHeader(&bytes[at])) {
        const std::size_t next = at + kUnpaddedFrame + ((bytes[at + 2] >> 1) & 1u);
        if (next + 4 > bytes.size()) break;
        if (IsAcceptedFrameHeader(&bytes[next])) {
          synced = true;
          break;
        }
      }
      ++at;
    }
    while (synced && at + 4 <= bytes.size()) {
      if (!IsAcceptedFrameHeader(&bytes[at])) return;  // the frames end: the filler's tail, or damage
      const std::size_t size = kUnpaddedFrame + ((bytes[at + 2] >> 1) & 1u);
      if (at + size > bytes.size()) break;
      decoder.Decode(&bytes[at], size, &samples);
      at += size;
      if (!queue.Push(samples, stop)) return;
    }
  }
}

}  // namespace

CPreviewPlot::CPreviewPlot(const RoutinePicture& picture, QWidget* parent) : QWidget(parent), m_picture(picture) {
  setObjectName(QStringLiteral("m_plot"));
  setAccessibleName(QStringLiteral("Routine picture"));
  setFocusPolicy(Qt::ClickFocus);
  setMinimumSize(400, 200);
}

PlotGeometry CPreviewPlot::Geometry() const { return CRoutinePainter::Layout(m_picture, rect(), view); }

void CPreviewPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  CRoutinePainter::Paint(painter, rect(), m_picture, view);
}

void CPreviewPlot::mousePressEvent(QMouseEvent* event) {
  const PlotGeometry g = Geometry();
  const int x = static_cast<int>(event->position().x());
  if (event->button() == Qt::LeftButton && x >= g.left && x <= g.right) emit Clicked(g.SecondsAt(x));
  QWidget::mousePressEvent(event);
}

void CPreviewPlot::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  const double steps = (delta.y() != 0 ? delta.y() : -delta.x()) / 120.0;
  emit Wheeled(steps, (event->modifiers() & Qt::ControlModifier) != 0,
               Geometry().SecondsAt(static_cast<int>(event->position().x())));
  event->accept();
}

CPreviewWindow::CPreviewWindow(DeviceMaker openDevice, const RoutineEntry& entry, const QString& diskName,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), m_openDevice(std::move(openDevice)), m_entry(entry), m_diskName(diskName) {
  setObjectName(QStringLiteral("PreviewWindow"));
  setAttribute(Qt::WA_DeleteOnClose);
  m_picture.title = entry.DisplayTitle();
  setWindowTitle(QStringLiteral("Preview: %1 - %2").arg(Text(m_picture.title), diskName));
  resize(1000, 520);

  auto* buttons = new QHBoxLayout;
  const auto button = [&](const char* text, const char* name) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    buttons->addWidget(b);
    return b;
  };
  m_play = button("Play", "m_playButton");
  QPushButton* zoomIn = button("Zoom in", "m_zoomInButton");
  QPushButton* zoomOut = button("Zoom out", "m_zoomOutButton");
  QPushButton* whole = button("Whole routine", "m_wholeButton");
  QPushButton* exportButton = button("Export picture...", "m_exportButton");
  m_status = new QLabel(this);
  m_status->setObjectName(QStringLiteral("m_previewStatus"));
  m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  buttons->addWidget(m_status, 1);

  m_plot = new CPreviewPlot(m_picture);
  m_area = new QScrollArea(this);
  m_area->setWidget(m_plot);
  m_area->setWidgetResizable(true);
  m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m_scroll = new QScrollBar(Qt::Horizontal, this);
  m_scroll->setObjectName(QStringLiteral("m_timeScroll"));

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(m_area, 1);
  layout->addWidget(m_scroll);

  connect(m_play, &QPushButton::clicked, this, &CPreviewWindow::TogglePlay);
  // Space plays and pauses wherever the focus is, a button's Space included.
  auto* space = new QAction(this);
  space->setShortcut(Qt::Key_Space);
  space->setShortcutContext(Qt::WindowShortcut);
  addAction(space);
  connect(space, &QAction::triggered, this, &CPreviewWindow::TogglePlay);
  connect(zoomIn, &QPushButton::clicked, this, [this] { Zoom(0.5); });
  connect(zoomOut, &QPushButton::clicked, this, [this] { Zoom(2.0); });
  connect(whole, &QPushButton::clicked, this, &CPreviewWindow::ShowWhole);
  connect(exportButton, &QPushButton::clicked, this, &CPreviewWindow::ExportPicture);
  connect(m_plot, &CPreviewPlot::Clicked, this, &CPreviewWindow::Seek);
  connect(m_plot, &CPreviewPlot::Wheeled, this, [this](double steps, bool zoom, double at) {
    if (zoom) return Zoom(std::pow(0.8, steps), at);
    const double span = m_plot->view.to - m_plot->view.from;
    m_scroll->setValue(m_scroll->value() - static_cast<int>(steps * span * 100));
  });
  connect(m_scroll, &QScrollBar::valueChanged, this, [this](int value) {
    const double span = m_plot->view.to - m_plot->view.from;
    m_plot->view.from = value / 1000.0;
    m_plot->view.to = m_plot->view.from + span;
    m_plot->update();
  });

  m_feedTimer = new QTimer(this);
  m_feedTimer->setInterval(20);
  connect(m_feedTimer, &QTimer::timeout, this, &CPreviewWindow::Feed);

  m_thread = new QThread(this);
  m_thread->setObjectName(QStringLiteral("preview"));
  m_threadContext = new QObject;
  m_threadContext->moveToThread(m_thread);
  connect(m_thread, &QThread::finished, m_threadContext, &QObject::deleteLater);
  m_thread->start();
  ShowWhole();
  StartDecoding();
}

CPreviewWindow::~CPreviewWindow() {
  StopPlaying();
  if (m_cancel) m_cancel->Cancel();
  m_thread->quit();
  m_thread->wait();
}

void CPreviewWindow::Post(std::function<void(const CCancelFlag&)> job) {
  m_cancel = std::make_shared<CCancelFlag>();
  QMetaObject::invokeMethod(m_threadContext, [job = std::move(job), cancel = m_cancel] { job(*cancel); },
                            Qt::QueuedConnection);
}

void CPreviewWindow::StartDecoding() {
  m_decoding = true;
  m_play->setEnabled(false);
  SetStatus(QStringLiteral("Reading the routine..."));
  QPointer<CPreviewWindow> window(this);
  Post([window, maker = m_openDevice, entry = m_entry](const CCancelFlag& cancel) {
    const auto post = [window](std::function<void(CPreviewWindow&)> what) {
      QMetaObject::invokeMethod(window.data(), [window, what = std::move(what)] {
        if (window) what(*window);
      }, Qt::QueuedConnection);
    };
    PreviewSink sink;
    sink.started = [&](const RoutinePicture& start) {
      post([start](CPreviewWindow& w) {
        w.m_picture = start;
        w.m_plot->setMinimumHeight(CRoutinePainter::NaturalHeight(start, w.m_plot->width()));
        w.ShowWhole();
        w.SetStatus(QStringLiteral("Decoding the audio..."));
      });
    };
    sink.peaks = [&](std::uint64_t first, const std::vector<PeakColumn>& columns) {
      post([first, columns](CPreviewWindow& w) {
        std::vector<PeakColumn>& peaks = w.m_picture.peaks;
        peaks.resize(static_cast<std::size_t>(first));
        peaks.insert(peaks.end(), columns.begin(), columns.end());
        w.m_plot->update();
      });
    };
    try {
      std::unique_ptr<CSectorDevice> device = maker();
      RoutinePicture picture = PreviewRoutine(*device, entry, sink, &cancel);
      try {
        device->Close();
      } catch (...) {
        // A disk gone after its last read has nothing left to release.
      }
      post([picture = std::move(picture)](CPreviewWindow& w) {
        w.m_picture = picture;
        w.m_decoding = false;
        w.m_decoded = true;
        w.m_play->setEnabled(true);
        w.m_plot->setMinimumHeight(CRoutinePainter::NaturalHeight(picture, w.m_plot->width()));
        w.UpdateScrollBar();
        w.SetStatus(QString());
      });
    } catch (const CCancelled&) {
      post([](CPreviewWindow& w) { w.m_decoding = false; });
    } catch (const std::exception& error) {
      const QString text = QString::fromLocal8Bit(error.what());
      post([text](CPreviewWindow& w) {
        w.m_decoding = false;
        w.m_picture.audioComplete = true;
        w.m_problem = QStringLiteral("The disk cannot be read (was it removed?): %1. The picture shows what was "
                                     "read before.").arg(text);
        w.SetStatus(QString());
        w.m_plot->update();
      });
    }
  });
}

void CPreviewWindow::TogglePlay() {
  if (IsPlaying()) {
    m_pausedAt = PlayPosition();
    StopPlaying();
    m_plot->view.playhead = m_pausedAt;
    m_plot->update();
    return;
  }
  if (!m_decoded || m_decoding) return;
  StartPlaying(m_pausedAt >= Length() - 0.05 ? 0 : m_pausedAt);
}

void CPreviewWindow::Seek(double seconds) {
  m_pausedAt = std::clamp(seconds, 0.0, Length());
  m_plot->view.playhead = m_pausedAt;
  m_plot->update();
  if (IsPlaying()) {
    StopPlaying();
    StartPlaying(m_pausedAt);
  }
}

void CPreviewWindow::StartPlaying(double from) {
  const QAudioDevice output = QMediaDevices::defaultAudioOutput();
  if (output.isNull()) {
    SetStatus(QStringLiteral("There is no audio output to play on"));
    return;
  }
  QAudioFormat format;
  format.setSampleRate(44100);
  format.setChannelCount(2);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!output.isFormatSupported(format)) {
    SetStatus(QStringLiteral("The audio output cannot play 44,100 Hz stereo"));
    return;
  }
  m_queue = std::make_shared<CPcmQueue>();
  m_playFrom = from;
  m_sink = new QAudioSink(output, format, this);
  m_sinkInput = m_sink->start();
  m_play->setText(QStringLiteral("Pause"));
  m_feedTimer->start();
  SetStatus(QString());

  QPointer<CPreviewWindow> window(this);
  Post([window, maker = m_openDevice, entry = m_entry, from, queue = m_queue](const CCancelFlag& stop) {
    QString failure;
    try {
      std::unique_ptr<CSectorDevice> device = maker();
      PlayJob(*device, entry, from, *queue, stop);
      try {
        device->Close();
      } catch (...) {
        // As above: nothing left to release.
      }
    } catch (const std::exception& error) {
      failure = QString::fromLocal8Bit(error.what());
    }
    queue->End();
    if (failure.isEmpty()) return;
    QMetaObject::invokeMethod(window.data(), [window, failure] {
      if (!window) return;
      window->m_problem = QStringLiteral("The disk cannot be read (was it removed?): %1").arg(failure);
      window->SetStatus(QString());
    }, Qt::QueuedConnection);
  });
}

void CPreviewWindow::StopPlaying() {
  if (m_cancel && !m_decoding) m_cancel->Cancel();
  m_feedTimer->stop();
  if (m_sink != nullptr) {
    m_sink->stop();
    delete m_sink;
    m_sink = nullptr;
    m_sinkInput = nullptr;
  }
  m_play->setText(QStringLiteral("Play"));
}

double CPreviewWindow::PlayPosition() const {
  if (m_sink == nullptr) return m_pausedAt;
  return m_playFrom + static_cast<double>(m_sink->processedUSecs()) / 1e6;
}

void CPreviewWindow::Feed() {
  if (m_sink == nullptr || m_sinkInput == nullptr) return;
  const qsizetype room = m_sink->bytesFree();
  if (room > 0) {
    std::vector<char> bytes(static_cast<std::size_t>(room));
    const std::size_t got = m_queue->Pop(bytes.data(), bytes.size());
    if (got != 0) m_sinkInput->write(bytes.data(), static_cast<qint64>(got));
  }
  const double at = PlayPosition();
  m_plot->view.playhead = at;
  // The playhead leaves the view: the view follows it a page on.
  const double span = m_plot->view.to - m_plot->view.from;
  if (at > m_plot->view.to || at < m_plot->view.from) m_scroll->setValue(static_cast<int>(std::max(0.0, at - span * 0.1) * 1000));
  m_plot->update();
  if (m_queue->Drained() && m_sink->bytesFree() == m_sink->bufferSize()) {
    m_pausedAt = at;
    StopPlaying();
  }
}

double CPreviewWindow::Length() const { return std::max(0.1, m_picture.Seconds()); }

void CPreviewWindow::Zoom(double factor, std::optional<double> around) {
  PlotView& view = m_plot->view;
  const double span = std::clamp((view.to - view.from) * factor, kShortestView, Length());
  const double at = around.value_or((view.from + view.to) / 2);
  const double share = (at - view.from) / std::max(1e-9, view.to - view.from);
  view.from = std::clamp(at - span * share, 0.0, std::max(0.0, Length() - span));
  view.to = view.from + span;
  UpdateScrollBar();
  m_plot->update();
}

void CPreviewWindow::ShowWhole() {
  m_plot->view.from = 0;
  m_plot->view.to = Length();
  UpdateScrollBar();
  m_plot->update();
}

void CPreviewWindow::UpdateScrollBar() {
  const PlotView& view = m_plot->view;
  const double span = view.to - view.from;
  const QSignalBlocker quiet(m_scroll);
  m_scroll->setRange(0, static_cast<int>(std::max(0.0, Length() - span) * 1000));
  m_scroll->setPageStep(static_cast<int>(span * 1000));
  m_scroll->setSingleStep(std::max(1, static_cast<int>(span * 100)));
  m_scroll->setValue(static_cast<int>(view.from * 1000));
}

QString CPreviewWindow::AskExportPath() {
  const QString suggestion = (m_picture.title.empty() ? QStringLiteral("routine") : Text(m_picture.title)) + ".png";
  return QFileDialog::getSaveFileName(this, QStringLiteral("Export picture"), suggestion,
                                      QStringLiteral("PNG image (*.png);;SVG drawing (*.svg)"));
}

void CPreviewWindow::ExportPicture() {
  QString path = AskExportPath();
  if (path.isEmpty()) return;
  if (!PlotFormatOf(path.toStdString())) path += QStringLiteral(".png");
  const std::string name = QFile::encodeName(path).toStdString();
  try {
    // The file dialog asked before replacing a file.
    COutputFile file(name, {}, {});
    const int width = std::max(m_plot->width(), 1200);
    const PlotView view{m_plot->view.from, m_plot->view.to, std::nullopt};
    WritePlot(m_picture, view, QSize(width, CRoutinePainter::NaturalHeight(m_picture, width, 200)),
              *PlotFormatOf(name), file.Fd(), name);
    file.Commit();
    SetStatus(QStringLiteral("Exported the picture to %1").arg(path));
  } catch (const CVornError& error) {
    ShowMessage(error.AsMessage());
  }
}

void CPreviewWindow::ReleaseDisk(const QString& why) {
  StopPlaying();
  if (m_decoding && m_cancel) {
    m_cancel->Cancel();
    m_picture.audioComplete = true;
    m_problem = why;
    SetStatus(QString());
    m_plot->update();
  }
}

QString CPreviewWindow::StatusText() const { return m_status->text(); }

void CPreviewWindow::SetStatus(const QString& text) {
  QString shown = text;
  if (!m_problem.isEmpty()) shown = text.isEmpty() ? m_problem : m_problem + QStringLiteral("  ") + text;
  if (shown.isEmpty() && m_decoded) {
    shown = QStringLiteral("%1 of audio").arg(Text(PreviewTimeText(m_picture.audioSeconds)));
    if (const std::size_t notes = m_picture.AllNotes().size(); notes > 1) {
      shown += QStringLiteral("; see the notes above the picture");
    }
  }
  m_status->setText(shown);
  m_status->setToolTip(shown);
}

void CPreviewWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: return Zoom(0.5);
    case Qt::Key_Minus: return Zoom(2.0);
    case Qt::Key_Home: return ShowWhole();
    case Qt::Key_Escape: close(); return;
    default: QWidget::keyPressEvent(event);
  }
}

void CPreviewWindow::closeEvent(QCloseEvent* event) {
  StopPlaying();
  if (m_cancel) m_cancel->Cancel();
  QWidget::closeEvent(event);
}

}  // namespace vorn
