#include "platform/MessageBox.h"

#include <atomic>
#include <cstdio>

namespace vorn {
namespace {

class CStderrPresenter final : public CMessagePresenter {
 public:
  MessageAnswer Present(const MessageRequest& request) override {
    std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
    if (!request.detail.empty()) std::fprintf(stderr, "%s\n", request.detail.c_str());
    if (request.buttons == MessageButtons::kYesNo) {
      std::fprintf(stderr, "(no one to ask: answering No)\n");
      return MessageAnswer::kNo;
    }
    return MessageAnswer::kOk;
  }
};

CStderrPresenter g_stderrPresenter;
std::atomic<CMessagePresenter*> g_presenter{&g_stderrPresenter};

}  // namespace

CMessagePresenter& StderrPresenter() { return g_stderrPresenter; }

void SetMessagePresenter(CMessagePresenter* presenter) {
  g_presenter.store(presenter ? presenter : &g_stderrPresenter);
}

MessageAnswer ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                             MessageButtons buttons) {
  return g_presenter.load()->Present(MessageRequest{text, caption, icon, buttons, {}});
}

MessageAnswer ShowMessage(const MessageRequest& request) {
  return g_presenter.load()->Present(request);
}

bool AskYesNo(const std::string& text, const std::string& detail) {
  return ShowMessage(MessageRequest{text, kConfirmCaption, MessageIcon::kWarning,
                                    MessageButtons::kYesNo, detail}) == MessageAnswer::kYes;
}

}  // namespace vorn
