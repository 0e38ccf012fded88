#pragma once
// A program run as a child process for tests: its stdout and stderr come back
// through pipes, and it is killed and reaped when the object ends.

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vorn::test {

class CChildProcess {
 public:
  // Runs `program` with `args` (argv[1]..) in our environment changed by
  // `env`: a value sets the variable, std::nullopt removes it. DISPLAY,
  // WAYLAND_DISPLAY and QT_QPA_PLATFORM are removed unless `env` sets them.
  CChildProcess(const std::string& program, const std::vector<std::string>& args,
                const std::map<std::string, std::optional<std::string>>& env);
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;
  ~CChildProcess();

  // The next line on stdout without its newline, or nullopt at end of output
  // or after the time-out.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Waits for the end; the exit status, or 128 + signal number when killed.
  int Wait();
  void Kill(int signal);
  // Everything written on stderr (call after Wait).
  std::string Stderr();
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  int m_stdout = -1;
  int m_stderr = -1;
  std::string m_pending;
  std::optional<int> m_status;
};

}  // namespace vorn::test
