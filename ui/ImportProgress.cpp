#include "ui/ImportProgress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "audio/RoutineFileHeader.h"
#include "disk/DiskText.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFile.h"

namespace vorn {
namespace {

// An estimate needs some of the phase behind it; before that it jumps about.
constexpr double kMinFractionForEstimate = 0.05;
constexpr double kMinSecondsForEstimate = 1.0;

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::string ImportProgressText(int file, int files, const std::string& title,
                               const std::string& phase, int percent, double secondsLeft) {
  std::string text = std::to_string(file) + " of " + std::to_string(files) + ": " + title;
  if (phase.empty()) return text;
  text += " - " + phase;
  if (percent < 0) return text;
  text += " " + std::to_string(percent) + "%";
  if (secondsLeft < 0) return text;
  const long seconds = std::max(1L, std::lround(secondsLeft));
  char left[32];
  std::snprintf(left, sizeof left, ", %ld:%02ld left", seconds / 60, seconds % 60);
  return text + left;
}

CImportProgress::CImportProgress(CStatusText& status, CProgressBar& bar, TextSink text, Clock clock)
    : m_status(status), m_bar(bar), m_text(std::move(text)),
      m_clock(clock ? std::move(clock) : Clock(SteadySeconds)) {}

void CImportProgress::StartFile(int file, int files, const std::string& title) {
  m_file = file;
  m_files = files;
  m_title = title;
  m_phase.clear();
  m_lower = m_upper = m_position = 0;
  m_phaseStart = m_clock();
  Publish();
}

void CImportProgress::SetText(const std::string& text) {
  m_status.SetText(text);
  // The table read at the start and the commit at the end say "Ready"; that
  // is no phase of the file.
  m_phase = text == "Ready" ? std::string() : text;
  Publish();
}

void CImportProgress::SetRange(int lower, int upper) {
  m_bar.SetRange(lower, upper);
  m_lower = lower;
  m_upper = std::max(lower, upper);
  m_position = std::clamp(m_position, m_lower, m_upper);
  m_baseSet = false;  // every phase sets its range first; its first position sets the base
  Publish();
}

void CImportProgress::SetPos(int position) {
  m_bar.SetPos(position);
  m_position = std::clamp(position, m_lower, m_upper);
  SetBaseOnce();
  Publish();
}

void CImportProgress::SetStep(int step) {
  m_bar.SetStep(step);
  m_step = step;
}

void CImportProgress::StepIt() {
  m_bar.StepIt();
  m_position = std::clamp(m_position + m_step, m_lower, m_upper);
  SetBaseOnce();
  Publish();
}

double CImportProgress::Fraction() const {
  if (m_upper <= m_lower) return 0;
  return static_cast<double>(m_position - m_lower) / static_cast<double>(m_upper - m_lower);
}

void CImportProgress::SetBaseOnce() {
  if (m_baseSet) return;
  m_baseSet = true;
  m_baseFraction = Fraction();
  m_phaseStart = m_clock();
}

void CImportProgress::Publish() {
  if (!m_text || m_files == 0) return;
  int percent = -1;
  double left = -1;
  if (!m_phase.empty() && m_upper > m_lower) {
    const double fraction = Fraction();
    percent = static_cast<int>(fraction * 100.0);
    const double elapsed = m_clock() - m_phaseStart;
    const double progressed = fraction - m_baseFraction;
    if (m_baseSet && progressed >= kMinFractionForEstimate && elapsed >= kMinSecondsForEstimate &&
        fraction < 1.0) {
      left = elapsed * (1.0 - fraction) / progressed;
    }
  }
  m_text(ImportProgressText(m_file, m_files, m_title, m_phase, percent, left));
}

std::string RoutineTitleOf(const std::string& path) {
  std::string title;
  // Opened as the import opens it: a FIFO named like a routine file must not
  // block before the import gets to refuse it.
  std::string reason;
  if (CUniqueFile file = OpenRegularFileStream(path, reason)) {
    std::uint8_t raw[RoutineFileHeader::kEncodedSize];
    if (std::fread(raw, 1, sizeof raw, file.get()) == sizeof raw) {
      const RoutineFileHeader header = RoutineFileHeader::Decode(raw);
      for (char c : header.title) {
        if (c == '\0') break;
        title += c;
      }
    }
  }
  if (!title.empty()) return DiskTextToUtf8(title);
  std::string name = path.substr(path.find_last_of('/') + 1);
  const std::string ending = ".vorn";
  if (name.size() > ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0) {
    name.resize(name.size() - ending.size());
  }
  return name;
}

}  // namespace vorn
