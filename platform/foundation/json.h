#pragma once
// JSON text to and from the value type (nlohmann-json underneath). JSON has no data or
// date: writing gives data as base64 text and dates as seconds since 1970. Both functions
// may be called on any thread.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace foundation {

// Nullopt for text that is not JSON, holds a string that is not UTF-8 or breaks a limit
// of value.h (nesting, number of values); each refusal but empty text is logged with its
// reason. Integers that fit 64 bits stay integers; nulls stay in arrays and objects.
std::optional<Value> jsonParse(std::string_view text);
// Compact JSON text; object keys in sorted order.
std::string jsonSerialize(const Value& value);

}  // namespace foundation
