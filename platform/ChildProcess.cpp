#include "platform/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
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

CChildProcess CChildProcess::Start(const std::vector<std::string>& argv,
                                  const std::vector<std::string>& extraEnvironment,
                                  const std::string& stderrPath, bool ownProcessGroup) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  std::vector<char*> environment;
  for (const std::string& entry : extraEnvironment) {
    environment.push_back(const_cast<char*>(entry.c_str()));
  }
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    const bool overridden = std::any_of(
        extraEnvironment.begin(), extraEnvironment.end(), [name](const std::string& extra) {
          return std::string_view(extra).substr(0, extra.find('=')) == name;
        });
    if (!overridden) environment.push_back(*entry);
  }
  environment.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (!stderrPath.empty()) {
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                       O_WRONLY | O_CREAT | O_APPEND, 0600);
  }
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  if (ownProcessGroup) {
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    ::posix_spawnattr_setpgroup(&attributes, 0);
  }
  CChildProcess child;
  const int rc = ::posix_spawnp(&child.m_pid, args[0], &actions, &attributes, args.data(),
                                environment.data());
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
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
