// The Qt side of the core's seams: message boxes, status text and progress bar
// reached from a worker thread.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "EventLoop.h"
#include "audio/RoutineFileHeader.h"
#include "platform/UniqueFile.h"
#include "ui/ImportProgress.h"
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

// A question defaults to No, and Enter and Escape both answer No; its extra
// text shows under the fixed one; the box is wide enough for its caption; a
// screen reader finds both buttons and which one is the default.
TEST(QtMessagePresenterTest, AQuestionDefaultsToNoAndShowsItsDetailAndItsCaptionWhole) {
  CQtMessagePresenter presenter;
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
    QString informative;
    int width = 0, captionWidth = 0;
    bool noIsDefault = false, yesIsDefault = true;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      informative = box->informativeText();
      width = box->width();
      captionWidth = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(box->windowTitle());
      // The buttons sit in a button box inside the message box.
      std::function<void(QAccessibleInterface*)> visit = [&](QAccessibleInterface* node) {
        if (node->role() == QAccessible::Button) {
          if (node->text(QAccessible::Name) == "No") noIsDefault = node->state().defaultButton;
          if (node->text(QAccessible::Name) == "Yes") yesIsDefault = node->state().defaultButton;
        }
        for (int i = 0; i < node->childCount(); ++i) visit(node->child(i));
      };
      visit(QAccessible::queryAccessibleInterface(box));
      QTest::keyClick(box, key);
    });
    MessageRequest request{"Format?", "A long caption for a box with a short text to show whole",
                           MessageIcon::kWarning, MessageButtons::kYesNo};
    request.detail = "Disk: card.img";
    EXPECT_EQ(presenter.Present(request), MessageAnswer::kNo) << key;
    EXPECT_EQ(informative, "Disk: card.img");
    EXPECT_GT(width, captionWidth);
    EXPECT_TRUE(noIsDefault);
    EXPECT_FALSE(yesIsDefault);
  }
}

TEST(ImportProgressTest, TheLineNamesFilePhasePercentAndTimeLeft) {
  EXPECT_EQ(ImportProgressText(2, 4, "Bat Swarm", "", -1, -1), "2 of 4: Bat Swarm");
  EXPECT_EQ(ImportProgressText(2, 4, "Bat Swarm", "Writing MP3", 45, -1), "2 of 4: Bat Swarm - Writing MP3 45%");
  EXPECT_EQ(ImportProgressText(1, 1, "x", "Converting Audio", 5, 75.4), "1 of 1: x - Converting Audio 5%, 1:15 left");
  EXPECT_EQ(ImportProgressText(1, 1, "x", "Writing Data", 99, 0.2), "1 of 1: x - Writing Data 99%, 0:01 left");

  struct CRecorder final : CStatusText, CProgressBar {
    std::string text;
    int position = 0;
    void SetText(const std::string& t) override { text = t; }
    void SetRange(int, int) override {}
    void SetPos(int p) override { position = p; }
    void SetStep(int) override {}
    void StepIt() override { ++position; }
  } core;
  double now = 100;
  std::vector<std::string> lines;
  CImportProgress progress(core, core, [&](const std::string& line) { lines.push_back(line); },
                           [&] { return now; });
  progress.StartFile(1, 2, "Bat Swarm");
  progress.SetRange(0, 200);
  progress.SetPos(0);
  progress.SetText("Writing MP3");
  EXPECT_EQ(core.text, "Writing MP3");  // the core's own text goes on unchanged
  now += 0.5;
  progress.SetPos(50);
  EXPECT_EQ(lines.back(), "1 of 2: Bat Swarm - Writing MP3 25%");  // too early to tell
  now += 1.5;  // a quarter in 2 s: 6 s to go
  progress.SetPos(50);
  EXPECT_EQ(lines.back(), "1 of 2: Bat Swarm - Writing MP3 25%, 0:06 left");
  EXPECT_EQ(core.position, 50);
  progress.SetText("Ready");
  EXPECT_EQ(lines.back(), "1 of 2: Bat Swarm");
  progress.StartFile(2, 2, "Finale");
  EXPECT_EQ(lines.back(), "2 of 2: Finale");
  // A conversion that ran ahead while file 1 was written arrives at 30%: the
  // estimate counts from there (10% a second), not from nothing at 30%.
  progress.SetText("Converting Audio");
  progress.SetRange(0, 100);
  progress.SetPos(30);
  now += 1.0;
  progress.SetPos(40);
  EXPECT_EQ(lines.back(), "2 of 2: Finale - Converting Audio 40%, 0:06 left");

  EXPECT_EQ(RoutineTitleOf("/nowhere/Grand finale.vorn"), "Grand finale");

  // The title a routine file holds is in the disk's code page; a FIFO named
  // like a routine file is not opened in a way that waits for a writer.
  char dir[] = "/tmp/vorn-title-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string named = std::string(dir) + "/named.vorn";
  const std::string fifo = std::string(dir) + "/Pipe dream.vorn";
  RoutineFileHeader header;
  const std::string title = "Caf\xE9 \x80";  // Windows-1252: e acute, euro sign
  std::copy(title.begin(), title.end(), header.title.begin());
  std::uint8_t raw[RoutineFileHeader::kEncodedSize];
  header.Encode(raw);
  if (CUniqueFile file{std::fopen(named.c_str(), "wb")}) std::fwrite(raw, 1, sizeof raw, file.get());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(RoutineTitleOf(named), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(RoutineTitleOf(fifo), "Pipe dream");
  std::filesystem::remove_all(dir);
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
