#pragma once
// A message presenter for tests: installs itself for its lifetime, records every
// box and answers with `answer`.

#include <vector>

#include "platform/MessageBox.h"

namespace vorn::test {

class CRecordingPresenter : public CMessagePresenter {
 public:
  CRecordingPresenter() { SetMessagePresenter(this); }
  ~CRecordingPresenter() override { SetMessagePresenter(nullptr); }
  CRecordingPresenter(const CRecordingPresenter&) = delete;
  CRecordingPresenter& operator=(const CRecordingPresenter&) = delete;

  MessageAnswer Present(const MessageRequest& request) override {
    requests.push_back(request);
    return answer;
  }

  std::vector<MessageRequest> requests;
  MessageAnswer answer = MessageAnswer::kOk;
};

}  // namespace vorn::test
