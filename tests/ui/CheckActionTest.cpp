// "Check disk..." shows one row per finding, each naming its routine; and
// formatting a card met for the first time offers the capacity probe, which
// keeps a fake card from being formatted.
#include <gtest/gtest.h>

#include <QAction>
#include <QPushButton>

#include <filesystem>

#include "UiTestSupport.h"
#include "disk/VornDisk.h"
#include "ui/CheckResultDlg.h"
#include "ui/CheckResultModel.h"
#include "ui/ManagerDlg.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAskProbe = "This card is new to this computer. Check first that it holds what it claims?";

class CheckActionTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vorn-check-" + std::to_string(::getpid()));
    fs::create_directories(m_dir);
    ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
  }
  void TearDown() override {
    m_dialog.reset();
    ::unsetenv("XDG_STATE_HOME");
    fs::remove_all(m_dir);
  }
  // The window on `card`, a drive, with the action `text` (a button's or a menu's) run to its end.
  void Run(const std::string& card, const QString& text) {
    if (!m_dialog) {
      m_shared->drives = {card};
      m_dialog = std::make_unique<CManagerDlg>(std::make_unique<test::CImageSource>(m_shared));
      ASSERT_TRUE(test::WaitUntil([this] { return !m_dialog->IsBusy(); }));
    }
    for (QAction* action : m_dialog->findChildren<QAction*>()) {
      if (action->text() == text) action->trigger();
    }
    ASSERT_TRUE(test::WaitUntil([this] { return !m_dialog->IsBusy(); }));
  }

  test::CScriptedPresenter m_presenter;
  fs::path m_dir;
  std::shared_ptr<test::CImageSource::Shared> m_shared = std::make_shared<test::CImageSource::Shared>();
  std::unique_ptr<CManagerDlg> m_dialog;
};

TEST_F(CheckActionTest, CheckDiskListsEachRoutineGreenAmberOrRed) {
  const std::string image = test::MakeImage(m_dir / "show.img", 4096);
  {
    CImageDevice device(image);
    device.Open(CImageDevice::EntryFor(image));
    CVornDisk disk(device, nullptr);
    disk.Format();
    // No audio, so the control data's playing time is the whole story: none
    // (green), 10 s of MiniSSC commands against no audio (amber), a position 255 (red).
    std::vector<std::uint8_t> sweep;
    for (int f = 0; f < 1000; ++f) sweep.insert(sweep.end(), {255, static_cast<std::uint8_t>(f % 2), 100});
    std::vector<std::uint8_t> bad(sweep.begin(), sweep.begin() + 30);
    bad[5] = 255;
    for (std::vector<std::uint8_t> data : {std::vector<std::uint8_t>{}, sweep, bad}) {
      data.resize((data.size() + kSectorSize - 1) / kSectorSize * kSectorSize, 0);
      RoutineEntry entry;
      entry.startSector = entry.dataSector = disk.NextFreeSector();
      entry.endSector = entry.dataSector + static_cast<std::uint32_t>(data.size() / kSectorSize);
      entry.frameRate = 20;
      entry.title = {'R', static_cast<char>('1' + disk.Table().size())};
      disk.AppendRoutine(entry, [&] {
        if (!data.empty()) device.WriteSectors(entry.dataSector, entry.endSector - entry.dataSector, data.data());
      });
    }
  }
  Run(image, QStringLiteral("&Check disk..."));

  auto* result = m_dialog->findChild<CCheckResultDlg*>();
  ASSERT_NE(result, nullptr);
  EXPECT_TRUE(result->isVisible() && !result->isModal());
  const CCheckResultModel& model = result->Model();
  QStringList rows;
  for (int row = 0; row < model.rowCount(); ++row) {
    rows << model.index(row, CCheckResultModel::kResult).data().toString() + " | " + model.Subject(row) + " | " +
                model.index(row, CCheckResultModel::kFinding).data().toString().left(52);
  }
  EXPECT_EQ(rows, (QStringList{"green | Disk | header and table well-formed: 3 routines, table at s",
                               "green | Routine 1 \"R1\" | audio 0:00.0, no control data",
                               "amber | Routine 2 \"R2\" | the control data plays 0:10.0, the audio 0:00.0: the",
                               "red | Routine 3 \"R3\" | the MiniSSC control data is malformed: position 255 "}));
  EXPECT_TRUE(result->Summary().endsWith(": red (2 green, 1 amber, 1 red)")) << result->Summary().toStdString();
  EXPECT_TRUE(m_presenter.Requests().empty());
}

TEST_F(CheckActionTest, FormattingANewCardOffersTheProbeAndRefusesAFakeOne) {
  // A card that wraps at half its claim is not formatted, and says why.
  const std::string fake = test::MakeImage(m_dir / "fake.img", 4096);
  m_shared->wrapAt = 2048;
  Run(fake, QStringLiteral("Format disk"));
  auto requests = m_presenter.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].text, kAskProbe);
  EXPECT_TRUE(requests[1].defaultYes);
  EXPECT_EQ(requests[2].text, "This card does not hold what it claims. It was not formatted.");
  EXPECT_NE(requests[2].detail.find("holds at most 2048 sectors"), std::string::npos) << requests[2].detail;
  const std::vector<char> untouched = test::ReadWholeFile(fake);
  EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](char c) { return c == 0; }));

  // Not remembered, so asked again; an honest card passes, is formatted, and
  // is not asked about again.
  m_shared->wrapAt = 0;
  m_presenter.Clear();
  Run(fake, QStringLiteral("Format disk"));
  Run(fake, QStringLiteral("Format disk"));
  requests = m_presenter.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].text, kAskProbe);
  EXPECT_EQ(requests[2].text, "Are you sure you want to format the disk?");
  EXPECT_EQ(static_cast<unsigned char>(test::ReadWholeFile(fake)[1]), 0xAA);  // the header's magic
}

}  // namespace
}  // namespace vorn
