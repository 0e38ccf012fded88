#pragma once
// What the POSIX back end keeps behind CSharedBlock and CNamedEvent.

#include <string>

#include "platform/Mapping.h"
#include "platform/NamedEvent.h"
#include "platform/SharedBlock.h"
#include "platform/UniqueFd.h"
#include "platform/posix/ShmNameOwner.h"

namespace vorn {

struct CSharedBlock::Impl {
  CShmNameOwner owner;  // declared first: the name goes last
  CUniqueFd fd;         // kept to ask for the object's size before each read
  CMapping mapping;
  std::string failure;
  bool missing = false;
};

struct CNamedEvent::Impl {
  CShmNameOwner owner;
  CUniqueFd fd;
  CMapping mapping;
  std::string failure;

  std::uint32_t* StateWord() const {
    // The mapping is page-aligned, so the word at offset 0 is aligned for atomics.
    return reinterpret_cast<std::uint32_t*>(mapping.Data());
  }
  bool IsIntact() const;
  bool IsManualReset() const;
  // Takes the signal if there is one: a manual-reset event stays set, an
  // auto-reset one is cleared by this very call (and by no other waiter).
  bool TryConsume();
};

}  // namespace vorn
