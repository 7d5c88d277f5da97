#pragma once
// The platform's short, lower-case text for an HTTP status code, as it shows in messages
// ("not found" for 404). A code the table does not know gets the text of its class.

#include <string>

namespace net {

std::string localizedStringForStatusCode(long statusCode);

}  // namespace net
