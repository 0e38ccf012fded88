#pragma once
// The one base of every error this program raises for a user to read. Core code
// throws it (or a type derived from it) with the text the user sees; only the
// edge — the window, vorn3ctl, the headless modes — decides how to show it: a
// box with the error's caption and icon, or a line on stderr. So a caller needs
// one catch, and nothing below the edge talks to a user.

#include <stdexcept>
#include <string>
#include <utility>

#include "platform/MessageBox.h"

namespace vorn {

class CVornError : public std::runtime_error {
 public:
  explicit CVornError(const std::string& message, std::string caption = kAppName,
                      MessageIcon icon = MessageIcon::kError, std::string detail = {})
      : std::runtime_error(message),
        m_caption(std::move(caption)),
        m_icon(icon),
        m_detail(std::move(detail)) {}

  std::string GetMessage() const { return what(); }
  const std::string& Caption() const { return m_caption; }
  MessageIcon Icon() const { return m_icon; }
  // Shown under the text where a box has room: the file or disk and the
  // system's reason.
  const std::string& Detail() const { return m_detail; }

  // The box the edge shows for it.
  MessageRequest AsMessage() const {
    MessageRequest request;
    request.text = what();
    request.caption = m_caption;
    request.icon = m_icon;
    request.detail = m_detail;
    return request;
  }

 private:
  std::string m_caption;
  MessageIcon m_icon;
  std::string m_detail;
};

}  // namespace vorn
