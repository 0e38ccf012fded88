#include "tools/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <limits>

namespace vorn {
namespace {

// An option may have a short name before its long one: "-o,--output".
std::string LongName(const char* names) {
  const std::string all(names);
  return all.substr(all.rfind(',') + 1);
}

bool IsDeclared(const std::vector<OptionSpec>& options, const std::string& name) {
  return std::any_of(options.begin(), options.end(), [&](const OptionSpec& option) {
    const std::string all = std::string(",") + option.name + ",";
    return all.find("," + name + ",") != std::string::npos;
  });
}

// The first word that looks like an option and is not one of ours, before "--".
std::string FirstUnknownOption(const std::vector<std::string>& args, const std::vector<OptionSpec>& options) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg.size() < 2 || arg[0] != '-') continue;
    const std::string name = arg.substr(0, arg.find('='));
    if (!IsDeclared(options, name)) return name;
  }
  return {};
}

// CLI11's texts name the library's view of things; these name the user's.
std::string DescribeParseError(const CLI::ParseError& error, const std::vector<std::string>& args,
                               const std::vector<OptionSpec>& options) {
  const std::string what = error.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    const std::string unknown = FirstUnknownOption(args, options);
    if (!unknown.empty()) {
      std::vector<std::string> names;
      for (const OptionSpec& option : options) names.emplace_back(option.name);
      names.emplace_back("--help");
      const std::string nearest = NearestWord(unknown, names);
      return "unrecognized option '" + unknown + "'" +
             (nearest.empty() ? std::string() : "; did you mean '" + nearest + "'?");
    }
  }
  if (what.find("flag override") != std::string::npos) {
    return "option '--" + what.substr(0, what.find(' ')) + "' takes no value";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && what.rfind("--", 0) == 0) {
    return "option '" + what.substr(0, what.find(':')) + "' needs a value";
  }
  return what;
}

}  // namespace

CCommandLine::CCommandLine(const std::vector<std::string>& args, const std::vector<OptionSpec>& options) {
  CLI::App app;
  app.set_help_flag();  // --help is answered before a command line is parsed
  app.add_option("words", m_positional)->expected(0, std::numeric_limits<int>::max());
  for (const OptionSpec& option : options) {
    if (option.value) {
      app.add_option(option.name)
          ->description(option.help)
          ->type_name(option.value)
          ->allow_extra_args(false)
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    } else {
      app.add_flag(option.name)->description(option.help)->disable_flag_override();
    }
  }
  // CLI11 takes the words in reverse order.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    throw CUsageError(DescribeParseError(error, args, options));
  }
  for (const OptionSpec& option : options) {
    const CLI::Option* parsed = app.get_option(LongName(option.name));
    if (parsed->count() == 0) continue;
    m_options[LongName(option.name)] = option.value ? parsed->results().back() : std::string();
  }
}

std::string CCommandLine::Value(const std::string& name, const std::string& fallback) const {
  auto it = m_options.find(name);
  return it == m_options.end() ? fallback : it->second;
}

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t bestDistance = std::numeric_limits<std::size_t>::max();
  for (const std::string& candidate : candidates) {
    // Edit distance where swapping two neighbours counts as one edit ("lsit").
    const std::size_t n = word.size(), m = candidate.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
      for (std::size_t j = 1; j <= m; ++j) {
        d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                            d[i - 1][j - 1] + (word[i - 1] == candidate[j - 1] ? 0 : 1)});
        if (i > 1 && j > 1 && word[i - 1] == candidate[j - 2] && word[i - 2] == candidate[j - 1]) {
          d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
      }
    }
    if (d[n][m] < bestDistance) {
      bestDistance = d[n][m];
      best = candidate;
    }
  }
  // A third of the word may be wrong, and always one letter.
  return bestDistance <= std::max<std::size_t>(1, word.size() / 3) ? best : std::string();
}

}  // namespace vorn
