#include "platform/foundation/format.h"

#include <cinttypes>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace foundation {
namespace {

std::string printfOne(const std::string& spec, auto value) {
  char buf[128];
  int n = std::snprintf(buf, sizeof buf, spec.c_str(), value);
  if (n < 0) return "";
  if (static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), spec.c_str(), value);
  big.resize(static_cast<std::size_t>(n));
  return big;
}

bool needsQuotes(const std::string& s) {
  if (s.empty()) return true;
  for (char c : s)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':'))
      return true;
  return false;
}

void describe(const Value& v, int indent, std::string& out, bool nested) {
  std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
  switch (v.type()) {
    case Value::Type::Null:
      out += nested ? "\"<null>\"" : "<null>";
      return;
    case Value::Type::Boolean:
      out += *v.asBoolean() ? "1" : "0";
      return;
    case Value::Type::Integer:
      out += std::to_string(*v.asInteger());
      return;
    case Value::Type::Real:
      out += printfOne("%.17g", *v.asReal());
      return;
    case Value::Type::String:
      out += nested && needsQuotes(*v.asString()) ? "\"" + *v.asString() + "\"" : *v.asString();
      return;
    case Value::Type::Data: {
      static const char* hex = "0123456789abcdef";
      out += "<";
      std::size_t i = 0;
      for (auto b : *v.asData()) {
        if (i && i % 4 == 0) out += " ";
        out += hex[b >> 4];
        out += hex[b & 15];
        ++i;
      }
      out += ">";
      return;
    }
    case Value::Type::Date: {
      std::time_t t = static_cast<std::time_t>(v.asDate()->timeIntervalSince1970);
      std::tm tm{};
      gmtime_r(&t, &tm);
      char buf[64];
      std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
      out += buf;
      return;
    }
    case Value::Type::Array: {
      out += "(\n";
      const auto& a = *v.asArray();
      for (std::size_t i = 0; i < a.size(); ++i) {
        out += pad + "    ";
        describe(a[i], indent + 1, out, true);
        out += i + 1 < a.size() ? ",\n" : "\n";
      }
      out += pad + ")";
      return;
    }
    case Value::Type::Dictionary: {
      out += "{\n";
      for (const auto& [k, val] : *v.asDictionary()) {
        out += pad + "    " + (needsQuotes(k) ? "\"" + k + "\"" : k) + " = ";
        describe(val, indent + 1, out, true);
        out += ";\n";
      }
      out += pad + "}";
      return;
    }
  }
}

}  // namespace

std::string description(const Value& value) {
  std::string out;
  describe(value, 0, out, false);
  return out;
}

std::string FormatArg::format(std::string_view specView, char conversion) const {
  std::string spec(specView);  // flags, width and precision, without length or conversion
  if (conversion == '@') {
    if (auto s = std::get_if<std::string>(&v_)) return *s;
    if (auto i = std::get_if<std::int64_t>(&v_)) return std::to_string(*i);
    if (auto u = std::get_if<std::uint64_t>(&v_)) return std::to_string(*u);
    if (auto d = std::get_if<double>(&v_)) return printfOne("%g", *d);
    return printfOne("%p", std::get<const void*>(v_));
  }
  switch (conversion) {
    case 'd':
    case 'i': {
      std::int64_t x = 0;
      if (auto i = std::get_if<std::int64_t>(&v_)) x = *i;
      else if (auto u = std::get_if<std::uint64_t>(&v_)) x = static_cast<std::int64_t>(*u);
      else if (auto d = std::get_if<double>(&v_)) x = static_cast<std::int64_t>(*d);
      return printfOne(spec + PRId64, x);
    }
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
      std::uint64_t x = 0;
      if (auto u = std::get_if<std::uint64_t>(&v_)) x = *u;
      else if (auto i = std::get_if<std::int64_t>(&v_)) x = static_cast<std::uint64_t>(*i);
      else if (auto d = std::get_if<double>(&v_)) x = static_cast<std::uint64_t>(*d);
      const char* fmt = conversion == 'u' ? PRIu64 : conversion == 'x' ? PRIx64 : conversion == 'X' ? PRIX64 : PRIo64;
      return printfOne(spec + fmt, x);
    }
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G': {
      double x = 0;
      if (auto d = std::get_if<double>(&v_)) x = *d;
      else if (auto i = std::get_if<std::int64_t>(&v_)) x = static_cast<double>(*i);
      else if (auto u = std::get_if<std::uint64_t>(&v_)) x = static_cast<double>(*u);
      return printfOne(spec + conversion, x);
    }
    case 's':
      if (auto s = std::get_if<std::string>(&v_)) return printfOne(spec + 's', s->c_str());
      return "";
    case 'c': {
      std::int64_t x = 0;
      if (auto i = std::get_if<std::int64_t>(&v_)) x = *i;
      return printfOne(spec + 'c', static_cast<int>(x));
    }
    case 'p':
      if (auto p = std::get_if<const void*>(&v_)) return printfOne("%p", *p);
      return "";
    default:
      return "";
  }
}

std::string stringWithFormatArgs(std::string_view format, const std::vector<FormatArg>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::string spec = "%";
    std::size_t j = i + 1;
    while (j < format.size() && std::string_view("-+ #0123456789.*").find(format[j]) != std::string_view::npos)
      spec += format[j++];
    while (j < format.size() && std::string_view("hlqLjzt").find(format[j]) != std::string_view::npos) ++j;
    if (j >= format.size()) break;
    char conversion = format[j];
    if (next < args.size()) out += args[next].format(spec, conversion);
    ++next;
    i = j;
  }
  return out;
}

}  // namespace foundation
