#pragma once
// What an import tells the user while it runs: which file of how many, the
// phase the core reports, how far that phase is, and an estimate of the time
// it still needs. Stands between the core (which drives a status text and a
// progress bar) and the window's own status field and bar; called on the
// import worker's thread.

#include <functional>
#include <string>

#include "platform/ProgressBar.h"
#include "platform/StatusText.h"

namespace vorn {

// "2 of 4: Bat Swarm - Writing MP3 45%, 0:12 left". The phase, the percent
// and the time left are left out when not known (negative); "less than a
// second" never shows, the estimate ends at "0:01 left".
std::string ImportProgressText(int file, int files, const std::string& title,
                               const std::string& phase, int percent, double secondsLeft);

class CImportProgress final : public CStatusText, public CProgressBar {
 public:
  using Clock = std::function<double()>;  // seconds, monotonic
  using TextSink = std::function<void(const std::string&)>;

  // The core's texts and positions go on to `status` and `bar` unchanged; the
  // line above goes to `text` on every change.
  CImportProgress(CStatusText& status, CProgressBar& bar, TextSink text, Clock clock = {});

  // The next file; its title is the routine's, or the file name when it has none.
  void StartFile(int file, int files, const std::string& title);

  void SetText(const std::string& text) override;
  void SetRange(int lower, int upper) override;
  void SetPos(int position) override;
  void SetStep(int step) override;
  void StepIt() override;

 private:
  void Publish();
  double Fraction() const;
  void SetBaseOnce();

  CStatusText& m_status;
  CProgressBar& m_bar;
  TextSink m_text;
  Clock m_clock;
  int m_file = 0;
  int m_files = 0;
  std::string m_title;
  std::string m_phase;
  int m_lower = 0;
  int m_upper = 0;
  int m_position = 0;
  int m_step = 10;
  // Where the phase's estimate counts from: its first position and when it
  // came. A conversion that ran ahead of the disk arrives already under way;
  // what it did before it was shown must not count as done in no time.
  double m_phaseStart = 0;
  double m_baseFraction = 0;
  bool m_baseSet = false;
};

// The title of a ".vorn" file as its header states it, else the file's name
// without the folder and the ".vorn" ending.
std::string RoutineTitleOf(const std::string& path);

}  // namespace vorn
