#pragma once
// A named shared block: the POSIX shared-memory object "/NAME", mapped whole
// (its size taken from fstat). The server and list modes open blocks that the
// show editor created; the editor's side (our client) creates them.
// The byte-level contract is in docs/named-objects.md.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Mapping.h"
#include "platform/ShmNameOwner.h"
#include "platform/UniqueFd.h"

namespace vorn {

class CSharedBlock {
 public:
  CSharedBlock() = default;

  // Opens an existing, trusted block (see platform/ShmObject.h). False when it is
  // missing or untrusted; Failure() tells why.
  bool Open(const std::string& name);
  // Maps the whole opened block read/write. False when it cannot (an empty
  // object included); Failure() tells why.
  bool Map();
  // Creates a new zero-filled block of `size` bytes, mode 0600, maps it and
  // removes its name again when this object ends. Throws std::system_error.
  void Create(const std::string& name, std::size_t size);

  void Unmap() { m_mapping.Reset(); }
  void Close();  // unmaps, closes, and removes the name if we created it

  std::uint8_t* Data() const { return m_mapping.Data(); }
  std::size_t Size() const { return m_mapping.Size(); }
  bool IsOpen() const { return m_fd.IsValid(); }
  const std::string& Failure() const { return m_failure; }
  // After a failed Open: there is no object at all under the name (as opposed
  // to one we refuse to trust).
  bool IsMissing() const { return m_missing; }

 private:
  CShmNameOwner m_owner;  // declared first: the name goes last
  CUniqueFd m_fd;
  CMapping m_mapping;
  std::string m_failure;
  bool m_missing = false;
};

}  // namespace vorn
