#pragma once
// Standard base64 (RFC 4648 alphabet, with padding, no line breaks).

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/value.h"

namespace foundation {

std::string base64Encode(const Bytes& data);
std::string base64Encode(std::string_view data);
// Strict: nullopt for any character outside the alphabet (white space included), a
// length that is not a multiple of 4, or misplaced padding.
std::optional<Bytes> base64Decode(std::string_view text);

}  // namespace foundation
