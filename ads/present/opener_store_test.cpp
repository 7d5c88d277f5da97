// Store product pages inside the host (loaded ahead, or loading while shown, or shown once
// loaded), the bounded cache of pages loaded ahead, and purchase offers handed to the
// slot.
#include <gtest/gtest.h>

#include "ads/present/opener_test_support.h"
#include "ads/present/overlay_proxy.h"
#include "ads/present/store_product_delegate.h"
#include "platform/uikit/application.h"

namespace opener_store_test {

using storekit::SKStoreProductViewController;
using storekit::SKTestProductPages;

struct StorePages : opener_test::OpenerGroup {
  std::size_t openedBefore = 0;
  void SetUp() override {
    OpenerGroup::SetUp();
    openedBefore = uikit::Application::sharedApplication()->openedURLs().size();
  }
  std::vector<std::string> newlyOpened() {
    drainMain();
    auto all = uikit::Application::sharedApplication()->openedURLs();
    return {all.begin() + static_cast<std::ptrdiff_t>(openedBefore), all.end()};
  }
};

TEST_F(StorePages, ThePageShowsOnceLoadedWhenAskedToWaitAndAFailedLoadShowsNothing) {
  SKTestProductPages::setHoldsLoads(true);
  opener->openInAppStoreWithProductIDFallbackURLShouldWaitForFetch("284882215", url("https://store.example/app"), true);
  EXPECT_FALSE(shown<SKStoreProductViewController>()) << "nothing until the page has loaded";
  EXPECT_TRUE(heard().empty());
  ASSERT_TRUE(SKTestProductPages::answerHeldLoad(0));
  auto page = shown<SKStoreProductViewController>();
  ASSERT_TRUE(page);
  EXPECT_EQ(page->itemIdentifier(), 284882215);
  EXPECT_EQ(heard(), (std::vector<std::string>{"willPresent", "ping"}));
  page->done();  // the user is done: the page goes and the takeover ends
  EXPECT_FALSE(shown<SKStoreProductViewController>());
  EXPECT_EQ(heard(), (std::vector<std::string>{"willDismiss", "didDismiss"}));

  SKTestProductPages::setPageFails(13, true);
  opener->openInAppStoreWithProductIDFallbackURLShouldWaitForFetch("13", url("https://store.example/13"), true);
  ASSERT_TRUE(SKTestProductPages::answerHeldLoad(0));
  EXPECT_FALSE(shown<SKStoreProductViewController>());
  EXPECT_TRUE(newlyOpened().empty()) << "a page never shown does not fall back";
  EXPECT_TRUE(heard().empty());
}

TEST_F(StorePages, WithoutWaitingThePageShowsAtOnceAndAFailedLoadTakesItDownForTheFallback) {
  SKTestProductPages::setHoldsLoads(true);
  SKTestProductPages::setPageFails(13, true);
  opener->openInAppStoreWithProductIDFallbackURLShouldWaitForFetch("13", url("https://store.example/13"), false);
  ASSERT_TRUE(shown<SKStoreProductViewController>()) << "shown while it loads";
  EXPECT_EQ(heard(), (std::vector<std::string>{"willPresent", "ping"}));
  ASSERT_TRUE(SKTestProductPages::answerHeldLoad(0));
  EXPECT_FALSE(shown<SKStoreProductViewController>());
  EXPECT_EQ(newlyOpened(), std::vector<std::string>{"https://store.example/13"});
  EXPECT_EQ(heard(), (std::vector<std::string>{"willDismiss", "didDismiss", "ping", "willLeave"}));
}

TEST_F(StorePages, APageLoadedAheadShowsAtOnceOnlyOnceAndTheNextOpenLoadsAfresh) {
  opener->fetchInAppStoreForProductID("42");
  EXPECT_TRUE(opener->storePagesBeingFetched().count("42"));
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return opener->cachedStoreProductViewController().count("42") == 1; }));
  SKTestProductPages::setHoldsLoads(true);
  opener->openInAppStoreWithProductIDFallbackURLShouldWaitForFetch("42", std::nullopt, true);
  auto page = shown<SKStoreProductViewController>();
  ASSERT_TRUE(page) << "no wait for a page loaded ahead";
  EXPECT_TRUE(opener->cachedStoreProductViewController().empty());
  EXPECT_EQ(SKTestProductPages::heldLoadCount(), 0u);
  page->done();
  drainMain();
  opener->openInAppStoreWithProductIDFallbackURLShouldWaitForFetch("42", std::nullopt, true);
  EXPECT_FALSE(shown<SKStoreProductViewController>());
  EXPECT_EQ(SKTestProductPages::heldLoadCount(), 1u) << "the cache gave its page away";
  EXPECT_EQ(SKTestProductPages::loadsStarted(), (std::vector<std::int64_t>{42, 42}));
}

TEST_F(StorePages, TheCacheOfPagesLoadedAheadIsBoundedAndARepeatWhileLoadingIsIgnored) {
  SKTestProductPages::setHoldsLoads(true);
  opener->fetchInAppStoreForProductID("1");
  opener->fetchInAppStoreForProductID("1");
  EXPECT_EQ(SKTestProductPages::heldLoadCount(), 1u);
  for (int id = 2; id <= 9; ++id) opener->fetchInAppStoreForProductID(std::to_string(id));
  EXPECT_EQ(SKTestProductPages::heldLoadCount(), QMAOpener::kMaximumCachedStorePages)
      << "no more loads than places while all are loading";
  while (SKTestProductPages::answerHeldLoad(0)) {
  }
  ASSERT_EQ(opener->cachedStoreProductViewController().size(), QMAOpener::kMaximumCachedStorePages);
  // A further prefetch takes the place of the page waiting longest.
  opener->fetchInAppStoreForProductID("50");
  ASSERT_TRUE(SKTestProductPages::answerHeldLoad(0));
  EXPECT_EQ(opener->cachedStoreProductViewController().size(), QMAOpener::kMaximumCachedStorePages);
  EXPECT_FALSE(opener->cachedStoreProductViewController().count("1"));
  EXPECT_TRUE(opener->cachedStoreProductViewController().count("50"));
  // A failed prefetch leaves no trace.
  SKTestProductPages::setPageFails(60, true);
  opener->fetchInAppStoreForProductID("60");
  ASSERT_TRUE(SKTestProductPages::answerHeldLoad(0));
  EXPECT_FALSE(opener->cachedStoreProductViewController().count("60"));
  EXPECT_TRUE(opener->storePagesBeingFetched().empty());
}

TEST_F(StorePages, TheGateStopsStorePagesAndNoControllerMeansNoPageAndNoClick) {
  opener->setAutoClickProtected(true);
  opener->openInAppStoreWithProductIDFallbackURLShouldWaitForFetch("7", std::nullopt, false);
  opener->openInAppStoreFallbackURL("7", std::nullopt);
  EXPECT_TRUE(SKTestProductPages::loadsStarted().empty());
  opener->setAutoClickProtected(false);
  opener->setViewController({});
  opener->openInAppStoreWithProductIDFallbackURLShouldWaitForFetch("7", std::nullopt, true);
  drainMain();
  EXPECT_TRUE(heard().empty()) << "the host hears of no screen that never shows";
}

TEST_F(StorePages, ThePlainOpenShowsALoadedPageOnceAndFallsBackOnFailure) {
  opener->openInAppStoreFallbackURL("8", std::nullopt);
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return root->presentedViewController() != nullptr; }));
  EXPECT_EQ(heard(), (std::vector<std::string>{"willPresent", "ping"}));
  shown<SKStoreProductViewController>()->done();
  drainMain();
  heard();
  SKTestProductPages::setPageFails(9, true);
  opener->openInAppStoreFallbackURL("9", url("https://store.example/9"));
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !newlyOpened().empty(); }));
  EXPECT_FALSE(shown<SKStoreProductViewController>());
}

TEST_F(StorePages, ThePageParametersNameTheItemByNumber) {
  EXPECT_EQ(QMAOpener::storeProductParametersForProductID("284882215"),
            (foundation::Dictionary{{storekit::SKStoreProductParameterITunesItemIdentifier, std::int64_t{284882215}}}));
  EXPECT_EQ(QMAOpener::storeProductParametersForProductID("app"),
            (foundation::Dictionary{{storekit::SKStoreProductParameterITunesItemIdentifier, std::int64_t{0}}}));
}

TEST_F(StorePages, APurchaseOfferGoesToTheSlotAndAFullScreenAdMakesWay) {
  opener->openInAppPurchaseQuantityReportingURLStringFormats("gems", 3, {"http://r.example/@status@"});
  EXPECT_EQ(heard(), (std::vector<std::string>{"purchase", "ping"}));
  ASSERT_EQ(slot->purchases.size(), 1u);
  EXPECT_EQ(slot->purchases[0]->productID(), "gems");
  EXPECT_EQ(slot->purchases[0]->quantity(), 3);
  EXPECT_EQ(slot->purchases[0]->reportingURLStringFormats(), std::vector<std::string>{"http://r.example/@status@"});

  auto ad = QMAViewController::init();
  ad->setSlot(slot);
  ad->presentFromViewControllerCompletion(root, nullptr);
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return ad->view()->isUserInteractionEnabled(); }));
  heard();
  opener->setViewController(ad);
  opener->openInAppPurchaseQuantityReportingURLStringFormats("gems", 1, {});
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return !root->presentedViewController(); }));
  EXPECT_EQ(heard(), (std::vector<std::string>{"purchase", "ping", "willDismiss", "didDismiss"}));

  opener->setAutoClickProtected(true);
  opener->openInAppPurchaseQuantityReportingURLStringFormats("gems", 1, {});
  EXPECT_TRUE(heard().empty());
}

}  // namespace opener_store_test
