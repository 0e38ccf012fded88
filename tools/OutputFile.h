#pragma once
// How vorn3ctl's commands name the file they write: the output may not be one
// of the files the command reads, and an existing file is replaced only with
// --force (on a terminal the user is asked instead).

#include <string>
#include <vector>

#include "disk/OutputFile.h"

namespace vorn {

// The --force option of every command that writes a file.
inline constexpr const char* kForceOption = "--force";

// Refuses (CUsageError) when `output` and one of `inputs` are the same file.
void RefuseSameFile(const std::string& output, const std::vector<std::string>& inputs);

// The output file of a command; usage errors are CUsageError, the rest as
// COutputFile throws them.
COutputFile OpenOutputFile(const std::string& path, const std::vector<std::string>& inputs, bool force);

}  // namespace vorn
