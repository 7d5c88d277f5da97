#pragma once
// Typed reads of app-list entries and records. Whatever the other side sent, a value of
// the wrong type reads as absent.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace wardvane::app {

std::optional<std::string> entryString(const foundation::Dictionary& entry, std::string_view key);
// A number (integer, real or Boolean) as a double.
std::optional<double> entryNumber(const foundation::Dictionary& entry, std::string_view key);
const foundation::Bytes* entryData(const foundation::Dictionary& entry, std::string_view key);
// The entry stored under the decimal text of `row`, when it is a dictionary.
const foundation::Dictionary* entryAtRow(const foundation::Dictionary& list, long row);

}  // namespace wardvane::app
