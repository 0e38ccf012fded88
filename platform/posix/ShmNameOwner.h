#pragma once
// The creator's hold on a shared-memory name: removes the name when it ends, so
// the objects a client created vanish with it (as named objects of a session
// do when their creator closes them). Openers keep their mappings regardless.

#include <string>
#include <utility>

namespace vorn {

class CShmNameOwner {
 public:
  CShmNameOwner() = default;
  explicit CShmNameOwner(std::string name) : m_name(std::move(name)) {}
  CShmNameOwner(CShmNameOwner&& other) noexcept : m_name(std::exchange(other.m_name, {})) {}
  CShmNameOwner& operator=(CShmNameOwner&& other) noexcept {
    if (this != &other) {
      Reset();
      m_name = std::exchange(other.m_name, {});
    }
    return *this;
  }
  CShmNameOwner(const CShmNameOwner&) = delete;
  CShmNameOwner& operator=(const CShmNameOwner&) = delete;
  ~CShmNameOwner() { Reset(); }

  void Reset();
  const std::string& Name() const { return m_name; }

 private:
  std::string m_name;  // empty: owns nothing
};

}  // namespace vorn
