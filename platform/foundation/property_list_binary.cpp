// Binary property lists ("bplist00"). The reader checks every offset, count and
// reference against the bytes it was given before it follows it, and goes one level
// deeper only while the depth limit allows, which also ends reference cycles. Objects
// may be shared by many references, so a small input can stand for a huge tree: the
// values built and the bytes of strings and data copied are counted as they are built.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/foundation/property_list_forms.h"

namespace foundation::plist_forms {
namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;
// Strings and data copied out of shared objects, beyond the size of the input itself.
constexpr std::size_t kMinPayloadAllowance = 32u << 20;

std::uint64_t readBigEndian(const unsigned char* p, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

class BinaryReader {
 public:
  explicit BinaryReader(std::string_view in)
      : p_(reinterpret_cast<const unsigned char*>(in.data())),
        size_(in.size()),
        payloadAllowance_(std::max(in.size(), kMinPayloadAllowance)) {}

  std::optional<Value> read(std::string& error) {
    std::optional<Value> v;
    if (trailer()) {
      v = object(top_, 0);
      if (v && v->isNull()) {
        fail("the root is not a property-list value");
        v.reset();
      }
    }
    if (!v) error = error_.empty() ? "malformed binary property list" : error_;
    return v;
  }

 private:
  bool fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
  }
  std::nullopt_t refuse(std::string why) {
    fail(std::move(why));
    return std::nullopt;
  }

  bool trailer() {
    if (size_ < kMagic.size() + kTrailerSize || std::memcmp(p_, kMagic.data(), kMagic.size()) != 0)
      return fail("not a binary property list");
    const unsigned char* t = p_ + size_ - kTrailerSize;
    offsetSize_ = t[6];
    refSize_ = t[7];
    std::uint64_t count = readBigEndian(t + 8, 8);
    std::uint64_t top = readBigEndian(t + 16, 8);
    std::uint64_t table = readBigEndian(t + 24, 8);
    std::uint64_t end = size_ - kTrailerSize;
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return fail("bad trailer sizes");
    if (table < kMagic.size() || table >= end) return fail("offset table outside the file");
    if (count == 0 || count > (end - table) / offsetSize_) return fail("object count does not fit the offset table");
    if (top >= count) return fail("top object outside the object table");
    count_ = count;
    top_ = top;
    table_ = static_cast<std::size_t>(table);
    return true;
  }

  // Where object `ref` starts; objects lie between the header and the offset table.
  std::optional<std::size_t> offsetOf(std::uint64_t ref) {
    if (ref >= count_) return refuse("reference outside the object table");
    std::uint64_t off = readBigEndian(p_ + table_ + ref * offsetSize_, offsetSize_);
    if (off < kMagic.size() || off >= table_) return refuse("object offset outside the object area");
    return static_cast<std::size_t>(off);
  }

  // Bytes left in the object area from `at`.
  std::size_t room(std::size_t at) const { return table_ - at; }

  // The length of a string, data or container: in the marker's low nibble, or, at 0xF,
  // an integer object that follows. `at` moves past it.
  bool length(unsigned info, std::size_t& at, std::uint64_t& n) {
    if (info != 0xF) {
      n = info;
      return true;
    }
    if (room(at) < 1) return fail("truncated length");
    unsigned char marker = p_[at];
    unsigned width = 1u << (marker & 0xF);
    if ((marker >> 4) != 0x1 || width > 8) return fail("malformed length");
    if (room(at) < 1 + width) return fail("truncated length");
    n = readBigEndian(p_ + at + 1, width);
    at += 1 + width;
    return true;
  }

  bool takePayload(std::uint64_t bytes) {
    if (bytes > payloadAllowance_ - payload_) return fail("shared strings and data expand past the allowed size");
    payload_ += static_cast<std::size_t>(bytes);
    return true;
  }

  // Null for the kinds Value cannot hold (null, fill, UIDs): containers leave them out.
  std::optional<Value> object(std::uint64_t ref, int depth) {
    auto offset = offsetOf(ref);
    if (!offset) return std::nullopt;
    if (++values_ > kMaxValueCount) return refuse("more than " + std::to_string(kMaxValueCount) + " values");
    std::size_t at = *offset;
    const unsigned char marker = p_[at++];
    const unsigned kind = marker >> 4, info = marker & 0xF;
    switch (kind) {
      case 0x0:
        if (marker == 0x08 || marker == 0x09) return Value(marker == 0x09);
        if (marker == 0x00 || marker == 0x0F) return Value();
        return refuse("unknown object kind");
      case 0x1: {
        if (info > 4) return refuse("malformed integer");
        std::size_t width = std::size_t{1} << info;
        if (room(at) < width) return refuse("truncated integer");
        // 16-byte integers hold 64-bit values with their high half zero or a sign extension.
        std::uint64_t v = readBigEndian(p_ + at + (width == 16 ? 8 : 0), width == 16 ? 8 : width);
        return Value(static_cast<long long>(v));
      }
      case 0x2: {
        if (info != 2 && info != 3) return refuse("malformed real");
        std::size_t width = std::size_t{1} << info;
        if (room(at) < width) return refuse("truncated real");
        std::uint64_t bits = readBigEndian(p_ + at, width);
        if (width == 4) {
          float f;
          auto b32 = static_cast<std::uint32_t>(bits);
          std::memcpy(&f, &b32, sizeof f);
          return Value(static_cast<double>(f));
        }
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return Value(d);
      }
      case 0x3: {
        if (marker != 0x33 || room(at) < 8) return refuse("malformed date");
        std::uint64_t bits = readBigEndian(p_ + at, 8);
        double seconds;
        std::memcpy(&seconds, &bits, sizeof seconds);
        Date date = Date::fromReferenceDate(seconds);
        if (!isStorableDate(date)) return refuse("date outside years 0001 to 9999");
        return Value(date);
      }
      case 0x4: {
        std::uint64_t n;
        if (!length(info, at, n)) return std::nullopt;
        if (n > room(at)) return refuse("truncated data");
        if (!takePayload(n)) return std::nullopt;
        return Value(Bytes(p_ + at, p_ + at + n));
      }
      case 0x5:
      case 0x7: {
        // 0x5 is ASCII, 0x7 UTF-8; UTF-8 is the superset and is what is checked.
        std::uint64_t n;
        if (!length(info, at, n)) return std::nullopt;
        if (n > room(at)) return refuse("truncated string");
        if (!takePayload(n)) return std::nullopt;
        std::string s(reinterpret_cast<const char*>(p_ + at), static_cast<std::size_t>(n));
        if (!isValidUTF8(s)) return refuse("string that is not UTF-8");
        return Value(std::move(s));
      }
      case 0x6: {
        std::uint64_t units;
        if (!length(info, at, units)) return std::nullopt;
        if (units > room(at) / 2) return refuse("truncated string");
        if (!takePayload(units * 2)) return std::nullopt;
        std::string s;
        s.reserve(static_cast<std::size_t>(units));
        for (std::uint64_t i = 0; i < units; ++i) {
          std::uint32_t u = static_cast<std::uint32_t>(readBigEndian(p_ + at + 2 * i, 2));
          if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            std::uint32_t lo = static_cast<std::uint32_t>(readBigEndian(p_ + at + 2 * (i + 1), 2));
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
              appendUTF8(s, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
              ++i;
              continue;
            }
          }
          if (u >= 0xD800 && u <= 0xDFFF) return refuse("string with an unpaired surrogate");
          appendUTF8(s, u);
        }
        return Value(std::move(s));
      }
      case 0x8:
        return Value();  // UID: only keyed archives use them
      case 0xA:
      case 0xC:
      case 0xD: {
        std::uint64_t n;
        if (!length(info, at, n)) return std::nullopt;
        const std::uint64_t refs = kind == 0xD ? 2 : 1;
        if (n > room(at) / refSize_ / refs) return refuse("truncated container");
        // Checked before going down, so no input can take this deeper; a cycle of
        // references ends here too.
        if (depth >= kMaxValueDepth)
          return refuse("nesting deeper than " + std::to_string(kMaxValueDepth) + " levels");
        auto refAt = [&](std::uint64_t i) { return readBigEndian(p_ + at + i * refSize_, refSize_); };
        if (kind != 0xD) {
          Array out;
          for (std::uint64_t i = 0; i < n; ++i) {
            auto item = object(refAt(i), depth + 1);
            if (!item) return std::nullopt;
            if (!item->isNull()) out.push_back(std::move(*item));
          }
          return Value(std::move(out));
        }
        Dictionary out;
        for (std::uint64_t i = 0; i < n; ++i) {
          auto key = object(refAt(i), depth + 1);
          if (!key) return std::nullopt;
          if (!key->asString()) return refuse("dictionary key that is not a string");
          auto item = object(refAt(n + i), depth + 1);
          if (!item) return std::nullopt;
          if (!item->isNull()) out.insert_or_assign(std::move(*key->asString()), std::move(*item));
        }
        return Value(std::move(out));
      }
      default:
        return refuse("unknown object kind");
    }
  }

  const unsigned char* p_;
  std::size_t size_;
  unsigned offsetSize_ = 0, refSize_ = 0;
  std::uint64_t count_ = 0, top_ = 0;
  std::size_t table_ = 0;
  std::size_t values_ = 0;
  std::size_t payload_ = 0;
  const std::size_t payloadAllowance_;
  std::string error_;
};

// ---- the writer ----

class Writer {
 public:
  bool write(const Value& root, std::string& out) {
    std::size_t count = countObjects(root);
    refSize_ = widthFor(count);
    objects_.reserve(count);
    add(root);
    out.assign(kMagic);
    std::vector<std::uint64_t> offsets;
    offsets.reserve(objects_.size());
    for (const auto& o : objects_) {
      offsets.push_back(out.size());
      out += o;
    }
    std::uint64_t table = out.size();
    unsigned offsetSize = widthFor(table);
    for (auto off : offsets) appendBigEndian(out, off, offsetSize);
    out.append(6, '\0');
    out.push_back(static_cast<char>(offsetSize));
    out.push_back(static_cast<char>(refSize_));
    appendBigEndian(out, objects_.size(), 8);
    appendBigEndian(out, 0, 8);  // the root is object 0
    appendBigEndian(out, table, 8);
    return true;
  }

 private:
  static unsigned widthFor(std::uint64_t n) {
    if (n <= 0xFF) return 1;
    if (n <= 0xFFFF) return 2;
    if (n <= 0xFFFFFFFFu) return 4;
    return 8;
  }

  static void appendBigEndian(std::string& out, std::uint64_t v, unsigned width) {
    for (unsigned i = width; i-- > 0;) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }

  static std::size_t countObjects(const Value& v) {
    std::size_t n = 1;
    if (const auto* a = v.asArray()) {
      for (const auto& item : *a)
        if (!item.isNull()) n += countObjects(item);
    } else if (const auto* d = v.asDictionary()) {
      for (const auto& [key, item] : *d)
        if (!item.isNull()) n += 1 + countObjects(item);
    }
    return n;
  }

  static void appendMarker(std::string& out, unsigned kind, std::uint64_t length) {
    if (length < 0xF) {
      out.push_back(static_cast<char>((kind << 4) | length));
      return;
    }
    out.push_back(static_cast<char>((kind << 4) | 0xF));
    appendInteger(out, length);
  }

  static void appendInteger(std::string& out, std::uint64_t v, bool negative = false) {
    if (negative) {
      out.push_back(0x13);
      appendBigEndian(out, v, 8);
      return;
    }
    unsigned width = widthFor(v);
    unsigned log2 = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
    // Eight-byte integers are read as signed; larger unsigned values keep their bits.
    out.push_back(static_cast<char>(0x10 | log2));
    appendBigEndian(out, v, width);
  }

  static void appendDouble(std::string& out, unsigned char marker, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    out.push_back(static_cast<char>(marker));
    appendBigEndian(out, bits, 8);
  }

  static void appendString(std::string& out, const std::string& s) {
    bool ascii = true;
    for (char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
      appendMarker(out, 0x5, s.size());
      out += s;
      return;
    }
    // UTF-16 big-endian; the writers' checks have made sure the text is UTF-8.
    std::vector<std::uint16_t> units;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
      std::uint32_t cp;
      if (*p < 0x80) {
        cp = *p++;
      } else if (*p < 0xE0) {
        cp = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
        p += 2;
      } else if (*p < 0xF0) {
        cp = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
        p += 3;
      } else {
        cp = ((p[0] & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
        p += 4;
      }
      if (cp >= 0x10000) {
        cp -= 0x10000;
        units.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
        units.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        units.push_back(static_cast<std::uint16_t>(cp));
      }
    }
    appendMarker(out, 0x6, units.size());
    for (auto u : units) appendBigEndian(out, u, 2);
  }

  // Objects are numbered in the order they are first reached, the root 0; a container's
  // body is written once its members have their numbers.
  std::uint64_t add(const Value& v) {
    std::uint64_t index = objects_.size();
    objects_.emplace_back();
    std::string body;
    switch (v.type()) {
      case Value::Type::Null: break;  // never reached: containers leave nulls out
      case Value::Type::Boolean: body.push_back(*v.asBoolean() ? 0x09 : 0x08); break;
      case Value::Type::Integer: {
        std::int64_t i = *v.asInteger();
        appendInteger(body, static_cast<std::uint64_t>(i), i < 0);
        break;
      }
      case Value::Type::Real: appendDouble(body, 0x23, *v.asReal()); break;
      case Value::Type::Date: appendDouble(body, 0x33, v.asDate()->timeIntervalSinceReferenceDate()); break;
      case Value::Type::String: appendString(body, *v.asString()); break;
      case Value::Type::Data: {
        const auto& d = *v.asData();
        appendMarker(body, 0x4, d.size());
        body.append(reinterpret_cast<const char*>(d.data()), d.size());
        break;
      }
      case Value::Type::Array: {
        std::vector<std::uint64_t> refs;
        for (const auto& item : *v.asArray())
          if (!item.isNull()) refs.push_back(add(item));
        appendMarker(body, 0xA, refs.size());
        for (auto r : refs) appendBigEndian(body, r, refSize_);
        break;
      }
      case Value::Type::Dictionary: {
        std::vector<std::uint64_t> keys, values;
        for (const auto& [key, item] : *v.asDictionary()) {
          if (item.isNull()) continue;
          keys.push_back(objects_.size());
          objects_.emplace_back();
          appendString(objects_.back(), key);
          values.push_back(add(item));
        }
        appendMarker(body, 0xD, keys.size());
        for (auto r : keys) appendBigEndian(body, r, refSize_);
        for (auto r : values) appendBigEndian(body, r, refSize_);
        break;
      }
    }
    objects_[index] = std::move(body);
    return index;
  }

  unsigned refSize_ = 1;
  std::vector<std::string> objects_;
};

}  // namespace

bool looksBinary(std::string_view in) { return in.substr(0, kMagic.size()) == kMagic; }

std::optional<Value> readBinary(std::string_view in, std::string& error) { return BinaryReader(in).read(error); }

bool writeBinary(const Value& value, std::string& out, std::string& error) {
  if (!checkWritable(value, error)) return false;
  return Writer().write(value, out);
}

}  // namespace foundation::plist_forms
