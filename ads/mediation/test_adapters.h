#pragma once
// Adapters for trying waterfalls: classes registered by name in the runtime's class
// registry, as an application registers the adapters it links, each with one behaviour:
//   WVTestFillAdapter     delivers a banner view or an interstitial at once
//   WVTestNoFillAdapter   fails at once: no fill, or with the credentials' "error" "yes" an
//                         error of another domain
//   WVTestSilentAdapter   never answers (the waterfall's time-out ends it)
//   WVTestTwiceAdapter    delivers twice in a row
// The credentials' "later" "yes" holds any answer back until answerNow() (for answers that
// come after a time-out). Every adapter made is kept in live() for the test or the host to
// reach. Main thread.

#include <memory>
#include <string>
#include <vector>

#include "ads/mediation/mediation_config.h"
#include "ads/mediation/network_connector.h"
#include "platform/foundation/value.h"
#include "platform/runtime/runtime.h"
#include "platform/uikit/view.h"

namespace mediation_test {

inline constexpr const char* kFillAdapter = "WVTestFillAdapter";
inline constexpr const char* kNoFillAdapter = "WVTestNoFillAdapter";
inline constexpr const char* kSilentAdapter = "WVTestSilentAdapter";
inline constexpr const char* kTwiceAdapter = "WVTestTwiceAdapter";
inline constexpr const char* const kTestAdapterClasses[] = {kFillAdapter, kNoFillAdapter, kSilentAdapter, kTwiceAdapter};

struct TestAdapter : runtime::Object, QMAMAdNetworkAdapter {
  using runtime::Object::Object;
  static std::vector<std::weak_ptr<TestAdapter>>& live() {
    static std::vector<std::weak_ptr<TestAdapter>> adapters;
    return adapters;
  }
  std::weak_ptr<QMAMAdNetworkConnectorProtocol> connector;
  std::vector<std::string> calls;
  std::vector<QMAAdSize> sizes;
  bool interstitial = false;
  bool presented = false;

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
    if (credential("later") != "yes") answerNow();
  }
  void getInterstitial() override {
    calls.push_back("getInterstitial");
    interstitial = true;
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
      if (interstitial) c->adapterDidReceiveInterstitial(*this);
      else c->adapterDidReceiveAdView(*this, std::make_shared<uikit::View>(uikit::Rect{{0, 0}, {320, 50}}));
    }
  }
};

// Registers the four classes (again after unregisterTestAdapters).
inline void registerTestAdapters() {
  for (const char* name : kTestAdapterClasses) {
    if (runtime::objc_getClass(name)) continue;
    auto cls = runtime::Class::make(name);
    cls->addProtocol(kQMAMAdNetworkAdapterProtocol);
    // The current adapter interface, as the class's method table shows it.
    cls->addMethod<void(QMAAdSize)>("getBannerWithSize:", [](const runtime::Id&, QMAAdSize) {});
    cls->addMethod<void()>("getInterstitial", [](const runtime::Id&) {});
    cls->addMethod<void()>("presentInterstitialFromRootViewController:", [](const runtime::Id&) {});
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

inline void unregisterTestAdapters() {
  for (const char* name : kTestAdapterClasses) runtime::objc_disposeClassPair(name);
  TestAdapter::live().clear();
}

}  // namespace mediation_test
