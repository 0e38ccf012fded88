#pragma once
// The window's progress bar as the core's CProgressBar. Calls from a worker are
// queued to the user-interface thread in order; positions outside the range are
// clamped to it, as a classic progress control does.

#include <QPointer>
#include <QProgressBar>

#include "platform/ProgressBar.h"

namespace vorn {

class CQtProgressBar final : public CProgressBar {
 public:
  explicit CQtProgressBar(QProgressBar* bar) : m_bar(bar) {}

  void SetRange(int lower, int upper) override;
  void SetPos(int position) override;
  void SetStep(int step) override;
  void StepIt() override;

 private:
  template <class Change>
  void Apply(Change change);

  QPointer<QProgressBar> m_bar;
  int m_step = 10;  // read and written on the user-interface thread only
};

}  // namespace vorn
