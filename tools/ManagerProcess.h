#pragma once
// Starting vorn3manager from vorn3ctl, the way the show editor starts it.

#include <string>
#include <vector>

#include "platform/ChildProcess.h"

namespace vorn {

// The vorn3manager to start: $VORN3MANAGER when set; else the one beside this
// vorn3ctl, or in the build tree's app/ folder; else "vorn3manager" from PATH.
std::string ManagerExecutable();

// Starts vorn3manager with `args`. Throws std::system_error.
CChildProcess StartManager(const std::vector<std::string>& args);

// "vorn3manager ended (exit status 3) before ..." style texts need the end
// described; this also reaps a child that has just ended.
std::string DescribeManagerEnd(CChildProcess& manager);

}  // namespace vorn
