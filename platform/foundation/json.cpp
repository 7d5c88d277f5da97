#include "platform/foundation/json.h"

#include <nlohmann/json.hpp>

#include <vector>

#include "platform/foundation/base64.h"
#include "platform/foundation/log.h"

namespace foundation {
namespace {

// Builds values straight from the parser's events on an explicit stack of open
// containers: nesting is refused at the limit before anything deeper is built, and
// neither the parser nor this builder recurses, whatever the input.
class Builder {
 public:
  std::optional<Value> root;
  std::string error;

  bool null() { return add(Value()); }
  bool boolean(bool b) { return add(Value(b)); }
  bool number_integer(std::int64_t i) { return add(Value(static_cast<long long>(i))); }
  bool number_unsigned(std::uint64_t u) {
    if (u > static_cast<std::uint64_t>(INT64_MAX)) return add(Value(static_cast<double>(u)));
    return add(Value(static_cast<long long>(u)));
  }
  bool number_float(double d, const std::string&) { return add(Value(d)); }
  bool string(std::string& s) { return add(Value(std::move(s))); }
  bool binary(std::vector<std::uint8_t>& b) { return add(Value(Bytes(b.begin(), b.end()))); }

  bool start_object(std::size_t) { return open(Value(Dictionary{})); }
  bool start_array(std::size_t) { return open(Value(Array{})); }
  bool key(std::string& k) {
    if (!count()) return false;
    stack_.back().key = std::move(k);
    return true;
  }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) {
    std::string what = ex.what();
    error = (what.find("UTF-8") != std::string::npos ? "a string that is not UTF-8 (at byte "
                                                       : "not JSON (error at byte ") +
            std::to_string(position) + ")";
    return false;
  }

 private:
  struct Open {
    Value container;
    std::string key;
  };

  bool count() {
    if (++values_ <= kMaxValueCount) return true;
    error = "more than " + std::to_string(kMaxValueCount) + " values";
    return false;
  }

  bool open(Value container) {
    if (!count()) return false;
    if (static_cast<int>(stack_.size()) >= kMaxValueDepth) {
      error = "nesting deeper than " + std::to_string(kMaxValueDepth) + " levels";
      return false;
    }
    stack_.push_back(Open{std::move(container), {}});
    return true;
  }

  bool close() {
    Value done = std::move(stack_.back().container);
    stack_.pop_back();
    return place(std::move(done));
  }

  bool add(Value v) { return count() && place(std::move(v)); }

  bool place(Value v) {
    if (stack_.empty()) {
      root = std::move(v);
      return true;
    }
    Open& top = stack_.back();
    if (auto* a = top.container.asArray())
      a->push_back(std::move(v));
    else
      top.container.asDictionary()->insert_or_assign(std::move(top.key), std::move(v));
    return true;
  }

  std::vector<Open> stack_;
  std::size_t values_ = 0;
};

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
  if (text.empty()) return std::nullopt;
  Builder builder;
  bool ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder, nlohmann::json::input_format_t::json,
                                      /*strict=*/true, /*ignore_comments=*/false);
  if (!ok || !builder.root) {
    systemLog("Refused JSON: " + (builder.error.empty() ? std::string("not JSON") : builder.error));
    return std::nullopt;
  }
  return std::move(builder.root);
}

std::string jsonSerialize(const Value& value) {
  // Invalid UTF-8 in strings is replaced rather than thrown on.
  return toJson(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace foundation
