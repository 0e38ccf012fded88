#include "ui/QtMessagePresenter.h"

#include <QApplication>
#include <QDir>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStyle>
#include <QThread>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/DisplayProbe.h"
#include "ui/UiThread.h"

namespace vorn {
namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation: return QMessageBox::Information;
    case MessageIcon::kWarning: return QMessageBox::Warning;
    case MessageIcon::kError: return QMessageBox::Critical;
    case MessageIcon::kNone: break;
  }
  return QMessageBox::NoIcon;
}

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// A message box sizes itself to its text only; a short text under a long
// caption leaves the caption cut off in the title bar. Room for the caption, the
// title bar's icon and buttons, and the box's margins.
int WidthForCaption(const QMessageBox& box) {
  const QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
  const int caption = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle());
  const int titleBarExtras = 4 * box.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  return caption + titleBarExtras;
}

}  // namespace

CQtMessagePresenter::CQtMessagePresenter(QWidget* owner) : m_owner(owner) {}

MessageAnswer CQtMessagePresenter::ShowOnUiThread(const MessageRequest& request) {
  QMessageBox box(ToQtIcon(request.icon), QString::fromStdString(request.caption),
                  QString::fromStdString(request.text), QMessageBox::NoButton, m_owner.data());
  if (!request.detail.empty()) box.setInformativeText(QString::fromStdString(request.detail));
  if (request.buttons == MessageButtons::kYesNo) {
    // Every question asks before something is lost: Enter and Escape keep it,
    // unless Yes is the safe answer.
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(request.defaultYes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(WidthForCaption(box), 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  const int result = box.exec();
  if (request.buttons == MessageButtons::kOk) return MessageAnswer::kOk;
  return result == QMessageBox::Yes ? MessageAnswer::kYes : MessageAnswer::kNo;
}

MessageAnswer CQtMessagePresenter::Present(const MessageRequest& request) {
  if (QThread::currentThread() == thread()) return ShowOnUiThread(request);
  // A worker waits here for the answer; the user-interface thread keeps
  // running its event loop and serves the box.
  MessageAnswer answer = MessageAnswer::kNo;
  QMetaObject::invokeMethod(
      this, [this, &request, &answer] { answer = ShowOnUiThread(request); },
      Qt::BlockingQueuedConnection);
  return answer;
}

bool HasDisplay() {
  const std::optional<std::string> platform = ReachableDisplayPlatform();
  if (!platform) return false;
  // A reachable server is of no use without the plugin that speaks to it:
  // Qt would abort where we can still say so on stderr.
  const std::string name = platform->substr(0, platform->find(':'));
  if (name == "xcb" || name.rfind("wayland", 0) == 0) {
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    const QString pattern = QStringLiteral("libq%1*").arg(QString::fromStdString(name == "xcb" ? name : "wayland"));
    if (plugins.exists() && plugins.entryList({pattern}, QDir::Files).isEmpty()) return false;
  }
  if (!IsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(*platform));
  return true;
}

namespace {

// Qt boxes for a process that has no window: the application object is made
// on the first box, and only on the main thread, where Qt wants it.
class CLazyQtPresenter final : public CMessagePresenter {
 public:
  CLazyQtPresenter(int argc, char** argv) : m_argc(argc > 0 ? 1 : 0) {
    if (argc > 0) m_argv.push_back(argv[0]);
    m_argv.push_back(nullptr);
  }

  MessageAnswer Present(const MessageRequest& request) override {
    std::lock_guard lock(m_mutex);
    if (!QCoreApplication::instance() && m_mainThread == QThread::currentThread()) {
      m_app = std::make_unique<QApplication>(m_argc, m_argv.data());
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || !IsUiThread()) {
      return ForwardToStderr(request);
    }
    if (!m_qt) m_qt = std::make_unique<CQtMessagePresenter>();
    return m_qt->Present(request);
  }

 private:
  static MessageAnswer ForwardToStderr(const MessageRequest& request) {
    return StderrPresenter().Present(request);
  }

  std::mutex m_mutex;
  QThread* m_mainThread = QThread::currentThread();
  int m_argc;
  std::vector<char*> m_argv;
  std::unique_ptr<QApplication> m_app;
  std::unique_ptr<CQtMessagePresenter> m_qt;
};

}  // namespace

void InstallLazyQtMessageBoxes(int argc, char** argv) {
  if (!HasDisplay()) return;
  static CLazyQtPresenter* presenter = new CLazyQtPresenter(argc, argv);  // lives to the end
  SetMessagePresenter(presenter);
}

}  // namespace vorn
