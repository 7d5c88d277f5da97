#pragma once
// Small tools shared by the whole ad component: running on the main thread, weak
// references that can live in sets, a bounded cache set, the session identifier, the
// internal error domain, typed lookups, JSON in both directions, number texts, MD5
// digests, the "@" template macros, URL string comparison and orientation masks.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>

#include "platform/dispatch/queue.h"
#include "platform/foundation/error.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/value.h"

// Runs the block at once on the main thread; from any other thread queues it on the main queue.
void QMARunOnMainThread(std::function<void()> block);

// A weak reference whose identity is the referenced object: two references to one object
// are equal and hash alike, also after the object is gone. Identity is the object's
// ownership (its control block), which stays allocated while any reference exists, so a
// new object that happens to reuse a dead one's address is never taken for it.
class QMAWeakReference {
 public:
  // Nullopt for a null object.
  static std::optional<QMAWeakReference> initWithObject(const std::shared_ptr<void>& object);

  std::shared_ptr<void> weakObject() const { return object_.lock(); }
  // The referenced object's address when the reference was made.
  const void* uniqueID() const { return address_; }
  std::size_t hash() const { return std::hash<const void*>()(address_); }
  bool isEqual(const QMAWeakReference& other) const;
  friend bool operator==(const QMAWeakReference& a, const QMAWeakReference& b) { return a.isEqual(b); }
  std::string description() const;

  struct Hasher {
    std::size_t operator()(const QMAWeakReference& r) const { return r.hash(); }
  };
  using Set = std::unordered_set<QMAWeakReference, Hasher>;
  static bool setContainsObject(const Set& set, const std::shared_ptr<void>& object);

 private:
  explicit QMAWeakReference(const std::shared_ptr<void>& object) : object_(object), address_(object.get()) {}
  std::weak_ptr<void> object_;
  const void* address_;
};

// A set of at most `maxCapacity` objects, guarded by its own serial queue and emptied on
// every memory warning.
class QMACacheSet : public std::enable_shared_from_this<QMACacheSet> {
 public:
  static std::shared_ptr<QMACacheSet> initWithMaxCapacity(std::uint64_t maxCapacity);
  virtual ~QMACacheSet();

  // Added asynchronously, only while fewer than maxCapacity objects are held.
  virtual void addObject(std::shared_ptr<void> object);
  // Takes one object out of the set; null when empty.
  virtual std::shared_ptr<void> anyObject();
  virtual void removeAllObjects();
  std::uint64_t maxCapacity() const { return maxCapacity_; }
  std::size_t count();

 protected:
  explicit QMACacheSet(std::uint64_t maxCapacity);
  // Starts listening for memory warnings; the factory calls it once the object is shared.
  void observeMemoryWarnings();

 private:
  foundation::NotificationCenter::ObserverToken observer_;
  dispatch::QueuePtr lockQueue_;
  std::unordered_set<std::shared_ptr<void>> set_;
  std::uint64_t maxCapacity_;
};

// The identifier of this run of the process: 8 random bytes as one unsigned 64-bit
// number, written in decimal.
class QMASession {
 public:
  QMASession();
  const std::string& uniqueID() const { return uniqueID_; }

 private:
  std::string uniqueID_;
};

// Internal errors: domain "com.quillon.ads.private".
inline constexpr const char* kQMAInternalErrorDomain = "com.quillon.ads.private";
foundation::Error qma_errorWithDomainCodeDescription(const std::string& domain, long code,
                                                     const std::optional<std::string>& description);
foundation::Error qma_errorWithCodeDescription(long code, const std::optional<std::string>& description);
// 1 "File could not be read.", 2 "Internal error.", 3 "Invalid argument."; others nullopt.
std::optional<std::string> qma_localizedDescriptionForErrorCode(long code);

// The classes of the typed lookup. Number covers integers, reals and Booleans.
enum class QMAValueClass { String, Number, Array, Dictionary, Data, Date };
bool QMAValueIsKindOfClass(const foundation::Value& value, QMAValueClass cls);
// The value under the key when it is of that class, else null.
const foundation::Value* qma_objectForKeyIfIsKindOfClass(const foundation::Dictionary& dict, std::string_view key,
                                                         QMAValueClass cls);

// JSON text to a value; top-level fragments allowed. Nullopt and the parser's error on failure.
std::optional<foundation::Value> qma_decodedJSONObjectError(std::string_view text, foundation::Error* error = nullptr);
// Whether the JSON writer takes the value (strings, finite numbers, Booleans, null,
// arrays and dictionaries of them).
bool QMAIsValidJSONObject(const foundation::Value& value);
// JSON text of the dictionary, indented when `pretty`; nullopt and internal error 2
// "Invalid JSON object." when it holds something JSON cannot.
std::optional<std::string> qma_JSONStringPretty(const foundation::Dictionary& dict, bool pretty,
                                                foundation::Error* error = nullptr);
// A copy in which, at every depth of nested dictionaries, values JSON cannot hold are
// replaced by their description.
foundation::Dictionary qma_JSONSafeDictionary(const foundation::Dictionary& dict);

std::string QMAStringFromBOOL(bool value);
// "%f", then trailing zeros cut, and the point with them: 2.0 "2", 1.5 "1.5", 0.25 "0.25".
std::string QMAStringFromDouble(double value);

// Whether the bytes are well-formed UTF-8.
bool QMAIsValidUTF8(std::string_view text);
// The 16-byte MD5 digest of the text's UTF-8 bytes; nullopt when they are not UTF-8.
std::optional<foundation::Bytes> qma_MD5Data(std::string_view text);
// The digest as 32 lower-case hexadecimal digits.
std::optional<std::string> qma_MD5String(std::string_view text);

// "@" template macros: "@key@" is a macro, "@@" a literal "@".
std::string qma_escapeAts(std::string_view text);
std::string qma_stripTrailingSlash(std::string_view text);
// Replaces every "@<pattern>@" whose "@" signs are not escaped; `pattern` is a regular
// expression fragment (a plain key, or "[^@]+" for any key). Nothing when either is nullopt.
void qma_replaceAtQuotedKeywordPatternWithString(std::string& text, const std::optional<std::string>& pattern,
                                                 const std::optional<std::string>& replacement);
void qma_removeAtQuotedKeywords(std::string& text);
void qma_unescapeAts(std::string& text);
// Fills a template: each key's macro with its value (escaped), then removes the macros
// left, then unescapes "@@".
std::string QMAFillTemplate(std::string_view templ, const std::vector<std::pair<std::string, std::string>>& values);
bool qma_isEquivalentToURLString(std::string_view a, std::string_view b);

// Interface orientations and their masks: bit n is orientation n.
enum QMAInterfaceOrientation : long {
  QMAInterfaceOrientationUnknown = 0,
  QMAInterfaceOrientationPortrait = 1,
  QMAInterfaceOrientationPortraitUpsideDown = 2,
  QMAInterfaceOrientationLandscapeRight = 3,
  QMAInterfaceOrientationLandscapeLeft = 4,
};
// "any" 30, "portrait" 6, "landscape" 24; anything else 0.
std::uint64_t QMAInterfaceOrientationMaskFromString(const std::optional<std::string>& word);
bool QMAOrientationMaskContainsOrientation(std::uint64_t mask, long orientation);

// Keeps the categories and classes reached only by name in every program that links the
// component. Nothing calls it at run time.
class QMACategories {
 public:
  static void linkCategoriesAndClasses();
};
void QMALinkCategory_NSString_QMAJSONAdditions();
void QMALinkCategory_NSDictionary_QMAJSONAdditions();
void QMALinkCategory_NSError_QMAInternalErrorAdditions();
