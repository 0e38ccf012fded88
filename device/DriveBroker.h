#pragma once
// A system service that opens drives on a user's behalf (udisks2): the user
// needs neither root nor the "disk" group, polkit asks for a password when the
// system's rules want one, and the service hands over an open descriptor. It
// also unmounts the filesystems a desktop mounted on a card.

#include <memory>
#include <string>

#include "platform/Error.h"
#include "platform/UniqueFd.h"

namespace vorn {

// Why the service did not do what was asked.
enum class BrokerFailure {
  kRefused,    // the system's rules do not allow it for this user
  kNoAgent,    // allowed with an administrator's password, but nothing can ask for it
  kDismissed,  // the password dialog was cancelled
  kBusy,       // files are open on the filesystem, or someone else holds the drive
  kNoBus,        // there is no system bus to ask on
  kNoService,    // the service is not installed or not running
  kNoAuthority,  // the service runs, but the authorization service (polkit) does not
  kFailed,     // anything else; the service's own words are in the message
};

class CDriveBrokerError : public CVornError {
 public:
  CDriveBrokerError(BrokerFailure kind, const std::string& detail) : CVornError(detail), m_kind(kind) {}
  BrokerFailure Kind() const { return m_kind; }

 private:
  BrokerFailure m_kind;
};

class CDriveBroker {
 public:
  virtual ~CDriveBroker() = default;
  // An open descriptor of the whole drive `devicePath` (/dev/sdb), for reading
  // only or for reading and writing (`writable`), opened with the extra open(2)
  // `flags` (O_EXCL, O_DSYNC, ...). The service may not honour every flag; the
  // caller checks what it got. Throws CDriveBrokerError. May wait minutes for a
  // password dialog.
  virtual CUniqueFd OpenDevice(const std::string& devicePath, bool writable, int flags) = 0;
  // Unmounts the filesystem on `devicePath` (/dev/sdb1); one that is not
  // mounted counts as done. Throws CDriveBrokerError.
  virtual void Unmount(const std::string& devicePath) = 0;
};

// udisks2 on the system bus ($DBUS_SYSTEM_BUS_ADDRESS when set). The bus is
// reached on the first call, so making one costs nothing.
std::shared_ptr<CDriveBroker> MakeUdisks2Broker();

}  // namespace vorn
