// One QApplication for a whole test program, on the offscreen platform unless
// the caller chose another (a real display, to watch the tests).
#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

namespace {

class CQtEnvironment final : public testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
  }
  void TearDown() override { m_app.reset(); }

 private:
  int m_argc = 1;
  char m_name[16] = "vorn-ui-tests";
  char* m_argv[2] = {m_name, nullptr};
  std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] testing::Environment* const g_qt =
    testing::AddGlobalTestEnvironment(new CQtEnvironment);

}  // namespace

// Under LeakSanitizer: font and platform caches that Qt's libraries keep for the
// life of the process are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n"
         "leak:libfreetype\n"
         "leak:libglib\n"
         "leak:libdbus\n"
         "leak:libQt6Gui\n"
         "leak:libQt6XcbQpa\n";
}
