#include "ads/services/character_sets.h"

#include <cmath>

#include "platform/foundation/json.h"
#include "platform/foundation/user_defaults.h"
#include "platform/unicode/unicode.h"

void QMACharacterSet::addCharactersInRange(std::uint32_t location, std::uint32_t length) {
  const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{location} + length, 0x10000);
  for (std::uint64_t c = location; c < end; ++c) bits_[c >> 6] |= std::uint64_t{1} << (c & 63);
}

const QMACharacterSet& QMACharacterSet::alphanumericCharacterSet() {
  static const QMACharacterSet set = [] {
    QMACharacterSet s;
    for (std::uint32_t c = 0; c < 0x10000; ++c) {
      if (unicode::isAlphanumeric(c)) s.addCharactersInRange(c, 1);
    }
    return s;
  }();
  return set;
}

const QMACharacterSet& QMACharacterSets::defaultCharacterDelimitedSet() {
  static const QMACharacterSet set = [] {
    static constexpr std::pair<std::uint32_t, std::uint32_t> kRanges[] = {
        {0x4E00, 0x51CD}, {0x3400, 0x19B6}, {0x20000, 0xA6D7}, {0x3300, 0x100}, {0xF900, 0x200},
        {0x2F800, 0x220}, {0x3100, 0x30},   {0x31A0, 0x20},    {0x3040, 0x60},  {0x30A0, 0x5B},
        {0x30FC, 4},      {0x3200, 0x100},  {0xFF66, 0x38},    {0xFFA1, 0x3C},  {0x1B000, 0x100},
        {0x31F0, 0x10},   {0xAC00, 0x2BB0}, {0x1100, 0x100},
    };
    QMACharacterSet s;
    for (auto [location, length] : kRanges) s.addCharactersInRange(location, length);
    return s;
  }();
  return set;
}

std::optional<QMACharacterSet> QMACharacterSets::parseUnicodeRangesFromJSON(std::string_view json) {
  auto parsed = foundation::jsonParse(json);
  if (!parsed) return std::nullopt;
  const foundation::Array* pairs = parsed->asArray();
  if (!pairs) return std::nullopt;
  QMACharacterSet set;
  for (const auto& pair : *pairs) {
    const foundation::Array* p = pair.asArray();
    if (!p || p->size() != 2) return std::nullopt;
    auto location = (*p)[0].doubleValue();
    auto length = (*p)[1].doubleValue();
    if (!location || !length) return std::nullopt;
    // Values come off the network: a pair that is negative or runs past the last code
    // point makes the whole value malformed instead of reaching the set.
    const double loc = std::trunc(*location), len = std::trunc(*length);
    if (!(loc >= 0 && len >= 0 && loc + len <= 0x110000)) return std::nullopt;
    set.addCharactersInRange(static_cast<std::uint32_t>(loc), static_cast<std::uint32_t>(len));
  }
  return set;
}

std::optional<QMACharacterSet> QMACharacterSets::parseUnicodeRanges(const foundation::Value& value) {
  const std::string* text = value.asString();
  if (!text) return std::nullopt;
  return parseUnicodeRangesFromJSON(*text);
}

QMACharacterSets::QMACharacterSets() { updateCharacterSets(); }

QMACharacterSets& QMACharacterSets::sharedInstance() {
  static QMACharacterSets instance;
  return instance;
}

std::shared_ptr<const QMACharacterSet> QMACharacterSets::characterDelimitedSet() const {
  std::lock_guard lock(lock_);
  return characterDelimitedSet_;
}

std::shared_ptr<const QMACharacterSet> QMACharacterSets::spaceDelimitedSet() const {
  std::lock_guard lock(lock_);
  return spaceDelimitedSet_;
}

void QMACharacterSets::updateCharacterSetsWithValues(const foundation::Value* characterDelimited,
                                                     const foundation::Value* spaceDelimited) {
  // Parse outside the lock; only the swap is guarded.
  std::optional<std::shared_ptr<const QMACharacterSet>> newCharacter, newSpace;
  if (characterDelimited) {
    auto parsed = parseUnicodeRanges(*characterDelimited);
    newCharacter = parsed ? std::make_shared<const QMACharacterSet>(*parsed) : nullptr;
  }
  if (spaceDelimited) {
    auto parsed = parseUnicodeRanges(*spaceDelimited);
    newSpace = parsed ? std::make_shared<const QMACharacterSet>(*parsed) : nullptr;
  }
  std::lock_guard lock(lock_);
  if (newCharacter) characterDelimitedSet_ = *newCharacter;
  if (!characterDelimitedSet_) {
    characterDelimitedSet_ = std::make_shared<const QMACharacterSet>(defaultCharacterDelimitedSet());
  }
  if (newSpace) spaceDelimitedSet_ = *newSpace;
  if (!spaceDelimitedSet_) {
    spaceDelimitedSet_ = std::make_shared<const QMACharacterSet>(QMACharacterSet::alphanumericCharacterSet());
  }
}

void QMACharacterSets::updateCharacterSets() {
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  const foundation::Value characterDelimited = defaults->objectForKey(kCharacterDelimitedKey);
  const foundation::Value spaceDelimited = defaults->objectForKey(kSpaceDelimitedKey);
  updateCharacterSetsWithValues(characterDelimited.isNull() ? nullptr : &characterDelimited,
                                spaceDelimited.isNull() ? nullptr : &spaceDelimited);
}
