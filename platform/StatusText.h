#pragma once
// The one-line status field a long action writes its phase into ("Ready",
// "Writing MP3", ...). Implemented by the window (marshalled to its thread) and
// by the CLI.

#include <string>

namespace vorn {

class CStatusText {
 public:
  virtual ~CStatusText() = default;
  virtual void SetText(const std::string& text) = 0;
};

}  // namespace vorn
