#pragma once
// The two character classes by which on-screen text is cut into tokens: characters that
// form a token each on their own (ideographs, kana, hangul by default) and characters
// that join into space-delimited words (letters, marks and digits by default). The ad
// server may replace either with a JSON list of [location, length] code-point ranges.

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/foundation/value.h"

// A set of characters tested one UTF-16 code unit at a time, as the tokenizer walks text.
// Ranges above U+FFFF are accepted but can never match a single unit, so only the Basic
// Multilingual Plane is stored.
class QMACharacterSet {
 public:
  void addCharactersInRange(std::uint32_t location, std::uint32_t length);
  bool characterIsMember(char16_t unit) const { return (bits_[unit >> 6] >> (unit & 63)) & 1; }
  bool operator==(const QMACharacterSet&) const = default;

  // Letters, marks and digits (Unicode general categories L, M and N).
  static const QMACharacterSet& alphanumericCharacterSet();

 private:
  std::array<std::uint64_t, 65536 / 64> bits_{};
};

class QMACharacterSets {
 public:
  static constexpr std::string_view kCharacterDelimitedKey = "/quillon/ads/character_delimited_unicode_range";
  static constexpr std::string_view kSpaceDelimitedKey = "/quillon/ads/space_delimited_unicode_range";

  static QMACharacterSets& sharedInstance();

  // The sets in force. They are immutable once built, so a shared reference serves as
  // the copy a caller may keep while the server replaces them.
  std::shared_ptr<const QMACharacterSet> characterDelimitedSet() const;
  std::shared_ptr<const QMACharacterSet> spaceDelimitedSet() const;

  // Rebuilds both sets from the two server constants in the standard user defaults.
  void updateCharacterSets();
  // The same from given stored values (null: no value under the key).
  void updateCharacterSetsWithValues(const foundation::Value* characterDelimited,
                                     const foundation::Value* spaceDelimited);

  // A server value: JSON text of an array of [location, length] integer pairs. Nullopt
  // for anything else, and for a pair that is negative or reaches past U+10FFFF.
  static std::optional<QMACharacterSet> parseUnicodeRanges(const foundation::Value& value);
  static std::optional<QMACharacterSet> parseUnicodeRangesFromJSON(std::string_view json);
  // The built-in character-delimited set: CJK ideographs, kana, hangul and their blocks.
  static const QMACharacterSet& defaultCharacterDelimitedSet();

 private:
  QMACharacterSets();

  mutable std::mutex lock_;
  std::shared_ptr<const QMACharacterSet> characterDelimitedSet_;
  std::shared_ptr<const QMACharacterSet> spaceDelimitedSet_;
};
