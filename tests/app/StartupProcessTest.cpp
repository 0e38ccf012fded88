// Instances as real processes: each child runs the real start-up and, when it
// may run its mode, announces it and holds its claim until killed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "tests/app/ChildProcess.h"

namespace vorn {
namespace {

namespace fs = std::filesystem;
using test::CChildProcess;

const std::vector<std::string> kServerArgs{"-server", "vorn1", "9600"};
const std::vector<std::string> kListArgs{"-listdevices"};
const std::vector<std::string> kWindowArgs{};

class StartupProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vorn-startup-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_runtimeDir = pattern;
  }
  void TearDown() override {
    m_holders.clear();
    fs::remove_all(m_runtimeDir);
  }

  std::unique_ptr<CChildProcess> Spawn(const std::string& program,
                                       const std::vector<std::string>& args,
                                       bool forceNoDecoder = false,
                                       std::map<std::string, std::optional<std::string>> extra = {}) {
    std::map<std::string, std::optional<std::string>> env = std::move(extra);
    env.insert({{"XDG_RUNTIME_DIR", m_runtimeDir},
                {"VORN_TEST_FORCE_NO_DECODER",
                 forceNoDecoder ? std::optional<std::string>("1") : std::nullopt}});
    return std::make_unique<CChildProcess>(program, args, env);
  }

  // Starts an instance. When it runs its mode it is kept (holding its claim)
  // and its announcement returned; otherwise "" and its exit status in *status.
  std::string Start(const std::vector<std::string>& args, int* status = nullptr,
                    std::string* errors = nullptr) {
    auto child = Spawn(VORN_STARTUP_HOLDER, args);
    if (auto line = child->ReadLine()) {
      m_holders.push_back(std::move(child));
      return *line;
    }
    int code = child->Wait();
    if (status) *status = code;
    if (errors) *errors = child->Stderr();
    return "";
  }
  bool Runs(const std::vector<std::string>& args) { return !Start(args).empty(); }

  void KillHolder(std::size_t index, int signal = SIGKILL) {
    m_holders[index]->Kill(signal);
    m_holders[index]->Wait();
  }

  std::string m_runtimeDir;
  std::vector<std::unique_ptr<CChildProcess>> m_holders;
};

TEST_F(StartupProcessTest, WhatMayStartBesideWhatIsRunning) {
  struct Row {
    const char* running;
    const std::vector<std::string>* first;
    bool server, list, window;
  };
  const Row rows[] = {
      {"nothing", nullptr, true, true, true},
      {"server", &kServerArgs, true, false, false},
      {"list", &kListArgs, false, false, false},
      {"main window", &kWindowArgs, false, false, false},
  };
  for (const Row& row : rows) {
    const std::pair<const std::vector<std::string>*, bool> columns[] = {
        {&kServerArgs, row.server}, {&kListArgs, row.list}, {&kWindowArgs, row.window}};
    for (const auto& [args, allowed] : columns) {
      if (row.first) {
        ASSERT_TRUE(Runs(*row.first)) << row.running;
      }
      EXPECT_EQ(Runs(*args), allowed) << "beside " << row.running << ": "
                                      << (args->empty() ? "main window" : (*args)[0]);
      m_holders.clear();  // kills and reaps: the next cell starts from nothing
    }
  }
}

TEST_F(StartupProcessTest, SecondMainWindowEndsSilently) {
  EXPECT_EQ(Start({}), "RUNNING mainwindow");
  int status = -1;
  std::string errors = "unset";
  EXPECT_EQ(Start({}, &status, &errors), "");
  EXPECT_EQ(status, 3);
  EXPECT_EQ(errors, "");
}

TEST_F(StartupProcessTest, ServersRunSideBySideAndKeepTheirClaimAfterTheFirstEnds) {
  EXPECT_EQ(Start({"-server", "vorn1", "9600"}), "RUNNING server VORN1 9600");
  EXPECT_EQ(Start({"/SERVER", "Vorn2", "250000"}), "RUNNING server VORN2 250000");
  EXPECT_FALSE(Runs(kListArgs));

  // The creator ends; the second server still holds the block, which still
  // says "server".
  KillHolder(0, SIGTERM);
  EXPECT_FALSE(Runs(kWindowArgs));
  EXPECT_TRUE(Runs({"-server", "vorn3", "38400"}));

  m_holders.clear();
  EXPECT_TRUE(Runs(kWindowArgs));
}

TEST_F(StartupProcessTest, ListFlagWinsOverServerFlag) {
  EXPECT_EQ(Start({"-listdevices", "-server", "A", "9600"}), "RUNNING list");
  EXPECT_FALSE(Runs(kServerArgs));
}

TEST_F(StartupProcessTest, AKilledInstanceLeavesNoStaleBlock) {
  for (const auto* args : {&kWindowArgs, &kListArgs, &kServerArgs}) {
    ASSERT_TRUE(Runs(*args));
    KillHolder(m_holders.size() - 1, SIGKILL);
    // A main window now may start: nobody holds the block any more.
    EXPECT_TRUE(Runs(kWindowArgs));
    m_holders.clear();
  }
}

TEST_F(StartupProcessTest, OfManyWindowsStartedAtOnceExactlyOneRuns) {
  std::vector<std::unique_ptr<CChildProcess>> starting;
  for (int i = 0; i < 6; ++i) starting.push_back(Spawn(VORN_STARTUP_HOLDER, kWindowArgs));
  int running = 0, refused = 0;
  for (auto& child : starting) {
    if (child->ReadLine())
      ++running;
    else if (child->Wait() == 3)
      ++refused;
  }
  EXPECT_EQ(running, 1);
  EXPECT_EQ(refused, 5);

  // Servers started at once all run.
  starting.clear();
  for (int i = 0; i < 6; ++i) starting.push_back(Spawn(VORN_STARTUP_HOLDER, kServerArgs));
  running = 0;
  for (auto& child : starting)
    if (child->ReadLine()) ++running;
  EXPECT_EQ(running, 6);
}

TEST_F(StartupProcessTest, ManagerRefusedBesideAWindowExitsSilently) {
  ASSERT_TRUE(Runs(kWindowArgs));
  for (const auto* args : {&kServerArgs, &kListArgs, &kWindowArgs}) {
    auto manager = Spawn(VORN3MANAGER_EXE, *args);
    EXPECT_EQ(manager->Wait(), 3);
    EXPECT_EQ(manager->Stderr(), "");
  }
}

TEST_F(StartupProcessTest, ManagerWithoutDecodersShowsTheDirectXBoxForEveryMode) {
  // Without a display, and with display variables that name no server that
  // answers: the box goes to stderr, never into a toolkit that aborts.
  const std::map<std::string, std::optional<std::string>> unreachable{
      {"DISPLAY", ":64999"}, {"WAYLAND_DISPLAY", "wayland-none"}};
  for (const auto& display : {std::map<std::string, std::optional<std::string>>{}, unreachable}) {
    for (const auto* args : {&kServerArgs, &kListArgs, &kWindowArgs}) {
      auto manager = Spawn(VORN3MANAGER_EXE, *args, /*forceNoDecoder=*/true, display);
      EXPECT_EQ(manager->Wait(), 2);
      EXPECT_EQ(manager->Stderr(),
                "DirectX Error: ZOV has detected that DirectX 9.0 or better was not properly "
                "installed.\nPlease see the help file or reinstall the software.\n");
    }
  }
  // No mode was claimed: the run-time directory was never touched.
  EXPECT_FALSE(fs::exists(m_runtimeDir + "/vorn3manager"));
}

TEST_F(StartupProcessTest, HelpAndVersionPrintAndEndBeforeAnyCheckOrClaim) {
  ASSERT_TRUE(Runs(kWindowArgs));  // a running window forbids every mode, not these
  for (const auto& [args, first] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--help"}, "Usage: vorn3manager [-server UNIT BAUD | -listdevices]"},
           {{"/-HELP"}, "Usage: vorn3manager [-server UNIT BAUD | -listdevices]"},
           {{"-listdevices", "--version"}, "vorn3manager "}}) {
    auto manager = Spawn(VORN3MANAGER_EXE, args, /*forceNoDecoder=*/true);
    EXPECT_EQ(manager->ReadLine().value_or("").rfind(first, 0), 0u) << args.front();
    EXPECT_EQ(manager->Wait(), 0);
    EXPECT_EQ(manager->Stderr(), "");
  }
  // In the unit name's place it is the name (refused here beside the window).
  EXPECT_EQ(Spawn(VORN3MANAGER_EXE, {"-server", "--help", "9600"})->Wait(), 3);
}

TEST_F(StartupProcessTest, ManagerRefusesARunTimeDirectoryOwnedBySomeoneElse) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a directory owned by another user";
  const std::string dir = m_runtimeDir + "/vorn3manager";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
  auto manager = Spawn(VORN3MANAGER_EXE, kWindowArgs);
  EXPECT_EQ(manager->Wait(), 3);
  EXPECT_NE(manager->Stderr().find("VORN3 Manager: Unable to get VORN3MANAGER_STARTUPMUTEX"),
            std::string::npos);
}

}  // namespace
}  // namespace vorn
