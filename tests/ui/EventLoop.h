#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

namespace vorn::test {

// Runs the event loop until `done` holds or `timeoutMs` passes; returns `done()`.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done();
}

}  // namespace vorn::test
