#pragma once
// The status field of the window as the core's CStatusText. Writes from a worker
// thread are queued to the user-interface thread, so the worker never waits for it.

#include <QLineEdit>
#include <QPointer>

#include "platform/StatusText.h"

namespace vorn {

class CQtStatusText final : public CStatusText {
 public:
  explicit CQtStatusText(QLineEdit* field) : m_field(field) {}
  void SetText(const std::string& text) override;

 private:
  QPointer<QLineEdit> m_field;
};

}  // namespace vorn
