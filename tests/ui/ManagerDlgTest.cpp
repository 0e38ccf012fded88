#include "ui/ManagerDlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QTest>
#include <QLabel>
#include <QTimer>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>

#include "UiTestSupport.h"
#include "disk/VornDisk.h"
#include "ui/ControlList.h"
#include "ui/DialogUnits.h"

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

 protected:
  QStringList AskForRoutineFiles() override { return files; }
};

class ManagerDlgTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("vorn-ui-" + std::to_string(::getpid()) + "-" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_shared = std::make_shared<CImageSource::Shared>();
  }
  void TearDown() override {
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
    if (!m_dialog) m_dialog = std::make_unique<CTestManagerDlg>(std::make_unique<CImageSource>(m_shared));
    return *m_dialog;
  }
  void Click(const char* button) { Dialog().Button(button)->click(); }
  void Import(const QStringList& files) {
    Dialog().files = files;
    Click("m_addButton");
    ASSERT_TRUE(test::WaitUntil([&] { return !Dialog().IsImporting(); }));
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
  EXPECT_EQ(dialog.Button("m_refreshButton")->text(), "Refresh");
  EXPECT_EQ(dialog.Button("m_addButton")->text(), "Add routine...");
  EXPECT_EQ(dialog.Button("m_removeButton")->text(), "Remove last routine");
  EXPECT_EQ(dialog.Button("m_formatButton")->text(), "Format disk");
  EXPECT_EQ(dialog.Button("m_exitButton")->text(), "Exit");
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
    EXPECT_EQ(list->columnWidth(i), ScaleWidth(widths[i], dialog.font()));
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
    if (widget->focusPolicy() & Qt::TabFocus) order << widget->objectName();
    widget = widget->nextInFocusChain();
  } while (widget != dialog.DeviceCombo() && order.size() < 20);
  EXPECT_EQ(order, (QStringList{"m_deviceCombo", "m_refreshButton", "m_routineList", "m_addButton",
                                "m_removeButton", "m_formatButton", "m_exitButton"}));
}

TEST_F(ManagerDlgTest, EnterPressesTheFocusedButtonAndExitEverywhereElse) {
  m_shared->drives = {Image("card.img", 16)};
  CTestManagerDlg& dialog = Dialog();
  dialog.show();
  const int enumerations = m_shared->enumerations;
  QTest::keyClick(dialog.Button("m_refreshButton"), Qt::Key_Return);
  EXPECT_EQ(m_shared->enumerations, enumerations + 1);
  EXPECT_TRUE(dialog.isVisible());

  m_presenter.Answer(MessageAnswer::kNo);
  QTest::keyClick(dialog.Button("m_formatButton"), Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{kAskFormatInvalid});
  EXPECT_TRUE(dialog.isVisible());

  QTest::keyClick(dialog.DeviceCombo(), Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ManagerDlgTest, WithoutAnyDiskEveryActionEndsWithoutTouchingOne) {
  CTestManagerDlg& dialog = Dialog();
  EXPECT_EQ(dialog.DeviceCombo()->count(), 0);
  EXPECT_EQ(dialog.RoutineList()->rowCount(), 0);
  EXPECT_EQ(dialog.GetSelectedDevice(), nullptr);

  Click("m_formatButton");
  EXPECT_TRUE(m_presenter.Requests().empty());

  m_presenter.Answer(MessageAnswer::kYes);
  Click("m_removeButton");
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{kAskRemoveLast});

  Import({QString::fromStdString(Routine("one", 100))});
  EXPECT_EQ(m_presenter.Texts().size(), 1u);
  EXPECT_TRUE(dialog.Button("m_addButton")->isEnabled());
  EXPECT_TRUE(dialog.Button("m_exitButton")->isEnabled());
  EXPECT_TRUE(dialog.DeviceCombo()->isEnabled());
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

  const auto requests = m_presenter.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].text, kAskFormatInvalid);
  EXPECT_EQ(requests[0].caption, "Confirm");
  EXPECT_EQ(requests[0].icon, MessageIcon::kWarning);
  EXPECT_EQ(requests[0].buttons, MessageButtons::kYesNo);
  EXPECT_EQ(requests[1].text, kAskFormatValid);
  EXPECT_TRUE(TableOf(image).empty());
  EXPECT_EQ(dialog.RoutineList()->rowCount(), 0);
}

TEST_F(ManagerDlgTest, ImportingOntoAnUnformattedDiskAnsweredNoWritesNothing) {
  const std::string image = Image("card.img", 256);
  m_shared->drives = {image};
  const std::vector<char> before = test::ReadWholeFile(image);
  m_presenter.Answer(MessageAnswer::kNo);
  Import({QString::fromStdString(Routine("one", 100))});

  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{kAskFormatInvalid});
  EXPECT_EQ(test::ReadWholeFile(image), before);
  EXPECT_TRUE(Dialog().Button("m_formatButton")->isEnabled());
  EXPECT_TRUE(Dialog().RoutineList()->isEnabled());
}

TEST_F(ManagerDlgTest, ImportingOntoAnUnformattedDiskAnsweredYesFormatsIt) {
  const std::string image = Image("card.img");
  m_shared->drives = {image};
  Import({QString::fromStdString(Routine("one", 100))});
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{kAskFormatInvalid});
  ASSERT_EQ(TableOf(image).size(), 1u);
  EXPECT_EQ(TableOf(image)[0].startSector, 1u);
  EXPECT_EQ(Column(0), QStringList{"one"});
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
  EXPECT_EQ(Dialog().StatusField()->text(), "Ready");
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

  // Another program writing the disk: one box names the disk, nothing changes.
  Import({QString::fromStdString(Routine("c", 100))});
  CImageDevice other(image, false);
  other.Open(CImageDevice::EntryFor(image));
  m_presenter.Clear();
  Click("m_removeButton");
  EXPECT_EQ(m_presenter.Texts(),
            (std::vector<std::string>{kAskRemoveLast, "The disk " + image +
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

  m_shared->drives = {c, a};
  dialog.OnDeviceChange();
  ASSERT_EQ(dialog.DeviceCombo()->count(), 3);
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 2);
  EXPECT_EQ(dialog.DeviceCombo()->currentText().toStdString(), b);

  m_shared->units.clear();
  dialog.OnDeviceChange();
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 0);
  EXPECT_EQ(dialog.DeviceCombo()->currentText().toStdString(), c);
  EXPECT_TRUE(m_presenter.Requests().empty());
}

TEST_F(ManagerDlgTest, AUnitEnumerationErrorIsShownOnceAndKeepsTheUnitsFoundBefore) {
  const std::string a = Image("a.img", 16);
  m_shared->units = {a};
  m_shared->unitError = "Unable to read manufacturer string (err=-5)";
  CTestManagerDlg& dialog = Dialog();
  EXPECT_EQ(dialog.DeviceCombo()->count(), 1);
  dialog.OnDeviceChange();
  dialog.OnDeviceChange();
  EXPECT_EQ(m_presenter.Texts(), std::vector<std::string>{*m_shared->unitError});

  m_shared->unitError.reset();
  dialog.OnDeviceChange();
  m_shared->unitError = "Unable to read manufacturer string (err=-5)";
  dialog.OnDeviceChange();
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

  for (const char* name : {"m_refreshButton", "m_addButton", "m_removeButton", "m_formatButton",
                           "m_exitButton"}) {
    EXPECT_FALSE(dialog.Button(name)->isEnabled()) << name;
  }
  EXPECT_FALSE(dialog.DeviceCombo()->isEnabled());
  EXPECT_FALSE(dialog.RoutineList()->isEnabled());

  const int enumerations = m_shared->enumerations;
  dialog.OnDeviceChange();
  EXPECT_EQ(m_shared->enumerations, enumerations);
  dialog.reject();
  EXPECT_TRUE(dialog.isVisible());

  m_shared->OpenGate();
  ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsImporting(); }));
  EXPECT_EQ(m_shared->enumerations, enumerations + 1);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(TableOf(image).size(), 1u);
  EXPECT_TRUE(m_presenter.Requests().empty());
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
