// Importing several routine files in one go: file k+1 is converted while file
// k is written, starting as soon as file k's encoding leaves a processor free
// (its last segments run on fewer workers than there are processors), and the
// disk still receives the routines in order, one crash-safe table update each.

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "audio/ConvertAudio.h"
#include "disk/RoutineImport.h"
#include "disk/VornDisk.h"

namespace vorn {
namespace {

// How often the importing thread, waiting for a conversion, looks at the cancel flag.
constexpr auto kPollInterval = std::chrono::milliseconds(50);

// The status text and progress bar of a conversion that runs ahead of the file
// being written: held until the import reaches that file, then shown as they
// stand and passed on from there, so the window and the terminal always show
// the file the disk is busy with. Safe to call from both threads.
class CHeldControls final : public CStatusText, public CProgressBar {
 public:
  void SetText(const std::string& text) override {
    std::lock_guard lock(m_mutex);
    m_text = text;
    if (m_status) m_status->SetText(text);
  }
  void SetRange(int lower, int upper) override {
    std::lock_guard lock(m_mutex);
    m_range = {lower, upper};
    m_position = lower;
    if (m_progress) m_progress->SetRange(lower, upper);
  }
  void SetPos(int position) override {
    std::lock_guard lock(m_mutex);
    m_position = position;
    if (m_progress) m_progress->SetPos(position);
  }
  void SetStep(int step) override {
    std::lock_guard lock(m_mutex);
    m_step = step;
    if (m_progress) m_progress->SetStep(step);
  }
  void StepIt() override {
    std::lock_guard lock(m_mutex);
    m_position += m_step;
    if (m_progress) m_progress->StepIt();
  }

  // Shows what was held on these controls and passes every later call on.
  void Release(CStatusText* status, CProgressBar* progress) {
    std::lock_guard lock(m_mutex);
    m_status = status;
    m_progress = progress;
    if (m_status && m_text) m_status->SetText(*m_text);
    if (m_progress && m_range) {
      m_progress->SetRange(m_range->first, m_range->second);
      m_progress->SetStep(m_step);
      m_progress->SetPos(m_position);
    }
  }

 private:
  std::mutex m_mutex;
  CStatusText* m_status = nullptr;
  CProgressBar* m_progress = nullptr;
  std::optional<std::string> m_text;
  std::optional<std::pair<int, int>> m_range;
  int m_position = 0;
  int m_step = 1;
};

// One file converted on its own thread.
class CBackgroundPreparation {
 public:
  // `room`: the disk's room as it stood when the preparation started (the
  // routines written meanwhile are not in it; the exact check still follows).
  CBackgroundPreparation(std::string path, unsigned threads,
                         std::function<bool(std::uint64_t)> room)
      : m_thread([this, path = std::move(path), threads, room = std::move(room)] {
          try {
            ConversionContext context{&m_controls, &m_controls, &m_cancel};
            context.threads = threads;
            context.lastStretch = [this] {
              {
                std::lock_guard lock(m_doneMutex);
                m_lastStretch = true;
              }
              m_doneChanged.notify_all();
            };
            m_routine = PrepareRoutine(path, context, room);
          } catch (...) {
            m_error = std::current_exception();
          }
          {
            std::lock_guard lock(m_doneMutex);
            m_done = true;
          }
          m_doneChanged.notify_all();
        }) {}
  CBackgroundPreparation(const CBackgroundPreparation&) = delete;
  CBackgroundPreparation& operator=(const CBackgroundPreparation&) = delete;
  // A conversion nobody waits for any more is cancelled, not finished.
  ~CBackgroundPreparation() {
    if (m_thread.joinable()) {
      m_cancel.Cancel();
      m_thread.join();
    }
  }

  // Shows the conversion on these controls from now on, waits for it and
  // returns the routine, or throws what the conversion threw. A set `cancel`
  // cancels the conversion. `lastStretch` is called on this thread once the
  // encoding has a processor to spare, or else when the conversion ends.
  PreparedRoutine Take(CStatusText* status, CProgressBar* progress, const CCancelFlag* cancel,
                       const std::function<void()>& lastStretch) {
    m_controls.Release(status, progress);
    bool told = false;
    {
      std::unique_lock lock(m_doneMutex);
      for (;;) {
        m_doneChanged.wait_for(lock, kPollInterval,
                               [this, &told] { return m_done || (m_lastStretch && !told); });
        if (m_done) break;
        if (m_lastStretch && !told) {
          told = true;
          lock.unlock();
          lastStretch();
          lock.lock();
        }
        if (cancel && cancel->IsCancelled()) m_cancel.Cancel();
      }
    }
    m_thread.join();
    if (m_error) std::rethrow_exception(m_error);
    return std::move(*m_routine);
  }

 private:
  CHeldControls m_controls;
  CCancelFlag m_cancel;
  std::optional<PreparedRoutine> m_routine;
  std::exception_ptr m_error;
  std::mutex m_doneMutex;
  std::condition_variable m_doneChanged;
  bool m_done = false;
  bool m_lastStretch = false;
  std::thread m_thread;  // last: starts once everything it uses is there
};

}  // namespace

void CVornDisk::AddRoutines(const std::vector<std::string>& paths, CProgressBar* progress,
                            const ImportOptions& options) {
  if (paths.empty()) return;
  auto current = std::make_unique<CBackgroundPreparation>(paths[0], options.threads,
                                                          RoomForNextRoutine());
  for (std::size_t k = 0; k < paths.size(); ++k) {
    std::unique_ptr<CBackgroundPreparation> next;
    const auto startNext = [&] {
      if (!next && k + 1 < paths.size()) {
        next = std::make_unique<CBackgroundPreparation>(paths[k + 1], options.threads,
                                                        RoomForNextRoutine());
      }
    };
    // A failure from here on cancels the conversion behind it (its destructor).
    std::optional<PreparedRoutine> routine =
        current->Take(m_status, progress, options.cancel, startNext);
    current.reset();
    startNext();
    ThrowIfCancelled(options.cancel);
    WritePreparedRoutine(*routine, progress, options.cancel);
    routine.reset();  // closes its files, which ends its temporary ones
    if (options.added) options.added(k);
    current = std::move(next);
  }
}

}  // namespace vorn
