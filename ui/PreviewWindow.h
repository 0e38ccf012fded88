#pragma once
// The preview of one routine, in a window of its own beside the main window:
// the waveform drawn as the one decoding pass goes, a time ruler, the control
// data's lanes and notes (ui-independent picture, plot/), zoom and scroll,
// play with a moving playhead (Space plays and pauses, a click seeks), and
// export of the picture as PNG or SVG.
//
// The window reads the disk on a thread of its own, one job at a time (the
// decoding pass, then each playing), opening the disk afresh for each job
// and releasing it at its end: the main window's runner stays free for the
// user's actions meanwhile. A disk that goes away mid-job ends the job with a
// line that says so; what was drawn stays, and so does the window.

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "device/SectorDevice.h"
#include "disk/RoutineEntry.h"
#include "disk/RoutinePicture.h"
#include "plot/RoutinePainter.h"

class QAudioSink;
class QIODevice;
class QLabel;
class QPushButton;
class QScrollArea;
class QScrollBar;
class QThread;
class QTimer;

namespace vorn {

class CCancelFlag;
class CPcmQueue;

// The picture drawn on a widget, with the view's time span and playhead.
class CPreviewPlot final : public QWidget {
  Q_OBJECT

 public:
  explicit CPreviewPlot(const RoutinePicture& picture, QWidget* parent = nullptr);
  PlotView view;
  PlotGeometry Geometry() const;

 signals:
  void Clicked(double seconds);
  // A wheel turn: `steps` (positive: in or right), zoom with Ctrl, at `seconds`.
  void Wheeled(double steps, bool zoom, double seconds);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  const RoutinePicture& m_picture;
};

class CPreviewWindow : public QWidget {
  Q_OBJECT

 public:
  // Makes a device for the routine's disk (not yet opened... opened by it);
  // called on the preview's thread for each job.
  using DeviceMaker = std::function<std::unique_ptr<CSectorDevice>()>;

  CPreviewWindow(DeviceMaker openDevice, const RoutineEntry& entry, const QString& diskName,
                 QWidget* parent = nullptr);
  ~CPreviewWindow() override;

  const RoutinePicture& Picture() const { return m_picture; }
  bool IsDecoding() const { return m_decoding; }
  bool IsPlaying() const { return m_sink != nullptr; }
  QString StatusText() const;
  CPreviewPlot* Plot() const { return m_plot; }
  // Stops what reads the disk (the decoding pass, playing) and lets it go:
  // the main window is about to change the disk.
  void ReleaseDisk(const QString& why);

  void TogglePlay();
  void Seek(double seconds);
  void Zoom(double factor, std::optional<double> around = std::nullopt);
  void ShowWhole();
  void ExportPicture();

 protected:
  // The file to export to (.png or .svg); empty when cancelled.
  virtual QString AskExportPath();
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void StartDecoding();
  void StartPlaying(double from);
  void StopPlaying();
  void Feed();
  void SetStatus(const QString& text);
  void UpdateView();
  void UpdateScrollBar();
  double Length() const;
  double PlayPosition() const;
  // Runs `job` on the preview's thread with a fresh cancel flag.
  void Post(std::function<void(const CCancelFlag&)> job);

  DeviceMaker m_openDevice;
  RoutineEntry m_entry;
  QString m_diskName;
  RoutinePicture m_picture;
  bool m_decoding = false;
  bool m_decoded = false;

  CPreviewPlot* m_plot = nullptr;
  QScrollArea* m_area = nullptr;
  QScrollBar* m_scroll = nullptr;
  QPushButton* m_play = nullptr;
  QLabel* m_status = nullptr;
  QString m_problem;  // what went wrong with the disk, kept in the status

  QAudioSink* m_sink = nullptr;
  QIODevice* m_sinkInput = nullptr;
  QTimer* m_feedTimer = nullptr;
  std::shared_ptr<CPcmQueue> m_queue;
  double m_playFrom = 0;
  double m_pausedAt = 0;

  QThread* m_thread = nullptr;
  QObject* m_threadContext = nullptr;  // lives on m_thread: jobs run in its event loop
  std::shared_ptr<CCancelFlag> m_cancel;
};

}  // namespace vorn
