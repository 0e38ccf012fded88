#include "tools/CommandLine.h"

namespace vorn {
namespace {

const OptionSpec* FindOption(const std::vector<OptionSpec>& options, const std::string& name) {
  for (const OptionSpec& option : options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

}  // namespace

CCommandLine::CCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& options) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || arg == "-") {
      m_positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    if (std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      inlineValue = true;
    }
    const OptionSpec* spec = FindOption(options, name);
    if (!spec) throw CUsageError("unknown option " + name);
    if (spec->value) {
      if (!inlineValue) {
        if (i + 1 >= args.size()) throw CUsageError(name + " needs a value");
        value = args[++i];
      }
    } else if (inlineValue) {
      throw CUsageError(name + " takes no value");
    }
    m_options[name] = value;
  }
}

std::string CCommandLine::Value(const std::string& name, const std::string& fallback) const {
  auto it = m_options.find(name);
  return it == m_options.end() ? fallback : it->second;
}

}  // namespace vorn
