#pragma once
// A second start of the window while one runs: the run-mode claim refuses it
// (one window per login), and without more the user who double-clicked the
// icon sees nothing happen. The running window listens on a socket in the
// per-user run-time directory; the refused start knocks on it and the running
// window comes to the front.

#include <functional>
#include <memory>
#include <string>

#include <QObject>

#include "platform/UniqueFd.h"

class QSocketNotifier;

namespace vorn {

// Where the running window listens: "VORN3MANAGER_WINDOW" in the run-time
// directory; empty when that directory cannot be had.
std::string RunningWindowSocketPath();

class CRunningWindowBeacon final : public QObject {
 public:
  // Listens at `path` (a socket left by a window that died is replaced: only
  // the instance holding the window claim gets here); `onKnock` runs on the
  // user-interface thread for each knock. Listens nowhere when it cannot.
  CRunningWindowBeacon(const std::string& path, std::function<void()> onKnock);
  ~CRunningWindowBeacon() override;
  CRunningWindowBeacon(const CRunningWindowBeacon&) = delete;
  CRunningWindowBeacon& operator=(const CRunningWindowBeacon&) = delete;

 private:
  std::string m_path;
  std::function<void()> m_onKnock;
  CUniqueFd m_listener;
  std::unique_ptr<QSocketNotifier> m_notifier;
};

// Knocks at `path`; false when no window listens there.
bool KnockOnRunningWindow(const std::string& path);

// Shows `window` in front: restored from the taskbar, raised and active.
void BringToFront(QWidget* window);

}  // namespace vorn
