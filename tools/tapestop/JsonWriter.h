// Writing JSON values as text: the reports of info, validate and batch.
#pragma once

#include <string>

namespace tapestop {

// A JSON string literal, quotes included. Bytes that are not valid UTF-8
// come out so that Python's "surrogateescape" gives them back unchanged.
std::string jsonString(const std::string& text);

// A JSON number with `significantDigits` digits, or null where the value is
// not finite: JSON has no NaN or infinity.
std::string jsonNumber(double value, int significantDigits);

}  // namespace tapestop
