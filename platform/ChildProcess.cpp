#include "platform/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace vorn {

CChildProcess::CChildProcess(CChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)),
      m_ended(other.m_ended),
      m_status(other.m_status),
      m_exitCode(other.m_exitCode) {}

CChildProcess& CChildProcess::operator=(CChildProcess&& other) noexcept {
  if (this != &other) {
    Kill();
    m_pid = std::exchange(other.m_pid, -1);
    m_ended = other.m_ended;
    m_status = other.m_status;
    m_exitCode = other.m_exitCode;
  }
  return *this;
}

CChildProcess::~CChildProcess() { Kill(); }

CChildProcess CChildProcess::Start(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  CChildProcess child;
  const int rc = ::posix_spawnp(&child.m_pid, args[0], nullptr, nullptr, args.data(), environ);
  if (rc != 0) {
    child.m_pid = -1;
    throw std::system_error(rc, std::generic_category(), "cannot start " + argv[0]);
  }
  return child;
}

void CChildProcess::Record(int status) {
  m_ended = true;
  m_status = status;
  m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool CChildProcess::HasEnded() {
  if (m_pid < 0 || m_ended) return true;
  int status = 0;
  const pid_t rc = ::waitpid(m_pid, &status, WNOHANG);
  if (rc == m_pid) Record(status);
  return m_ended;
}

bool CChildProcess::WaitFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!HasEnded()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void CChildProcess::Kill() {
  if (m_pid < 0 || m_ended) return;
  ::kill(m_pid, SIGKILL);
  int status = 0;
  while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  Record(status);
}

std::string CChildProcess::DescribeEnd() const {
  if (!m_ended) return "still running";
  if (WIFEXITED(m_status)) return "exit status " + std::to_string(WEXITSTATUS(m_status));
  return "killed by signal " + std::to_string(WTERMSIG(m_status));
}

}  // namespace vorn
