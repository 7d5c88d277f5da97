#include "ads/services/content_hashing.h"

#include <gtest/gtest.h>

#include "ads/services/test_support.h"
#include "platform/uikit/text_view.h"
#include "platform/uikit/view_controller.h"
#include "platform/uikit/web_view.h"
#include "platform/uikit/window.h"

namespace {

std::shared_ptr<QMAContent> recordWith(std::uint64_t seq, const std::string& text, std::int64_t served = 0) {
  auto content = std::make_shared<QMAContent>(seq, QMAContentConstants{});
  content->updateContentWithText(text);
  for (std::int64_t i = 0; i < served; ++i) content->deductServedPenalty();
  return content;
}

const std::string kSentence = "the quick brown fox jumps over the lazy dog";

TEST(ContentQueue, EvictsTheOldestAndServesTheBestScore) {
  auto queue = QMAContentQueue::initWithQueueSize(10);
  for (std::uint64_t seq = 1; seq <= 11; ++seq) {
    // Later records score higher; the oldest goes whatever the scores.
    queue->enqueueContent(recordWith(seq, kSentence + " " + std::to_string(seq)));
  }
  EXPECT_EQ(queue->count(), 10u);
  EXPECT_EQ(queue->contentWithSequenceNumber(1), nullptr);
  EXPECT_EQ(queue->sequenceNumbers().front(), 2u);
  EXPECT_EQ(queue->contentWithHighestScore()->sequenceNumber(), 11u);

  auto empty = QMAContentQueue::initWithQueueSize(0);
  empty->enqueueContent(recordWith(1, kSentence));
  EXPECT_EQ(empty->count(), 0u);
  EXPECT_EQ(empty->serveFingerprintWithPenaltyDeduction(), std::nullopt);
  queue->enqueueContent(nullptr);
  queue->deduplicate(nullptr);
  EXPECT_EQ(queue->count(), 10u);
}

TEST(ContentQueue, DuplicatesLeaveOnlyTheNewerRecord) {
  auto queue = QMAContentQueue::initWithQueueSize(10);
  auto older = recordWith(1, kSentence), other = recordWith(2, kSentence + " again"), newer = recordWith(3, kSentence);
  queue->enqueueContent(older);
  queue->enqueueContent(other);
  queue->deduplicate(newer);
  queue->enqueueContent(newer);
  EXPECT_EQ(queue->sequenceNumbers(), (std::vector<std::uint64_t>{2, 3}));
}

TEST(ContentQueue, ServingLowersTheScoreUntilNothingIsLeft) {
  auto queue = QMAContentQueue::initWithQueueSize(10);
  // Sequence 57 with a 43-unit paragraph scores exactly 100.
  auto hundred = recordWith(57, kSentence);
  ASSERT_EQ(hundred->score(), 100);
  queue->enqueueContent(hundred);
  EXPECT_EQ(queue->serveFingerprintWithPenaltyDeduction(), hundred->fingerprint());
  EXPECT_EQ(hundred->score(), 0);
  EXPECT_EQ(queue->serveFingerprintWithPenaltyDeduction(), std::nullopt) << "a score of 0 is never served";

  auto high = recordWith(200, kSentence), low = recordWith(150, kSentence + " too");  // 243 and 197
  queue->enqueueContent(high);
  queue->enqueueContent(low);
  std::vector<std::string> served;
  while (auto fp = queue->serveFingerprintWithPenaltyDeduction()) served.push_back(*fp);
  // 243 -> 143 (high), 197 -> 97 (low), 143 -> 43 (high), 97 -> -3 (low), 43 -> -57 (high).
  EXPECT_EQ(served, (std::vector<std::string>{high->fingerprint(), low->fingerprint(), high->fingerprint(),
                                              low->fingerprint(), high->fingerprint()}));
}

// Runs the main loop until `done`, at most 30 s of real time (a bound against a hang).
bool pump(const std::function<bool()>& done) { return dispatch::RunLoop::main().runUntil(done, 30.0); }

TEST(ViewHierarchyTraverser, VisitsParentsFirstAndTheLastSubviewFirst) {
  auto root = std::make_shared<uikit::View>();
  auto a = std::make_shared<uikit::View>(), b = std::make_shared<uikit::View>(), a1 = std::make_shared<uikit::View>();
  a->setTag(1);
  b->setTag(2);
  a1->setTag(11);
  root->addSubview(a);
  root->addSubview(b);
  a->addSubview(a1);
  auto traverser = QMAViewHierarchyTraverser::init();
  std::vector<std::int64_t> order;
  std::optional<bool> finished;
  traverser->traverseViewTraversalBlockCompletionBlock(
      root,
      [&](const std::shared_ptr<uikit::View>& v, std::int64_t seq) {
        EXPECT_TRUE(dispatch::isMainThread());
        EXPECT_EQ(seq, 1);
        order.push_back(v->tag());
      },
      [&](bool f) { finished = f; });

  // A second walk while the first is under way is refused.
  std::optional<bool> refused;
  traverser->traverseViewTraversalBlockCompletionBlock(root, [](auto&, auto) {}, [&](bool f) { refused = f; });
  // Neither a missing view nor a missing completion may crash.
  std::optional<bool> noView;
  traverser->traverseViewTraversalBlockCompletionBlock(nullptr, [](auto&, auto) {}, [&](bool f) { noView = f; });
  traverser->traverseViewTraversalBlockCompletionBlock(root, [](auto&, auto) {}, nullptr);

  ASSERT_TRUE(pump([&] { return finished.has_value() && !traverser->traversing(); }));
  EXPECT_EQ(order, (std::vector<std::int64_t>{0, 2, 1, 11}));
  EXPECT_EQ(finished, true);
  EXPECT_EQ(refused, false);
  EXPECT_EQ(noView, false);
  EXPECT_EQ(traverser->sequenceNumber(), 1);
}

class ContentHashingDriver : public qma_test::DeviceRootTest {
 protected:
  void SetUp() override {
    DeviceRootTest::SetUp();
    window = std::make_shared<uikit::Window>(uikit::Rect{0, 0, 320, 480});
    controller = std::make_shared<uikit::ViewController>();
    window->setRootViewController(controller);
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    hashing().stopContentHashing();
    window->setHidden(true);
    DeviceRootTest::TearDown();
  }
  static QMAContentHashing& hashing() { return QMAContentHashing::sharedInstance(); }

  // One scheduler tick and everything the walk queues.
  void tick(double seconds = 10) {
    foundation::Clock::advance(seconds);
    // Visits and the completion come through the main loop, one short slice each, until
    // it has been quiet for a while; the record then settles on the serial queue.
    for (int quiet = 0; quiet < 5;) quiet = dispatch::RunLoop::main().runOnce(0.02) ? 0 : quiet + 1;
    if (auto serial = hashing().serialQueue()) waitFor(serial);
  }

  std::shared_ptr<uikit::Window> window;
  std::shared_ptr<uikit::ViewController> controller;
};

TEST_F(ContentHashingDriver, WalksTheKeyWindowAndServesItsFingerprint) {
  auto text = std::make_shared<uikit::TextView>();
  text->setText(kSentence);
  auto web = std::make_shared<uikit::WebView>();
  web->loadHTMLString("<body><p>news of the day in the city council today</p></body>");
  controller->view()->addSubview(text);
  controller->view()->addSubview(web);

  hashing().startContentHashing();
  hashing().startContentHashing();  // a second start changes nothing
  EXPECT_TRUE(hashing().isRunning());
  EXPECT_EQ(hashing().fingerprintWithServedPenaltyDeduction(), std::nullopt) << "nothing walked yet";
  tick();
  ASSERT_EQ(hashing().contentQueue()->count(), 1u);

  // The walk's record: root first, then the last subview (the web view), then the text view.
  QMAContent expected(1, QMAContentConstants{});
  expected.updateContentWithText(web->stringByEvaluatingJavaScriptFromString("document.body.innerText"));
  expected.updateContentWithText(kSentence);
  EXPECT_EQ(hashing().fingerprintWithServedPenaltyDeduction(), expected.fingerprint());

  // The same screen again: the newer record replaces the older one.
  tick();
  EXPECT_EQ(hashing().contentQueue()->sequenceNumbers(), std::vector<std::uint64_t>{2});

  // After a stop the records stay for service; a new start begins afresh.
  hashing().stopContentHashing();
  EXPECT_FALSE(hashing().isRunning());
  EXPECT_TRUE(hashing().fingerprintWithServedPenaltyDeduction());
  hashing().startContentHashing();
  EXPECT_EQ(hashing().contentQueue()->count(), 0u);
}

TEST_F(ContentHashingDriver, ScreensWithoutTextAddNothing) {
  controller->view()->addSubview(std::make_shared<uikit::View>());
  foundation::UserDefaults::standardUserDefaults()->setObjectForKey(foundation::Value(-5.0), QMAContentHashing::kIntervalKey);
  hashing().startContentHashing();
  tick(10);  // a period that is not positive falls back to the default 10 s
  EXPECT_EQ(hashing().contentQueue()->count(), 0u);
  EXPECT_EQ(hashing().fingerprintWithServedPenaltyDeduction(), std::nullopt);
}

}  // namespace
