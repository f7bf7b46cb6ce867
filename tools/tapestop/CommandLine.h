// The conventions every `tapestop` command follows, in one place: options
// from a table, "--name value" or "--name=value", an option that takes one
// value given at most once, no empty values, "--help" anywhere, and "--"
// before file names that look like options. A command line that cannot be
// carried out throws UsageError (exit status 2).
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tapestop {

// A command line that cannot be carried out as written.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One option of a command. A handler takes its values by calling the
// function it is given, once per value (--at takes two); a flag calls it
// never. A repeatable option collects (--set); any other is refused the
// second time.
struct OptionRule {
    using NextValue = std::function<std::string()>;
    std::string name;  // "--tempo"
    bool repeatable = false;
    std::function<void(const NextValue& value)> handle;
};

struct ParsedArguments {
    std::vector<std::string> positional;
    bool helpAsked = false;
};

// Runs the rule of every option in `arguments` and collects the rest.
ParsedArguments parseArguments(const std::vector<std::string>& arguments, const std::vector<OptionRule>& rules);

// Throws unless exactly `count` positional arguments were given; `missing`
// names what is missing.
void expectPositional(const std::vector<std::string>& positional, std::size_t count, const std::string& missing);

// A whole-text decimal number, or nothing: digits with an optional sign,
// point and exponent ("0x100", "inf" and "nan" are not numbers here).
std::optional<double> parseDecimal(const std::string& text);

// A whole number from low to high, written as parseDecimal reads it ("2",
// "2.0", "2e0"), or nothing.
std::optional<long long> wholeNumber(const std::string& text, long long low, long long high);

// A whole number from low to high for `option`, or UsageError.
long long parseWholeNumber(const std::string& option, const std::string& text, long long low, long long high);

}  // namespace tapestop
