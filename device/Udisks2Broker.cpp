// udisks2 through sd-bus. Calls: Manager.ResolveDevice to find a device's
// object, Block.OpenDevice for a descriptor, Filesystem.Unmount. Every call
// allows polkit to ask for a password, and waits long enough for a person to
// type one.
#include <fcntl.h>
#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "device/DriveBroker.h"

namespace vorn {
namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kManagerPath = "/org/freedesktop/UDisks2/Manager";
constexpr std::uint64_t kCallTimeoutUsec = 5ull * 60 * 1000 * 1000;  // a password dialog is waiting

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

class CBusError {
 public:
  CBusError() = default;
  ~CBusError() { sd_bus_error_free(&m_error); }
  CBusError(const CBusError&) = delete;
  CBusError& operator=(const CBusError&) = delete;
  sd_bus_error* Get() { return &m_error; }

 private:
  sd_bus_error m_error{};  // SD_BUS_ERROR_NULL: all members empty
};

[[noreturn]] void ThrowFromError(const sd_bus_error& error, int result, const std::string& what) {
  const std::string_view name = error.name ? error.name : "";
  const std::string text = error.message ? error.message : std::strerror(-result);
  // sd-bus connects on the first call: a bus socket that is missing or that no
  // daemon listens on shows here, with no error name.
  if (name.empty() && (result == -ENOENT || result == -ECONNREFUSED || result == -ENOTCONN)) {
    throw CDriveBrokerError(BrokerFailure::kNoBus, "system bus: " + text);
  }
  auto is = [&](const char* suffix) { return name == std::string("org.freedesktop.UDisks2.Error.") + suffix; };
  // udisks2 asks polkit for every call. Without it, udisks2 2.9 refuses with
  // "polkit authority not available", or passes on the bus's words for the
  // missing polkit name: not a refusal by the system's rules.
  if (text.find("polkit authority not available") != std::string::npos ||
      text.find("org.freedesktop.PolicyKit1") != std::string::npos) {
    throw CDriveBrokerError(BrokerFailure::kNoAuthority, text);
  }
  if (is("NotAuthorizedCanObtain")) throw CDriveBrokerError(BrokerFailure::kNoAgent, text);
  if (is("NotAuthorizedDismissed")) throw CDriveBrokerError(BrokerFailure::kDismissed, text);
  if (is("NotAuthorized")) throw CDriveBrokerError(BrokerFailure::kRefused, text);
  if (is("DeviceBusy")) throw CDriveBrokerError(BrokerFailure::kBusy, text);
  // Opening a mounted drive exclusively fails in the kernel with EBUSY, which
  // udisks2 passes on as a generic failure carrying the system's text.
  if (is("Failed") && text.find(std::strerror(EBUSY)) != std::string::npos) {
    throw CDriveBrokerError(BrokerFailure::kBusy, text);
  }
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
      name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
      name.rfind("org.freedesktop.DBus.Error.Spawn", 0) == 0) {
    throw CDriveBrokerError(BrokerFailure::kNoService, text);
  }
  throw CDriveBrokerError(BrokerFailure::kFailed, what + ": " + text);
}

void Check(int result, const char* what) {
  if (result < 0) throw CDriveBrokerError(BrokerFailure::kFailed, std::string(what) + ": " + std::strerror(-result));
}

// The options every call takes: allow polkit to ask the user.
void AppendAuthOptions(sd_bus_message* message, int flags = -1) {
  if (flags >= 0) {
    Check(sd_bus_message_append(message, "a{sv}", 2, "auth.no_user_interaction", "b", 0, "flags", "i", flags),
          "udisks2 request");
  } else {
    Check(sd_bus_message_append(message, "a{sv}", 1, "auth.no_user_interaction", "b", 0), "udisks2 request");
  }
}

class CUdisks2Broker final : public CDriveBroker {
 public:
  CUniqueFd OpenDevice(const std::string& devicePath, bool writable, int flags) override {
    const std::string object = Resolve(devicePath);
    // udisks2 adds the access mode from its first argument and refuses one in
    // the flags.
    flags &= ~O_ACCMODE;
    MessagePtr call = NewCall(object, "org.freedesktop.UDisks2.Block", "OpenDevice");
    Check(sd_bus_message_append(call.get(), "s", writable ? "rw" : "r"), "udisks2 request");
    AppendAuthOptions(call.get(), flags);
    MessagePtr reply = Call(call.get(), "Opening " + devicePath);
    int fd = -1;
    Check(sd_bus_message_read(reply.get(), "h", &fd), "udisks2 reply");
    // The reply owns the descriptor it carries; keep a copy of our own.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) throw CDriveBrokerError(BrokerFailure::kFailed, std::string("dup: ") + std::strerror(errno));
    return CUniqueFd(copy);
  }

  void Unmount(const std::string& devicePath) override {
    const std::string object = Resolve(devicePath);
    MessagePtr call = NewCall(object, "org.freedesktop.UDisks2.Filesystem", "Unmount");
    AppendAuthOptions(call.get());
    // Unmounted meanwhile (by the desktop, or through another of its mounts): done.
    Call(call.get(), "Unmounting " + devicePath, "org.freedesktop.UDisks2.Error.NotMounted");
  }

 private:
  sd_bus* Bus() {
    if (!m_bus) {
      sd_bus* bus = nullptr;
      const int result = sd_bus_open_system(&bus);
      if (result < 0) {
        throw CDriveBrokerError(BrokerFailure::kNoBus, std::string("system bus: ") + std::strerror(-result));
      }
      m_bus.reset(bus);
    }
    return m_bus.get();
  }

  MessagePtr NewCall(const std::string& object, const char* interface, const char* method) {
    sd_bus_message* message = nullptr;
    Check(sd_bus_message_new_method_call(Bus(), &message, kService, object.c_str(), interface, method),
          "udisks2 request");
    MessagePtr owned(message);
    Check(sd_bus_message_set_allow_interactive_authorization(message, 1), "udisks2 request");
    return owned;
  }

  // The reply; none when the call failed with the error named `harmless`.
  MessagePtr Call(sd_bus_message* call, const std::string& what, const char* harmless = nullptr) {
    CBusError error;
    sd_bus_message* reply = nullptr;
    const int result = sd_bus_call(Bus(), call, kCallTimeoutUsec, error.Get(), &reply);
    if (result < 0) {
      if (harmless && sd_bus_error_has_name(error.Get(), harmless)) return nullptr;
      ThrowFromError(*error.Get(), result, what);
    }
    return MessagePtr(reply);
  }

  std::string Resolve(const std::string& devicePath) {
    MessagePtr call = NewCall(kManagerPath, "org.freedesktop.UDisks2.Manager", "ResolveDevice");
    Check(sd_bus_message_append(call.get(), "a{sv}", 1, "path", "s", devicePath.c_str()), "udisks2 request");
    AppendAuthOptions(call.get());
    MessagePtr reply = Call(call.get(), "Looking up " + devicePath);
    Check(sd_bus_message_enter_container(reply.get(), 'a', "o"), "udisks2 reply");
    const char* object = nullptr;
    const int found = sd_bus_message_read(reply.get(), "o", &object);
    Check(found, "udisks2 reply");
    // An unknown device is an empty list, not an error.
    if (found == 0 || object == nullptr) {
      throw CDriveBrokerError(BrokerFailure::kFailed, "udisks2 does not know " + devicePath);
    }
    return object;
  }

  BusPtr m_bus;
};

}  // namespace

std::shared_ptr<CDriveBroker> MakeUdisks2Broker() { return std::make_shared<CUdisks2Broker>(); }

}  // namespace vorn
