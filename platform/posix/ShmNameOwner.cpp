#include "platform/posix/ShmNameOwner.h"

#include <sys/mman.h>

#include "platform/posix/ShmObject.h"

namespace vorn {

void CShmNameOwner::Reset() {
  if (!m_name.empty()) ::shm_unlink(ShmPath(m_name).c_str());
  m_name.clear();
}

}  // namespace vorn
