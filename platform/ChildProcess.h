#pragma once
// Owns one started child process: a child still running when its owner ends is
// killed and reaped, so no caller leaves a stray process behind.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vorn {

class CChildProcess {
 public:
  CChildProcess() = default;
  CChildProcess(CChildProcess&& other) noexcept;
  CChildProcess& operator=(CChildProcess&& other) noexcept;
  CChildProcess(const CChildProcess&) = delete;
  CChildProcess& operator=(const CChildProcess&) = delete;
  ~CChildProcess();

  // Starts argv[0] (a path, or a name looked up in PATH) with its arguments and
  // our environment plus `extraEnvironment` ("NAME=value", these win; a bare
  // "NAME" leaves the variable out). Standard
  // streams are ours, except stderr when `stderrPath` names a file to append
  // to. With `ownProcessGroup` the child leads a process group of its own, so
  // a Ctrl-C at the terminal reaches only us and we can stop it in order.
  // With a `parentDeathSignal` the child gets that signal when we end in any
  // way, SIGKILL included, so it never outlives the process that serves it
  // (strictly, when the starting thread ends: start such children from the
  // thread that lives as long as the process).
  // Throws std::system_error.
  static CChildProcess Start(const std::vector<std::string>& argv,
                             const std::vector<std::string>& extraEnvironment = {},
                             const std::string& stderrPath = {}, bool ownProcessGroup = false,
                             int parentDeathSignal = 0);

  // Reaps the child if it has ended; true once it has.
  bool HasEnded();
  // Waits up to `timeout` for the end; true once it has ended.
  bool WaitFor(std::chrono::milliseconds timeout);
  void Kill();  // SIGKILL and reap

  // After the end: the exit status, or 128 + signal number when it was killed.
  int ExitCode() const { return m_exitCode; }
  // "exit status 3" or "killed by signal 9".
  std::string DescribeEnd() const;
  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid = -1;
  bool m_ended = false;
  int m_status = 0;
  int m_exitCode = -1;
  void Record(int status);
};

}  // namespace vorn
