// Reading JSON text into a tree of values, for render jobs given as data.
// Numbers keep the text they were written as, so that a job's "0.3" and 0.3
// reach the command line's value syntax alike.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tapestop {

class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct JsonValue {
    enum class Kind { kNull, kBoolean, kNumber, kString, kArray, kObject };
    Kind kind = Kind::kNull;
    bool boolean = false;
    std::string text;  // a string's content, or a number as written
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;  // in the order written

    // The member called `name`, or null.
    const JsonValue* member(const std::string& name) const;
};

// Throws JsonError naming the line and column of the first fault.
JsonValue parseJson(const std::string& text);

}  // namespace tapestop
