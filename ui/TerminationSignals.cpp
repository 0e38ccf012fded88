#include "ui/TerminationSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <QSocketNotifier>

namespace vorn {
namespace {

int g_writeEnd = -1;  // the pipe the handler writes to; -1 while none is installed

void OnSignal(int) {
  const int saved = errno;
  const char byte = 1;
  // A full pipe holds a request already.
  [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
  errno = saved;
}

}  // namespace

CTerminationSignals::CTerminationSignals(std::function<void()> onRequest) : m_onRequest(std::move(onRequest)) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the default actions stay
  m_read.Reset(ends[0]);
  m_write.Reset(ends[1]);
  g_writeEnd = m_write.Get();
  m_notifier = std::make_unique<QSocketNotifier>(m_read.Get(), QSocketNotifier::Read);
  QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
    char bytes[16];
    while (::read(m_read.Get(), bytes, sizeof bytes) > 0) {
    }
    m_onRequest();
  });
  m_handlers.emplace(std::initializer_list<int>{SIGTERM, SIGINT, SIGHUP}, OnSignal, SA_RESTART);
}

CTerminationSignals::~CTerminationSignals() {
  m_handlers.reset();
  g_writeEnd = -1;
}

}  // namespace vorn
