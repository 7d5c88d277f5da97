#pragma once
// Adapters for trying waterfalls: classes registered by name in the runtime's class
// registry, as an application registers the adapters it links, each with one behaviour:
//   WVTestFillAdapter     delivers a banner view or an interstitial at once
//   WVTestNoFillAdapter   fails at once: no fill, or with the credentials' "error" "yes" an
//                         error of another domain
//   WVTestSilentAdapter   never answers (the waterfall's time-out ends it)
//   WVTestTwiceAdapter    delivers twice in a row
// Asked for a native ad (getNativeAd, which every one of them answers), a filling adapter
// delivers a TestForwardingAd: a native app-install ad whose headline is the credentials'
// "headline" (default "Mediated app"), with a 2 x 2 icon and an image URL when the
// credentials give "image_url".
// The credentials' "later" "yes" holds any answer back until answerNow() (for answers that
// come after a time-out). Every adapter made is kept in live() for the test or the host to
// reach.
//
// Native custom events, for the built-in custom-event adapter ("class_name" in a network's
// credentials), each kept in TestNativeEvent::live():
//   WVTestNativeFillEvent     delivers a TestForwardingAd from inside its request, headline
//                             the credentials' "parameter"
//   WVTestNativeFailEvent     fails from inside its request: no fill
//   WVTestNativeSilentEvent   never answers by itself (answerNow() delivers, for late answers)
//   WVTestNotNativeEvent      a class without the native request method
// Main thread.

#include <memory>
#include <string>
#include <vector>

#include "ads/mediation/custom_event_adapter.h"
#include "ads/mediation/mediation_config.h"
#include "ads/mediation/network_connector.h"
#include "ads/slots/native/native_app_install_ad_source.h"
#include "platform/uikit/image.h"
#include "platform/foundation/value.h"
#include "platform/runtime/runtime.h"
#include "platform/uikit/view.h"

namespace mediation_test {

inline constexpr const char* kFillAdapter = "WVTestFillAdapter";
inline constexpr const char* kNoFillAdapter = "WVTestNoFillAdapter";
inline constexpr const char* kSilentAdapter = "WVTestSilentAdapter";
inline constexpr const char* kTwiceAdapter = "WVTestTwiceAdapter";
inline constexpr const char* const kTestAdapterClasses[] = {kFillAdapter, kNoFillAdapter, kSilentAdapter, kTwiceAdapter};
inline constexpr const char* kNativeFillEvent = "WVTestNativeFillEvent";
inline constexpr const char* kNativeFailEvent = "WVTestNativeFailEvent";
inline constexpr const char* kNativeSilentEvent = "WVTestNativeSilentEvent";
inline constexpr const char* kNotNativeEvent = "WVTestNotNativeEvent";
inline constexpr const char* const kTestNativeEventClasses[] = {kNativeFillEvent, kNativeFailEvent, kNativeSilentEvent,
                                                                kNotNativeEvent};

// A network's native app-install ad, recording what the component asks of it.
struct TestForwardingAd : QMAForwardingNativeAppInstallAd {
  explicit TestForwardingAd(std::string headlineText, std::string imageURL = "")
      : headlineText(std::move(headlineText)), imageURL(std::move(imageURL)) {}
  std::string headlineText;
  std::string imageURL;
  int impressions = 0;
  int clicks = 0;
  std::vector<std::shared_ptr<uikit::View>> trackedViews;

  std::optional<std::string> headline() const override { return headlineText; }
  foundation::Array images() const override { return {}; }
  foundation::Array imagesURLs() const override {
    return imageURL.empty() ? foundation::Array{} : foundation::Array{imageURL};
  }
  std::optional<std::string> body() const override { return std::string("Delivered by another network"); }
  std::shared_ptr<uikit::Image> icon() const override {
    return std::make_shared<uikit::Image>(2, 2, std::vector<std::uint8_t>(16, 0x80));
  }
  std::optional<std::string> callToAction() const override { return std::string("Install"); }
  std::optional<std::string> starRating() const override { return std::string("4.5"); }
  std::optional<std::string> store() const override { return std::string("Store"); }
  std::optional<std::string> price() const override { return std::string("Free"); }
  std::optional<foundation::Dictionary> extras() const override { return std::nullopt; }
  void trackView(const std::shared_ptr<uikit::View>& view) override { trackedViews.push_back(view); }
  bool respondsToRecordImpression() const override { return true; }
  void recordImpression() override { ++impressions; }
  bool respondsToRecordClickOnView() const override { return true; }
  void recordClickOnView(const std::shared_ptr<uikit::View>&) override { ++clicks; }
};

struct TestAdapter : runtime::Object, QMAMAdNetworkAdapter, QMAMAdNetworkAdapterInternalProtocol {
  using runtime::Object::Object;
  static std::vector<std::weak_ptr<TestAdapter>>& live() {
    static std::vector<std::weak_ptr<TestAdapter>> adapters;
    return adapters;
  }
  std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector;
  std::vector<std::string> calls;
  std::vector<QMAAdSize> sizes;
  bool interstitial = false;
  bool native = false;
  bool presented = false;
  std::shared_ptr<TestForwardingAd> delivered;

  std::string behaviour() const { return isa()->name(); }
  std::string credential(const char* key) const {
    auto c = connector.lock();
    const foundation::Dictionary credentials = c ? c->credentials() : foundation::Dictionary{};
    const std::string* text = foundation::stringForKey(credentials, key);
    return text ? *text : "";
  }
  void initWithQMAMAdNetworkConnector(std::weak_ptr<QMAMAdNetworkConnectorProtocol> c) override { connector = std::move(c); }
  void getBannerWithSize(QMAAdSize size) override {
    calls.push_back("getBannerWithSize");
    sizes.push_back(size);
    interstitial = false;
    native = false;
    if (credential("later") != "yes") answerNow();
  }
  void getInterstitial() override {
    calls.push_back("getInterstitial");
    interstitial = true;
    native = false;
    if (credential("later") != "yes") answerNow();
  }
  void getNativeAd() override {
    calls.push_back("getNativeAd");
    interstitial = false;
    native = true;
    if (credential("later") != "yes") answerNow();
  }
  void stopBeingDelegate() override {
    calls.push_back("stopBeingDelegate");
    connector.reset();
  }
  void presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>&) override {
    calls.push_back("presentInterstitial");
    presented = true;
    if (auto c = connector.lock()) c->adapterWillPresentInterstitial(*this);
  }
  void changeAdSizeTo(QMAAdSize size) override {
    calls.push_back("changeAdSizeTo");
    sizes.push_back(size);
  }
  // The adapter's answer, as its behaviour says; to whichever connector it still has.
  void answerNow() { answerTo(connector.lock()); }
  void answerTo(const std::shared_ptr<QMAMAdNetworkConnectorProtocol>& c) {
    if (!c) return;
    const std::string kind = behaviour();
    if (kind == kSilentAdapter) return;
    if (kind == kNoFillAdapter) {
      const foundation::Error error = credential("error") == "yes" ? foundation::Error{"com.example.network", 3, {}}
                                                                   : foundation::Error{kQMAErrorDomain, 1, {}};
      if (interstitial) c->adapterDidFailInterstitial(*this, error);
      else c->adapterDidFailAd(*this, error);
      return;
    }
    const int times = kind == kTwiceAdapter ? 2 : 1;
    for (int i = 0; i < times; ++i) {
      if (native) {
        const std::string headline = credential("headline");
        delivered = std::make_shared<TestForwardingAd>(headline.empty() ? "Mediated app" : headline, credential("image_url"));
        // Only the native connector takes native ads.
        if (auto nativeConnector = std::dynamic_pointer_cast<QMAMAdNetworkConnectorNativeAd>(c))
          nativeConnector->adapterDidReceiveForwardingNativeAppInstallAd(*this, delivered);
        continue;
      }
      if (interstitial) c->adapterDidReceiveInterstitial(*this);
      else c->adapterDidReceiveAdView(*this, std::make_shared<uikit::View>(uikit::Rect{{0, 0}, {320, 50}}));
    }
  }
};

inline void registerTestNativeEvents();

// Registers the four classes and the native custom events (again after
// unregisterTestAdapters).
inline void registerTestAdapters() {
  registerTestNativeEvents();
  for (const char* name : kTestAdapterClasses) {
    if (runtime::objc_getClass(name)) continue;
    auto cls = runtime::Class::make(name);
    cls->addProtocol(kQMAMAdNetworkAdapterProtocol);
    // The current adapter interface, as the class's method table shows it.
    cls->addMethod<void(QMAAdSize)>("getBannerWithSize:", [](const runtime::Id&, QMAAdSize) {});
    cls->addMethod<void()>("getInterstitial", [](const runtime::Id&) {});
    cls->addMethod<void()>("presentInterstitialFromRootViewController:", [](const runtime::Id&) {});
    cls->addMethod<void()>(kQMAMGetNativeAdSelector, [](const runtime::Id&) {});
    if (std::string(name) == kFillAdapter) cls->addMethod<void(QMAAdSize)>("changeAdSizeTo:", [](const runtime::Id&, QMAAdSize) {});
    cls->addClassMethod<std::string()>("adapterVersion", [] { return std::string("1.0"); });
    cls->setFactory([](const runtime::ClassRef& c) {
      auto adapter = std::make_shared<TestAdapter>(c);
      TestAdapter::live().push_back(adapter);
      return adapter;
    });
    runtime::objc_registerClassPair(cls);
  }
}

// A native custom event of one behaviour (its class name), recording its request.
struct TestNativeEvent : runtime::Object, QMACustomEventNativeAd {
  using runtime::Object::Object;
  static std::vector<std::weak_ptr<TestNativeEvent>>& live() {
    static std::vector<std::weak_ptr<TestNativeEvent>> events;
    return events;
  }
  std::weak_ptr<QMACustomEventNativeAdDelegate> delegate;
  std::optional<std::string> parameter;
  std::shared_ptr<QMACustomEventRequest> request;
  std::shared_ptr<uikit::ViewController> rootViewController;
  std::shared_ptr<TestForwardingAd> delivered;
  int requests = 0;

  void setDelegate(std::weak_ptr<QMACustomEventNativeAdDelegate> d) override { delegate = std::move(d); }
  void requestNativeAdWithParameterRequestRootViewController(const std::optional<std::string>& p,
                                                             const std::shared_ptr<QMACustomEventRequest>& r,
                                                             const std::shared_ptr<uikit::ViewController>& root) override {
    ++requests;
    parameter = p;
    request = r;
    rootViewController = root;
    const std::string kind = isa()->name();
    if (kind == kNativeFillEvent) answerNow();
    if (kind == kNativeFailEvent) {
      if (auto d = delegate.lock()) d->customEventNativeAdDidFailToLoadAdWithError(*this, foundation::Error{kQMAErrorDomain, 1, {}});
    }
  }
  // Delivers an app-install ad to whichever delegate it still has.
  void answerNow() {
    delivered = std::make_shared<TestForwardingAd>(parameter.value_or("Custom app"));
    if (auto d = delegate.lock()) d->customEventNativeAdDidLoadForwardingNativeAppInstallAd(*this, delivered);
  }
};

// Registers the native custom-event classes (again after unregisterTestAdapters).
inline void registerTestNativeEvents() {
  for (const char* name : kTestNativeEventClasses) {
    if (runtime::objc_getClass(name)) continue;
    auto cls = runtime::Class::make(name);
    if (std::string(name) != kNotNativeEvent) {
      cls->addProtocol(kQMACustomEventNativeAdProtocol);
      cls->addMethod<void()>(kQMACustomEventNativeAdRequestSelector, [](const runtime::Id&) {});
    }
    cls->setFactory([](const runtime::ClassRef& c) {
      auto event = std::make_shared<TestNativeEvent>(c);
      TestNativeEvent::live().push_back(event);
      return event;
    });
    runtime::objc_registerClassPair(cls);
  }
}

inline void unregisterTestAdapters() {
  for (const char* name : kTestAdapterClasses) runtime::objc_disposeClassPair(name);
  for (const char* name : kTestNativeEventClasses) runtime::objc_disposeClassPair(name);
  TestAdapter::live().clear();
  TestNativeEvent::live().clear();
}

}  // namespace mediation_test
