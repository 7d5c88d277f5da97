#pragma once
// JSON text to and from the value type (nlohmann-json underneath). JSON has no data or
// date: writing gives data as base64 text and dates as seconds since 1970.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace foundation {

// Nullopt for text that is not JSON. Integers that fit 64 bits stay integers.
std::optional<Value> jsonParse(std::string_view text);
// Compact JSON text; object keys in sorted order.
std::string jsonSerialize(const Value& value);

}  // namespace foundation
