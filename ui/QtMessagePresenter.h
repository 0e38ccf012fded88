#pragma once
// Shows the core's message boxes as Qt message boxes. A call from a worker
// thread is carried to the user-interface thread and blocks the worker until the
// user has answered; the user-interface thread itself never waits for a worker.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "platform/MessageBox.h"

namespace vorn {

class CQtMessagePresenter final : public QObject, public CMessagePresenter {
  Q_OBJECT

 public:
  // Boxes are owned by `owner` (may be null: boxes without owner window).
  explicit CQtMessagePresenter(QWidget* owner = nullptr);

  void SetOwner(QWidget* owner) { m_owner = owner; }
  MessageAnswer Present(const MessageRequest& request) override;

 private:
  MessageAnswer ShowOnUiThread(const MessageRequest& request);

  QPointer<QWidget> m_owner;
};

// Installs a presenter for the modes without a window (server, list, command
// line): Qt boxes when a display is present, stderr otherwise. The Qt
// application is created on the first box, on the calling (main) thread.
void InstallLazyQtMessageBoxes(int argc, char** argv);

// True when a Qt platform can show windows: a display server accepts a
// connection (a variable that is merely set is not enough), or QT_QPA_PLATFORM
// names a platform that needs none (offscreen, for tests). When it is true and
// QT_QPA_PLATFORM is not set, it is set to the platform found, so the
// application Qt makes next connects where the probe did.
bool HasDisplay();

}  // namespace vorn
