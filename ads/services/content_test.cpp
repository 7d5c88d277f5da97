#include "ads/services/content.h"

#include <gtest/gtest.h>

#include "ads/services/character_sets.h"
#include "ads/services/test_support.h"

namespace {

QMAContent record(std::uint64_t seq = 1, QMAContentConstants c = {}) { return QMAContent(seq, c); }

TEST(ContentFingerprint, ReproducesTheWorkedExample) {
  auto content = record(1);
  content.updateContentWithText("a b c d e f g h");
  EXPECT_EQ(content.contentTotalLength(), 15u);
  EXPECT_EQ(content.score(), 16);
  EXPECT_EQ(content.heapCount(), 3u);
  EXPECT_EQ(content.fingerprint(), "0NK6sCCa8i8Xcm_u");
}

TEST(ContentFingerprint, TokenHashesAndValues) {
  EXPECT_EQ(QMAMurmurHash3_x86_32("a", 1, 0), 0x3C2569B2u);
  EXPECT_EQ(QMAMurmurHash3_x86_32("b", 1, 0), 0x95DE7E03u);
  EXPECT_EQ(QMAMurmurHash3_x86_32("", 0, 0), 0u);
  EXPECT_EQ(QMAMurmurHash3_x86_32("hello, world", 12, 0), 0x149bbb7fu);
  EXPECT_EQ(QMAContent::tokenValue("a"), 1008953779u);
  EXPECT_EQ(QMAContent::tokenValue("b"), 366902786u) << "a negative 32-bit hash";
}

TEST(ContentFingerprint, TokenizerSplitsWordsAndIdeographs) {
  const auto tokens = QMAContent::tokenize(u"news of the day: \u6771\u4eac opens");
  EXPECT_EQ(tokens, (std::vector<std::string>{"news", "of", "the", "day", "\xe6\x9d\xb1", "\xe4\xba\xac", "opens"}));
  // Characters outside the Basic Multilingual Plane are tested unit by unit and separate.
  EXPECT_EQ(QMAContent::tokenize(u"ab\U0001F600cd"), (std::vector<std::string>{"ab", "cd"}));
  EXPECT_EQ(QMAContent::tokenize(u"caf\u00e9 \u0394\u03b9 42"), (std::vector<std::string>{"caf\xc3\xa9", "\xce\x94\xce\xb9", "42"}));
}

TEST(ContentFingerprint, TextIsLowerCasedBeforeHashing) {
  auto lower = record(), upper = record();
  lower.updateContentWithText("one two three four five six");
  upper.updateContentWithText("One TWO three Four five SIX");
  EXPECT_FALSE(lower.fingerprint().empty());
  EXPECT_EQ(lower.fingerprint(), upper.fingerprint());
}

TEST(ContentFingerprint, ParagraphsAndShingleCounts) {
  struct Case {
    const char* text;
    std::uint64_t totalLength, hashes;
  };
  const Case cases[] = {
      {"abcde", 0, 0},                     // 5 units: not a paragraph
      {"abcdef", 6, 0},                    // a paragraph of one token
      {"a b c d e f", 11, 1},              // exactly six tokens: one shingle
      {"a b c d e", 9, 0},                 // five tokens: none
      {"a b c x\nd e f y", 14, 0},         // shingles never span lines
      {"a b c d e f\nxy\ng h i j k l", 22, 2},
  };
  for (const auto& c : cases) {
    auto content = record();
    content.updateContentWithText(c.text);
    EXPECT_EQ(content.contentTotalLength(), c.totalLength) << c.text;
    EXPECT_EQ(content.heapCount(), c.hashes) << c.text;
    EXPECT_EQ(content.fingerprint().empty(), c.hashes == 0) << c.text;
  }
}

TEST(ContentFingerprint, OnlyARisingScoreHashesNewText) {
  QMAContentConstants c;
  c.contentLengthWeight = 0;
  auto content = record(3, c);
  content.updateContentWithText("a b c d e f");
  const std::string first = content.fingerprint();
  EXPECT_EQ(content.score(), 3);
  content.updateContentWithText("u v w x y z");
  EXPECT_EQ(content.contentTotalLength(), 22u) << "still counted";
  EXPECT_EQ(content.score(), 3);
  EXPECT_EQ(content.fingerprint(), first) << "not hashed";

  auto normal = record(1);
  normal.updateContentWithText("a b c d e f");
  normal.updateContentWithText("u v w x y z");
  EXPECT_EQ(normal.score(), 1 + 22);
  EXPECT_EQ(normal.heapCount(), 2u);
  normal.deductServedPenalty();
  EXPECT_EQ(normal.score(), -77);
}

// A paragraph of many distinct words gives many shingles; the heap keeps the largest.
std::string manyWords(int n, const char* prefix = "w") {
  std::string s;
  for (int i = 0; i < n; ++i) s += std::string(prefix) + std::to_string(i) + " ";
  return s;
}

TEST(ContentFingerprint, HeapKeepsTheLargestDistinctHashes) {
  QMAContentConstants c;
  c.maximumShingleCount = 4;
  auto content = record(1, c);
  content.updateContentWithText(manyWords(40));
  EXPECT_EQ(content.heapCount(), 4u);
  EXPECT_EQ(content.fingerprint().size(), 24u) << "16 bytes of base64 with padding";

  // Fed the same tokens by hand, the public steps agree with the fast path.
  auto byHand = record(1, c);
  const std::string words = manyWords(40);
  auto tokens = QMAContent::tokenize(std::u16string(words.begin(), words.end()));
  byHand.selectShinglesFromTokens(tokens);
  EXPECT_EQ(byHand.shingleHash(), content.fingerprint());

  // Offers at or below the minimum of a full heap, or of a hash already held, change nothing.
  const std::string before = content.shingleHash();
  content.updateHeapWithHash(0, {"x"});
  auto probe = record(1, c);
  probe.updateHeapWithHash(5, {"first"});
  probe.updateHeapWithHash(5, {"second"});
  EXPECT_EQ(probe.heapCount(), 1u);
  auto expected = record(1, c);
  expected.updateHeapWithHash(5, {"first"});
  EXPECT_EQ(probe.shingleHash(), expected.shingleHash()) << "the first shingle keeps its hash";
  EXPECT_EQ(content.shingleHash(), before);
}

TEST(ContentFingerprint, DegenerateServerConstantsHashNothing) {
  QMAContentConstants noShingles;
  noShingles.maximumShingleCount = 0;
  QMAContentConstants emptyWindow;
  emptyWindow.shingleLength = 0;
  QMAContentConstants negativeLength;
  negativeLength.shingleLength = static_cast<std::uint64_t>(-1);
  for (const auto& c : {noShingles, emptyWindow, negativeLength}) {
    auto content = record(1, c);
    content.updateContentWithText(manyWords(30));
    EXPECT_EQ(content.heapCount(), 0u);
    EXPECT_EQ(content.fingerprint(), "");
    EXPECT_GT(content.score(), 0);
  }
}

class CharacterSetsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    const foundation::Value malformed("not json");
    QMACharacterSets::sharedInstance().updateCharacterSetsWithValues(&malformed, &malformed);
  }
  static void set(const char* characterDelimited, const char* spaceDelimited = nullptr) {
    std::optional<foundation::Value> c, s;
    if (characterDelimited) c = foundation::Value(characterDelimited);
    if (spaceDelimited) s = foundation::Value(spaceDelimited);
    QMACharacterSets::sharedInstance().updateCharacterSetsWithValues(c ? &*c : nullptr, s ? &*s : nullptr);
  }
};

TEST_F(CharacterSetsTest, ServerRangesReplaceTheSets) {
  set("[[19968, 20941]]");
  auto sets = QMACharacterSets::sharedInstance().characterDelimitedSet();
  EXPECT_TRUE(sets->characterIsMember(0x4E00));
  EXPECT_TRUE(sets->characterIsMember(0x9FCC));
  EXPECT_FALSE(sets->characterIsMember(0x9FCD));
  EXPECT_FALSE(sets->characterIsMember(0x3042)) << "hiragana is no longer on its own";
  EXPECT_EQ(QMAContent::tokenize(u"\u6771\u4eac\u3042\u3044"),
            (std::vector<std::string>{"\xe6\x9d\xb1", "\xe4\xba\xac", "\xe3\x81\x82\xe3\x81\x84"}));

  set("[]");
  EXPECT_EQ(QMAContent::tokenize(u"\u6771\u4eac x"), (std::vector<std::string>{"\xe6\x9d\xb1\xe4\xba\xac", "x"}));

  set(nullptr, "[[97, 3]]");
  EXPECT_EQ(QMAContent::tokenize(u"abcd cab"), (std::vector<std::string>{"abc", "cab"}));
  set(nullptr, nullptr);  // absent values keep the sets in force
  EXPECT_EQ(QMAContent::tokenize(u"abcd cab"), (std::vector<std::string>{"abc", "cab"}));
}

TEST_F(CharacterSetsTest, MalformedValuesFallBackToTheDefaults) {
  const char* malformed[] = {
      "[[19968]]", "[[1, 2, 3]]", "{\"a\": 1}", "[[\"1\", 2]]", "nope", "[[1, 2], 7]",
      // Out-of-range pairs from the network never reach the set.
      "[[-1, 5]]", "[[5, -1]]", "[[1114000, 200]]", "[[0, 1e300]]", "[[9223372036854775807, 9223372036854775807]]",
  };
  for (const char* value : malformed) {
    EXPECT_FALSE(QMACharacterSets::parseUnicodeRangesFromJSON(value)) << value;
    set(value, value);
    auto& sets = QMACharacterSets::sharedInstance();
    EXPECT_EQ(*sets.characterDelimitedSet(), QMACharacterSets::defaultCharacterDelimitedSet()) << value;
    EXPECT_EQ(*sets.spaceDelimitedSet(), QMACharacterSet::alphanumericCharacterSet()) << value;
  }
  EXPECT_TRUE(QMACharacterSets::parseUnicodeRangesFromJSON("[[1114111, 1], [0, 0]]"));
  EXPECT_FALSE(QMACharacterSets::parseUnicodeRanges(foundation::Value(5)));
}

TEST(BinaryHeap, OrdersByTheComparator) {
  struct Number {
    int v;
    int compare(const Number& o) const { return v < o.v ? -1 : v > o.v ? 1 : 0; }
  };
  QMABinaryHeap<Number> heap;
  EXPECT_EQ(heap.minimum(), nullptr);
  EXPECT_EQ(heap.removedMinimum(), nullptr);
  EXPECT_TRUE(heap.sortedObjects().empty());
  for (int v : {5, 1, 9, 3, 7, 3}) heap.addObject(std::make_shared<Number>(Number{v}));
  EXPECT_EQ(heap.count(), 6u);
  EXPECT_TRUE(heap.containsObject(std::make_shared<Number>(Number{9})));
  EXPECT_FALSE(heap.containsObject(std::make_shared<Number>(Number{4})));
  EXPECT_FALSE(heap.containsObject(nullptr));
  std::vector<int> sorted;
  for (auto& n : heap.sortedObjects()) sorted.push_back(n->v);
  EXPECT_EQ(sorted, (std::vector<int>{1, 3, 3, 5, 7, 9}));
  EXPECT_EQ(heap.removedMinimum()->v, 1);
  EXPECT_EQ(heap.minimum()->v, 3);
  EXPECT_EQ(heap.count(), 5u);
}

}  // namespace

namespace {

using ContentServerConstants = qma_test::DeviceRootTest;

TEST_F(ContentServerConstants, ComeFromTheStandardUserDefaults) {
  auto defaults = foundation::UserDefaults::standardUserDefaults();
  defaults->setObjectForKey(foundation::Value("2"), "/quillon/ads/shingle_length");  // text counts too
  defaults->setObjectForKey(foundation::Value(1), "/quillon/ads/maximum_shingle_count");
  defaults->setObjectForKey(foundation::Value(0), "/quillon/ads/content_age_weight");
  auto content = QMAContent::initWithSequenceNumber(7);
  content->updateContentWithText("a b c d");
  EXPECT_EQ(content->heapCount(), 1u);
  EXPECT_EQ(content->score(), 7) << "age weight 0: the length alone";
  EXPECT_EQ(content->fingerprint().size(), 8u);

  defaults->setObjectForKey(foundation::Value("[[97, 1]]"), QMACharacterSets::kCharacterDelimitedKey);
  QMACharacterSets::sharedInstance().updateCharacterSets();
  EXPECT_EQ(QMAContent::tokenize(u"banana"), (std::vector<std::string>{"b", "a", "n", "a", "n", "a"}));
  defaults->removeObjectForKey(QMACharacterSets::kCharacterDelimitedKey);
  QMACharacterSets::sharedInstance().updateCharacterSets();
  EXPECT_EQ(QMAContent::tokenize(u"banana"), (std::vector<std::string>{"b", "a", "n", "a", "n", "a"}))
      << "a value taken away leaves the set in force";
  defaults->setObjectForKey(foundation::Value("[[97"), QMACharacterSets::kCharacterDelimitedKey);
  QMACharacterSets::sharedInstance().updateCharacterSets();
  EXPECT_EQ(QMAContent::tokenize(u"banana"), (std::vector<std::string>{"banana"}));
}

}  // namespace
