#include "bench/options/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

std::optional<std::string> ParsedOptions::value(const std::string& name) const {
  auto it = values.find(name);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

std::optional<ParsedOptions> parseOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& spec,
                                          std::size_t maxPositional, std::string& error) {
  ParsedOptions parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      parsed.helpAsked = true;
      continue;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      if (parsed.positional.size() >= maxPositional) {
        error = maxPositional == 0 ? "takes no argument, not \"" + arg + "\""
                                   : "takes at most " + std::to_string(maxPositional) + " plain argument" +
                                         (maxPositional == 1 ? "" : "s") + "; \"" + arg + "\" is one too many";
        return std::nullopt;
      }
      parsed.positional.push_back(arg);
      continue;
    }
    const auto equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const auto known = std::find_if(spec.begin(), spec.end(), [&](const OptionSpec& o) { return o.name == name; });
    if (known == spec.end()) {
      error = "unknown option " + name;
      return std::nullopt;
    }
    if (parsed.has(name)) {
      error = name + " is given twice";
      return std::nullopt;
    }
    if (!known->takesValue) {
      if (equals != std::string::npos) {
        error = name + " takes no value";
        return std::nullopt;
      }
      parsed.switches.insert(name);
      continue;
    }
    if (equals != std::string::npos) {
      parsed.values[name] = arg.substr(equals + 1);
      continue;
    }
    if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0) {
      error = name + " needs a value";
      return std::nullopt;
    }
    parsed.values[name] = args[++i];
  }
  return parsed;
}

std::optional<long> wholeNumber(std::string_view text, long minimum, long maximum) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size()) return std::nullopt;
  for (std::size_t i = start; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  const long n = std::strtol(std::string(text).c_str(), nullptr, 10);
  if (n < minimum || n > maximum) return std::nullopt;
  return n;
}

[[noreturn]] void refuse(const char* program, const std::string& message, const char* usage) {
  std::fprintf(stderr, "%s: %s\nusage: %s\n", program, message.c_str(), usage);
  std::exit(2);
}

ParsedOptions parseOptionsOrExit(int argc, char** argv, const std::vector<OptionSpec>& spec, std::size_t maxPositional,
                                 const char* usage) {
  const char* slash = argc > 0 ? std::strrchr(argv[0], '/') : nullptr;
  const char* program = argc > 0 ? (slash ? slash + 1 : argv[0]) : "bench";
  std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  std::string error;
  auto parsed = parseOptions(args, spec, maxPositional, error);
  if (!parsed) refuse(program, error, usage);
  if (parsed->helpAsked) {
    std::printf("usage: %s\n", usage);
    std::exit(0);
  }
  return *parsed;
}

long wholeNumberOrExit(const char* program, const std::string& what, std::string_view text, long minimum, long maximum,
                       const char* usage) {
  auto n = wholeNumber(text, minimum, maximum);
  if (!n)
    refuse(program, what + " must be a whole number from " + std::to_string(minimum) + " to " + std::to_string(maximum) +
                        ", not \"" + std::string(text) + "\"",
           usage);
  return *n;
}

}  // namespace bench
