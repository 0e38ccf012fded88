// The Qt side of the core's seams: message boxes, status text and progress bar
// reached from a worker thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <thread>

#include "EventLoop.h"
#include "ui/QtMessagePresenter.h"
#include "ui/QtProgressBar.h"
#include "ui/QtStatusText.h"

namespace vorn {
namespace {

// Presses `button` on the next message box that opens; records its texts.
struct CBoxAnswerer {
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QList<QMessageBox::StandardButton> buttons;

  void AnswerNext(QMessageBox::StandardButton button) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [this, timer, button] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      caption = box->windowTitle();
      text = box->text();
      icon = box->icon();
      for (QAbstractButton* b : box->buttons()) buttons << box->standardButton(b);
      timer->stop();
      timer->deleteLater();
      box->button(button)->click();
    });
    timer->start();
  }
};

TEST(QtMessagePresenterTest, AWorkerWaitsForTheAnswerWhileTheUiThreadRunsOn) {
  CQtMessagePresenter presenter;
  CBoxAnswerer answerer;
  answerer.AnswerNext(QMessageBox::No);

  std::atomic<bool> answered{false};
  MessageAnswer answer = MessageAnswer::kOk;
  std::thread worker([&] {
    answer = presenter.Present({"Format?", "Confirm", MessageIcon::kWarning, MessageButtons::kYesNo});
    answered = true;
  });
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(1);
  ASSERT_TRUE(test::WaitUntil([&] { return answered.load(); }, 10000));
  worker.join();

  EXPECT_EQ(answer, MessageAnswer::kNo);
  EXPECT_GT(ticks, 0);  // the user-interface thread kept serving its events
  EXPECT_EQ(answerer.caption, "Confirm");
  EXPECT_EQ(answerer.text, "Format?");
  EXPECT_EQ(answerer.icon, QMessageBox::Warning);
  EXPECT_EQ(answerer.buttons.size(), 2);
}

TEST(QtMessagePresenterTest, OnTheUiThreadTheBoxRunsInPlace) {
  CQtMessagePresenter presenter;
  CBoxAnswerer answerer;
  answerer.AnswerNext(QMessageBox::Ok);
  EXPECT_EQ(presenter.Present({"Too few tracks", "VORN3 Manager", MessageIcon::kNone,
                               MessageButtons::kOk}),
            MessageAnswer::kOk);
  EXPECT_EQ(answerer.caption, "VORN3 Manager");
  EXPECT_EQ(answerer.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
}

TEST(QtSeamsTest, StatusAndProgressFromAWorkerArriveInOrderAndClamped) {
  QLineEdit field;
  QProgressBar bar;
  CQtStatusText status(&field);
  CQtProgressBar progress(&bar);

  std::thread worker([&] {
    status.SetText("Writing MP3");
    progress.SetRange(0, 10);
    progress.SetPos(0);
    progress.SetStep(1);
    for (int i = 0; i < 4; ++i) progress.StepIt();
    status.SetText("Writing Data");
  });
  worker.join();
  EXPECT_EQ(field.text(), "");  // nothing happens on the worker's side
  QCoreApplication::processEvents();
  EXPECT_EQ(field.text(), "Writing Data");
  EXPECT_EQ(bar.maximum(), 10);
  EXPECT_EQ(bar.value(), 4);

  progress.SetPos(25);
  EXPECT_EQ(bar.value(), 10);
  progress.SetRange(0, 3);
  EXPECT_EQ(bar.value(), 3);
}

}  // namespace
}  // namespace vorn
