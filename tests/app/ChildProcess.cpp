#include "tests/app/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace vorn::test {

CChildProcess::CChildProcess(const std::string& program, const std::vector<std::string>& args,
                             const std::map<std::string, std::optional<std::string>>& env) {
  // Everything the child needs is built before fork: only async-signal-safe
  // calls happen between fork and exec.
  // Children run headless, whatever display the developer's shell has, unless
  // the test gives them one.
  std::map<std::string, std::optional<std::string>> changes{
      {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}};
  for (const auto& [name, value] : env) changes[name] = value;
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    if (!changes.count(entry.substr(0, entry.find('=')))) envStrings.push_back(entry);
  }
  for (const auto& [name, value] : changes)
    if (value) envStrings.push_back(name + "=" + *value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  m_pid = ::fork();
  if (m_pid < 0) throw std::runtime_error("fork failed");
  if (m_pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  m_stdout = out[0];
  m_stderr = err[0];
}

CChildProcess::~CChildProcess() {
  if (!m_status) {
    Kill(SIGKILL);
    Wait();
  }
  ::close(m_stdout);
  ::close(m_stderr);
}

std::optional<std::string> CChildProcess::ReadLine(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto newline = m_pending.find('\n');
    if (newline != std::string::npos) {
      std::string line = m_pending.substr(0, newline);
      m_pending.erase(0, newline + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{m_stdout, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char buffer[256];
    ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    m_pending.append(buffer, static_cast<std::size_t>(n));
  }
}

int CChildProcess::Wait() {
  if (m_status) return *m_status;
  int status = 0;
  while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return *m_status;
}

void CChildProcess::Kill(int signal) {
  if (!m_status) ::kill(m_pid, signal);
}

std::string CChildProcess::Stderr() {
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(m_stderr, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

}  // namespace vorn::test
