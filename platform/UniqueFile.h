#pragma once
// Owns one stdio stream; closes it on every path.

#include <cstdio>
#include <memory>

namespace vorn {

struct StdioFileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};

using CUniqueFile = std::unique_ptr<std::FILE, StdioFileCloser>;

}  // namespace vorn
