#include "platform/foundation/json.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/base64.h"

namespace foundation {
namespace {

Value fromJson(const nlohmann::json& j) {
  switch (j.type()) {
    case nlohmann::json::value_t::null: return Value{};
    case nlohmann::json::value_t::boolean: return Value{j.get<bool>()};
    case nlohmann::json::value_t::number_integer: return Value{j.get<std::int64_t>()};
    case nlohmann::json::value_t::number_unsigned: {
      auto u = j.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(INT64_MAX)) return Value{static_cast<double>(u)};
      return Value{static_cast<std::int64_t>(u)};
    }
    case nlohmann::json::value_t::number_float: return Value{j.get<double>()};
    case nlohmann::json::value_t::string: return Value{j.get<std::string>()};
    case nlohmann::json::value_t::array: {
      Array a;
      a.reserve(j.size());
      for (const auto& item : j) a.push_back(fromJson(item));
      return Value{std::move(a)};
    }
    case nlohmann::json::value_t::object: {
      Dictionary d;
      for (const auto& [k, v] : j.items()) d.insert_or_assign(k, fromJson(v));
      return Value{std::move(d)};
    }
    default: return Value{};
  }
}

nlohmann::json toJson(const Value& v) {
  switch (v.type()) {
    case Value::Type::Null: return nullptr;
    case Value::Type::Boolean: return *v.asBoolean();
    case Value::Type::Integer: return *v.asInteger();
    case Value::Type::Real: return *v.asReal();
    case Value::Type::String: return *v.asString();
    case Value::Type::Data: return base64Encode(*v.asData());
    case Value::Type::Date: return v.asDate()->timeIntervalSince1970;
    case Value::Type::Array: {
      auto a = nlohmann::json::array();
      for (const auto& item : *v.asArray()) a.push_back(toJson(item));
      return a;
    }
    case Value::Type::Dictionary: {
      auto o = nlohmann::json::object();
      for (const auto& [k, item] : *v.asDictionary()) o[k] = toJson(item);
      return o;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<Value> jsonParse(std::string_view text) {
  auto j = nlohmann::json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) return std::nullopt;
  return fromJson(j);
}

std::string jsonSerialize(const Value& value) {
  // Invalid UTF-8 in strings is replaced rather than thrown on.
  return toJson(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace foundation
