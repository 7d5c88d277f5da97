#pragma once
// Property-list data and files. Reading accepts XML and binary forms; writing gives XML
// or binary. File writes are atomic: a temporary file in the same folder renamed over
// the target, so a reader sees the old or the new whole file.
//
// Whatever is read comes from outside the process and is held to the limits of value.h:
// a document that breaks one is refused whole, with a line in the system log saying
// why, and the caller sees it as unreadable.

#include <optional>
#include <string>

#include "platform/foundation/value.h"

namespace foundation {

enum class PropertyListFormat { XML, Binary };

// Nullopt when the bytes are no property list or break a limit. Null values cannot be
// stored in a property list: they are left out of dictionaries and arrays when writing,
// and binary nulls and UIDs are left out when reading. Strings may hold U+0000.
std::optional<Value> propertyListFromData(const Bytes& data);
std::optional<Value> propertyListFromData(const char* bytes, std::size_t size);
// Empty (and logged) when the value cannot be stored: a null root, nesting deeper than
// kMaxValueDepth, more than kMaxValueCount values, a string that is not UTF-8, or a date
// outside the stored range. XML keeps dates to the whole second.
Bytes dataFromPropertyList(const Value& value, PropertyListFormat format = PropertyListFormat::XML);

// Nullopt when the file is missing or unreadable or holds no property list.
std::optional<Value> readPropertyListFile(const std::string& path);
// The root must be a dictionary, like the platform's dictionary reader; anything else
// counts as unreadable.
std::optional<Dictionary> readDictionaryFile(const std::string& path);
bool writePropertyListFile(const std::string& path, const Value& value,
                           PropertyListFormat format = PropertyListFormat::XML);

// Whole-file helpers shared by the file-based stores.
std::optional<Bytes> readFileBytes(const std::string& path);
// Writes through a temporary file and a rename; creates missing parent folders.
bool writeFileAtomically(const std::string& path, const void* data, std::size_t size);
bool fileExists(const std::string& path);

}  // namespace foundation
