#include "ui/DiskActionRunner.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>

#include "UiTestSupport.h"
#include "device/DeviceExceptions.h"
#include "platform/Error.h"
#include "ui/UiThread.h"

namespace vorn {
namespace {

using test::CScriptedPresenter;

// The outcome a job's end hands to the window: a failure carries the box the
// error asks for, a cancel is no failure, and the outcome comes on the
// user-interface thread after the job's own posts.
TEST(DiskActionRunnerTest, AJobsEndArrivesOnTheUiThreadWithTheBoxItsErrorAsksFor) {
  struct Case {
    std::function<void()> work;
    JobOutcome::Kind kind;
    MessageRequest box;
  };
  const Case cases[] = {
      {[] {}, JobOutcome::Kind::kDone, {}},
      {[] { throw CCancelled(); }, JobOutcome::Kind::kCancelled, {}},
      {[] { throw CVornError("Verify failed", "Disk check", MessageIcon::kWarning, "Sector 9"); },
       JobOutcome::Kind::kFailed,
       MessageRequest{"Verify failed", "Disk check", MessageIcon::kWarning, MessageButtons::kOk, "Sector 9"}},
      {[] { throw CFileAccessException("Unable to open x"); }, JobOutcome::Kind::kFailed,
       MessageRequest{"Unable to open x", kAppName, MessageIcon::kError, MessageButtons::kOk, {}}},
      {[] { throw std::runtime_error("out of something"); }, JobOutcome::Kind::kFailed,
       MessageRequest{"out of something", kAppName, MessageIcon::kNone, MessageButtons::kOk, {}}},
  };
  CDiskActionRunner runner;
  for (const Case& c : cases) {
    ASSERT_TRUE(runner.Begin("test"));
    EXPECT_FALSE(runner.Begin("second"));  // one action at a time
    std::optional<JobOutcome> outcome;
    bool posted = false, postedFirst = false;
    runner.Run([&] {
      EXPECT_FALSE(IsUiThread());
      QMetaObject::invokeMethod(&runner, [&] { posted = true; }, Qt::QueuedConnection);
      c.work();
    }, [&](const JobOutcome& o) {
      postedFirst = posted;
      outcome = o;
    });
    ASSERT_TRUE(test::WaitUntil([&] { return outcome.has_value(); }));
    EXPECT_TRUE(postedFirst);
    EXPECT_EQ(outcome->kind, c.kind);
    EXPECT_EQ(outcome->failure.text, c.box.text);
    EXPECT_EQ(outcome->failure.caption, c.box.caption);
    EXPECT_EQ(outcome->failure.icon, c.box.icon);
    EXPECT_EQ(outcome->failure.detail, c.box.detail);
    runner.End();
  }
}

// A close while an action runs: asked about only when the action can stop
// (No keeps it), then carried out when the action ends; a device change waits
// for the end too.
TEST(DiskActionRunnerTest, ACloseOrADeviceChangeWhileBusyWaitsForTheEnd) {
  CScriptedPresenter presenter;
  CDiskActionRunner runner;
  int closes = 0;
  EXPECT_FALSE(runner.HoldDeviceChange());
  EXPECT_TRUE(runner.CloseWhenDone([&] { ++closes; }, true));  // idle: at once
  EXPECT_EQ(closes, 1);

  for (const bool cancellable : {false, true}) {
    const int before = closes;
    ASSERT_TRUE(runner.Begin("test"));
    if (cancellable) runner.AllowCancel("Backing up is still running.\n\nCancel it and close the window?");
    EXPECT_TRUE(runner.HoldDeviceChange());
    presenter.Clear();
    if (cancellable) presenter.Answer(MessageAnswer::kNo);
    EXPECT_EQ(runner.CloseWhenDone([&] { ++closes; }, true), !cancellable);
    EXPECT_EQ(presenter.Requests().size(), cancellable ? 1u : 0u);
    EXPECT_FALSE(runner.IsCancelled());
    if (cancellable) presenter.Answer(MessageAnswer::kYes);
    EXPECT_TRUE(runner.CloseWhenDone([&] { ++closes; }, true));
    EXPECT_EQ(runner.IsCancelled(), cancellable);
    EXPECT_TRUE(runner.IsStopping());
    EXPECT_EQ(closes, before);
    EXPECT_TRUE(runner.TakeHeldChange());
    EXPECT_FALSE(runner.TakeHeldChange());
    runner.End();
    EXPECT_EQ(closes, before + 1);  // once, though asked twice
  }
}

}  // namespace
}  // namespace vorn
