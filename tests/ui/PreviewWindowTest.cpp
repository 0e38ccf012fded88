// The preview window from the main window: opened by a double-click or Enter
// on a row, beside the main window (which stays usable), and a disk pulled
// out while it reads: the preview says so and stays usable.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <filesystem>

#include "UiTestSupport.h"
#include "device/ImageDevice.h"
#include "disk/VornDisk.h"
#include "ui/ControlList.h"
#include "ui/ManagerDlg.h"
#include "ui/PreviewWindow.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

// The export's file question answered with a fixed path.
class CTestPreview final : public CPreviewWindow {
 public:
  using CPreviewWindow::CPreviewWindow;
  QString path;

 protected:
  QString AskExportPath() override { return path; }
};

class PreviewWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vorn-preview-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_shared = std::make_shared<test::CImageSource::Shared>();
    // A card holding one 20-second routine, imported as the window imports.
    const std::string image = test::MakeImage(m_dir / "card.img", 16384);
    const std::string routine = test::WriteAudioRoutineFile(m_dir / "tone.vorn", "Tone", 20.0, 3000);
    CImageDevice device(image, false);
    device.Open(CImageDevice::EntryFor(image));
    CVornDisk disk(device, nullptr);
    disk.Format();
    disk.AddRoutine(routine, nullptr);
    m_entry = disk.ReadTable().at(0);
    device.Close();
    m_shared->drives = {image};
  }
  void TearDown() override { fs::remove_all(m_dir); }

  fs::path m_dir;
  std::shared_ptr<test::CImageSource::Shared> m_shared;
  test::CScriptedPresenter m_presenter;
  RoutineEntry m_entry;
};

TEST_F(PreviewWindowTest, ADoubleClickOrEnterOpensAPreviewBesideTheUsableMainWindow) {
  CManagerDlg dialog(std::make_unique<test::CImageSource>(m_shared));
  dialog.show();
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsBusy() && dialog.RoutineList()->rowCount() == 1; }));
  CControlList* grid = dialog.RoutineList();
  const QRect cell = grid->visualRect(grid->model()->index(0, 0));
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  ASSERT_TRUE(test::WaitUntil([&] { return dialog.findChildren<CPreviewWindow*>().size() == 1; }));
  CPreviewWindow* preview = dialog.findChildren<CPreviewWindow*>().front();
  EXPECT_TRUE(preview->isVisible());
  EXPECT_TRUE(preview->isWindow());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  ASSERT_TRUE(test::WaitUntil([&] { return !preview->IsDecoding() && preview->Picture().audioComplete; }));
  EXPECT_NEAR(preview->Picture().audioSeconds, 20.0, 0.1);
  EXPECT_FALSE(preview->Picture().peaks.empty());
  // The main window is not held by the preview.
  EXPECT_FALSE(dialog.IsBusy());
  EXPECT_TRUE(dialog.Button("m_refreshButton")->isEnabled());

  // Enter on the selected row opens another; zoom and a click (seek) work in it.
  grid->selectRow(0);
  grid->setFocus();
  QTest::keyClick(grid, Qt::Key_Return);
  ASSERT_TRUE(test::WaitUntil([&] { return dialog.findChildren<CPreviewWindow*>().size() == 2; }));
  EXPECT_TRUE(dialog.isVisible());
  preview->Zoom(0.25, 10.0);
  EXPECT_NEAR(preview->Plot()->view.to - preview->Plot()->view.from, 5.0, 0.1);
  preview->Seek(12.5);
  EXPECT_EQ(preview->Plot()->view.playhead, 12.5);
}

// An action on the main window may write the disk: an open preview lets go
// of it first, and says why its picture stops.
TEST_F(PreviewWindowTest, AnActionOnTheMainWindowStopsThePreviewsReading) {
  m_shared->readDelayMs = 100;
  CManagerDlg dialog(std::make_unique<test::CImageSource>(m_shared));
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsBusy() && dialog.RoutineList()->rowCount() == 1; }));
  dialog.RoutineList()->selectRow(0);
  emit dialog.RoutineList()->DoubleClickNotify(0, 0);
  ASSERT_EQ(dialog.findChildren<CPreviewWindow*>().size(), 1u);
  CPreviewWindow* preview = dialog.findChildren<CPreviewWindow*>().front();
  ASSERT_TRUE(test::WaitUntil([&] { return !preview->Picture().peaks.empty(); }));
  m_presenter.Answer(MessageAnswer::kNo);
  dialog.Button("m_formatButton")->click();
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsBusy() && !preview->IsDecoding(); }));
  EXPECT_TRUE(preview->StatusText().contains(QStringLiteral("The main window is working on the disk")))
      << preview->StatusText().toStdString();
  EXPECT_TRUE(preview->isVisible());
}

TEST_F(PreviewWindowTest, ADiskPulledOutWhileThePreviewReadsIsNamedAndThePreviewStaysUsable) {
  m_shared->readDelayMs = 100;  // the reading goes on long enough to pull the card mid-way
  CManagerDlg dialog(std::make_unique<test::CImageSource>(m_shared));
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsBusy() && dialog.RoutineList()->rowCount() == 1; }));
  auto* preview = new CTestPreview(
      [this] {
        auto device = test::CImageSource(m_shared).NewDriveDevice();
        device->Open(CImageDevice::EntryFor(m_shared->drives[0]));
        return device;
      },
      m_entry, QStringLiteral("card"), &dialog);
  preview->show();
  ASSERT_TRUE(test::WaitUntil([&] { return !preview->Picture().peaks.empty(); }));
  m_shared->unplugged = true;
  ASSERT_TRUE(test::WaitUntil([&] { return !preview->IsDecoding(); }));
  EXPECT_TRUE(preview->StatusText().contains(QStringLiteral("The disk cannot be read (was it removed?)")))
      << preview->StatusText().toStdString();
  EXPECT_TRUE(preview->isVisible());

  // What was read stays: zoom, play (refused without the whole audio) and export still answer.
  preview->Zoom(0.5);
  preview->TogglePlay();
  EXPECT_FALSE(preview->IsPlaying());
  preview->path = QString::fromStdString((m_dir / "picture.svg").string());
  preview->ExportPicture();
  EXPECT_TRUE(fs::exists(m_dir / "picture.svg"));
  EXPECT_TRUE(preview->StatusText().contains(QStringLiteral("Exported the picture")));
  delete preview;
}

}  // namespace
}  // namespace vorn
