#pragma once
// How the platform's string class reads numbers and truth values out of text, which is
// how response headers are read.

#include <cstddef>
#include <optional>
#include <string_view>

// After leading white space, an optional sign and zeros: true on "Y", "y", "T", "t" or a
// digit 1-9, false otherwise ("YES", "true", "1", "007" are true; "no", "", "0" false).
bool QMAStringBoolValue(std::string_view text);
// The length of the decimal number (sign, digits, point, exponent) at the start of
// `text`, 0 when it holds none; no "inf", "nan" or hexadecimal.
std::size_t QMADecimalNumberLength(std::string_view text);
// The longest decimal number at the start (after white space), 0 when there is none.
// Nullopt when the number is beyond what a double holds; "inf" and "nan" are no numbers.
std::optional<double> QMAStringDoubleValue(std::string_view text);
