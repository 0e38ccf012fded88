#include "ui/ManagerDlg.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QFileDialog>
#include <QTest>
#include <QLabel>
#include <QTimer>
#include <QLineEdit>
#include <QPushButton>

#include <csignal>
#include <filesystem>
#include <optional>
#include <fstream>

#include "UiTestSupport.h"
#include "device/ImageDevice.h"
#include "disk/VornDisk.h"
#include "ui/ControlList.h"
#include "ui/DialogUnits.h"
#include "ui/MainWindowMode.h"
#include "ui/QtMessagePresenter.h"
#include "ui/RunningWindow.h"
#include "ui/TerminationSignals.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using test::CImageSource;
using test::CScriptedPresenter;

constexpr const char* kAskFormatValid = "Are you sure you want to format the disk?";
constexpr const char* kAskFormatInvalid =
    "This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\nDo you wish to "
    "continue?";
constexpr const char* kAskRemoveLast = "Are you sure you want to remove the last track?";

// The window with the file dialog replaced by a fixed choice.
class CTestManagerDlg : public CManagerDlg {
 public:
  using CManagerDlg::CManagerDlg;
  QStringList files;
  QString path;  // the answer to every other file question
  std::vector<PathQuestion> asked;

 protected:
  QStringList AskForRoutineFiles() override { return files; }
  QString AskForPath(PathQuestion question, const QString&) override {
    asked.push_back(question);
    return path;
  }
};

// The accessible object named `name` (mnemonic marks dropped) under `root`.
QAccessibleInterface* FindAccessible(QAccessibleInterface* root, const QString& name,
                                     QAccessible::Role role) {
  if (!root) return nullptr;
  if (root->state().invisible) return nullptr;
  if (root->role() == role && root->text(QAccessible::Name) == name) return root;
  for (int i = 0; i < root->childCount(); ++i) {
    if (QAccessibleInterface* found = FindAccessible(root->child(i), name, role)) return found;
  }
  return nullptr;
}

class ManagerDlgTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("vorn-ui-" + std::to_string(::getpid()) + "-" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_shared = std::make_shared<CImageSource::Shared>();
    // The cards met before are remembered here, not in the user's state.
    ::setenv("XDG_STATE_HOME", (m_dir / "state").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("XDG_STATE_HOME");
    m_dialog.reset();
    fs::remove_all(m_dir);
  }

  std::string Image(const std::string& name, std::uint32_t sectors = 8192) {
    return test::MakeImage(m_dir / name, sectors);
  }
  std::string Routine(const std::string& name, std::uint32_t dataSize, std::uint8_t baudCode = 2,
                      std::uint8_t protocol = 0, std::uint8_t version = 1) {
    return test::WriteRoutineFile(m_dir / (name + ".vorn"), name, dataSize, baudCode, 25, protocol,
                                  version);
  }
  CTestManagerDlg& Dialog() {
    if (!m_dialog) {
      m_dialog = std::make_unique<CTestManagerDlg>(std::make_unique<CImageSource>(m_shared));
      Settle();
    }
    return *m_dialog;
  }
  // Until what the window started has ended (it reads and writes disks off
  // the user-interface thread).
  void Settle() { EXPECT_TRUE(test::WaitUntil([this] { return !m_dialog || !m_dialog->IsBusy(); })); }
  // Clicks and lets the action end; Add and Cancel are clicked while a test
  // watches what happens meanwhile.
  void Click(const char* button) {
    Dialog().Button(button)->click();
    if (std::string(button) != "m_addButton" && std::string(button) != "m_cancelButton") Settle();
  }
  void Import(const QStringList& files) {
    Dialog().files = files;
    Click("m_addButton");
    ASSERT_TRUE(test::WaitUntil([&] { return !Dialog().IsImporting(); }));
  }
  // Those of the named buttons that are enabled.
  QStringList EnabledOf(std::initializer_list<const char*> names) {
    QStringList enabled;
    for (const char* name : names) {
      if (Dialog().Button(name)->isEnabled()) enabled << name;
    }
    return enabled;
  }
  QStringList Column(int column) {
    QStringList texts;
    for (int row = 0; row < Dialog().RoutineList()->rowCount(); ++row) {
      texts << Dialog().RoutineList()->CellText(row, column);
    }
    return texts;
  }
  std::vector<RoutineEntry> TableOf(const std::string& path) {
    CImageDevice device(path, false);
    device.Open(CImageDevice::EntryFor(path));
    CVornDisk disk(device, nullptr);
    std::vector<RoutineEntry> table = disk.ReadTable();
    device.Close();
    return table;
  }
  void FormatEmpty(const std::string& path) {
    CImageDevice device(path, false);
    device.Open(CImageDevice::EntryFor(path));
    CVornDisk disk(device, nullptr);
    disk.Format();
    device.Close();
  }

  fs::path m_dir;
  std::shared_ptr<CImageSource::Shared> m_shared;
  CScriptedPresenter m_presenter;
  std::unique_ptr<CTestManagerDlg> m_dialog;
};

TEST_F(ManagerDlgTest, ShowsTheWindowsTextsAndTheRoutineColumns) {
  CTestManagerDlg& dialog = Dialog();
  EXPECT_EQ(dialog.windowTitle(), "Calverin Software - VORN3 Manager");
  // The texts as written, each with its own mnemonic.
  QSet<QKeySequence> mnemonics;
  const std::pair<const char*, const char*> texts[] = {
      {"m_refreshButton", "Refresh"}, {"m_addButton", "Add routine..."},
      {"m_removeButton", "Remove last routine"}, {"m_formatButton", "Format disk"},
      {"m_exitButton", "Exit"}, {"m_openImageButton", "Open disk image..."},
      {"m_cancelButton", "Cancel"}};
  for (const auto& [name, text] : texts) {
    QPushButton* button = dialog.Button(name);
    EXPECT_EQ(QString(button->text()).remove('&'), text) << name;
    const QKeySequence mnemonic = QKeySequence::mnemonic(button->text());
    EXPECT_FALSE(mnemonic.isEmpty()) << name;
    EXPECT_FALSE(mnemonics.contains(mnemonic)) << name;
    mnemonics.insert(mnemonic);
  }
  EXPECT_TRUE(dialog.Button("m_exitButton")->isDefault());
  EXPECT_TRUE(dialog.StatusField()->isReadOnly());
  EXPECT_FALSE(dialog.windowIcon().isNull());

  CControlList* list = dialog.RoutineList();
  EXPECT_EQ(list->font().pointSizeF(), 8.0);  // the dialog's font, taken when attached
  ASSERT_EQ(list->columnCount(), 5);
  const QStringList titles = {"Title", "Size (MB)", "Baud Rate (bps)", "Frame Rate (ms)", "Protocol"};
  const int widths[] = {150, 75, 100, 100, 100};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(list->horizontalHeaderItem(i)->text(), titles[i]);
    EXPECT_GE(list->columnWidth(i), ScaleWidth(widths[i], dialog.font()));  // the title may need more
  }
  // The controls keep the proportions of the dialog layout: the list spans the
  // width of the progress bar's right edge, the buttons sit in one row.
  EXPECT_EQ(list->geometry().right(), dialog.ProgressBar()->geometry().right());
  EXPECT_EQ(dialog.Button("m_addButton")->y(), dialog.Button("m_exitButton")->y());
  EXPECT_LT(dialog.StatusField()->geometry().right(), dialog.ProgressBar()->x());
  int columns = 0;
  for (int i = 0; i < 5; ++i) columns += list->columnWidth(i);
  EXPECT_LT(columns, list->width());
}

// Dialog units to pixels with the base units of the window's font, as a dialog
// template is laid out.
TEST_F(ManagerDlgTest, ControlsSitAtTheirDialogUnitRectanglesInTabOrder) {
  CTestManagerDlg& dialog = Dialog();
  EXPECT_EQ(dialog.font().pointSizeF(), 8.0);
  const QSize units = BaseUnitsOf(dialog.font());
  const auto x = [&](int du) { return du * units.width() / 4.0; };
  const auto y = [&](int du) { return du * units.height() / 8.0; };
  EXPECT_NEAR(dialog.width(), x(388), 1.0);
  EXPECT_NEAR(dialog.height(), y(199), 1.0);

  struct Place {
    QWidget* control;
    int left, top, width, height;  // dialog units; the combo's height is its drop-down's
  };
  const Place places[] = {
      {dialog.DeviceCombo(), 12, 12, 252, -1},
      {dialog.Button("m_refreshButton"), 270, 12, 36, 12},
      {dialog.Button("m_openImageButton"), 312, 12, 66, 12},
      {dialog.DiskInfo(), 12, 145, 366, -1},
      {dialog.RoutineList(), 12, 36, 366, 108},
      {dialog.StatusField(), 12, 156, 78, 12},
      {dialog.ProgressBar(), 96, 156, 282, 12},
      {dialog.Button("m_addButton"), 18, 174, 78, 18},
      {dialog.Button("m_removeButton"), 108, 174, 78, 18},
      {dialog.Button("m_formatButton"), 198, 174, 78, 18},
      {dialog.Button("m_exitButton"), 288, 174, 78, 18},
  };
  for (const Place& place : places) {
    const QRect r = place.control->geometry();
    const QString name = place.control->objectName();
    EXPECT_NEAR(r.x(), x(place.left), 1.0) << name.toStdString();
    EXPECT_NEAR(r.y(), y(place.top), 1.0) << name.toStdString();
    EXPECT_NEAR(r.width(), x(place.width), 1.0) << name.toStdString();
    if (place.height >= 0) {
      EXPECT_NEAR(r.height(), y(place.height), 1.0) << name.toStdString();
    }
  }

  // Tab walks the controls in the order of the layout; the status field and the
  // progress bar are not stops.
  QStringList order;
  QWidget* widget = dialog.DeviceCombo();
  do {
    if ((widget->focusPolicy() & Qt::TabFocus) && !widget->isHidden()) order << widget->objectName();
    widget = widget->nextInFocusChain();
  } while (widget != dialog.DeviceCombo() && order.size() < 20);
  EXPECT_EQ(order, (QStringList{"m_deviceCombo", "m_refreshButton", "m_openImageButton",
                                "m_routineList", "m_addButton", "m_removeButton", "m_formatButton",
                                "m_exitButton"}));
}

// The window grows from its designed size, never below it: the grid takes the
// room, the rows below keep to the bottom edge, nothing overlaps.
TEST_F(ManagerDlgTest, TheWindowGrowsWithTheGridAndNeverShrinksBelowItsLayout) {
  CTestManagerDlg& dialog = Dialog();
  dialog.show();
  const QSize design = dialog.size();
  EXPECT_EQ(dialog.minimumSize(), design);
  EXPECT_NE(dialog.maximumSize(), design);
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
  const QRect list = dialog.RoutineList()->geometry();
  const QRect exit = dialog.Button("m_exitButton")->geometry();
  dialog.resize(design + QSize(300, 200));
  EXPECT_EQ(dialog.RoutineList()->geometry(), list.adjusted(0, 0, 300, 200));
  EXPECT_EQ(dialog.Button("m_exitButton")->geometry(), exit.translated(300, 200));
  EXPECT_EQ(dialog.ProgressBar()->geometry().right(), dialog.RoutineList()->geometry().right());
  EXPECT_LT(dialog.RoutineList()->geometry().bottom(), dialog.DiskInfo()->y());
  EXPECT_LT(dialog.DiskInfo()->geometry().bottom(), dialog.StatusField()->y());
  EXPECT_EQ(dialog.Button("m_openImageButton")->geometry().right(), dialog.RoutineList()->geometry().right());
  EXPECT_LT(dialog.DeviceCombo()->geometry().right(), dialog.Button("m_refreshButton")->x());
  dialog.resize(design - QSize(50, 50));
  EXPECT_EQ(dialog.size(), design);
}

TEST_F(ManagerDlgTest, EnterPressesTheFocusedButtonAndExitEverywhereElse) {
  m_shared->drives = {Image("card.img", 16)};
  CTestManagerDlg& dialog = Dialog();
  dialog.show();
  const int enumerations = m_shared->enumerations;
  QTest::keyClick(dialog.Button("m_refreshButton"), Qt::Key_Return);
  Settle();
  EXPECT_EQ(m_shared->enumerations, enumerations + 1);
  EXPECT_TRUE(dialog.isVisible());

  m_presenter.Answer(MessageAnswer::kNo);
  QTest::keyClick(dialog.Button("m_formatButton"), Qt::Key_Enter, Qt::KeypadModifier);
  Settle();
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{kAskFormatInvalid});
  EXPECT_TRUE(dialog.isVisible());

  // Enter on the grid, with a row selected, leaves the window as it is.
  FormatEmpty(m_shared->drives[0]);
  dialog.RefreshRoutines();
  Settle();
  dialog.RoutineList()->SetCellText(0, 0, "row");
  dialog.RoutineList()->selectRow(0);
  QTest::keyClick(dialog.RoutineList(), Qt::Key_Return);
  QTest::keyClick(dialog.RoutineList(), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_TRUE(dialog.isVisible());

  QTest::keyClick(dialog.DeviceCombo(), Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// Actions on a disk are offered only with one selected; without, they could
// only ask and then do nothing.
TEST_F(ManagerDlgTest, WithoutAnyDiskTheDiskActionsAreDisabledAndTouchNothing) {
  CTestManagerDlg& dialog = Dialog();
  EXPECT_EQ(dialog.DeviceCombo()->count(), 0);
  EXPECT_EQ(dialog.RoutineList()->rowCount(), 0);
  EXPECT_EQ(dialog.GetSelectedDevice(), nullptr);
  EXPECT_EQ(dialog.DiskInfo()->text(), "No disk found");
  EXPECT_EQ(EnabledOf({"m_addButton", "m_removeButton", "m_formatButton"}), QStringList{});
  EXPECT_EQ(EnabledOf({"m_refreshButton", "m_openImageButton", "m_exitButton"}),
            (QStringList{"m_refreshButton", "m_openImageButton", "m_exitButton"}));
  Click("m_formatButton");
  Click("m_removeButton");
  dialog.files = {QString::fromStdString(Routine("one", 100))};
  Click("m_addButton");
  dialog.ImportFiles(dialog.files);
  Settle();
  dialog.BackupDisk();
  Settle();
  dialog.RestoreDisk();
  Settle();
  EXPECT_FALSE(dialog.IsImporting());
  EXPECT_TRUE(m_presenter.Requests().empty());
  EXPECT_TRUE(dialog.asked.empty());

  // A disk arriving enables them.
  m_shared->drives = {Image("card.img", 64)};
  dialog.OnDeviceChange();
  Settle();
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 0);
  EXPECT_EQ(EnabledOf({"m_addButton", "m_removeButton", "m_formatButton"}),
            (QStringList{"m_addButton", "m_removeButton", "m_formatButton"}));
}

TEST_F(ManagerDlgTest, FormattingAnUnformattedDiskAsksWithTheDeleteAllDataText) {
  const std::string image = Image("card.img");
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  ASSERT_EQ(dialog.DeviceCombo()->count(), 1);
  EXPECT_EQ(dialog.RoutineList()->rowCount(), 0);
  EXPECT_EQ(dialog.StatusField()->text(), "Ready");

  m_presenter.Answer(MessageAnswer::kYes);
  Click("m_formatButton");
  m_presenter.Answer(MessageAnswer::kNo);
  Click("m_formatButton");

  // Between them the capacity question for a card met the first time.
  const auto requests = m_presenter.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].text, kAskFormatInvalid);
  EXPECT_EQ(requests[0].caption, "Confirm");
  EXPECT_EQ(requests[0].icon, MessageIcon::kWarning);
  EXPECT_EQ(requests[0].buttons, MessageButtons::kYesNo);
  EXPECT_EQ(requests[2].text, kAskFormatValid);
  EXPECT_TRUE(TableOf(image).empty());
  EXPECT_EQ(dialog.RoutineList()->rowCount(), 0);
}

// No writes nothing and leaves the window usable; Yes formats the disk with the
// first routine.
TEST_F(ManagerDlgTest, ImportingOntoAnUnformattedDiskAsksToFormatIt) {
  for (const MessageAnswer answer : {MessageAnswer::kNo, MessageAnswer::kYes}) {
    const std::string image = Image(answer == MessageAnswer::kNo ? "no.img" : "yes.img", 8192);
    m_shared->drives = {image};
    m_dialog.reset();
    m_presenter.Clear();
    const std::vector<char> before = test::ReadWholeFile(image);
    m_presenter.Answer(answer);
    Import({QString::fromStdString(Routine("one", 100))});

    EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{kAskFormatInvalid});
    if (answer == MessageAnswer::kNo) {
      EXPECT_EQ(test::ReadWholeFile(image), before);
      EXPECT_TRUE(Dialog().Button("m_formatButton")->isEnabled());
      EXPECT_TRUE(Dialog().RoutineList()->isEnabled());
    } else {
      ASSERT_EQ(TableOf(image).size(), 1u);
      EXPECT_EQ(TableOf(image)[0].startSector, 1u);
      EXPECT_EQ(Column(0), QStringList{"one"});
    }
  }
}

TEST_F(ManagerDlgTest, AFailingFileStopsTheImportAndKeepsTheRoutinesBeforeIt) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  Import({QString::fromStdString(Routine("first", 1000)),
          QString::fromStdString(Routine("second", 1000, 2, 0, /*version=*/2)),
          QString::fromStdString(Routine("third", 1000))});

  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{"Unsupported file version"});
  EXPECT_EQ(m_presenter.Requests()[0].caption, "VORN3 Manager");
  EXPECT_EQ(m_presenter.Requests()[0].buttons, MessageButtons::kOk);
  const std::vector<RoutineEntry> table = TableOf(image);
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].Title(), "first");
  EXPECT_EQ(Column(0), QStringList{"first"});
}

TEST_F(ManagerDlgTest, RoutinesAreListedWithTheirCellTexts) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  // 2048 sectors in all: exactly one MB.
  Import({QString::fromStdString(Routine("show", 2048 * 512, /*baud=*/5, /*protocol=*/5)),
          QString::fromStdString(Routine("walk", 600, /*baud=*/4, /*protocol=*/1)),
          QString::fromStdString(Routine("odd", 10, /*baud=*/0, /*protocol=*/42))});
  EXPECT_TRUE(m_presenter.Requests().empty());
  EXPECT_EQ(Column(0), (QStringList{"show", "walk", "odd"}));
  EXPECT_EQ(Column(1), (QStringList{"1.00", "0.00", "0.00"}));
  EXPECT_EQ(Column(2), (QStringList{"DMX", "38400", "2400"}));
  EXPECT_EQ(Column(3), (QStringList{"25", "25", "25"}));
  EXPECT_EQ(Column(4), (QStringList{"DMX Compatible", "SV203 Compatible", "Unknown"}));
  // Every column fits its longest text.
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 5; ++column) {
      EXPECT_FALSE(Dialog().RoutineList()->IsCellTextCut(row, column)) << row << "," << column;
    }
  }
}

TEST_F(ManagerDlgTest, TitlesAreReadInTheDisksCodePage) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  const std::string file = test::WriteRoutineFile(m_dir / "fete.vorn", "F\xEAte \x80\x93\xC0\x94", 10, 2, 25, 0, 1);
  Import({QString::fromStdString(file)});  // the title in Windows-1252 bytes
  EXPECT_EQ(Column(0), (QStringList{QString::fromUtf8("F\xC3\xAAte \xE2\x82\xAC\xE2\x80\x9C\xC3\x80\xE2\x80\x9D")}));
}

TEST_F(ManagerDlgTest, RemoveLastRoutineAsksFirstAndReportsTooFewTracks) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  Import({QString::fromStdString(Routine("a", 100)), QString::fromStdString(Routine("b", 100))});

  m_presenter.Answer(MessageAnswer::kNo);
  Click("m_removeButton");
  EXPECT_EQ(TableOf(image).size(), 2u);

  Click("m_removeButton");
  EXPECT_EQ(Column(0), QStringList{"a"});
  Click("m_removeButton");
  EXPECT_EQ(Dialog().RoutineList()->rowCount(), 0);
  m_presenter.Clear();
  Click("m_removeButton");
  EXPECT_EQ(m_presenter.Texts(), (std::vector<std::string>{kAskRemoveLast, "Too few tracks"}));

  // Another program writing the disk: one box names the disk, nothing changes;
  // the disk is opened before the question, which would be idle.
  Import({QString::fromStdString(Routine("c", 100))});
  CImageDevice other(image, false);
  other.Open(CImageDevice::EntryFor(image));
  m_presenter.Clear();
  Click("m_removeButton");
  EXPECT_EQ(m_presenter.Texts(),
            (std::vector<std::string>{"The disk " + image +
                                      " is in use by another program: try again "
                                      "when it has finished."}));
  other.Close();
  EXPECT_EQ(TableOf(image).size(), 1u);
}

TEST_F(ManagerDlgTest, ADeviceChangeReselectsTheSameTextElseTheFirstItem) {
  const std::string a = Image("a.img", 16), b = Image("b.img", 16), c = Image("c.img", 16);
  m_shared->drives = {a};
  m_shared->units = {b};
  CTestManagerDlg& dialog = Dialog();
  dialog.DeviceCombo()->setCurrentIndex(1);
  Settle();

  m_shared->drives = {c, a};
  dialog.OnDeviceChange();
  Settle();
  ASSERT_EQ(dialog.DeviceCombo()->count(), 3);
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 2);
  // A unit's item tells its size once it has been opened.
  EXPECT_EQ(dialog.DeviceCombo()->currentText().toStdString(), b + " (0.01MB)");

  // The selected disk has gone: nothing is selected, rather than another disk
  // the next Format would hit, and the disk actions wait for a choice.
  m_shared->units.clear();
  dialog.OnDeviceChange();
  Settle();
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), -1);
  EXPECT_EQ(dialog.GetSelectedDevice(), nullptr);
  EXPECT_FALSE(dialog.Button("m_formatButton")->isEnabled());
  EXPECT_TRUE(dialog.StatusField()->text().endsWith("is gone; pick a disk"));
  EXPECT_EQ(dialog.DiskInfo()->text(), "No disk selected");
  // Nor does a later change pick one for the user.
  m_shared->units = {b};
  dialog.OnDeviceChange();
  Settle();
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 2);  // the same disk came back
  m_shared->units.clear();
  dialog.OnDeviceChange();
  Settle();
  m_shared->drives = {a};
  dialog.OnDeviceChange();
  Settle();
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), -1);
  dialog.DeviceCombo()->setCurrentIndex(0);
  Settle();
  EXPECT_TRUE(dialog.Button("m_formatButton")->isEnabled());
  EXPECT_TRUE(m_presenter.Requests().empty());
}

TEST_F(ManagerDlgTest, AUnitEnumerationErrorIsShownOnceAndKeepsTheUnitsFoundBefore) {
  const std::string a = Image("a.img", 16);
  m_shared->units = {a};
  m_shared->unitError = "Unable to read manufacturer string (err=-5)";
  CTestManagerDlg& dialog = Dialog();
  EXPECT_EQ(dialog.DeviceCombo()->count(), 1);
  dialog.OnDeviceChange();
  Settle();
  dialog.OnDeviceChange();
  Settle();
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{*m_shared->unitError});

  m_shared->unitError.reset();
  dialog.OnDeviceChange();
  Settle();
  m_shared->unitError = "Unable to read manufacturer string (err=-5)";
  dialog.OnDeviceChange();
  Settle();
  EXPECT_EQ(m_presenter.Texts().size(), 2u);
}

TEST_F(ManagerDlgTest, AnOpeningFailureIsShownAndTheListStaysEmpty) {
  m_shared->drives = {(m_dir / "missing.img").string()};
  Dialog();
  ASSERT_EQ(m_presenter.Texts().size(), 1u);
  EXPECT_NE(m_presenter.Texts()[0].find("missing.img"), std::string::npos);
  EXPECT_EQ(Dialog().RoutineList()->rowCount(), 0);
}

TEST_F(ManagerDlgTest, DuringAnImportFormatCloseAndDeviceChangesWait) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  dialog.show();
  m_shared->CloseGate();
  dialog.files = {QString::fromStdString(Routine("slow", 5000))};
  Click("m_addButton");
  ASSERT_TRUE(test::WaitUntil([&] { return m_shared->writesWaiting.load() > 0; }));

  EXPECT_EQ(EnabledOf({"m_refreshButton", "m_addButton", "m_removeButton", "m_formatButton", "m_exitButton"}),
            QStringList{});
  EXPECT_FALSE(dialog.DeviceCombo()->isEnabled());
  EXPECT_FALSE(dialog.RoutineList()->isEnabled());

  EXPECT_TRUE(dialog.Button("m_cancelButton")->isVisible());
  EXPECT_TRUE(dialog.Button("m_cancelButton")->isEnabled());
  EXPECT_LT(dialog.ProgressBar()->geometry().right(), dialog.Button("m_cancelButton")->x());

  const int enumerations = m_shared->enumerations;
  dialog.OnDeviceChange();
  EXPECT_EQ(m_shared->enumerations, enumerations);
  // Closing asks whether to cancel; No keeps the import and the window.
  m_presenter.Answer(MessageAnswer::kNo);
  dialog.reject();
  EXPECT_TRUE(dialog.isVisible());
  ASSERT_EQ(m_presenter.Requests().size(), 1u);
  EXPECT_EQ(m_presenter.Requests()[0].caption, "Confirm");
  EXPECT_NE(m_presenter.Requests()[0].text.find(image), std::string::npos);

  m_shared->OpenGate();
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsImporting(); }));
  EXPECT_EQ(m_shared->enumerations, enumerations + 1);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(dialog.Button("m_cancelButton")->isVisible());
  EXPECT_EQ(TableOf(image).size(), 1u);
  EXPECT_EQ(m_presenter.Requests().size(), 1u);
}

TEST_F(ManagerDlgTest, TheAboutBoxShowsTheVersionAndClosesWithOk) {
  CTestManagerDlg& dialog = Dialog();
  QString title, texts;
  QTimer::singleShot(0, [&] {
    QWidget* about = QApplication::activeModalWidget();
    ASSERT_NE(about, nullptr);
    title = about->windowTitle();
    EXPECT_EQ(about->font().pointSizeF(), 8.0);
    for (QLabel* label : about->findChildren<QLabel*>()) texts += label->text();
    QPushButton* ok = about->findChild<QPushButton*>();
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    ok->click();
  });
  dialog.ShowAbout();
  EXPECT_EQ(title, "About VORN3 Manager");
  EXPECT_EQ(texts, "VORN3 Manager Version 1.0");
}

// Every destructive question names the disk as the combo shows it and what
// would be lost, under the question's own text; No is the safe answer.
TEST_F(ManagerDlgTest, QuestionsNameTheDiskAndWhatWouldBeLost) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  Import({QString::fromStdString(Routine("Bat Swarm", 100)), QString::fromStdString(Routine("Finale", 100))});
  m_presenter.Clear();

  m_presenter.Answer(MessageAnswer::kNo);
  Click("m_formatButton");
  m_presenter.Answer(MessageAnswer::kNo);
  Click("m_removeButton");
  const auto requests = m_presenter.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].text, kAskFormatValid);
  EXPECT_EQ(requests[0].detail,
            "Disk: " + image + "\nAll routines on it will be lost (2 routines): Bat Swarm, Finale.");
  EXPECT_EQ(requests[1].text, kAskRemoveLast);
  EXPECT_EQ(requests[1].detail, "Disk: " + image + "\nRoutine 2 of 2 will be lost: Finale.");
  EXPECT_EQ(TableOf(image).size(), 2u);

  // A device change while a question is up waits for the action: the disk it
  // holds open is not opened again under it (and refused as in use).
  m_presenter.Clear();
  const int enumerations = m_shared->enumerations;
  m_presenter.Answer(MessageAnswer::kNo);
  m_presenter.DuringNext([this] { Dialog().OnDeviceChange(); });
  Click("m_formatButton");
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{kAskFormatValid});
  EXPECT_EQ(m_shared->enumerations, enumerations + 1);  // the held rebuild, once the disk is closed

  Click("m_removeButton");  // Yes
  EXPECT_EQ(Dialog().StatusField()->text().toStdString(), "Removed \"Finale\" from " + image);

  const std::string blank = Image("blank.img", 64);
  m_shared->drives = {image, blank};
  Dialog().OnDeviceChange();
  Settle();
  Dialog().DeviceCombo()->setCurrentIndex(1);
  Settle();
  m_presenter.Clear();
  m_presenter.Answer(MessageAnswer::kNo);
  Click("m_formatButton");
  ASSERT_EQ(m_presenter.Requests().size(), 1u);
  EXPECT_EQ(m_presenter.Requests()[0].text, kAskFormatInvalid);
  EXPECT_EQ(m_presenter.Requests()[0].detail, "Disk: " + blank + "\nEverything on it will be lost.");

  // A termination request while a question is open answers it as Escape
  // does, then closes the window.
  Dialog().show();
  QMessageBox box(QMessageBox::Question, "Confirm", "Format?", QMessageBox::Yes | QMessageBox::No, &Dialog());
  box.setEscapeButton(QMessageBox::No);
  QTimer::singleShot(0, &Dialog(), [this] { Dialog().StopAndClose(); });
  EXPECT_EQ(box.exec(), QMessageBox::No);
  EXPECT_TRUE(test::WaitUntil([this] { return !Dialog().isVisible(); }));
}

// Below the grid: size and free space, or that the disk is not formatted; the
// empty grid says why it is empty, to the eye and to a screen reader.
TEST_F(ManagerDlgTest, TheDiskStateShowsBelowAndInsideTheGrid) {
  const std::string image = Image("card.img", 8192);  // 4 MB
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  EXPECT_EQ(dialog.DiskInfo()->text(), "Not formatted - 4.00 MB");
  EXPECT_EQ(dialog.RoutineList()->PlaceholderText(), "Not formatted");
  EXPECT_EQ(dialog.RoutineList()->accessibleDescription(), "Not formatted");

  FormatEmpty(image);
  dialog.RefreshRoutines();
  Settle();
  EXPECT_EQ(dialog.RoutineList()->PlaceholderText(), "No routines");
  EXPECT_EQ(dialog.DiskInfo()->text(), "0 routines - 4.00 MB, 4.00 MB free");

  Import({QString::fromStdString(Routine("one", 1048576))});  // 2048 sectors of data
  EXPECT_EQ(dialog.RoutineList()->PlaceholderText(), "");
  EXPECT_EQ(dialog.DiskInfo()->text(), "1 routine - 4.00 MB, 3.00 MB free");

  EXPECT_EQ(DiskSpaceText(true, 3, 0, 100), "3 routines");
  EXPECT_EQ(DiskSpaceText(false, 0, 0, 0), "Not formatted");
  EXPECT_EQ(DiskSpaceText(true, 7, 100, 99), "7 routines - 0.05 MB, 0.00 MB free");
}

// The end of an import says what happened, and the bar is full or reset.
TEST_F(ManagerDlgTest, AnImportEndsWithAStatusThatSaysWhatHappened) {
  const std::string image = Image("card.img", 64);
  FormatEmpty(image);
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  Import({QString::fromStdString(Routine("a", 100)), QString::fromStdString(Routine("b", 100))});
  EXPECT_EQ(dialog.StatusField()->text().toStdString(), "Added 2 routines to " + image);
  EXPECT_EQ(dialog.ProgressBar()->value(), dialog.ProgressBar()->maximum());
  EXPECT_EQ(dialog.ProgressBar()->accessibleDescription(), dialog.StatusField()->text());

  Import({QString::fromStdString(Routine("c", 100)), QString::fromStdString(Routine("big", 64 * 512))});
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{"Not enough free space on the disk for this routine"});
  // The box names the file it is about.
  EXPECT_EQ(m_presenter.Requests()[0].detail, "File: " + (m_dir / "big.vorn").string());
  EXPECT_EQ(dialog.StatusField()->text(),
            "Import failed: Not enough free space on the disk for this routine (added 1 routine before)");
  EXPECT_EQ(dialog.ProgressBar()->value(), dialog.ProgressBar()->minimum());
  EXPECT_EQ(TableOf(image).size(), 3u);

  // Another disk picked: the last words about the old one go.
  m_shared->drives = {image, Image("other.img", 64)};
  dialog.OnDeviceChange();
  Settle();
  dialog.DeviceCombo()->setCurrentIndex(1);
  Settle();
  EXPECT_FALSE(dialog.ProgressBar()->isTextVisible());
  EXPECT_EQ(dialog.StatusField()->text(), "Ready");
}

// Cancel during the conversion stops at once: not one sector is written.
TEST_F(ManagerDlgTest, CancelDuringTheConversionWritesNothing) {
  const std::string image = Image("card.img", 65536);
  FormatEmpty(image);
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  Import({QString::fromStdString(Routine("kept", 100))});
  const std::vector<char> before = test::ReadWholeFile(image);
  const int writes = m_shared->writes.load();

  dialog.files = {QString::fromStdString(test::WriteAudioRoutineFile(m_dir / "song.vorn", "Bat Swarm", 90)),
                  QString::fromStdString(Routine("never", 100))};
  Click("m_addButton");
  ASSERT_TRUE(test::WaitUntil([&] { return dialog.StatusField()->text() == "Converting Audio"; }));
  EXPECT_TRUE(dialog.ProgressBar()->format().startsWith("1 of 2: Bat Swarm - Converting Audio"));
  Click("m_cancelButton");
  EXPECT_FALSE(dialog.Button("m_cancelButton")->isEnabled());
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsImporting(); }));

  EXPECT_EQ(m_shared->writes.load(), writes);
  EXPECT_EQ(test::ReadWholeFile(image), before);
  EXPECT_TRUE(m_presenter.Requests().empty());  // a cancel is no error
  EXPECT_EQ(dialog.StatusField()->text(), "Import cancelled; nothing was added");
  EXPECT_EQ(dialog.ProgressBar()->value(), dialog.ProgressBar()->minimum());
  EXPECT_EQ(Column(0), QStringList{"kept"});
}

// Cancel during the disk write stops at the next piece; the table reads as
// before, whichever write the cancel met. Closing the window asks to cancel.
// Passes: the Cancel button before the first piece and after one; closing the
// window (asked, Yes); a termination signal (SIGTERM: logout, kill), which
// asks nothing, cancels and closes.
TEST_F(ManagerDlgTest, CancelDuringTheWriteLeavesTheTableAsBefore) {
  for (const int pass : {0, 1, 2, 3}) {
    const std::string image = Image("card" + std::to_string(pass) + ".img", 8192);
    FormatEmpty(image);
    m_shared->drives = {image};
    m_dialog.reset();
    CTestManagerDlg& dialog = Dialog();
    dialog.show();
    Import({QString::fromStdString(Routine("kept", 3000))});
    const std::vector<RoutineEntry> before = TableOf(image);

    m_shared->CloseGate(pass % 3);
    dialog.files = {QString::fromStdString(Routine("long", 600000))};  // 10 pieces
    Click("m_addButton");
    ASSERT_TRUE(test::WaitUntil([&] { return m_shared->writesWaiting.load() > 0; }));
    std::optional<CTerminationSignals> termination;
    if (pass == 2) {
      m_presenter.Answer(MessageAnswer::kYes);
      dialog.reject();  // "Cancel the import and close the window?"
    } else if (pass == 3) {
      termination.emplace([&dialog] { dialog.StopAndClose(); });
      ::raise(SIGTERM);
      ASSERT_TRUE(test::WaitUntil([&] { return !dialog.Button("m_cancelButton")->isEnabled(); }));
      EXPECT_TRUE(m_presenter.Requests().empty());
    } else {
      Click("m_cancelButton");
    }
    m_shared->OpenGate();
    ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsImporting(); }));

    const std::vector<RoutineEntry> after = TableOf(image);
    ASSERT_EQ(after.size(), before.size()) << pass;
    EXPECT_EQ(after[0].Title(), "kept");
    EXPECT_EQ(after[0].endSector, before[0].endSector);
    EXPECT_EQ(dialog.StatusField()->text(), "Import cancelled; nothing was added");
    EXPECT_EQ(dialog.isVisible(), pass < 2) << pass;
    m_presenter.Clear();
  }
}

TEST_F(ManagerDlgTest, DroppedRoutineFilesAreAddedInTheirOrder) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  const std::string notes = (m_dir / "notes.txt").string();
  std::ofstream(notes) << "not a routine";
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Routine("first", 100))),
                QUrl::fromLocalFile(QString::fromStdString(notes)),
                QUrl::fromLocalFile(QString::fromStdString(Routine("second", 100)))});
  QWidget* target = dialog.RoutineList()->viewport();
  const QPointF at(10, 10);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(test::WaitUntil([&] { return dialog.RoutineList()->rowCount() == 2 && !dialog.IsImporting(); }));
  EXPECT_EQ(Column(0), (QStringList{"first", "second"}));

  // Nothing to take: no routine file, or no disk selected.
  QMimeData other;
  other.setUrls({QUrl::fromLocalFile(QString::fromStdString(notes))});
  QDragEnterEvent refused(at.toPoint(), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &refused);
  EXPECT_FALSE(refused.isAccepted());
  dialog.DeviceCombo()->setCurrentIndex(-1);
  Settle();
  QDragEnterEvent noDisk(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &noDisk);
  EXPECT_FALSE(noDisk.isAccepted());
}

// An image opened in the window is offered for the session, after the drives
// and units, with its size; the file dialog opens where the last one ended.
TEST_F(ManagerDlgTest, AnOpenedImageJoinsTheComboAndIsSelected) {
  m_shared->drives = {Image("drive.img", 64)};
  const std::string image = Image("backup.img", 4096);
  FormatEmpty(image);
  CTestManagerDlg& dialog = Dialog();
  dialog.path = QString::fromStdString(image);
  Click("m_openImageButton");
  ASSERT_EQ(dialog.DeviceCombo()->count(), 2);
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 1);
  EXPECT_EQ(dialog.DeviceCombo()->currentText().toStdString(), image + " (2.00MB)");
  // A question names the disk as the combo shows it.
  m_presenter.Answer(MessageAnswer::kNo);
  Click("m_formatButton");
  ASSERT_EQ(m_presenter.Requests().size(), 1u);
  EXPECT_EQ(m_presenter.Requests()[0].detail, "Disk: " + image + " (2.00MB)\nIt holds no routines.");
  EXPECT_EQ(dialog.LastFolder().toStdString(), m_dir.string());
  EXPECT_EQ(dialog.RoutineList()->PlaceholderText(), "No routines");
  // Opened twice, listed once; a device change keeps it.
  Click("m_openImageButton");
  dialog.OnDeviceChange();
  Settle();
  EXPECT_EQ(dialog.DeviceCombo()->count(), 2);
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 1);
  EXPECT_EQ(NewRoutineFileDialog(nullptr, dialog.LastFolder())->directory().absolutePath().toStdString(),
            m_dir.string());
  // A sound file or a routine file picked by mistake is not offered as a disk.
  const std::string wav = (m_dir / "song.wav").string();
  std::ofstream(wav, std::ios::binary) << "RIFF" << std::string(1020, '\0');
  for (const std::string& path : {wav, Routine("one", 2000)}) {
    m_presenter.Clear();
    dialog.path = QString::fromStdString(path);
    Click("m_openImageButton");
    EXPECT_EQ(dialog.DeviceCombo()->count(), 2) << path;
    EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 1);
    ASSERT_EQ(m_presenter.Requests().size(), 1u);
    EXPECT_EQ(m_presenter.Texts()[0].rfind(path + " is not a disk image: ", 0), 0u)
        << m_presenter.Texts()[0];
  }
}

// A drive opens off the UI thread (udisks2 may be waiting for a password):
// the device changes a card insertion brings meanwhile start no second open,
// and the lists are caught up once the first has ended.
TEST_F(ManagerDlgTest, DeviceChangesWhileADriveOpensWaitForTheOpen) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  {
    std::lock_guard lock(m_shared->gateMutex);
    m_shared->holdOpens = true;
  }
  const int opens = m_shared->opens.load(), enumerations = m_shared->enumerations;
  int changes = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (m_shared->opensWaiting.load() == 0) return;
    if (changes++ < 3) {
      dialog.OnDeviceChange();
      return;
    }
    watch.stop();
    EXPECT_EQ(m_shared->opens.load(), opens + 1);
    EXPECT_EQ(m_shared->enumerations, enumerations + 1);
    m_shared->OpenGate();
  });
  watch.start(5);
  Click("m_refreshButton");
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(m_shared->opens.load(), opens + 2);  // the refresh's, and one for the held changes
  EXPECT_EQ(m_shared->enumerations, enumerations + 2);
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 0);
  EXPECT_TRUE(m_presenter.Requests().empty());
}

// Backup, restore and export from the window: a new file appears only when
// complete, a disk image is never its own backup, a restore asks first.
TEST_F(ManagerDlgTest, BackupRestoreAndExportKeepTheFilesSafe) {
  const std::string image = Image("card.img", 4096);
  FormatEmpty(image);
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  Import({QString::fromStdString(Routine("one", 2000)), QString::fromStdString(Routine("two", 300000))});
  m_presenter.Clear();

  // A title outside ASCII is exported as the grid shows it.
  Import({QString::fromStdString(test::WriteRoutineFile(m_dir / "caf.vorn", "Caf\xE9", 100))});
  const std::string accented = (m_dir / "accented.vorn").string();
  dialog.path = QString::fromStdString(accented);
  dialog.ExportRoutine(2);
  Settle();
  EXPECT_EQ(std::string(&test::ReadWholeFile(accented)[1]), "Caf\xE9");
  EXPECT_EQ(dialog.StatusField()->text(), QString::fromUtf8("Exported \"Caf\xC3\xA9\" to ") + dialog.path);
  Click("m_removeButton");
  EXPECT_NE(m_presenter.Requests().back().detail.find("will be lost: Caf\xC3\xA9."), std::string::npos);
  fs::remove(accented);
  fs::remove(m_dir / "caf.vorn");
  m_presenter.Clear();

  const std::string backup = (m_dir / "card-backup.img").string();
  dialog.path = QString::fromStdString(backup);
  // A slow card: the backup shows Cancel; Escape asks first (No goes on), and
  // Cancel stops it with nothing written.
  m_shared->readDelayMs = 30;
  QTimer slowCard;
  QObject::connect(&slowCard, &QTimer::timeout, [&] {
    if (dialog.Button("m_cancelButton")->isHidden() || dialog.ProgressBar()->value() < 1) return;
    slowCard.stop();
    EXPECT_EQ(dialog.StatusField()->text(), "Backing up");
    m_presenter.Answer(MessageAnswer::kNo);
    dialog.reject();
    EXPECT_TRUE(dialog.Button("m_cancelButton")->isEnabled());
    Click("m_cancelButton");
  });
  slowCard.start(5);
  dialog.BackupDisk();
  Settle();
  m_shared->readDelayMs = 0;
  EXPECT_EQ(dialog.StatusField()->text(), "Backup cancelled; nothing was written");
  EXPECT_FALSE(fs::exists(backup));
  EXPECT_TRUE(dialog.Button("m_cancelButton")->isHidden());
  ASSERT_EQ(m_presenter.Requests().size(), 1u);
  EXPECT_NE(m_presenter.Texts()[0].find("Backing up is still running"), std::string::npos);
  m_presenter.Clear();

  dialog.BackupDisk();
  Settle();
  EXPECT_EQ(TableOf(backup).size(), 2u);
  EXPECT_EQ(dialog.StatusField()->text().toStdString(), "Backed up 2 routines to " + backup);

  const std::string exported = (m_dir / "two-again.vorn").string();
  dialog.path = QString::fromStdString(exported);
  dialog.ExportRoutine(1);
  Settle();
  const std::vector<char> routine = test::ReadWholeFile(exported);
  ASSERT_GE(routine.size(), 68u + 3000u);
  EXPECT_EQ(std::string(&routine[1]), "two");

  Click("m_removeButton");
  Click("m_removeButton");
  EXPECT_TRUE(TableOf(image).empty());
  m_presenter.Clear();
  m_presenter.Answer(MessageAnswer::kNo);
  dialog.path = QString::fromStdString(backup);
  dialog.RestoreDisk();
  Settle();
  EXPECT_TRUE(TableOf(image).empty());
  // Writes that land wrong on the card are caught by the read-back.
  m_shared->garbleWrites = true;
  dialog.RestoreDisk();
  Settle();
  m_shared->garbleWrites = false;
  ASSERT_EQ(m_presenter.Requests().size(), 3u);
  EXPECT_EQ(m_presenter.Texts()[2].rfind("Verify failed\nSector ", 0), 0u) << m_presenter.Texts()[2];
  EXPECT_NE(dialog.StatusField()->text().left(8), "Restored");
  m_presenter.Clear();
  // Yes. The restore runs off the UI thread: while its writes are held the
  // window says what it does, takes no action, and holds a device change and a
  // close until the restore has ended.
  dialog.show();
  m_shared->CloseGate();
  const int enumerations = m_shared->enumerations;
  bool sawRestore = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (m_shared->writesWaiting.load() == 0) return;
    watch.stop();
    sawRestore = dialog.StatusField()->text() == "Restoring";
    EXPECT_EQ(EnabledOf({"m_refreshButton", "m_addButton", "m_removeButton", "m_formatButton", "m_exitButton"}),
              QStringList{});
    EXPECT_FALSE(dialog.Button("m_cancelButton")->isVisible());  // a restore is not cut short
    dialog.OnDeviceChange();
    dialog.reject();
    EXPECT_EQ(m_shared->enumerations, enumerations);
    EXPECT_TRUE(dialog.isVisible());
    m_shared->OpenGate();
  });
  watch.start(5);
  dialog.RestoreDisk();
  Settle();
  EXPECT_TRUE(sawRestore);
  ASSERT_EQ(m_presenter.Requests().size(), 1u) << ::testing::PrintToString(m_presenter.Texts());
  EXPECT_EQ(m_presenter.Requests()[0].caption, "Confirm");
  EXPECT_NE(m_presenter.Requests()[0].text.find(backup), std::string::npos);
  EXPECT_EQ(Column(0), (QStringList{"one", "two"}));
  EXPECT_EQ(dialog.StatusField()->text().toStdString(), "Restored 2 routines onto " + image);
  EXPECT_FALSE(dialog.isVisible());                     // the held close
  EXPECT_EQ(m_shared->enumerations, enumerations + 1);  // the held refresh
  EXPECT_EQ(dialog.result(), QDialog::Rejected);

  // The disk's own file as target: refused, the disk unchanged.
  m_presenter.Clear();
  const std::vector<char> before = test::ReadWholeFile(image);
  m_shared->drives = {};
  dialog.OpenDiskImage(QString::fromStdString(image));
  Settle();
  dialog.path = QString::fromStdString(image);
  dialog.BackupDisk();
  Settle();
  dialog.ExportRoutine(0);
  Settle();
  EXPECT_EQ(test::ReadWholeFile(image), before);
  ASSERT_EQ(m_presenter.Requests().size(), 2u);
  EXPECT_NE(m_presenter.Texts()[0].find("cannot be backed up onto itself"), std::string::npos);
  // A target another program is writing (an image vorn3ctl adds to) is refused.
  {
    const std::vector<char> held = test::ReadWholeFile(backup);
    CImageDevice writer(backup, /*durable=*/false, ImageAccess::kWrite);
    writer.Open(CImageDevice::EntryFor(backup));
    m_presenter.Clear();
    dialog.path = QString::fromStdString(backup);
    dialog.BackupDisk();
    Settle();
    ASSERT_EQ(m_presenter.Requests().size(), 1u);
    EXPECT_EQ(m_presenter.Texts()[0], backup + " is in use by another program; nothing was written");
    EXPECT_EQ(test::ReadWholeFile(backup), held);
  }
  // No temporary file is left behind.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(m_dir)) ++files;
  EXPECT_EQ(files, 5);  // card, backup, three routine files
}

// The window works through its accessibility tree: every control has a name,
// the disk state and the end of an action are readable, Cancel is there
// while an import runs, and the window says it can be resized.
TEST_F(ManagerDlgTest, EverythingIsReachableThroughTheAccessibilityTree) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  dialog.show();
  QAccessibleInterface* root = QAccessible::queryAccessibleInterface(&dialog);
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(root->state().sizeable);
  for (const char* name : {"Refresh", "Open disk image...", "Add routine...", "Remove last routine",
                           "Format disk", "Exit"}) {
    QAccessibleInterface* button = FindAccessible(root, name, QAccessible::Button);
    ASSERT_NE(button, nullptr) << name;
    ASSERT_NE(button->actionInterface(), nullptr);
    EXPECT_FALSE(button->actionInterface()->keyBindingsForAction(QAccessibleActionInterface::pressAction()).isEmpty())
        << name;
  }
  EXPECT_EQ(FindAccessible(root, "Cancel", QAccessible::Button), nullptr);  // only while importing
  // The combo is named by the disk it shows.
  EXPECT_NE(FindAccessible(root, QString::fromStdString(image), QAccessible::ComboBox), nullptr);
  EXPECT_NE(FindAccessible(root, "Status", QAccessible::EditableText), nullptr);
  EXPECT_NE(FindAccessible(root, "Progress", QAccessible::ProgressBar), nullptr);
  EXPECT_NE(FindAccessible(root, "0 routines - 4.00 MB, 4.00 MB free", QAccessible::StaticText), nullptr);
  QAccessibleInterface* grid = FindAccessible(root, "Routines", QAccessible::Table);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid->text(QAccessible::Description), "No routines");

  // The menu key on the grid opens its menu: the edits, backup, restore and
  // export are there for a keyboard and a screen reader too.
  QStringList items;
  QTimer::singleShot(0, [&] {
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) return;
    QAccessibleInterface* menu = QAccessible::queryAccessibleInterface(popup);
    for (int i = 0; menu && i < menu->childCount(); ++i) {
      if (menu->child(i)->role() == QAccessible::MenuItem) items << menu->child(i)->text(QAccessible::Name);
    }
    popup->close();
  });
  QApplication::setActiveWindow(&dialog);
  dialog.RoutineList()->setFocus();
  // What the platform makes of the menu key (the offscreen one has none).
  QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), QPoint());
  QApplication::sendEvent(dialog.windowHandle(), &menuKey);
  EXPECT_EQ(items, (QStringList{"Preview...", "Remove routine", "Move up", "Move down", "Replace routine...", "Rename...",
                                "Routine settings...", "Export routine...", "Back up disk...", "Restore disk...",
                                "Check disk...",
                                "Write to other disks..."}));

  m_shared->CloseGate();
  dialog.files = {QString::fromStdString(Routine("slow", 5000))};
  Click("m_addButton");
  ASSERT_TRUE(test::WaitUntil([&] { return m_shared->writesWaiting.load() > 0; }));
  QAccessibleInterface* cancel = FindAccessible(root, "Cancel", QAccessible::Button);
  ASSERT_NE(cancel, nullptr);
  cancel->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.Button("m_cancelButton")->isEnabled(); }));
  m_shared->OpenGate();
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsImporting(); }));
  QAccessibleInterface* status = FindAccessible(root, "Status", QAccessible::EditableText);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text(QAccessible::Value), "Import cancelled; nothing was added");
}

// A termination signal while a box of the window's making is up (here: the
// card cannot be opened) ends the start as Cancel would, not the process.
TEST_F(ManagerDlgTest, ATerminationSignalWhileTheWindowIsMadeEndsItQuietly) {
  m_shared->drives = {(m_dir / "missing.img").string()};
  CQtMessagePresenter boxes;
  SetMessagePresenter(&boxes);
  bool raised = false;
  QTimer poke;
  QObject::connect(&poke, &QTimer::timeout, [&] {
    if (!QApplication::activeModalWidget() || raised) return;
    raised = true;
    ::raise(SIGTERM);
  });
  poke.start(5);
  EXPECT_EQ(RunManagerWindow(std::make_unique<CImageSource>(m_shared), &boxes, {}), 0);
  SetMessagePresenter(&m_presenter);
  EXPECT_TRUE(raised);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A second start knocks; the running window comes back from the taskbar.
TEST_F(ManagerDlgTest, ASecondStartBringsTheRunningWindowToTheFront) {
  const std::string socket = (m_dir / "window").string();
  CTestManagerDlg& dialog = Dialog();
  dialog.showMinimized();
  EXPECT_FALSE(KnockOnRunningWindow(socket));
  {
    const CRunningWindowBeacon beacon(socket, [&dialog] { BringToFront(&dialog); });
    EXPECT_TRUE(KnockOnRunningWindow(socket));
    EXPECT_TRUE(test::WaitUntil([&] { return !dialog.isMinimized(); }));
  }
  EXPECT_FALSE(KnockOnRunningWindow(socket));
}

// Another program changed the disk behind the window: coming back to the
// window shows the disk as it is now, and so does an action's question.
TEST_F(ManagerDlgTest, TheGridFollowsTheDiskWhenTheWindowIsActivatedOrAnActionAsks) {
  const std::string image = Image("card.img");
  FormatEmpty(image);
  m_shared->drives = {image};
  CTestManagerDlg& dialog = Dialog();
  Import({QString::fromStdString(Routine("a", 100))});
  const auto addBehind = [&](const std::string& name) {
    CImageDevice device(image, false);
    device.Open(CImageDevice::EntryFor(image));
    CVornDisk disk(device, nullptr);
    disk.ReadTable();
    disk.AddRoutines({Routine(name, 100)}, nullptr, {});
    device.Close();
  };
  addBehind("b");
  EXPECT_EQ(Column(0), QStringList{"a"});
  QEvent deactivated(QEvent::WindowDeactivate), activated(QEvent::WindowActivate);
  QApplication::sendEvent(&dialog, &deactivated);
  QApplication::sendEvent(&dialog, &activated);
  EXPECT_TRUE(test::WaitUntil([&] { return Column(0) == QStringList({"a", "b"}); }));

  addBehind("c");
  QStringList atQuestion;
  m_presenter.DuringNext([&] { atQuestion = Column(0); });
  m_presenter.Answer(MessageAnswer::kNo);
  Click("m_removeButton");
  ASSERT_TRUE(test::WaitUntil([&] { return !m_presenter.Requests().empty(); }));
  EXPECT_EQ(atQuestion, (QStringList{"a", "b", "c"}));
}

TEST(RoutineFileDialogTest, OpensSeveralFilesAndShowsTheFilterDescriptionsAsWritten) {
  EXPECT_EQ(NameFiltersFromPairs("Audio|*.wav;*.mp3||"), QStringList{"Audio (*.wav *.mp3)"});

  const std::unique_ptr<QFileDialog> dialog = NewRoutineFileDialog(nullptr);
  EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
  EXPECT_EQ(dialog->defaultSuffix(), "vorn");
  // "*.*" matches names without a dot too.
  EXPECT_EQ(dialog->nameFilters(),
            (QStringList{"VORN v3.0 (.vorn) (*.vorn)", "All Files (*.*) (*)"}));
  const auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(types, nullptr);
  QStringList shown;
  for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
  EXPECT_EQ(shown, (QStringList{"VORN v3.0 (.vorn)", "All Files (*.*)"}));
}

}  // namespace
}  // namespace vorn
