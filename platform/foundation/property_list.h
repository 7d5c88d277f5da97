#pragma once
// Property-list data and files. Reading accepts XML and binary forms; writing gives XML
// or binary. File writes are atomic: a temporary file in the same folder renamed over
// the target, so a reader sees the old or the new whole file.
//
// Whatever is read comes from outside the process and is held to the limits of value.h:
// a document that breaks one is refused whole, with a line in the system log saying
// why, and the caller sees it as unreadable.
//
// Every function here may be called on any thread; writers of one file, in this process
// or another, take turns.

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

// Nullopt when the file is missing, unreadable (see readFileBytes) or holds no property list.
std::optional<Value> readPropertyListFile(const std::string& path);
// The root must be a dictionary, like the platform's dictionary reader; anything else
// counts as unreadable.
std::optional<Dictionary> readDictionaryFile(const std::string& path);
// Property-list files hold settings and preferences: they are written owner-only, and
// so are the folders created for them. A value whose file could not be read back (see
// dataFromPropertyList, and no larger than kMaxReadFileSize) is not written.
bool writePropertyListFile(const std::string& path, const Value& value,
                           PropertyListFormat format = PropertyListFormat::XML);

// Who may read the files written and the folders created for them.
enum class FileAccess {
  Shared,     // files 0644, folders 0755
  OwnerOnly,  // files 0600, folders 0700
};

// Whole-file helpers shared by the file-based stores.
// The file's bytes; nullopt when it is missing or unreadable, and (with a log line) when
// it is not a regular file (a FIFO or a device is never opened for blocking reads) or
// holds more than `maxSize` bytes.
std::optional<Bytes> readFileBytes(const std::string& path, std::size_t maxSize = kMaxReadFileSize);
// Writes through a temporary file and a rename; creates missing parent folders. The
// temporary file has one fixed name beside the target ("<path>.tmp"), so one left by a
// writer that died is replaced by the next write instead of staying for ever; writers
// of the same file take turns on it. On failure errno tells why.
bool writeFileAtomically(const std::string& path, const void* data, std::size_t size,
                         FileAccess access = FileAccess::Shared);
bool fileExists(const std::string& path);

}  // namespace foundation
