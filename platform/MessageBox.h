#pragma once
// The message boxes that core code raises. Core code never talks to a toolkit:
// it calls ShowMessageBox / AskYesNo, and whoever runs the process installs a
// presenter (the Qt window, the CLI's terminal prompt). Without one, messages go
// to stderr and questions are answered No, which is the safe answer for a
// headless process.

#include <string>

namespace vorn {

inline constexpr const char* kAppName = "VORN3 Manager";
inline constexpr const char* kConfirmCaption = "Confirm";

enum class MessageIcon { kNone, kInformation, kWarning, kError };
enum class MessageButtons { kOk, kYesNo };
enum class MessageAnswer { kOk, kYes, kNo };

struct MessageRequest {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::kNone;
  MessageButtons buttons = MessageButtons::kOk;
  // Shown under the text, which stays as written: the disk a question is about
  // and what it would lose, the file an error is about and the system's reason.
  std::string detail = {};  // a default, so that requests without one need not say so
  // Enter answers Yes: for the rare question whose Yes loses nothing (Escape stays No).
  bool defaultYes = false;
};

class CMessagePresenter {
 public:
  virtual ~CMessagePresenter() = default;
  // Blocks the calling thread until the user has answered.
  virtual MessageAnswer Present(const MessageRequest& request) = 0;
};

// The presenter used when none is installed: writes to stderr, answers No.
CMessagePresenter& StderrPresenter();

// Installs the process-wide presenter; nullptr restores the stderr presenter.
// The presenter must outlive every call made while it is installed.
void SetMessagePresenter(CMessagePresenter* presenter);

// OK box; caption defaults to the application name.
MessageAnswer ShowMessageBox(const std::string& text, const std::string& caption = kAppName,
                             MessageIcon icon = MessageIcon::kNone,
                             MessageButtons buttons = MessageButtons::kOk);

// Any box, as the request says.
MessageAnswer ShowMessage(const MessageRequest& request);

// Question with caption "Confirm", Yes/No buttons and the warning icon; true on
// Yes. No is the default answer, and the one given when the box is dismissed.
bool AskYesNo(const std::string& text, const std::string& detail = {});

}  // namespace vorn
