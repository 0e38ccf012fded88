#include "platform/SignalHandlers.h"

namespace vorn {

CSignalHandlers::CSignalHandlers(std::initializer_list<int> numbers, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  for (const int signal : numbers) {
    Previous previous{signal, {}};
    ::sigaction(signal, nullptr, &previous.action);
    if (previous.action.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
    m_previous.push_back(previous);
  }
}

CSignalHandlers::~CSignalHandlers() {
  for (const Previous& previous : m_previous) ::sigaction(previous.signal, &previous.action, nullptr);
}

}  // namespace vorn
