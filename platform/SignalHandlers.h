#pragma once
// A handler for a few signals for as long as this object lives; the previous
// handlers return when it is destroyed. A signal the process was started to
// ignore stays ignored: nohup must keep a session going when its terminal
// closes. (The parameter is `numbers`: Qt takes `signals` for a macro.)

#include <signal.h>

#include <initializer_list>
#include <vector>

namespace vorn {

class CSignalHandlers {
 public:
  CSignalHandlers(std::initializer_list<int> numbers, void (*handler)(int), int flags);
  ~CSignalHandlers();
  CSignalHandlers(const CSignalHandlers&) = delete;
  CSignalHandlers& operator=(const CSignalHandlers&) = delete;

 private:
  struct Previous {
    int signal;
    struct sigaction action;
  };
  std::vector<Previous> m_previous;
};

}  // namespace vorn
