#include "ui/RunningWindow.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <QSocketNotifier>
#include <QWidget>

#include "platform/RuntimeDirectory.h"

namespace vorn {
namespace {

constexpr const char* kWindowSocketName = "VORN3MANAGER_WINDOW";

// False when the path does not fit an AF_UNIX address.
bool AddressOf(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

std::string RunningWindowSocketPath() {
  std::string why;
  if (!OpenRuntimeDirectory(&why).IsValid()) return {};
  return RuntimeDirectoryPath(std::getenv("XDG_RUNTIME_DIR"), "/tmp") + "/" + kWindowSocketName;
}

CRunningWindowBeacon::CRunningWindowBeacon(const std::string& path, std::function<void()> onKnock)
    : m_path(path), m_onKnock(std::move(onKnock)) {
  sockaddr_un address;
  if (!AddressOf(path, address)) return;
  CUniqueFd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener.IsValid()) return;
  ::unlink(path.c_str());
  if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.Get(), 4) != 0) {
    return;
  }
  m_listener = std::move(listener);
  m_notifier = std::make_unique<QSocketNotifier>(m_listener.Get(), QSocketNotifier::Read);
  QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
    bool knocked = false;
    // The knock is the connection itself; nothing is read from it.
    while (CUniqueFd(::accept4(m_listener.Get(), nullptr, nullptr, SOCK_CLOEXEC)).IsValid()) knocked = true;
    if (knocked && m_onKnock) m_onKnock();
  });
}

CRunningWindowBeacon::~CRunningWindowBeacon() {
  m_notifier.reset();
  if (m_listener.IsValid()) ::unlink(m_path.c_str());
}

bool KnockOnRunningWindow(const std::string& path) {
  sockaddr_un address;
  if (!AddressOf(path, address)) return false;
  const CUniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return socket.IsValid() &&
         ::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void BringToFront(QWidget* window) {
  window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window->show();
  window->raise();
  window->activateWindow();
}

}  // namespace vorn
