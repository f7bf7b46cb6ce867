#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

namespace tapestop {

namespace {

// Splits "--name=value" into the option and its value, which then comes
// before any later argument.
struct SplitOption {
    std::string name;
    std::optional<std::string> inlineValue;
};

SplitOption splitOption(const std::string& argument) {
    const auto equals = argument.find('=');
    if (argument.rfind("--", 0) != 0 || equals == std::string::npos) return {argument, std::nullopt};
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

bool looksLikeOption(const std::string& argument) { return argument.size() >= 2 && argument[0] == '-'; }

}  // namespace

ParsedArguments parseArguments(const std::vector<std::string>& arguments, const std::vector<OptionRule>& rules) {
    ParsedArguments parsed;
    std::set<std::string> given;
    std::size_t next = 0;
    while (next < arguments.size()) {
        const std::string argument = arguments[next++];
        if (argument == "--") {  // everything after it is a file name, even "-x"
            parsed.positional.insert(parsed.positional.end(), arguments.begin() + static_cast<long>(next),
                                     arguments.end());
            break;
        }
        if (argument == "--help" || argument == "-h") {
            parsed.helpAsked = true;
            continue;
        }
        if (!looksLikeOption(argument)) {
            parsed.positional.push_back(argument);
            continue;
        }
        const SplitOption option = splitOption(argument);
        const auto rule = std::find_if(rules.begin(), rules.end(),
                                       [&](const OptionRule& candidate) { return candidate.name == option.name; });
        if (rule == rules.end()) throw UsageError("unknown option '" + option.name + "'");
        if (!given.insert(option.name).second && !rule->repeatable)
            throw UsageError("option " + option.name + " is given twice; give it once");
        // An inline value is the option's first value; any further one follows.
        std::optional<std::string> inlineValue = option.inlineValue;
        rule->handle([&]() {
            std::string value;
            if (inlineValue) {
                value = *std::exchange(inlineValue, std::nullopt);
            } else {
                if (next >= arguments.size()) throw UsageError("option " + option.name + " needs a value");
                value = arguments[next++];
            }
            if (value.empty()) throw UsageError("option " + option.name + " needs a value; '' is empty");
            return value;
        });
        if (inlineValue) throw UsageError("option " + option.name + " takes no value");
    }
    return parsed;
}

void expectPositional(const std::vector<std::string>& positional, std::size_t count, const std::string& missing) {
    if (positional.size() < count) throw UsageError("missing " + missing);
    if (positional.size() > count) throw UsageError("unexpected argument '" + positional[count] + "'");
}

std::optional<double> parseDecimal(const std::string& text) {
    const auto isDecimal = [](unsigned char c) { return std::isdigit(c) || std::strchr(".eE+-", c) != nullptr; };
    if (text.empty() || !std::all_of(text.begin(), text.end(), isDecimal) ||
        std::none_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<long long> wholeNumber(const std::string& text, long long low, long long high) {
    const std::optional<double> value = parseDecimal(text);
    if (!value || *value != std::floor(*value) || *value < static_cast<double>(low) ||
        *value > static_cast<double>(high))
        return std::nullopt;
    return static_cast<long long>(*value);
}

long long parseWholeNumber(const std::string& option, const std::string& text, long long low, long long high) {
    const std::optional<long long> value = wholeNumber(text, low, high);
    if (!value)
        throw UsageError("bad value '" + text + "' for " + option + ": give a whole number from " +
                         std::to_string(low) + " to " + std::to_string(high));
    return *value;
}

}  // namespace tapestop
