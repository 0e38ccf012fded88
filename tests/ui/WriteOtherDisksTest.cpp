// "Write to other disks..." driven through its dialog as a user would (rows
// ticked, Write pressed), judged by the images' bytes and the rows it shows.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include <filesystem>
#include <fstream>

#include "UiTestSupport.h"
#include "device/ImageDevice.h"
#include "disk/DiskHeader.h"
#include "disk/VornDisk.h"
#include "ui/ControlList.h"
#include "ui/ManagerDlg.h"
#include "ui/WriteDisksDlg.h"
#include "ui/WriteTargetModel.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using test::CImageSource;

class WriteOtherDisksTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vorn-write-others-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "state");
    ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
    m_shared = std::make_shared<CImageSource::Shared>();
    // The show: a converted tone among routines of control data only.
    m_source = test::MakeImage(m_dir / "source.img", 8192);
    CImageDevice device(m_source, false);
    device.Open(CImageDevice::EntryFor(m_source));
    CVornDisk disk(device, nullptr);
    disk.Format();
    disk.AddRoutines({test::WriteRoutineFile(m_dir / "a.vorn", "Intro", 3000),
                      test::WriteAudioRoutineFile(m_dir / "b.vorn", "Bats", 0.5),
                      test::WriteRoutineFile(m_dir / "c.vorn", "Finale", 9000, 5, 40, 5)},
                     nullptr, {});
    device.Close();
    m_shared->drives = {m_source};
  }
  void TearDown() override {
    m_window.reset();
    ::unsetenv("XDG_STATE_HOME");
    fs::remove_all(m_dir);
  }

  // The window on the source disk, and its "Write to other disks..." dialog.
  CWriteDisksDlg& OpenWriter() {
    m_window = std::make_unique<CManagerDlg>(std::make_unique<CImageSource>(m_shared));
    EXPECT_TRUE(test::WaitUntil([this] { return !m_window->IsBusy(); }));
    m_window->show();
    m_window->WriteToOtherDisks();
    auto* writer = m_window->findChild<CWriteDisksDlg*>();
    EXPECT_NE(writer, nullptr);
    return *writer;
  }
  static QAbstractItemModel& Rows(CWriteDisksDlg& writer) { return *writer.DiskTable()->model(); }
  static QStringList Column(CWriteDisksDlg& writer, int column) {
    QStringList texts;
    for (int row = 0; row < Rows(writer).rowCount(); ++row) texts << Rows(writer).index(row, column).data().toString();
    return texts;
  }
  static void Tick(CWriteDisksDlg& writer, const std::string& disk) {
    const int row = static_cast<int>(Column(writer, CWriteTargetModel::kDisk).indexOf(QString::fromStdString(disk)));
    ASSERT_GE(row, 0) << disk;
    ASSERT_TRUE(Rows(writer).setData(Rows(writer).index(row, 0), Qt::Checked, Qt::CheckStateRole));
  }
  void Write(CWriteDisksDlg& writer) {
    QPushButton* write = writer.Button("m_writeButton");
    ASSERT_TRUE(write->isEnabled());
    write->click();
    ASSERT_TRUE(m_window->IsBusy());
    ASSERT_TRUE(test::WaitUntil([&] { return !m_window->IsBusy(); }, 60000));
  }
  // What a reader of the disk uses: header, routines and table.
  static std::vector<char> Used(const std::string& image) {
    std::vector<char> bytes = test::ReadWholeFile(image);
    const DiskHeader header = DiskHeader::Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()));
    bytes.resize(std::min<std::size_t>(bytes.size(), (std::size_t{header.tableSector} + header.routineCount / 8 + 1) *
                                                         kSectorSize));
    return bytes;
  }

  static std::vector<RoutineEntry> TableOf(const std::string& image) {
    CImageDevice device(image, false);
    device.Open(CImageDevice::EntryFor(image));
    return CVornDisk(device, nullptr).ReadTable();
  }

  fs::path m_dir;
  std::string m_source;
  std::shared_ptr<CImageSource::Shared> m_shared;
  test::CScriptedPresenter m_presenter;
  std::unique_ptr<CManagerDlg> m_window;
};

TEST_F(WriteOtherDisksTest, TwoTickedDisksOneArrivedWhileOpenEndHoldingTheShow) {
  const std::string first = test::MakeImage(m_dir / "first.img", 8192);
  const std::string idle = test::MakeImage(m_dir / "idle.img", 8192);
  m_shared->drives = {m_source, first, idle};
  CWriteDisksDlg& writer = OpenWriter();
  // The source is not offered as a target of its own show.
  EXPECT_EQ(Column(writer, CWriteTargetModel::kDisk),
            (QStringList{QString::fromStdString(first), QString::fromStdString(idle)}));
  EXPECT_FALSE(writer.Button("m_writeButton")->isEnabled());  // nothing ticked yet
  Tick(writer, first);

  // A card plugged in while the dialog is open: its row appears and the tick
  // on the first stays.
  const std::string late = test::MakeImage(m_dir / "late.img", 8192);
  m_shared->drives.push_back(late);
  m_window->OnDeviceChange();
  ASSERT_TRUE(test::WaitUntil([&] { return Rows(writer).rowCount() == 3 && !m_window->IsBusy(); }));
  EXPECT_EQ(Rows(writer).index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  Tick(writer, late);
  Write(writer);

  EXPECT_EQ(Column(writer, CWriteTargetModel::kPhase), (QStringList{"done", "", "done"}));
  const QStringList results = Column(writer, CWriteTargetModel::kResult);
  EXPECT_TRUE(results[0].startsWith("Kept 0, wrote 3, verified 3")) << results[0].toStdString();
  EXPECT_TRUE(results[1].isEmpty());
  EXPECT_EQ(writer.StatusField()->text(), "Wrote the show to 2 of 2 disks");
  EXPECT_EQ(m_window->StatusField()->text(), "Wrote the show to 2 of 2 disks");
  // The one question, naming the show (answered Yes).
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{"Make 2 disks hold the show of " + m_source + "?"});
  EXPECT_EQ(Used(first), Used(m_source));
  EXPECT_EQ(Used(late), Used(m_source));
  EXPECT_EQ(test::ReadWholeFile(idle), std::vector<char>(8192 * kSectorSize, 0));  // not ticked, not touched

  // Again: both already hold the show and are only read back.
  Write(writer);
  EXPECT_TRUE(Column(writer, CWriteTargetModel::kResult)[2].startsWith("Already held the show; verified 3"));
  EXPECT_EQ(Used(late), Used(m_source));
}

TEST_F(WriteOtherDisksTest, OneDiskFailingShowsItsRowWhileTheOtherIsWritten) {
  const std::string good = test::MakeImage(m_dir / "good.img", 8192);
  const std::string tiny = test::MakeImage(m_dir / "tiny.img", 24);  // too small for the show
  m_shared->drives = {m_source, tiny, good};
  CWriteDisksDlg& writer = OpenWriter();
  Tick(writer, tiny);
  Tick(writer, good);
  m_presenter.Answer(MessageAnswer::kNo);  // to "Make 2 disks hold the show...?"
  writer.Button("m_writeButton")->click();
  EXPECT_FALSE(m_window->IsBusy());
  EXPECT_EQ(test::ReadWholeFile(good), std::vector<char>(8192 * kSectorSize, 0));
  Write(writer);

  EXPECT_EQ(Column(writer, CWriteTargetModel::kPhase), (QStringList{"failed", "done"}));
  const QString failure = Column(writer, CWriteTargetModel::kResult)[0];
  EXPECT_TRUE(failure.startsWith(QString::fromStdString("Not enough free space on " + tiny))) << failure.toStdString();
  EXPECT_EQ(writer.StatusField()->text(), "Wrote the show to 1 of 2 disks");
  EXPECT_EQ(Used(good), Used(m_source));
  EXPECT_EQ(test::ReadWholeFile(tiny), std::vector<char>(24 * kSectorSize, 0));  // refused before its first write
  // The window is free again and the dialog can write once more.
  EXPECT_TRUE(writer.Button("m_writeButton")->isEnabled());
  EXPECT_TRUE(m_window->Button("m_addButton")->isEnabled());
}

// Cancel stops every disk at a safe point (its old show, or the new show's
// first routines), and writing again finishes them. A show set file may go
// onto the selected disk too.
TEST_F(WriteOtherDisksTest, CancelLeavesEachDiskAPrefixOfTheShowSetAndWritingAgainFinishesIt) {
  const std::string blank = test::MakeImage(m_dir / "blank.img", 8192);
  m_shared->drives = {m_source, blank};
  const std::vector<RoutineEntry> old = TableOf(m_source);
  test::WriteRoutineFile(m_dir / "d.vorn", "Encore", 20000);
  std::ofstream(m_dir / "show.toml") << "[[routine]]\nfile = \"a.vorn\"\n[[routine]]\nfile = \"c.vorn\"\n"
                                        "[[routine]]\nfile = \"d.vorn\"\ntitle = \"Last\"\n";
  CWriteDisksDlg& writer = OpenWriter();
  writer.findChild<QRadioButton*>("m_showSetRadio")->click();
  writer.findChild<QLineEdit*>("m_showSetEdit")->setText(QString::fromStdString((m_dir / "show.toml").string()));
  ASSERT_EQ(Column(writer, CWriteTargetModel::kDisk),
            (QStringList{QString::fromStdString(m_source), QString::fromStdString(blank)}));
  Tick(writer, m_source);
  Tick(writer, blank);

  m_shared->CloseGate(2);
  writer.Button("m_writeButton")->click();
  ASSERT_TRUE(test::WaitUntil([&] { return m_shared->writesWaiting.load() > 0; }));
  EXPECT_FALSE(writer.Button("m_writeButton")->isEnabled());
  EXPECT_FALSE(m_window->Button("m_addButton")->isEnabled());  // the window is busy with it
  // A card plugged in meanwhile is listed once the write has let go of the disks.
  m_shared->drives.push_back(test::MakeImage(m_dir / "late.img", 8192));
  m_window->OnDeviceChange();
  EXPECT_EQ(Rows(writer).rowCount(), 2);
  writer.Button("m_cancelButton")->click();
  m_shared->OpenGate();
  ASSERT_TRUE(test::WaitUntil([&] { return !m_window->IsBusy(); }));
  EXPECT_EQ(Column(writer, CWriteTargetModel::kPhase), (QStringList{"cancelled", "cancelled", ""}));
  EXPECT_EQ(writer.StatusField()->text(), "Writing to other disks cancelled; 0 of 2 hold the show");
  const std::vector<RoutineEntry> stopped[] = {TableOf(m_source), TableOf(blank)};

  Write(writer);
  EXPECT_EQ(Column(writer, CWriteTargetModel::kPhase), (QStringList{"done", "done", ""}));
  const std::vector<RoutineEntry> show = TableOf(m_source);
  ASSERT_EQ(show.size(), 3u);
  EXPECT_EQ(show[2].DisplayTitle(), "Last");
  // The window's grid shows what the selected disk holds now.
  ASSERT_EQ(m_window->RoutineList()->rowCount(), 3);
  EXPECT_EQ(m_window->RoutineList()->CellText(2, 0), "Last");
  EXPECT_EQ(show[0], old[0]);  // kept: Intro was already there
  EXPECT_EQ(Used(blank), Used(m_source));
  for (const std::vector<RoutineEntry>& table : stopped) {
    const bool prefix = table.size() <= show.size() && std::equal(table.begin(), table.end(), show.begin());
    EXPECT_TRUE(prefix || table == old) << table.size();
  }
  EXPECT_EQ(m_presenter.Texts().size(), 2u);  // the question, each time
}

// One image under two names (a link) ticked twice: refused with the reason
// before anything is written, rather than written once and "in use" once.
TEST_F(WriteOtherDisksTest, TheSameDiskTickedUnderTwoNamesIsRefusedBeforeAnyWrite) {
  const std::string blank = test::MakeImage(m_dir / "blank.img", 8192);
  fs::create_symlink(blank, m_dir / "link.img");
  m_shared->drives = {m_source, blank};
  ::setenv("VORN_DEMO_IMAGE", (m_dir / "link.img").c_str(), 1);
  CWriteDisksDlg& writer = OpenWriter();
  ::unsetenv("VORN_DEMO_IMAGE");
  Tick(writer, blank);
  Tick(writer, (m_dir / "link.img").string());
  Write(writer);
  const std::string link = (m_dir / "link.img").string();
  ASSERT_EQ(m_presenter.Texts(),
            (std::vector<std::string>{"Make 2 disks hold the show of " + m_source + "?",
                                      blank + " and " + link + " are the same disk; tick each disk once. "
                                                               "Nothing was written."}));
  EXPECT_EQ(Column(writer, CWriteTargetModel::kResult), (QStringList{"Nothing was written", "Nothing was written"}));
  EXPECT_EQ(test::ReadWholeFile(blank), std::vector<char>(8192 * kSectorSize, 0));
}

}  // namespace
}  // namespace vorn
