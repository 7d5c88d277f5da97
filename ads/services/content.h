#pragma once
// The content fingerprint of one walk over the host application's screen: paragraphs of
// on-screen text are cut into tokens, runs of consecutive tokens (shingles) get a rolling
// hash, the largest distinct hashes are kept, and the kept shingles are digested into a
// short web-safe base64 text. The record also carries a score that decides which of the
// recent fingerprints an ad request is given.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ads/services/binary_heap.h"

// MurmurHash3, x86 32-bit variant.
std::uint32_t QMAMurmurHash3_x86_32(const void* data, std::size_t length, std::uint32_t seed);

class QMAShingleHashTuple {
 public:
  QMAShingleHashTuple(std::vector<std::string> shingle, std::uint64_t hashValue)
      : shingle_(std::move(shingle)), hashValue_(hashValue) {}
  const std::vector<std::string>& shingle() const { return shingle_; }
  std::uint64_t hashValue() const { return hashValue_; }

 private:
  std::vector<std::string> shingle_;
  std::uint64_t hashValue_;
};

// The tunables of a record; the ad server may override each in the user defaults.
struct QMAContentConstants {
  std::int64_t contentAgeWeight = 1;
  std::int64_t contentLengthWeight = 1;
  std::uint64_t maximumShingleCount = 10;
  std::uint64_t minimumParagraphLength = 6;
  std::uint64_t shingleLength = 6;

  // The defaults with every server value stored in the standard user defaults applied.
  static QMAContentConstants fromUserDefaults();
};

class QMAContent {
 public:
  // Rolling-hash modulus and base.
  static constexpr std::uint64_t kModulus = 0x4000FFFF;
  static constexpr std::uint64_t kBase = 0x01001FFF;

  // A record of walk number `sequenceNumber` with the server's current constants.
  static std::shared_ptr<QMAContent> initWithSequenceNumber(std::uint64_t sequenceNumber);
  QMAContent(std::uint64_t sequenceNumber, const QMAContentConstants& constants);

  // Adds one piece of on-screen text: its lines of at least the minimum length count
  // toward the score, and are hashed when the score rises.
  void updateContentWithText(std::string_view utf8Text);
  // The same for text already in UTF-16.
  void updateContentWithText(std::u16string_view text);
  // Hashes every shingle of one paragraph's tokens into the heap.
  void selectShinglesFromTokens(const std::vector<std::string>& tokens);
  void updateHeapWithHash(std::uint64_t hash, const std::vector<std::string>& shingle);
  // The fingerprint of the heap's current contents; empty for an empty heap.
  std::string shingleHash() const;
  void deductServedPenalty() { score_ = static_cast<std::int64_t>(static_cast<std::uint64_t>(score_) - 100); }

  const std::string& fingerprint() const { return fingerprint_; }
  std::int64_t score() const { return score_; }
  std::uint64_t sequenceNumber() const { return sequenceNumber_; }
  std::uint64_t contentTotalLength() const { return contentTotalLength_; }
  std::uint64_t heapCount() const { return heap_.count(); }

  // The tokens of one (already lower-cased) paragraph under the character sets in force.
  static std::vector<std::string> tokenize(std::u16string_view paragraph);
  // A token's value in the rolling hash.
  static std::uint64_t tokenValue(std::string_view token);

 private:
  void hashParagraph(std::u16string_view paragraph);
  void offer(std::uint64_t hash, const std::string* const* window);

  std::int64_t contentAgeWeight_;
  std::int64_t contentLengthWeight_;
  std::uint64_t contentTotalLength_ = 0;
  QMABinaryHeap<QMAShingleHashTuple> heap_;
  std::uint64_t maximumShingleCount_;
  std::uint64_t minimumParagraphLength_;
  std::uint64_t shingleLength_;
  std::string fingerprint_;
  std::int64_t score_ = 0;
  std::uint64_t sequenceNumber_;
};
