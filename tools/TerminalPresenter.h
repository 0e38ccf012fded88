#pragma once
// How vorn3ctl talks to the person at the terminal: message boxes become lines
// on stderr, questions are asked there and answered on stdin, and the status
// text and progress bar of a long action share one redrawn line.

#include <cstdio>
#include <memory>
#include <string>

#include "platform/MessageBox.h"
#include "platform/ProgressBar.h"
#include "platform/StatusText.h"

namespace vorn {

class CTerminalPresenter final : public CMessagePresenter {
 public:
  CTerminalPresenter(std::FILE* in, std::FILE* out) : m_in(in), m_out(out) {}
  // A question reads one line: "y" or "yes" (any case) is Yes, anything else No.
  MessageAnswer Present(const MessageRequest& request) override;

 private:
  std::FILE* m_in;
  std::FILE* m_out;
};

// Status text and progress on one line of a terminal; silent when `out` is not
// a terminal, so scripts get clean output. The line is cleared at the end.
class CTerminalStatusLine final : public CStatusText, public CProgressBar {
 public:
  explicit CTerminalStatusLine(std::FILE* out);
  ~CTerminalStatusLine() override;
  CTerminalStatusLine(const CTerminalStatusLine&) = delete;
  CTerminalStatusLine& operator=(const CTerminalStatusLine&) = delete;

  void SetText(const std::string& text) override;
  void SetRange(int lower, int upper) override;
  void SetPos(int position) override;
  void SetStep(int step) override { m_step = step; }
  void StepIt() override { SetPos(m_position + m_step); }

  // The line as it would be drawn, e.g. "Writing MP3 [#####     ] 50%".
  std::string Render() const;

 private:
  void Redraw();

  std::FILE* m_out;
  bool m_interactive;
  bool m_drawn = false;
  std::string m_text;
  int m_lower = 0;
  int m_upper = 0;
  int m_position = 0;
  int m_step = 1;
};

// Asks a destructive command's question: true at once with --yes; on a terminal
// asks it; otherwise throws CUsageError, because nobody can answer it.
bool ConfirmOnTerminal(const std::string& question, bool yes);
// The refusal of ConfirmOnTerminal alone, for a command that asks only once it
// has read what to name in its question.
void RequireConfirmation(bool yes);

// A status line showing `text`, or none when the command runs --quiet.
std::unique_ptr<CTerminalStatusLine> OptionalStatusLine(bool quiet, const std::string& text);

// Characters a terminal would act on (C0 and C1 controls, DEL) shown as '?',
// bytes that are not UTF-8 as U+FFFD.
std::string PrintableText(const std::string& text);

// `text` (UTF-8) padded with spaces to `width` characters.
std::string PadRight(const std::string& text, std::size_t width);

}  // namespace vorn
