#include "platform/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace vorn {
namespace {

// The program posix_spawnp would run: argv[0] itself when it names a path,
// else the first executable of that name along PATH.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  const std::string_view folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = std::min(folders.find(':', begin), folders.size());
    std::string folder(folders.substr(begin, end - begin));
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == folders.size()) break;
    begin = end + 1;
  }
  throw std::system_error(ENOENT, std::generic_category(), "cannot start " + program);
}

// fork and exec by hand, for what posix_spawn cannot do: ask the kernel for a
// signal when the parent ends. Only async-signal-safe calls run in the child;
// an exec failure travels back through a close-on-exec pipe.
pid_t ForkWithDeathSignal(const std::string& program, char* const* args, char* const* environment,
                          const std::string& stderrPath, bool ownProcessGroup, int signal) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot start " + program);
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    throw std::system_error(error, std::generic_category(), "cannot start " + program);
  }
  if (pid == 0) {
    ::close(report[0]);
    int error = 0;
    if (ownProcessGroup && ::setpgid(0, 0) != 0) error = errno;
    if (error == 0 && !stderrPath.empty()) {
      const int fd = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0) error = errno;
      if (fd > STDERR_FILENO) ::close(fd);
    }
    // Our handler for the signal (a client catching SIGTERM to stop in order)
    // must not swallow it in the child before exec replaces the handler.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigaction(signal, &byDefault, nullptr);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    if (error == 0 && ::prctl(PR_SET_PDEATHSIG, signal) != 0) error = errno;
    // The parent may have ended before the request took effect: then the
    // signal will never come, so take it now.
    if (error == 0 && ::getppid() != parent) ::raise(signal);
    if (error == 0) {
      ::execve(program.c_str(), args, environment);
      error = errno;
    }
    while (::write(report[1], &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
  }
  ::close(report[1]);
  int error = 0;
  ssize_t got;
  do {
    got = ::read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    throw std::system_error(error, std::generic_category(), "cannot start " + program);
  }
  return pid;
}

}  // namespace

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
                                  const std::string& stderrPath, bool ownProcessGroup,
                                  int parentDeathSignal) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  std::vector<char*> environment;
  for (const std::string& entry : extraEnvironment) {
    // A bare NAME only removes the variable.
    if (entry.find('=') != std::string::npos) environment.push_back(const_cast<char*>(entry.c_str()));
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

  if (parentDeathSignal != 0) {
    CChildProcess child;
    child.m_pid = ForkWithDeathSignal(ResolveProgram(argv[0]), args.data(), environment.data(),
                                      stderrPath, ownProcessGroup, parentDeathSignal);
    return child;
  }

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
