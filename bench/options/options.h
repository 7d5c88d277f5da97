#pragma once
// The command line of a benchmark program. Each one names the options it takes; anything
// else (an option it does not know, an option without its value, the same option twice,
// more plain arguments than it takes, a number written wrong) is refused with its usage
// and status 2 before anything is measured, so a mistyped run never passes for a real one.
// `--help` prints the usage and ends with status 0. Main thread, before anything starts.

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// One option: "--name" alone (a switch) or followed by its value ("--runs 5" or
// "--runs=5").
struct OptionSpec {
  std::string name;
  bool takesValue = false;
};

struct ParsedOptions {
  std::map<std::string, std::string> values;  // options with a value, by name
  std::set<std::string> switches;
  std::vector<std::string> positional;
  bool helpAsked = false;

  bool has(const std::string& name) const { return values.count(name) || switches.count(name); }
  std::optional<std::string> value(const std::string& name) const;
};

// Reads the arguments after the program's name. An argument that starts with "-" (and is
// not "-" alone) is an option; a value may start with "-" but not with "--". nullopt, with
// `error` saying what was wrong and where, when the line does not fit.
std::optional<ParsedOptions> parseOptions(const std::vector<std::string>& args, const std::vector<OptionSpec>& spec,
                                          std::size_t maxPositional, std::string& error);

// A whole number from `minimum` to `maximum`, written in full in decimal ("12"; not "",
// "12x", " 12" or "1e3").
std::optional<long> wholeNumber(std::string_view text, long minimum, long maximum);

// For main(): the parsed line, or, when it does not fit, "<program>: <error>" and the usage
// on standard error and the end of the program with status 2; with `--help`, the usage on
// standard output and status 0.
ParsedOptions parseOptionsOrExit(int argc, char** argv, const std::vector<OptionSpec>& spec, std::size_t maxPositional,
                                 const char* usage);

// "<program>: <message>" and the usage on standard error, then the end with status 2.
[[noreturn]] void refuse(const char* program, const std::string& message, const char* usage);

// The number `text` (see wholeNumber) for `what`, or refuse() naming it.
long wholeNumberOrExit(const char* program, const std::string& what, std::string_view text, long minimum, long maximum,
                       const char* usage);

}  // namespace bench
