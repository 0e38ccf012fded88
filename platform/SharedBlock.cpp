#include "platform/SharedBlock.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/ShmObject.h"

namespace vorn {

bool CSharedBlock::Open(const std::string& name) {
  Close();
  m_fd = OpenTrustedShm(name, m_failure, m_missing);
  return m_fd.IsValid();
}

bool CSharedBlock::Map() {
  const long long size = ShmSize(m_fd.Get());
  if (size <= 0) {
    m_failure = size == 0 ? "the shared block is empty" : std::strerror(errno);
    return false;
  }
  if (!m_mapping.Map(m_fd.Get(), static_cast<std::size_t>(size))) {
    m_failure = std::strerror(errno);
    return false;
  }
  return true;
}

void CSharedBlock::Create(const std::string& name, std::size_t size) {
  Close();
  CUniqueFd fd = CreateExclusiveShm(name, size);
  CShmNameOwner owner(name);
  CMapping mapping;
  if (!mapping.Map(fd.Get(), size)) {
    throw std::system_error(errno, std::generic_category(), "cannot map " + ShmPath(name));
  }
  m_owner = std::move(owner);
  m_fd = std::move(fd);
  m_mapping = std::move(mapping);
}

void CSharedBlock::Close() {
  m_mapping.Reset();
  m_fd.Reset();
  m_owner.Reset();
}

}  // namespace vorn
