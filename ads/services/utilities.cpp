#include "ads/services/utilities.h"

#include <stdlib.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <map>
#include <regex>

#include "ads/services/geometry.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/foundation/format.h"
#include "platform/foundation/json.h"
#include "platform/crypto/md5.h"

using foundation::Dictionary;
using foundation::Error;
using foundation::Value;

void QMARunOnMainThread(std::function<void()> block) {
  if (!block) return;
  if (dispatch::isMainThread()) {
    block();
  } else {
    dispatch::Queue::main()->async(std::move(block));
  }
}

// Weak reference -----------------------------------------------------------------------

std::optional<QMAWeakReference> QMAWeakReference::initWithObject(const std::shared_ptr<void>& object) {
  if (!object) return std::nullopt;
  return QMAWeakReference(object);
}

bool QMAWeakReference::isEqual(const QMAWeakReference& other) const {
  return address_ == other.address_ && !object_.owner_before(other.object_) && !other.object_.owner_before(object_);
}

std::string QMAWeakReference::description() const {
  auto obj = weakObject();
  return foundation::stringWithFormat("<%@: %p weakObject:%@ uniqueID:%p>", "QMAWeakReference",
                                      static_cast<const void*>(this),
                                      obj ? foundation::stringWithFormat("%p", obj.get()) : std::string("(null)"),
                                      address_);
}

bool QMAWeakReference::setContainsObject(const Set& set, const std::shared_ptr<void>& object) {
  auto ref = initWithObject(object);
  return ref && set.count(*ref) != 0;
}

// Cache set ----------------------------------------------------------------------------

std::shared_ptr<QMACacheSet> QMACacheSet::initWithMaxCapacity(std::uint64_t maxCapacity) {
  std::shared_ptr<QMACacheSet> set(new QMACacheSet(maxCapacity));
  set->observeMemoryWarnings();
  return set;
}

QMACacheSet::QMACacheSet(std::uint64_t maxCapacity)
    : lockQueue_(dispatch::Queue::createSerial("com.quillon.pelmark.cache-set")), maxCapacity_(maxCapacity) {}

QMACacheSet::~QMACacheSet() { foundation::NotificationCenter::defaultCenter().removeObserver(observer_); }

void QMACacheSet::observeMemoryWarnings() {
  std::weak_ptr<QMACacheSet> weak = shared_from_this();
  observer_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      "UIApplicationDidReceiveMemoryWarningNotification", nullptr, dispatch::OperationQueue::mainQueue(),
      [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->removeAllObjects();
      });
}

void QMACacheSet::addObject(std::shared_ptr<void> object) {
  if (!object) return;
  // The task holds only a weak reference: a set that goes away drops what was queued.
  std::weak_ptr<QMACacheSet> weak = weak_from_this();
  lockQueue_->async([weak, object = std::move(object)] {
    auto self = weak.lock();
    if (self && self->set_.size() < self->maxCapacity_) self->set_.insert(object);
  });
}

std::shared_ptr<void> QMACacheSet::anyObject() {
  std::shared_ptr<void> taken;
  lockQueue_->sync([&] {
    if (set_.empty()) return;
    taken = *set_.begin();
    set_.erase(set_.begin());
  });
  return taken;
}

void QMACacheSet::removeAllObjects() {
  lockQueue_->sync([&] { set_.clear(); });
}

std::size_t QMACacheSet::count() {
  std::size_t n = 0;
  lockQueue_->sync([&] { n = set_.size(); });
  return n;
}

// Session ------------------------------------------------------------------------------

QMASession::QMASession() {
  std::uint64_t id = 0;
  arc4random_buf(&id, sizeof id);
  uniqueID_ = std::to_string(id);
}

// Errors -------------------------------------------------------------------------------

Error qma_errorWithDomainCodeDescription(const std::string& domain, long code,
                                         const std::optional<std::string>& description) {
  Error e{domain, code, {}};
  if (description) {
    e.userInfo[foundation::kLocalizedDescriptionKey] = *description;
    e.userInfo[foundation::kLocalizedFailureReasonErrorKey] = *description;
  }
  return e;
}

Error qma_errorWithCodeDescription(long code, const std::optional<std::string>& description) {
  return qma_errorWithDomainCodeDescription(kQMAInternalErrorDomain, code, description);
}

std::optional<std::string> qma_localizedDescriptionForErrorCode(long code) {
  switch (code) {
    case 1:
      return "File could not be read.";
    case 2:
      return "Internal error.";
    case 3:
      return "Invalid argument.";
    default:
      return std::nullopt;
  }
}

// Typed lookup and JSON ----------------------------------------------------------------

bool QMAValueIsKindOfClass(const Value& value, QMAValueClass cls) {
  switch (cls) {
    case QMAValueClass::String:
      return value.asString() != nullptr;
    case QMAValueClass::Number:
      return value.isNumber() || value.asBoolean() != nullptr;
    case QMAValueClass::Array:
      return value.asArray() != nullptr;
    case QMAValueClass::Dictionary:
      return value.asDictionary() != nullptr;
    case QMAValueClass::Data:
      return value.asData() != nullptr;
    case QMAValueClass::Date:
      return value.asDate() != nullptr;
  }
  return false;
}

const Value* qma_objectForKeyIfIsKindOfClass(const Dictionary& dict, std::string_view key, QMAValueClass cls) {
  auto it = dict.find(key);
  if (it == dict.end() || !QMAValueIsKindOfClass(it->second, cls)) return nullptr;
  return &it->second;
}

std::optional<Value> qma_decodedJSONObjectError(std::string_view text, Error* error) {
  auto v = foundation::jsonParse(text);
  if (!v && error) {
    *error = qma_errorWithDomainCodeDescription("NSCocoaErrorDomain", 3840,
                                                "The data couldn't be read because it isn't in the correct format.");
  }
  return v;
}

bool QMAIsValidJSONObject(const Value& value) {
  switch (value.type()) {
    case Value::Type::Null:
    case Value::Type::Boolean:
    case Value::Type::Integer:
    case Value::Type::String:
      return true;
    case Value::Type::Real:
      return std::isfinite(*value.asReal());
    case Value::Type::Array:
      for (const auto& v : *value.asArray())
        if (!QMAIsValidJSONObject(v)) return false;
      return true;
    case Value::Type::Dictionary:
      for (const auto& [k, v] : *value.asDictionary())
        if (!QMAIsValidJSONObject(v)) return false;
      return true;
    default:
      return false;
  }
}

namespace {
nlohmann::ordered_json toJSON(const Value& v) {
  switch (v.type()) {
    case Value::Type::Boolean:
      return *v.asBoolean();
    case Value::Type::Integer:
      return *v.asInteger();
    case Value::Type::Real:
      return *v.asReal();
    case Value::Type::String:
      return *v.asString();
    case Value::Type::Array: {
      auto a = nlohmann::ordered_json::array();
      for (const auto& e : *v.asArray()) a.push_back(toJSON(e));
      return a;
    }
    case Value::Type::Dictionary: {
      auto o = nlohmann::ordered_json::object();
      for (const auto& [k, e] : *v.asDictionary()) o[k] = toJSON(e);
      return o;
    }
    default:
      return nullptr;
  }
}
}  // namespace

std::optional<std::string> qma_JSONStringPretty(const Dictionary& dict, bool pretty, Error* error) {
  Value v(dict);
  if (!QMAIsValidJSONObject(v)) {
    if (error) *error = qma_errorWithCodeDescription(2, "Invalid JSON object.");
    return std::nullopt;
  }
  return toJSON(v).dump(pretty ? 2 : -1);
}

Dictionary qma_JSONSafeDictionary(const Dictionary& dict) {
  Dictionary out = dict;
  for (auto& [k, v] : out) {
    if (auto d = v.asDictionary()) {
      v = Value(qma_JSONSafeDictionary(*d));
    } else if (!QMAIsValidJSONObject(v)) {
      v = Value(foundation::description(v));
    }
  }
  return out;
}

// Texts --------------------------------------------------------------------------------

std::string QMAStringFromBOOL(bool value) { return value ? "1" : "0"; }

std::string QMAStringFromDouble(double value) {
  std::string s = foundation::stringWithFormat("%f", value);
  if (s.empty()) return "";
  std::size_t i = s.size();
  while (i > 0 && s[i - 1] == '0') --i;
  if (i == 0) return s;
  if (s[i - 1] == '.') return s.substr(0, i - 1);
  return s.substr(0, i);
}

bool QMAIsValidUTF8(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size()) {
    unsigned char c = static_cast<unsigned char>(t[i]);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    for (std::size_t k = 1; k <= n; ++k) {
      if (i + k >= t.size()) return false;
      unsigned char cc = static_cast<unsigned char>(t[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

std::optional<foundation::Bytes> qma_MD5Data(std::string_view text) {
  if (!QMAIsValidUTF8(text)) return std::nullopt;
  auto d = crypto::md5(text);
  return foundation::Bytes(d.begin(), d.end());
}

std::optional<std::string> qma_MD5String(std::string_view text) {
  if (!QMAIsValidUTF8(text)) return std::nullopt;
  return crypto::md5Hex(text);
}

std::string qma_escapeAts(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '@') out += '@';
  }
  return out;
}

std::string qma_stripTrailingSlash(std::string_view text) {
  if (!text.empty() && text.back() == '/') text.remove_suffix(1);
  return std::string(text);
}

void qma_replaceAtQuotedKeywordPatternWithString(std::string& text, const std::optional<std::string>& pattern,
                                                 const std::optional<std::string>& replacement) {
  if (!pattern || !replacement) return;
  // Text without a sign holds no macro: nothing to compile or scan (most templates, and
  // every URL once its macros are filled in).
  if (text.find('@') == std::string::npos) return;
  // The macro "(?<!@)((?:@@)*)@KEY(?<!@)((?:@@)*)@", matched leftmost first, written by
  // hand since the standard regular expressions have no look-behind. A macro's opening run
  // of "@" starts after a character other than "@" and has odd length (escaped pairs, then
  // the opening sign); the key may not hold "@"; the closing run takes as many whole pairs
  // as leave one sign to close.
  // Compiling a key costs far more than matching it; the keys in use are a few fixed ones,
  // kept compiled per thread (a bounded cache, since a caller could pass any text).
  thread_local std::map<std::string, std::regex, std::less<>> compiled;
  auto found = compiled.find(*pattern);
  if (found == compiled.end()) {
    std::regex made;
    try {
      made = std::regex(*pattern);
    } catch (const std::regex_error&) {
      return;
    }
    if (compiled.size() >= 64) compiled.clear();
    found = compiled.emplace(*pattern, std::move(made)).first;
  }
  const std::regex& key = found->second;
  std::string out;
  std::size_t i = 0, copied = 0;
  const std::size_t n = text.size();
  while (i < n) {
    if (text[i] != '@' || (i > 0 && text[i - 1] == '@')) {
      ++i;
      continue;
    }
    std::size_t run = 0;
    while (i + run < n && text[i + run] == '@') ++run;
    if (run % 2 == 0) {
      i += run;
      continue;
    }
    std::size_t keyStart = i + run;
    std::smatch m;
    std::string rest = text.substr(keyStart);
    if (!std::regex_search(rest, m, key, std::regex_constants::match_continuous) || m.length(0) == 0 ||
        m.str(0).find('@') != std::string::npos) {
      i += run;
      continue;
    }
    std::size_t close = keyStart + static_cast<std::size_t>(m.length(0));
    std::size_t closeRun = 0;
    while (close + closeRun < n && text[close + closeRun] == '@') ++closeRun;
    if (closeRun == 0) {
      i += run;
      continue;
    }
    std::size_t pairs = (closeRun - 1) / 2;
    out.append(text, copied, i - copied);
    out.append(run - 1, '@');
    out += *replacement;
    out.append(pairs * 2, '@');
    i = copied = close + pairs * 2 + 1;
  }
  out.append(text, copied, std::string::npos);
  text = std::move(out);
}

void qma_removeAtQuotedKeywords(std::string& text) { qma_replaceAtQuotedKeywordPatternWithString(text, "[^@]+", ""); }

void qma_unescapeAts(std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '@' && i + 1 < text.size() && text[i + 1] == '@') ++i;
  }
  text = std::move(out);
}

std::string QMAFillTemplate(std::string_view templ, const std::vector<std::pair<std::string, std::string>>& values) {
  std::string s(templ);
  for (const auto& [key, value] : values) {
    std::string literalKey;
    for (char c : key) {
      if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) literalKey += '\\';
      literalKey += c;
    }
    qma_replaceAtQuotedKeywordPatternWithString(s, literalKey, qma_escapeAts(value));
  }
  qma_removeAtQuotedKeywords(s);
  qma_unescapeAts(s);
  return s;
}

bool qma_isEquivalentToURLString(std::string_view a, std::string_view b) {
  return qma_stripTrailingSlash(a) == qma_stripTrailingSlash(b);
}

std::uint64_t QMAInterfaceOrientationMaskFromString(const std::optional<std::string>& word) {
  if (!word) return 0;
  if (*word == "any") return 30;
  if (*word == "portrait") return 6;
  if (*word == "landscape") return 24;
  return 0;
}

bool QMAOrientationMaskContainsOrientation(std::uint64_t mask, long orientation) {
  if (orientation < 0 || orientation > 63) return false;
  return (mask & (std::uint64_t{1} << orientation)) != 0;
}

void QMALinkCategory_NSString_QMAJSONAdditions() {}
void QMALinkCategory_NSDictionary_QMAJSONAdditions() {}
void QMALinkCategory_NSError_QMAInternalErrorAdditions() {}

void QMACategories::linkCategoriesAndClasses() {
  QMALinkCategory_NSString_QMAJSONAdditions();
  QMALinkCategory_NSDictionary_QMAJSONAdditions();
  QMALinkCategory_NSError_QMAInternalErrorAdditions();
  QMALinkCategory_UIView_QMAVisibilityAdditions();
  QMALinkCategory_UIView_QMARenderAdditions();
}
