// The window on the system's own device classes: a fixture card reader (device
// nodes are image files) and simulated VORN units on USB.
#include <gtest/gtest.h>

#include <QLabel>
#include <QComboBox>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>

#include "UiTestSupport.h"
#include "tests/device/DriveFixture.h"
#include "tests/support/SimTestBed.h"
#include "ui/ControlList.h"
#include "ui/ManagerDlg.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using test::CScriptedPresenter;

class CTestManagerDlg : public CManagerDlg {
 public:
  CTestManagerDlg() : CManagerDlg(MakeSystemDeviceSource()) {}
  QStringList files;

 protected:
  QStringList AskForRoutineFiles() override { return files; }
};

class ManagerDlgSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::CSimTestBed::Active()) << "the unit simulator is not linked first";
    m_fixture.AddDisk("sda", 65536, test::Bus::kAta);
    m_fixture.AddPartition("sda", 1, 65536);
    m_fixture.Mount("sda1", "/");
    const DriveRoots roots = m_fixture.Roots();
    ::setenv("VORN_SYSFS_ROOT", roots.sysfs.c_str(), 1);
    ::setenv("VORN_DEV_ROOT", roots.dev.c_str(), 1);
    ::setenv("VORN_MOUNTINFO", roots.mountinfo.c_str(), 1);
    ::setenv("VORN_SWAPS", roots.swaps.c_str(), 1);
    ::unsetenv("VORN_DEMO_IMAGE");
    // The cards met before are remembered here, not in the user's state.
    ::setenv("XDG_STATE_HOME", (m_fixture.Dir() + "/state").c_str(), 1);
  }
  void TearDown() override {
    for (const char* name : {"VORN_SYSFS_ROOT", "VORN_DEV_ROOT", "VORN_MOUNTINFO", "VORN_SWAPS", "XDG_STATE_HOME"}) {
      ::unsetenv(name);
    }
  }

  void Units(std::initializer_list<sim::SimUnitSpec> specs) {
    sim::CSimConfigWriter writer;
    writer.Bus("001");
    for (const sim::SimUnitSpec& spec : specs) writer.Unit(spec);
    m_bed.Install(writer);
  }
  sim::SimUnitSpec Unit(int devnum, const std::string& image) {
    sim::SimUnitSpec spec;
    spec.devnum = devnum;
    spec.image = image;
    return spec;
  }
  QStringList Titles(CManagerDlg& dialog) {
    QStringList titles;
    for (int row = 0; row < dialog.RoutineList()->rowCount(); ++row) {
      titles << dialog.RoutineList()->CellText(row, 0);
    }
    return titles;
  }
  // Until what the window started has ended (it reads and writes disks off
  // the user-interface thread).
  void Settle(CManagerDlg& dialog) { EXPECT_TRUE(test::WaitUntil([&] { return !dialog.IsBusy(); })); }
  void Import(CTestManagerDlg& dialog, const QStringList& files) {
    dialog.files = files;
    dialog.Button("m_addButton")->click();
    ASSERT_TRUE(test::WaitUntil([&] { return !dialog.IsImporting(); }));
  }
  QString Routine(const std::string& name, std::uint32_t dataSize) {
    return QString::fromStdString(
        test::WriteRoutineFile(m_bed.Path(name + ".vorn"), name, dataSize));
  }

  test::CDriveFixture m_fixture;
  test::CSimTestBed m_bed;
  CScriptedPresenter m_presenter;
};

TEST_F(ManagerDlgSystemTest, ListsCardReadersFirstThenUnitsAndWorksOnAUnit) {
  m_fixture.AddDisk("sdb", 8192, test::Bus::kUsb);
  Units({Unit(3, m_bed.Image("unit3.img", 16384))});
  CTestManagerDlg dialog;
  Settle(dialog);
  ASSERT_EQ(dialog.DeviceCombo()->count(), 2);
  EXPECT_EQ(dialog.DeviceCombo()->itemText(0), "PhysicalDrive1 (4.00MB) ()");
  EXPECT_EQ(dialog.DeviceCombo()->itemText(1), "Calverin - VORN3 Unit (3)");
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 0);

  dialog.DeviceCombo()->setCurrentIndex(1);
  Settle(dialog);
  Import(dialog, {Routine("hello", 3000), Routine("world", 700)});
  EXPECT_EQ(m_presenter.Texts().size(), 1u);  // the format question of a blank disk
  EXPECT_EQ(Titles(dialog), (QStringList{"hello", "world"}));

  m_presenter.Answer(MessageAnswer::kYes);
  dialog.Button("m_removeButton")->click();
  Settle(dialog);
  EXPECT_EQ(Titles(dialog), QStringList{"hello"});

  // The card stays untouched by all that.
  dialog.DeviceCombo()->setCurrentIndex(0);
  Settle(dialog);
  EXPECT_EQ(dialog.RoutineList()->rowCount(), 0);
  m_presenter.Clear();
  m_presenter.Answer(MessageAnswer::kYes);
  dialog.Button("m_formatButton")->click();
  Settle(dialog);
  m_presenter.Answer(MessageAnswer::kNo);
  dialog.Button("m_formatButton")->click();
  Settle(dialog);
  EXPECT_EQ(m_presenter.Texts(),
            (std::vector<std::string>{
                "This drive must be formatted as an VORN disk and will DELETE ALL DATA.\n\nDo you "
                "wish to continue?",
                // A card met for the first time: its capacity is probed (Yes) before the format.
                "This card is new to this computer. Check first that it holds what it claims?",
                "Are you sure you want to format the disk?"}));
}

TEST_F(ManagerDlgSystemTest, AMountedCardIsUnmountedOnlyAfterTheUserAgrees) {
  m_fixture.AddDisk("sdb", 8192, test::Bus::kUsb);
  m_fixture.AddPartition("sdb", 1, 8000);
  m_fixture.Mount("sdb1", "/media/user/CARD");
  Units({});
  // No udisks2 to unmount with: not even a bus to ask on.
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + m_fixture.Dir() + "/no-bus").c_str(), 1);
  const std::string question = "The card is mounted at /media/user/CARD: unmount it and continue?";
  m_presenter.Answer(MessageAnswer::kNo);
  CTestManagerDlg dialog;  // selecting the card opens it
  Settle(dialog);
  EXPECT_EQ(m_presenter.Texts(),
            (std::vector<std::string>{question, "Could not open drive\n" + m_fixture.Node("sdb") +
                                                    " is mounted at /media/user/CARD: unmount it first."}));
  // Listed again after a device change it is not asked about again, only
  // said to be mounted; Refresh asks again.
  m_presenter.Clear();
  dialog.OnDeviceChange();
  Settle(dialog);
  EXPECT_TRUE(m_presenter.Texts().empty()) << ::testing::PrintToString(m_presenter.Texts());
  EXPECT_EQ(dialog.DiskInfo()->text(), "The card is mounted: Refresh asks again to unmount it");
  m_presenter.Answer(MessageAnswer::kYes);
  dialog.Button("m_refreshButton")->click();
  Settle(dialog);
  EXPECT_EQ(m_presenter.Texts(),
            (std::vector<std::string>{question, "Could not open drive\n/dev/sdb1 is mounted and there is no system "
                                                "bus to ask udisks2 on: unmount it yourself."}));
  ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

// Run by tests/tools/udisks2-test.sh as a user without rights to the card,
// with a stub udisks2 on a private bus, after vorn3ctl put one routine on it.
TEST_F(ManagerDlgSystemTest, ACardWithoutRightsOpensThroughUdisks2) {
  const char* tree = std::getenv("VORN_TEST_UDISKS2_TREE");
  if (tree == nullptr) GTEST_SKIP() << "run by tests/tools/udisks2-test.sh";
  const std::string root = tree;
  ::setenv("VORN_SYSFS_ROOT", (root + "/sys").c_str(), 1);
  ::setenv("VORN_DEV_ROOT", (root + "/dev").c_str(), 1);
  ::setenv("VORN_MOUNTINFO", (root + "/mountinfo").c_str(), 1);
  ::setenv("VORN_SWAPS", (root + "/swaps").c_str(), 1);
  Units({});
  CTestManagerDlg dialog;
  Settle(dialog);
  ASSERT_EQ(dialog.DeviceCombo()->count(), 1);
  EXPECT_EQ(dialog.DeviceCombo()->itemText(0), "PhysicalDrive1 (8.00MB) ()");
  EXPECT_EQ(Titles(dialog), QStringList{"Song"});
  m_presenter.Answer(MessageAnswer::kYes);
  dialog.Button("m_formatButton")->click();
  Settle(dialog);
  EXPECT_EQ(dialog.RoutineList()->rowCount(), 0);
  // The card is new: its capacity is probed (through the descriptor udisks2 gave) before the format.
  EXPECT_EQ(m_presenter.Texts(),
            (std::vector<std::string>{"Are you sure you want to format the disk?",
                                      "This card is new to this computer. Check first that it holds what it claims?"}));
}

TEST_F(ManagerDlgSystemTest, AUnitArrivingBeforeTheSelectedOneKeepsTheSelection) {
  const std::string image3 = m_bed.Image("unit3.img", 4096);
  Units({Unit(3, image3)});
  CTestManagerDlg dialog;
  Settle(dialog);
  // Once opened, the unit's item tells its size and model.
  ASSERT_EQ(dialog.DeviceCombo()->currentText(), "Calverin - VORN3 Unit (3) (2.00MB) VORN DISK");

  Units({Unit(2, m_bed.Image("unit2.img", 4096)), Unit(3, image3)});
  dialog.OnDeviceChange();
  Settle(dialog);
  ASSERT_EQ(dialog.DeviceCombo()->count(), 2);
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), 1);
  EXPECT_TRUE(dialog.DeviceCombo()->currentText().startsWith("Calverin - VORN3 Unit (3) "));
  EXPECT_EQ(dialog.DeviceCombo()->itemText(0), "Calverin - VORN3 Unit (2)");

  // The selected unit leaves: the selection does not move to the other one.
  Units({Unit(2, m_bed.Image("unit2.img", 4096))});
  dialog.OnDeviceChange();
  Settle(dialog);
  EXPECT_EQ(dialog.DeviceCombo()->currentIndex(), -1);
  EXPECT_FALSE(dialog.Button("m_formatButton")->isEnabled());
  EXPECT_TRUE(m_presenter.Requests().empty());
}

TEST_F(ManagerDlgSystemTest, AUnitThatCannotBeOpenedIsReportedOnceAndTheOthersStay) {
  sim::SimUnitSpec broken = Unit(5, m_bed.Image("unit5.img", 4096));
  broken.faults = {"manufacturer-string"};
  Units({Unit(4, m_bed.Image("unit4.img", 4096)), broken});
  CTestManagerDlg dialog;
  Settle(dialog);
  ASSERT_EQ(dialog.DeviceCombo()->count(), 1);
  EXPECT_TRUE(dialog.DeviceCombo()->itemText(0).startsWith("Calverin - VORN3 Unit (4)"));
  dialog.OnDeviceChange();
  Settle(dialog);
  ASSERT_EQ(m_presenter.Requests().size(), 1u);
  EXPECT_EQ(m_presenter.Requests()[0].caption, "VORN3 Manager");
}

}  // namespace
}  // namespace vorn
