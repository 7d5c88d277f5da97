#include "platform/net/http.h"

#include <cctype>

namespace net {

Error makeLoadError(long code, std::string description) {
  return Error{kErrorDomain, code, {{foundation::kLocalizedDescriptionKey, std::move(description)}}};
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

HTTPHeaders::HTTPHeaders(std::initializer_list<Field> fields) {
  for (const auto& [name, value] : fields) add(name, value);
}

std::optional<std::string> HTTPHeaders::get(std::string_view name) const {
  for (const auto& [n, v] : fields_)
    if (equalsIgnoringCase(n, name)) return v;
  return std::nullopt;
}

void HTTPHeaders::set(std::string_view name, std::string value) {
  remove(name);
  fields_.emplace_back(std::string(name), std::move(value));
}

void HTTPHeaders::add(std::string_view name, std::string_view value) {
  for (auto& [n, v] : fields_) {
    if (equalsIgnoringCase(n, name)) {
      v += ", ";
      v += value;
      return;
    }
  }
  fields_.emplace_back(std::string(name), std::string(value));
}

void HTTPHeaders::remove(std::string_view name) {
  std::erase_if(fields_, [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
}

}  // namespace net
