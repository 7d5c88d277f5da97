#include "ads/services/content.h"

#include <cstring>

#include "ads/services/character_sets.h"
#include "ads/services/string_encoding.h"
#include "platform/crypto/md5.h"
#include "platform/unicode/unicode.h"

namespace {

std::uint32_t rotl32(std::uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

std::uint32_t fmix32(std::uint32_t h) {
  h ^= h >> 16;
  h *= 0x85ebca6b;
  h ^= h >> 13;
  h *= 0xc2b2ae35;
  h ^= h >> 16;
  return h;
}

void appendUtf8(std::u16string_view s, std::string& out) {
  out.clear();
  unicode::appendUTF8FromUTF16(s, out);
}

// Walks one paragraph and calls `emit(start, length)` for each token.
template <class Emit>
void forEachToken(std::u16string_view p, const QMACharacterSet& characterDelimited, const QMACharacterSet& spaceDelimited,
                  Emit&& emit) {
  size_t start = 0, length = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    const char16_t unit = p[i];
    if (characterDelimited.characterIsMember(unit)) {
      if (length) emit(start, length);
      emit(i, size_t{1});
      length = 0;
    } else if (!spaceDelimited.characterIsMember(unit)) {
      if (length) emit(start, length);
      length = 0;
    } else {
      if (!length) start = i;
      ++length;
    }
  }
  if (length) emit(start, length);
}

std::uint64_t valueOfHash(std::uint32_t h) {
  const std::int64_t widened = static_cast<std::int32_t>(h);
  return static_cast<std::uint64_t>(widened + 0x7FFFFFFF) % QMAContent::kModulus;
}

std::uint64_t powMod(std::uint64_t base, std::uint64_t exponent, std::uint64_t modulus) {
  std::uint64_t result = 1 % modulus;
  base %= modulus;
  while (exponent) {
    if (exponent & 1) result = result * base % modulus;
    base = base * base % modulus;
    exponent >>= 1;
  }
  return result;
}

// The rolling hash over every window of `length` values; `offer(hash, firstIndex)` gets
// each window's hash.
template <class Offer>
void rollWindows(const std::vector<std::uint64_t>& t, std::uint64_t length, Offer&& offer) {
  constexpr std::uint64_t P = QMAContent::kModulus, B = QMAContent::kBase;
  const std::uint64_t n = t.size();
  // A window of no tokens has no hash: a server length of 0 hashes nothing.
  if (length == 0 || n < length) return;
  std::uint64_t h = t[0];
  for (std::uint64_t i = 1; i < length; ++i) {
    h = h * B % P;
    h = (h + t[i]) % P;
  }
  offer(h, std::uint64_t{0});
  const std::uint64_t w = powMod(B, length - 1, P);
  for (std::uint64_t i = 0; i + length < n; ++i) {
    h = (t[i + length] + (h + P - t[i] * w % P) % P * B % P) % P;
    offer(h, i + 1);
  }
}

}  // namespace

std::uint32_t QMAMurmurHash3_x86_32(const void* key, std::size_t length, std::uint32_t seed) {
  const auto* data = static_cast<const std::uint8_t*>(key);
  const std::size_t blocks = length / 4;
  std::uint32_t h1 = seed;
  constexpr std::uint32_t c1 = 0xcc9e2d51, c2 = 0x1b873593;
  for (std::size_t i = 0; i < blocks; ++i) {
    std::uint32_t k1;
    std::memcpy(&k1, data + i * 4, 4);  // little-endian hosts only, like the published code
    k1 *= c1;
    k1 = rotl32(k1, 15);
    k1 *= c2;
    h1 ^= k1;
    h1 = rotl32(h1, 13);
    h1 = h1 * 5 + 0xe6546b64;
  }
  const std::uint8_t* tail = data + blocks * 4;
  std::uint32_t k1 = 0;
  switch (length & 3) {
    case 3:
      k1 ^= static_cast<std::uint32_t>(tail[2]) << 16;
      [[fallthrough]];
    case 2:
      k1 ^= static_cast<std::uint32_t>(tail[1]) << 8;
      [[fallthrough]];
    case 1:
      k1 ^= tail[0];
      k1 *= c1;
      k1 = rotl32(k1, 15);
      k1 *= c2;
      h1 ^= k1;
  }
  h1 ^= static_cast<std::uint32_t>(length);
  return fmix32(h1);
}

QMAContent::QMAContent(std::uint64_t sequenceNumber, const QMAContentConstants& c)
    : contentAgeWeight_(c.contentAgeWeight),
      contentLengthWeight_(c.contentLengthWeight),
      heap_([](const QMAShingleHashTuple& a, const QMAShingleHashTuple& b) {
        return a.hashValue() < b.hashValue() ? -1 : a.hashValue() > b.hashValue() ? 1 : 0;
      }),
      maximumShingleCount_(c.maximumShingleCount),
      minimumParagraphLength_(c.minimumParagraphLength),
      shingleLength_(c.shingleLength),
      sequenceNumber_(sequenceNumber) {}

std::shared_ptr<QMAContent> QMAContent::initWithSequenceNumber(std::uint64_t sequenceNumber) {
  return std::make_shared<QMAContent>(sequenceNumber, QMAContentConstants::fromUserDefaults());
}

std::uint64_t QMAContent::tokenValue(std::string_view token) {
  return valueOfHash(QMAMurmurHash3_x86_32(token.data(), token.size(), 0));
}

std::vector<std::string> QMAContent::tokenize(std::u16string_view paragraph) {
  auto& sets = QMACharacterSets::sharedInstance();
  const auto characterDelimited = sets.characterDelimitedSet();
  const auto spaceDelimited = sets.spaceDelimitedSet();
  std::vector<std::string> tokens;
  forEachToken(paragraph, *characterDelimited, *spaceDelimited, [&](size_t start, size_t length) {
    appendUtf8(paragraph.substr(start, length), tokens.emplace_back());
  });
  return tokens;
}

void QMAContent::updateContentWithText(std::string_view utf8Text) {
  if (utf8Text.empty()) return;
  updateContentWithText(std::u16string_view(unicode::utf16FromUTF8(utf8Text)));
}

void QMAContent::updateContentWithText(std::u16string_view text) {
  if (text.empty()) return;
  std::vector<std::u16string_view> paragraphs;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(u'\n', start);
    const auto line = text.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
    if (line.size() >= minimumParagraphLength_) {
      paragraphs.push_back(line);
      contentTotalLength_ += line.size();
    }
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  const std::uint64_t newScore = static_cast<std::uint64_t>(contentAgeWeight_) * sequenceNumber_ +
                                 static_cast<std::uint64_t>(contentLengthWeight_) * contentTotalLength_;
  if (newScore <= static_cast<std::uint64_t>(score_)) return;
  score_ = static_cast<std::int64_t>(newScore);
  for (auto paragraph : paragraphs) hashParagraph(paragraph);
  fingerprint_ = shingleHash();
}

// The fast path of tokenize + selectShinglesFromTokens: token texts are only made for
// shingles that enter the heap.
void QMAContent::hashParagraph(std::u16string_view paragraph) {
  thread_local std::u16string lower;
  thread_local std::string utf8;
  thread_local std::vector<std::pair<size_t, size_t>> spans;
  thread_local std::vector<std::uint64_t> values;
  unicode::lowercase(paragraph, "en_US", lower);
  auto& sets = QMACharacterSets::sharedInstance();
  const auto characterDelimited = sets.characterDelimitedSet();
  const auto spaceDelimited = sets.spaceDelimitedSet();
  spans.clear();
  values.clear();
  const std::u16string_view p(lower);
  forEachToken(p, *characterDelimited, *spaceDelimited, [&](size_t start, size_t length) {
    spans.emplace_back(start, length);
    appendUtf8(p.substr(start, length), utf8);
    values.push_back(tokenValue(utf8));
  });
  rollWindows(values, shingleLength_, [&](std::uint64_t hash, std::uint64_t first) {
    if (maximumShingleCount_ == 0) return;
    if (heap_.count() >= maximumShingleCount_ && heap_.minimum()->hashValue() >= hash) return;
    std::vector<std::string> shingle;
    shingle.reserve(shingleLength_);
    for (std::uint64_t i = first; i < first + shingleLength_; ++i) {
      appendUtf8(p.substr(spans[i].first, spans[i].second), shingle.emplace_back());
    }
    updateHeapWithHash(hash, shingle);
  });
}

void QMAContent::selectShinglesFromTokens(const std::vector<std::string>& tokens) {
  std::vector<std::uint64_t> values;
  values.reserve(tokens.size());
  for (const auto& token : tokens) values.push_back(tokenValue(token));
  rollWindows(values, shingleLength_, [&](std::uint64_t hash, std::uint64_t first) {
    const auto begin = tokens.begin() + static_cast<std::ptrdiff_t>(first);
    updateHeapWithHash(hash, std::vector<std::string>(begin, begin + static_cast<std::ptrdiff_t>(shingleLength_)));
  });
}

void QMAContent::updateHeapWithHash(std::uint64_t hash, const std::vector<std::string>& shingle) {
  // A maximum of 0 keeps nothing (and an empty heap has no minimum to compare with).
  if (maximumShingleCount_ == 0) return;
  if (heap_.count() >= maximumShingleCount_ && heap_.minimum()->hashValue() >= hash) return;
  auto tuple = std::make_shared<QMAShingleHashTuple>(shingle, hash);
  if (heap_.containsObject(tuple)) return;
  heap_.addObject(std::move(tuple));
  if (heap_.count() > maximumShingleCount_) heap_.removedMinimum();
}

std::string QMAContent::shingleHash() const {
  if (heap_.count() == 0) return {};
  std::string output;
  std::string folded;
  for (const auto& tuple : heap_.sortedObjects()) {
    folded.clear();
    for (const auto& token : tuple->shingle()) {
      const std::uint32_t h = QMAMurmurHash3_x86_32(token.data(), token.size(), 0);
      folded.push_back(static_cast<char>((h ^ (h >> 8) ^ (h >> 16) ^ (h >> 24)) & 0xFF));
    }
    const auto digest = crypto::md5(folded);
    output.append(reinterpret_cast<const char*>(digest.data()), 4);
  }
  static const auto websafe = QMA_KLVStringEncoding::rfc4648Base64WebsafeStringEncoding();
  return websafe->encode(std::string_view(output));
}
