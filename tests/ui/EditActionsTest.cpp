// The window's routine edits, driven as a user would (keys in the grid, the
// grid's commands by name), each checked by reading the image back.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <optional>

#include "UiTestSupport.h"
#include "device/ImageDevice.h"
#include "disk/RoutineEdit.h"
#include "disk/VornDisk.h"
#include "ui/ControlList.h"
#include "ui/ManagerDlg.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using test::CImageSource;
using test::CScriptedPresenter;

// The window with its input dialogs answered by the test.
class CEditTestDlg final : public CManagerDlg {
 public:
  using CManagerDlg::CManagerDlg;
  std::string title;
  RoutineSettingsChange settings;
  QString path;

 protected:
  std::optional<std::string> AskForTitle(const RoutineEntry&) override { return title; }
  std::optional<RoutineSettingsChange> AskForSettings(const RoutineEntry&) override { return settings; }
  QString AskForPath(PathQuestion, const QString&) override { return path; }
};

// An image whose writes fail from the `failing`-th on, as a card pulled out;
// named and sized as the window's drive device is, so it is the same disk.
class CPulledImage final : public CSectorDevice {
 public:
  CPulledImage(const std::string& path, int failing) : m_image(path, false), m_failing(failing) {
    m_image.Open(CImageDevice::EntryFor(path));
  }
  std::uint32_t GetSectorCount() override { return m_image.GetSectorCount(); }
  std::string GetName() override { return m_image.GetName(); }
  void ReadSectors(std::uint32_t first, std::uint32_t count, void* buffer) override {
    m_image.ReadSectors(first, count, buffer);
  }
  void WriteSectors(std::uint32_t first, std::uint32_t count, const void* buffer) override {
    if (--m_failing <= 0) throw CVornError("Unable to write sector " + std::to_string(first));
    m_image.WriteSectors(first, count, buffer);
  }
  void Open(const DeviceEntry&) override {}
  void Close() override { m_image.Close(); }
  bool Identify() override { return false; }

 private:
  CImageDevice m_image;
  int m_failing;
};

class EditActionsTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("vorn-edit-ui-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "state");
    ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
    m_shared = std::make_shared<CImageSource::Shared>();
  }
  void TearDown() override {
    m_dialog.reset();
    ::unsetenv("XDG_STATE_HOME");
    fs::remove_all(m_dir);
  }

  // A formatted image holding routines a, b, c and d, of different sizes.
  std::string ShowImage(const std::string& name) {
    const std::string image = test::MakeImage(m_dir / name, 8192);
    CImageDevice device(image, false);
    device.Open(CImageDevice::EntryFor(image));
    CVornDisk disk(device, nullptr);
    disk.Format();
    std::vector<std::string> files;
    for (const char* title : {"a", "b", "c", "d"}) files.push_back(Routine(title, 2000 + 3000 * files.size()));
    disk.AddRoutines(files, nullptr, {});
    device.Close();
    m_shared->drives = {image};
    return image;
  }
  std::string Routine(const std::string& title, std::uint32_t size) {
    return test::WriteRoutineFile(m_dir / (title + ".vorn"), title, size);
  }
  CEditTestDlg& Open() {
    m_dialog = std::make_unique<CEditTestDlg>(std::make_unique<CImageSource>(m_shared));
    Settle();
    m_dialog->show();
    QApplication::setActiveWindow(m_dialog.get());
    m_dialog->RoutineList()->setFocus();
    return *m_dialog;
  }
  void Settle() { ASSERT_TRUE(test::WaitUntil([this] { return !m_dialog->IsBusy(); })); }
  static std::vector<RoutineEntry> TableOf(const std::string& path) {
    CImageDevice device(path, false);
    device.Open(CImageDevice::EntryFor(path));
    return CVornDisk(device, nullptr).ReadTable();
  }
  // The titles on the disk, and that the grid shows them.
  std::vector<std::string> Titles(const std::string& path) {
    std::vector<std::string> titles;
    for (const RoutineEntry& entry : TableOf(path)) titles.push_back(entry.DisplayTitle());
    EXPECT_EQ(m_dialog->RoutineList()->rowCount(), static_cast<int>(titles.size()));
    for (int row = 0; row < m_dialog->RoutineList()->rowCount(); ++row) {
      EXPECT_EQ(m_dialog->RoutineList()->CellText(row, 0).toStdString(), titles.at(static_cast<std::size_t>(row)));
    }
    return titles;
  }
  QAction* Command(const QString& name) {
    for (QAction* action : m_dialog->RoutineList()->actions()) {
      if (action->text() == name) return action;
    }
    return nullptr;
  }

  fs::path m_dir;
  std::shared_ptr<CImageSource::Shared> m_shared;
  CScriptedPresenter m_presenter;
  std::unique_ptr<CEditTestDlg> m_dialog;
};

struct EditCase {
  const char* name;
  std::vector<int> rows;      // selected in the grid first
  std::vector<int> keys;      // pressed in the grid, one after the other's end
  const char* command;        // else triggered by its name
  std::optional<MessageAnswer> answer;  // to the question it asks
  std::vector<std::string> titles;      // on the disk afterwards
  std::string status;
  std::string question;  // the question asked, when one is
};

TEST_F(EditActionsTest, EachEditFromTheGridEndsWithTheNewTableOnTheDisk) {
  const int alt = static_cast<int>(Qt::AltModifier);
  const std::vector<EditCase> cases = {
      {"remove two", {1, 3}, {Qt::Key_Delete}, nullptr, MessageAnswer::kYes, {"a", "c"},
       "Removed routines 2 (b) and 4 (d)", "Are you sure you want to remove routines 2 (b) and 4 (d)?"},
      {"remove answered No", {0}, {Qt::Key_Delete}, nullptr, MessageAnswer::kNo, {"a", "b", "c", "d"},
       "Nothing was changed", "Are you sure you want to remove routine 1 (a)?"},
      {"move up twice, the selection following", {2}, {alt | Qt::Key_Up, alt | Qt::Key_Up}, nullptr, {},
       {"c", "a", "b", "d"}, "Moved routine 2 (c) to position 1", ""},
      {"move down", {0}, {alt | Qt::Key_Down}, nullptr, {}, {"b", "a", "c", "d"}, "Moved routine 1 (a) to position 2", ""},
      {"rename", {1}, {Qt::Key_F2}, nullptr, {}, {"a", "Zed", "c", "d"}, "Renamed routine 2 (b) to \"Zed\"", ""},
      {"rename refused", {1}, {Qt::Key_F2}, nullptr, {}, {"a", "b", "c", "d"}, "Nothing was changed", ""},
      {"settings", {0}, {}, "Routine settings...", {}, {"a", "b", "c", "d"}, "Changed the settings of routine 1 (a)", ""},
      {"replace", {2}, {}, "Replace routine...", MessageAnswer::kYes, {"a", "b", "e", "d"},
       "Replaced routine 3 (c) by e.vorn", "Are you sure you want to replace routine 3 (c) by e.vorn?"},
  };
  for (const EditCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = ShowImage("card.img");
    CEditTestDlg& dialog = Open();
    dialog.title = std::string(c.name) == "rename refused" ? "b\xE6\x97\xA5" : "Zed";  // a CJK character
    dialog.settings = {40, 5, 3, {}};
    dialog.path = QString::fromStdString(Routine("e", 9000));
    m_presenter.Clear();
    if (c.answer) m_presenter.Answer(*c.answer);
    dialog.RoutineList()->SelectRows(c.rows);
    for (int key : c.keys) {
      QTest::keyClick(dialog.RoutineList(), Qt::Key(key & ~Qt::KeyboardModifierMask),
                      Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
      Settle();
    }
    if (c.command) {
      QAction* command = Command(QString::fromLatin1(c.command));
      ASSERT_NE(command, nullptr);
      ASSERT_TRUE(command->isEnabled());
      command->trigger();
      Settle();
    }

    EXPECT_EQ(Titles(image), c.titles);
    EXPECT_EQ(dialog.StatusField()->text().toStdString(), c.status);
    const std::vector<MessageRequest> boxes = m_presenter.Requests();
    if (!c.question.empty()) {
      ASSERT_FALSE(boxes.empty());
      EXPECT_EQ(boxes.front().text, c.question);
      EXPECT_NE(boxes.front().detail.find(image), std::string::npos) << boxes.front().detail;
    }
    if (std::string(c.name) == "rename refused") {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_NE(boxes.front().text.find("\xE6\x97\xA5"), std::string::npos) << boxes.front().text;
    }
    if (std::string(c.name) == "settings") {
      const RoutineEntry first = TableOf(image)[0];
      EXPECT_EQ(std::vector<int>({first.frameRate, first.baudCode, first.controllerSettings[0]}),
                std::vector<int>({40, 5, 3}));
    }
    m_dialog.reset();
    fs::remove(image);
  }
}

TEST_F(EditActionsTest, AnInterruptedEditIsOfferedOnOpenAndBlocksTheWritersUntilFinished) {
  const std::string image = ShowImage("card.img");
  {
    // The first routine moved behind the last, the card pulled after the
    // record was made and a few pieces written.
    CPulledImage pulled(image, 3);
    CVornDisk disk(pulled, nullptr);
    CRoutineEdit edit(disk.ReadTable());
    edit.Move(0, 3);
    EditOptions options;
    options.identity = DiskIdentity(pulled);
    EXPECT_THROW(ApplyEdit(disk, edit, options), CVornError);
    ASSERT_TRUE(EditPending(options.identity));
  }

  // No: the disk stays as it is, and writing it is refused until finished.
  m_presenter.Answer(MessageAnswer::kNo);
  CEditTestDlg& dialog = Open();
  ASSERT_FALSE(m_presenter.Requests().empty());
  EXPECT_EQ(m_presenter.Requests().front().text,
            "An edit of " + image + " was interrupted and the disk holds part of the new show.\n\nFinish the edit now?");
  EXPECT_EQ(dialog.StatusField()->text(), "The interrupted edit was left as it is");
  const std::vector<char> kept = test::ReadWholeFile(image);
  m_presenter.Clear();
  dialog.Button("m_removeButton")->click();
  Settle();
  ASSERT_EQ(m_presenter.Requests().size(), 1u);
  EXPECT_EQ(m_presenter.Requests().front().text,
            "An edit of " + image + " was interrupted and the disk holds part of the new show; finish it first "
            "(Refresh offers to finish it).");
  EXPECT_EQ(test::ReadWholeFile(image), kept);

  // Refresh asks again; Yes finishes the edit.
  m_presenter.Clear();
  dialog.Button("m_refreshButton")->click();
  Settle();
  EXPECT_EQ(m_presenter.Requests().size(), 1u);
  EXPECT_EQ(Titles(image), (std::vector<std::string>{"b", "c", "d", "a"}));
  EXPECT_EQ(dialog.StatusField()->text().toStdString(), "Finished the interrupted edit of " + image);
}

}  // namespace
}  // namespace vorn
