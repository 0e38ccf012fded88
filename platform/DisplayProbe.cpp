#include "platform/DisplayProbe.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/UniqueFd.h"

namespace vorn {
namespace {

// A remote X server that does not answer must not stall start-up.
constexpr int kConnectTimeoutMs = 1000;

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// `abstract`: the Linux abstract namespace (a leading zero byte), where X
// servers also listen.
bool ConnectUnix(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
  CUniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.IsValid()) return false;
  int result;
  do {
    result = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool ConnectTcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool reached = false;
  for (addrinfo* at = found; at && !reached; at = at->ai_next) {
    CUniqueFd fd(::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol));
    if (!fd.IsValid()) continue;
    if (::connect(fd.Get(), at->ai_addr, at->ai_addrlen) == 0) {
      reached = true;
    } else if (errno == EINPROGRESS) {
      pollfd wait{fd.Get(), POLLOUT, 0};
      int error = 0;
      socklen_t size = sizeof error;
      reached = ::poll(&wait, 1, kConnectTimeoutMs) == 1 &&
                ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
  }
  ::freeaddrinfo(found);
  return reached;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool CanReachX11Display(const std::string& display) {
  // [host]:number[.screen]; "unix" or no host is the local socket.
  const std::size_t colon = display.rfind(':');
  if (colon == std::string::npos || colon + 1 >= display.size()) return false;
  const std::string host = display.substr(0, colon);
  const std::string rest = display.substr(colon + 1);
  const std::string number = rest.substr(0, rest.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos || number.size() > 5) {
    return false;
  }
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    return ConnectUnix(path, /*abstract=*/false) || ConnectUnix(path, /*abstract=*/true);
  }
  if (StartsWith(host, "/")) return ConnectUnix(display, false);  // launchd-style socket path
  return ConnectTcp(host, 6000 + std::atoi(number.c_str()));
}

bool CanReachWaylandDisplay(const std::string& display, const std::string& runtimeDir) {
  if (display.empty()) return false;
  if (StartsWith(display, "/")) return ConnectUnix(display, false);
  if (runtimeDir.empty()) return false;
  return ConnectUnix(runtimeDir + "/" + display, false);
}

std::optional<std::string> ReachableDisplayPlatform() {
  const std::string platform = Variable("QT_QPA_PLATFORM");
  const std::string wayland = Variable("WAYLAND_DISPLAY");
  const std::string x11 = Variable("DISPLAY");
  const std::string runtimeDir = Variable("XDG_RUNTIME_DIR");
  if (!platform.empty()) {
    // Platforms that draw without a display server.
    for (const char* serverless : {"offscreen", "minimal", "vnc", "linuxfb", "eglfs"}) {
      if (StartsWith(platform, serverless)) return platform;
    }
    if (StartsWith(platform, "wayland")) {
      if (CanReachWaylandDisplay(wayland.empty() ? "wayland-0" : wayland, runtimeDir)) return platform;
      return std::nullopt;
    }
    if (StartsWith(platform, "xcb")) {
      return CanReachX11Display(x11) ? std::optional<std::string>(platform) : std::nullopt;
    }
    // Anything else (a list, a plugin we do not know) falls back to the servers.
  }
  // X first: Qt's default, and a Wayland desktop runs an X server beside it.
  if (CanReachX11Display(x11)) return "xcb";
  if (!wayland.empty() && CanReachWaylandDisplay(wayland, runtimeDir)) return "wayland";
  return std::nullopt;
}

}  // namespace vorn
