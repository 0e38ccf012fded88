#pragma once
// The arguments of one vorn3ctl command: positional words and --options, parsed
// (with CLI11) against the options the command declares.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorn {

struct OptionSpec {
  const char* name;   // "--size"
  const char* value;  // placeholder of its value ("SIZE"), nullptr for a flag
  const char* help;
};

// A command line that does not fit the command: reported in one line with a
// pointer to --help, exit 2.
class CUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CCommandLine {
 public:
  // Accepts "--name value" and "--name=value"; "--" ends the options; the last
  // of a repeated option wins. Throws CUsageError for anything else.
  CCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& options);

  const std::vector<std::string>& Positional() const { return m_positional; }
  bool Has(const std::string& name) const { return m_options.count(name) != 0; }
  std::string Value(const std::string& name, const std::string& fallback = {}) const;

 private:
  std::vector<std::string> m_positional;
  std::map<std::string, std::string> m_options;
};

// The candidate nearest to `word` by edit distance, or "" when none is near
// enough to be a plausible typo; for "did you mean" hints.
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace vorn
