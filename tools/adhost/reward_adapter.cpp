#include "tools/adhost/reward_adapter.h"

#include "ads/model/string_values.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/runtime/runtime.h"
#include "platform/uikit/color.h"
#include "platform/uikit/controls.h"

namespace adhost {
namespace {

std::string credential(const foundation::Dictionary& credentials, const char* key, const char* fallback) {
  const std::string* text = foundation::stringForKey(credentials, key);
  return text ? *text : std::string(fallback);
}

// A view a finger can tap: it tells its controller.
class VideoView : public uikit::Control {
 public:
  using uikit::Control::Control;
  std::string className() const override { return "AdhostRewardVideoView"; }
};

class AdhostRewardAdapter : public runtime::Object,
                            public QMAMRewardBasedVideoAdNetworkAdapter,
                            public std::enable_shared_from_this<AdhostRewardAdapter> {
 public:
  using runtime::Object::Object;

  void initWithQMAMAdNetworkConnector(std::weak_ptr<QMAMRewardBasedVideoAdNetworkConnectorProtocol> connector) override {
    connector_ = std::move(connector);
  }
  void setUpWithUserID(const std::optional<std::string>&) override {
    WV_DCHECK_MAIN_THREAD();
    auto c = connector();
    if (!c) return;
    if (credential(c->credentials(), "setup", "") == "fail") {
      c->adapterDidFailToSetUpRewardBasedVideoAdWithError(
          *this, foundation::Error{"com.example.adhost.network", 1, {{"NSLocalizedDescription", "set-up failed"}}});
      return;
    }
    c->adapterDidSetUpRewardBasedVideoAd(*this);
  }
  void requestRewardBasedVideoAd() override {
    WV_DCHECK_MAIN_THREAD();
    auto c = connector();
    if (!c) return;
    const std::string fill = credential(c->credentials(), "fill", "yes");
    if (fill == "hang") return;
    if (fill == "no") {
      c->adapterDidFailToLoadRewardBasedVideoAdwithError(
          *this, foundation::Error{"com.quillon.ads", 1, {{"NSLocalizedDescription", "no fill"}}});
      return;
    }
    c->adapterDidReceiveRewardBasedVideoAd(*this);
  }
  void presentRewardBasedVideoAdWithRootViewController(const std::shared_ptr<uikit::ViewController>& root) override {
    WV_DCHECK_MAIN_THREAD();
    auto c = connector();
    if (!c || !root) return;
    auto screen = std::make_shared<RewardVideoViewController>();
    screen->network = c->publisherId().value_or("network");
    std::weak_ptr<AdhostRewardAdapter> weak = shared_from_this();
    screen->onTap = [weak] {
      auto self = weak.lock();
      auto connector = self ? self->connector() : nullptr;
      if (!connector) return;
      connector->adapterDidGetAdClick(*self);
      connector->adapterWillLeaveApplication(*self);
    };
    screen->onClose = [weak] {
      auto self = weak.lock();
      if (!self || !self->screen_) return;
      auto shown = std::move(self->screen_);
      shown->dismissViewControllerAnimated(true, nullptr);
      if (auto connector = self->connector()) connector->adapterDidCloseRewardBasedVideoAd(*self);
    };
    if (!root->presentViewController(screen, true, nullptr)) return;
    screen_ = screen;
    c->adapterDidOpenRewardBasedVideoAd(*this);
    c->adapterDidStartPlayingRewardBasedVideoAd(*this);
    const double duration = QMAStringDoubleValue(credential(c->credentials(), "duration", "5")).value_or(5);
    std::weak_ptr<RewardVideoViewController> weakScreen = screen;
    dispatch::after(duration, dispatch::Queue::main(), [weak, weakScreen] {
      auto self = weak.lock();
      auto shown = weakScreen.lock();
      auto connector = self ? self->connector() : nullptr;
      if (!connector || !shown || shown != self->screen_) return;
      shown->finished = true;
      const auto& credentials = connector->credentials();
      const auto amount = QMAStringDoubleValue(credential(credentials, "reward_amount", "5"));
      connector->adapterDidRewardUserWithReward(
          *self, QMAAdReward::initWithRewardTypeRewardAmount(
                     credential(credentials, "reward_type", "coins"),
                     amount ? QMADecimalNumber::fromNumber(foundation::Value(*amount)) : std::nullopt));
    });
  }
  void stopBeingDelegate() override { connector_.reset(); }

 private:
  std::shared_ptr<QMAMRewardBasedVideoAdNetworkConnectorProtocol> connector() const { return connector_.lock(); }
  std::weak_ptr<QMAMRewardBasedVideoAdNetworkConnectorProtocol> connector_;
  std::shared_ptr<RewardVideoViewController> screen_;
};

}  // namespace

void RewardVideoViewController::viewDidLoad() {
  auto v = view();
  v->setBackgroundColor(uikit::Color::blackColor());
  auto video = std::make_shared<VideoView>(v->bounds());
  video->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  std::weak_ptr<RewardVideoViewController> weak =
      std::static_pointer_cast<RewardVideoViewController>(shared_from_this());
  video->addTargetActionForControlEvents(
      [weak](const std::shared_ptr<uikit::Control>&) {
        if (auto self = weak.lock(); self && self->onTap) self->onTap();
      },
      uikit::ControlEvents::TouchUpInside);
  v->addSubview(video);
  videoView = video;
  auto close = std::make_shared<uikit::Button>(uikit::Rect{v->bounds().width() - 44, 0, 44, 44});
  close->setAccessibilityLabel(kRewardCloseButtonLabel);
  close->setTitle("X");
  close->addTargetActionForControlEvents(
      [weak](const std::shared_ptr<uikit::Control>&) {
        if (auto self = weak.lock(); self && self->onClose) self->onClose();
      },
      uikit::ControlEvents::TouchUpInside);
  v->addSubview(close);
}

void registerRewardAdapterClass() {
  if (runtime::objc_getClass(kRewardAdapterClassName)) return;
  auto cls = runtime::Class::make(kRewardAdapterClassName);
  cls->addProtocol(kQMAMRewardBasedVideoAdNetworkAdapterProtocol);
  cls->setFactory([](const runtime::ClassRef& c) { return std::make_shared<AdhostRewardAdapter>(c); });
  cls->addClassMethod<std::string()>("adapterVersion", [] { return std::string("adhost-reward-1"); });
  cls->addClassMethod<std::string()>("networkExtrasClass", [] { return std::string("QMAExtras"); });
  runtime::objc_registerClassPair(cls);
}

}  // namespace adhost
