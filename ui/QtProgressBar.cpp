#include "ui/QtProgressBar.h"

#include <algorithm>

#include "ui/UiThread.h"

namespace vorn {
namespace {

void SetClamped(QProgressBar* bar, int position) {
  bar->setValue(std::clamp(position, bar->minimum(), std::max(bar->minimum(), bar->maximum())));
}

}  // namespace

template <class Change>
void CQtProgressBar::Apply(Change change) {
  QProgressBar* bar = m_bar.data();
  if (!bar) return;
  PostToUi(bar, [bar, change] { change(bar); });
}

void CQtProgressBar::SetRange(int lower, int upper) {
  Apply([lower, upper](QProgressBar* bar) {
    const int position = bar->value();  // setRange resets a bar whose value falls outside
    bar->setRange(lower, std::max(lower, upper));
    SetClamped(bar, position);
  });
}

void CQtProgressBar::SetPos(int position) {
  Apply([position](QProgressBar* bar) { SetClamped(bar, position); });
}

void CQtProgressBar::SetStep(int step) {
  Apply([this, step](QProgressBar*) { m_step = step; });
}

void CQtProgressBar::StepIt() {
  Apply([this](QProgressBar* bar) { SetClamped(bar, bar->value() + m_step); });
}

}  // namespace vorn
