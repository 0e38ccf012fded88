// "Check disk..." shows one row per finding, each naming its routine; and
// formatting a card met for the first time offers the capacity probe, which
// keeps a fake card from being formatted.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QPushButton>

#include <filesystem>
#include <fstream>

#include "UiTestSupport.h"
#include "device/ImageDevice.h"
#include "disk/VornDisk.h"
#include "ui/CheckResultDlg.h"
#include "ui/CheckResultModel.h"
#include "ui/ManagerDlg.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAskProbe = "This card is new to this computer. Check first that it holds what it claims?";

// A card in a reader, over an image file; `wrapAt` makes it a fake that holds
// only that many sectors and wraps around past them.
class CCardDevice final : public CSectorDevice {
 public:
  explicit CCardDevice(std::uint32_t wrapAt) : m_wrapAt(wrapAt) {}
  std::uint32_t GetSectorCount() override { return m_image.GetSectorCount(); }
  std::string GetName() override { return m_image.GetName(); }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    for (std::uint32_t i = 0; i < count; ++i) m_image.ReadSectors(At(first + i), 1, static_cast<char*>(buffer) + i * kSectorSize);
  }
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override {
    for (std::uint32_t i = 0; i < count; ++i) {
      m_image.WriteSectors(At(first + i), 1, static_cast<const char*>(buffer) + i * kSectorSize);
    }
  }
  void Open(const DeviceEntry& entry) override { m_image.Open(CImageDevice::EntryFor(entry.text)); }
  void Close() override { m_image.Close(); }
  bool Identify() override { return true; }

 private:
  std::uint32_t At(std::uint32_t sector) const { return m_wrapAt != 0 ? sector % m_wrapAt : sector; }
  CImageDevice m_image;
  std::uint32_t m_wrapAt;
};

class CCardSource final : public CDeviceSource {
 public:
  std::vector<std::string> cards;
  std::uint32_t wrapAt = 0;
  void EnumerateDrives(std::vector<DeviceEntry>& drives) override {
    drives.clear();
    for (std::size_t i = 0; i < cards.size(); ++i) drives.push_back(DeviceEntry{static_cast<int>(i), cards[i], ""});
  }
  void EnumerateUnits(std::vector<DeviceEntry>& units) override { units.clear(); }
  void FreeUnitEntries(std::vector<DeviceEntry>& units) override { units.clear(); }
  std::unique_ptr<CSectorDevice> NewDriveDevice() override { return std::make_unique<CCardDevice>(wrapAt); }
  std::unique_ptr<CSectorDevice> NewUnitDevice() override { return NewDriveDevice(); }
};

// MiniSSC commands for 2 servos, `frames` frames.
std::vector<std::uint8_t> Sweep(int frames) {
  std::vector<std::uint8_t> data;
  for (int f = 0; f < frames; ++f) {
    for (std::uint8_t servo : {0, 1}) data.insert(data.end(), {255, servo, static_cast<std::uint8_t>(f % 200)});
  }
  data.resize((data.size() + kSectorSize - 1) / kSectorSize * kSectorSize, 0);
  return data;
}

class CheckActionTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("vorn-check-" + std::to_string(::getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
  }
  void TearDown() override {
    m_dialog.reset();
    ::unsetenv("XDG_STATE_HOME");
    fs::remove_all(m_dir);
  }

  CManagerDlg& Dialog() {
    auto source = std::make_unique<CCardSource>();
    m_source = source.get();
    m_source->cards = m_cards;
    m_source->wrapAt = m_wrapAt;
    m_dialog = std::make_unique<CManagerDlg>(std::move(source));
    Settle();
    return *m_dialog;
  }
  void Settle() { ASSERT_TRUE(test::WaitUntil([this] { return !m_dialog->IsBusy(); })); }
  void Trigger(const QString& text) {
    for (QAction* action : m_dialog->findChildren<QAction*>()) {
      if (action->text() == text) {
        ASSERT_TRUE(action->isEnabled());
        action->trigger();
        return Settle();
      }
    }
    FAIL() << "no action " << text.toStdString();
  }

  test::CScriptedPresenter m_presenter;
  fs::path m_dir;
  std::vector<std::string> m_cards;
  std::uint32_t m_wrapAt = 0;
  CCardSource* m_source = nullptr;
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
    // (green), 10 s against no audio (amber), and a position of 255 (red).
    std::vector<std::uint8_t> bad = Sweep(10);
    bad[5] = 255;
    for (const std::vector<std::uint8_t>& data : {std::vector<std::uint8_t>{}, Sweep(500), bad}) {
      RoutineEntry entry;
      entry.startSector = entry.dataSector = disk.NextFreeSector();
      entry.endSector = entry.dataSector + static_cast<std::uint32_t>(data.size() / kSectorSize);
      entry.frameRate = 20;
      const std::string title = "Routine " + std::to_string(disk.Table().size() + 1);
      std::copy(title.begin(), title.end(), entry.title.begin());
      disk.AppendRoutine(entry, [&] {
        if (!data.empty()) device.WriteSectors(entry.dataSector, entry.endSector - entry.dataSector, data.data());
      });
    }
  }
  m_cards = {image};
  Dialog();
  Trigger(QStringLiteral("&Check disk..."));

  auto* result = m_dialog->findChild<CCheckResultDlg*>();
  ASSERT_NE(result, nullptr);
  EXPECT_TRUE(result->isVisible());
  EXPECT_FALSE(result->isModal());
  const CCheckResultModel& model = result->Model();
  QStringList rows;
  for (int row = 0; row < model.rowCount(); ++row) {
    rows << model.index(row, CCheckResultModel::kResult).data().toString() + " | " + model.Subject(row) + " | " +
                model.index(row, CCheckResultModel::kFinding).data().toString();
  }
  ASSERT_EQ(rows.size(), 4) << rows.join('\n').toStdString();
  EXPECT_TRUE(rows[0].startsWith("green | Disk | header and table well-formed: 3 routines"));
  EXPECT_EQ(rows[1], "green | Routine 1 \"Routine 1\" | audio 0:00.0, no control data");
  EXPECT_EQ(rows[2], "amber | Routine 2 \"Routine 2\" | the control data plays 0:10.0, the audio 0:00.0: the unit "
                     "will cut one short");
  EXPECT_TRUE(rows[3].startsWith("red | Routine 3 \"Routine 3\" | the MiniSSC control data is malformed: position 255"))
      << rows[3].toStdString();
  EXPECT_TRUE(result->Summary().endsWith(": red (2 green, 1 amber, 1 red)")) << result->Summary().toStdString();
  EXPECT_TRUE(m_presenter.Requests().empty());
  result->close();
}

TEST_F(CheckActionTest, FormattingANewCardOffersTheProbeOnceAndRefusesAFakeOne) {
  const std::string honest = test::MakeImage(m_dir / "honest.img", 4096);
  m_cards = {honest};
  CManagerDlg& dialog = Dialog();
  dialog.Button("m_formatButton")->click();
  Settle();
  dialog.Button("m_formatButton")->click();  // met before: no second offer
  Settle();
  const auto requests = m_presenter.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].text, kAskProbe);
  EXPECT_TRUE(requests[1].defaultYes);
  EXPECT_EQ(requests[2].text, "Are you sure you want to format the disk?");
  const std::vector<char> formatted = test::ReadWholeFile(honest);
  EXPECT_EQ(static_cast<unsigned char>(formatted[1]), 0xAA);  // the header's magic

  // A card that wraps at half its claim is not formatted, and says why.
  m_dialog.reset();
  m_presenter.Clear();
  const std::string fake = test::MakeImage(m_dir / "fake.img", 4096);
  m_cards = {fake};
  m_wrapAt = 2048;
  Dialog().Button("m_formatButton")->click();
  Settle();
  const auto texts = m_presenter.Texts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[1], kAskProbe);
  EXPECT_EQ(texts[2], "This card does not hold what it claims. It was not formatted.");
  EXPECT_NE(m_presenter.Requests()[2].detail.find("holds at most 2048 sectors"), std::string::npos)
      << m_presenter.Requests()[2].detail;
  const std::vector<char> untouched = test::ReadWholeFile(fake);
  EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](char c) { return c == 0; }));

  // Asked again next time: a red card is not remembered.
  m_presenter.Clear();
  m_presenter.Answer(MessageAnswer::kYes);
  m_presenter.Answer(MessageAnswer::kNo);
  m_dialog->Button("m_formatButton")->click();
  Settle();
  EXPECT_EQ(m_presenter.Texts().size(), 2u);
  EXPECT_EQ(m_presenter.Texts().back(), kAskProbe);
}

}  // namespace
}  // namespace vorn
