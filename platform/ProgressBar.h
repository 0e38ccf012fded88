#pragma once
// The progress bar a long action drives: the four operations of a classic
// progress control. Implemented by the window (marshalled to its thread) and by
// the CLI's terminal bar.

namespace vorn {

class CProgressBar {
 public:
  virtual ~CProgressBar() = default;
  virtual void SetRange(int lower, int upper) = 0;
  virtual void SetPos(int position) = 0;
  virtual void SetStep(int step) = 0;
  virtual void StepIt() = 0;  // advance by the step
};

}  // namespace vorn
