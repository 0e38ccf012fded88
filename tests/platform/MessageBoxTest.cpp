#include "platform/MessageBox.h"
#include "tests/support/RecordingPresenter.h"

#include <gtest/gtest.h>

#include <vector>

namespace vorn {
namespace {

using test::CRecordingPresenter;

TEST(MessageBoxTest, QuestionsUseConfirmCaptionWarningIconAndYesNo) {
  CRecordingPresenter presenter;
  presenter.answer = MessageAnswer::kYes;
  EXPECT_TRUE(AskYesNo("Are you sure?"));
  presenter.answer = MessageAnswer::kNo;
  EXPECT_FALSE(AskYesNo("Really?"));
  ShowMessageBox("Too few tracks");
  SetMessagePresenter(nullptr);

  ASSERT_EQ(presenter.requests.size(), 3u);
  EXPECT_EQ(presenter.requests[0].caption, "Confirm");
  EXPECT_EQ(presenter.requests[0].icon, MessageIcon::kWarning);
  EXPECT_EQ(presenter.requests[0].buttons, MessageButtons::kYesNo);
  EXPECT_EQ(presenter.requests[2].caption, "VORN3 Manager");
  EXPECT_EQ(presenter.requests[2].buttons, MessageButtons::kOk);
}

TEST(MessageBoxTest, WithoutPresenterQuestionsAreAnsweredNo) {
  SetMessagePresenter(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(AskYesNo("Format?"));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Confirm: Format?"), std::string::npos);
}

}  // namespace
}  // namespace vorn
