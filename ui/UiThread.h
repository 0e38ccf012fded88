#pragma once
// Running a piece of work on the user-interface thread from any thread.

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <utility>

namespace vorn {

inline bool IsUiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

// Runs `work` in the thread of `context`: at once when already there, else queued
// (the caller goes on; the work is dropped if `context` is destroyed first).
template <class Work>
void PostToUi(QObject* context, Work&& work) {
  if (QThread::currentThread() == context->thread()) {
    work();
  } else {
    QMetaObject::invokeMethod(context, std::forward<Work>(work), Qt::QueuedConnection);
  }
}

}  // namespace vorn
