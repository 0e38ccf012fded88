#pragma once
// Status field and progress bar that record what they are told.

#include <functional>
#include <string>
#include <vector>

#include "platform/ProgressBar.h"
#include "platform/StatusText.h"

namespace vorn::test {

class CRecordingStatus final : public CStatusText {
 public:
  void SetText(const std::string& text) override {
    texts.push_back(text);
    if (onText) onText(text);
  }
  std::vector<std::string> texts;
  std::function<void(const std::string&)> onText;  // lets a test act at a given phase
};

// Calls as text: "range 0 2", "pos 0", "step 1", "stepit".
class CRecordingProgress final : public CProgressBar {
 public:
  void SetRange(int lower, int upper) override {
    calls.push_back("range " + std::to_string(lower) + " " + std::to_string(upper));
  }
  void SetPos(int position) override { calls.push_back("pos " + std::to_string(position)); }
  void SetStep(int step) override { calls.push_back("step " + std::to_string(step)); }
  void StepIt() override { calls.push_back("stepit"); }
  std::vector<std::string> calls;
};

}  // namespace vorn::test
