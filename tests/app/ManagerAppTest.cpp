#include "app/ManagerApp.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "device/DeviceExceptions.h"
#include "platform/MessageBox.h"
#include "tests/support/RecordingPresenter.h"

namespace vorn {
namespace {

using test::CRecordingPresenter;

// Start-up with recorded calls instead of the system's probe, arbiter and modes.
class ManagerAppTest : public testing::Test {
 protected:
  void SetUp() override { SetMessagePresenter(&m_presenter); }
  void TearDown() override { SetMessagePresenter(nullptr); }

  int Start(std::vector<const char*> args) {
    args.insert(args.begin(), "vorn3manager");
    ModeHandlers handlers;
    handlers.runList = [this] { m_ran.push_back("list"); return m_modeResult; };
    handlers.runServer = [this](const CManagerCommandLineInfo& info) {
      m_ran.push_back("server " + info.UnitName() + " " + std::to_string(info.BaudRate()));
      if (m_throw) m_throw();
      return m_modeResult;
    };
    handlers.runMainWindow = [this] { m_ran.push_back("window"); return m_modeResult; };
    handlers.showRunningWindow = [this] { ++m_shownRunning; };
    StartupServices services;
    services.probeDirectXVersion = [this](std::uint32_t* packed, char* text, std::size_t size) {
      EXPECT_EQ(size, 256u);
      if (text) text[0] = '\0';
      *packed = m_version;
      return m_version != 0;
    };
    services.arbitrateMode = [this](RunMode mode) {
      m_claimed.push_back(mode);
      return m_allow;
    };
    CManagerApp app(std::move(handlers), std::move(services));
    return app.InitInstance(static_cast<int>(args.size()), args.data());
  }

  CRecordingPresenter m_presenter;
  std::uint32_t m_version = 0x90000;
  bool m_allow = true;
  int m_modeResult = kExitOk;
  std::function<void()> m_throw;
  std::vector<std::string> m_ran;
  std::vector<RunMode> m_claimed;
  int m_shownRunning = 0;
};

TEST_F(ManagerAppTest, DispatchesToExactlyOneModeAndTheListWins) {
  EXPECT_EQ(Start({}), kExitOk);
  EXPECT_EQ(Start({"server"}), kExitOk);  // a plain word: main window
  EXPECT_EQ(Start({"-server", "vorn3", "38400"}), kExitOk);
  EXPECT_EQ(Start({"-listdevices", "-server", "A", "9600"}), kExitOk);
  EXPECT_EQ(m_ran, (std::vector<std::string>{"window", "window", "server VORN3 38400", "list"}));
  EXPECT_EQ(m_claimed, (std::vector<RunMode>{RunMode::kMainWindow, RunMode::kMainWindow,
                                             RunMode::kServer, RunMode::kList}));
  EXPECT_TRUE(m_presenter.requests.empty());
}

TEST_F(ManagerAppTest, ModeResultBecomesTheExitStatus) {
  m_modeResult = 7;
  EXPECT_EQ(Start({"-listdevices"}), 7);
}

// A refused window start brings the running window to the front instead.
TEST_F(ManagerAppTest, RefusedClaimRunsNothingAndSaysNothing) {
  m_allow = false;
  EXPECT_EQ(Start({"-server", "x", "9600"}), kExitModeNotAllowed);
  EXPECT_EQ(m_shownRunning, 0);
  EXPECT_EQ(Start({}), kExitModeNotAllowed);
  EXPECT_EQ(m_shownRunning, 1);
  EXPECT_TRUE(m_ran.empty());
  EXPECT_TRUE(m_presenter.requests.empty());
}

TEST_F(ManagerAppTest, DecoderGateStopsEveryModeBeforeTheCommandLineIsRead) {
  for (std::uint32_t version : {0u, 0x8ffffu, 0x80102u}) {
    m_version = version;
    for (auto args : {std::vector<const char*>{}, {"-server", "x", "9600"}, {"-listdevices"}})
      EXPECT_EQ(Start(args), kExitNoDecoder);
  }
  EXPECT_TRUE(m_ran.empty());
  EXPECT_TRUE(m_claimed.empty());
  ASSERT_EQ(m_presenter.requests.size(), 9u);
  const MessageRequest& box = m_presenter.requests[0];
  EXPECT_EQ(box.caption, "DirectX Error");
  EXPECT_EQ(box.icon, MessageIcon::kError);
  EXPECT_EQ(box.buttons, MessageButtons::kOk);
  EXPECT_EQ(box.text,
            "ZOV has detected that DirectX 9.0 or better was not properly installed.\n"
            "Please see the help file or reinstall the software.");

  m_version = 0x90000;  // exactly 9.0 passes
  EXPECT_EQ(Start({}), kExitOk);
}

TEST_F(ManagerAppTest, AFailureEscapingAModeIsShownNotFatal) {
  m_throw = [] { throw CUsbDeviceException("Unable to open VORN3"); };
  EXPECT_EQ(Start({"-server", "vorn3", "9600"}), kExitModeFailed);
  m_throw = [] { throw std::runtime_error("out of something"); };
  EXPECT_EQ(Start({"-server", "vorn3", "9600"}), kExitModeFailed);
  ASSERT_EQ(m_presenter.requests.size(), 2u);
  EXPECT_EQ(m_presenter.requests[0].text, "Unable to open VORN3");
  EXPECT_EQ(m_presenter.requests[0].caption, "VORN3 Manager");
  EXPECT_EQ(m_presenter.requests[1].text, "out of something");
}

TEST_F(ManagerAppTest, AModeMissingFromTheBuildFailsAloud) {
  StartupServices services;
  services.probeDirectXVersion = [](std::uint32_t* packed, char*, std::size_t) {
    *packed = 0x90000;
    return true;
  };
  services.arbitrateMode = [](RunMode) { return true; };
  CManagerApp app(ModeHandlers{}, services);
  const char* argv[] = {"vorn3manager", "-listdevices"};
  testing::internal::CaptureStderr();
  EXPECT_EQ(app.InitInstance(2, argv), kExitModeFailed);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("list mode is not part of this build"),
            std::string::npos);
}

}  // namespace
}  // namespace vorn
