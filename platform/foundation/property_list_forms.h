#pragma once
// The two property-list forms, read and written by hand so every limit of value.h holds
// before anything is built: no reader recurses past kMaxValueDepth, counts more than
// kMaxValueCount values, or takes a string that is not UTF-8. property_list.h is the
// interface; this is what it is made of.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace foundation::plist_forms {

// Nullopt, with `error` set to why, when the input is refused. A null value inside a
// container (a binary null or UID, which Value cannot hold) is left out.
std::optional<Value> readXML(std::string_view in, std::string& error);
std::optional<Value> readBinary(std::string_view in, std::string& error);
bool looksBinary(std::string_view in);

// False, with `error` set, when the value cannot be stored: a null root, nesting past
// kMaxValueDepth, a string that is not UTF-8 or a date outside the stored range.
bool writeXML(const Value& value, std::string& out, std::string& error);
bool writeBinary(const Value& value, std::string& out, std::string& error);

// Shared checks of both writers.
bool checkWritable(const Value& value, std::string& error);

}  // namespace foundation::plist_forms
