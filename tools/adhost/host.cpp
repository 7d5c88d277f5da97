#include "tools/adhost/host.h"

#include "platform/uikit/scroll_view.h"

#include <mutex>

#include "ads/mediation/test_adapters.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/foundation/log.h"
#include "platform/uikit/color.h"
#include "platform/uikit/controls.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/scroll_view.h"
#include "tools/adhost/reward_adapter.h"

namespace adhost {
namespace {

std::weak_ptr<AdHost>& sharedHost() {
  static std::weak_ptr<AdHost> host;
  return host;
}

// The component's log lines, kept for "log" (bounded: the oldest go first).
struct LogLines {
  std::mutex mu;
  std::deque<std::string> lines;
};
LogLines& logLines() {
  static LogLines* lines = new LogLines;
  return *lines;
}
constexpr std::size_t kMaximumLogLines = 500;

// The root controller: a plain white screen that holds the banners.
class RootViewController : public uikit::ViewController {
 public:
  std::string className() const override { return "AdHostRootViewController"; }
  // The host's page scrolls, as a feed with banners in it does.
  void loadView() override { setView(std::make_shared<uikit::ScrollView>(uikit::Screen::mainScreen().bounds())); }
  void viewDidLoad() override { view()->setBackgroundColor(uikit::Color::whiteColor()); }
};

std::string sizeText(QMAAdSize size) {
  return foundation::stringWithFormat("%@ (%gx%g)", NSStringFromQMAAdSize(size), size.size.width, size.size.height);
}

}  // namespace

std::string Event::line() const { return detail.empty() ? ad + " " + selector : ad + " " + selector + " " + detail; }

std::string HostedAd::kindName() const {
  switch (kind) {
    case Kind::Banner: return "banner";
    case Kind::KVRBanner: return "kvr-banner";
    case Kind::Interstitial: return "interstitial";
    case Kind::KVRInterstitial: return "kvr-interstitial";
    case Kind::Reward: return "reward";
    case Kind::Native: return "native";
  }
  return "ad";
}

std::string describeError(const foundation::Error& error) {
  return foundation::stringWithFormat("code=%ld %@", error.code, error.localizedDescription());
}

std::string visibleText(const std::string& html) {
  std::string out;
  bool space = false;
  for (std::size_t i = 0; i < html.size() && out.size() < 60;) {
    if (html[i] == '<') {
      // A script or style element shows nothing of what it holds.
      for (const char* skipped : {"script", "style"}) {
        const std::size_t length = std::char_traits<char>::length(skipped);
        if (html.compare(i + 1, length, skipped) == 0) {
          const std::size_t close = html.find(std::string("</") + skipped, i + 1 + length);
          i = close == std::string::npos ? html.size() : close;
          break;
        }
      }
      const std::size_t end = html.find('>', i);
      i = end == std::string::npos ? html.size() : end + 1;
      space = true;
      continue;
    }
    const char c = html[i++];
    if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      space = true;
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == '"') continue;
    if (space && !out.empty()) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

// ---- the application

void AdHost::registerClasses() {
  uikit::registerApplicationDelegateClass(kDelegateClassName, [] {
    auto host = std::make_shared<AdHost>();
    sharedHost() = host;
    return host;
  });
  registerRewardAdapterClass();
  // Adapters of one behaviour each (fill, no fill, silence, two answers) and native custom
  // events (fill, fail, silence), for scenarios that try mediation waterfalls.
  mediation_test::registerTestAdapters();
}

std::shared_ptr<AdHost> AdHost::shared() { return sharedHost().lock(); }

void AdHost::applicationDidFinishLaunching(const std::shared_ptr<uikit::Application>&) {
  WV_DCHECK_MAIN_THREAD();
  foundation::setLogSink([](const std::string& line) {
    auto& l = logLines();
    std::lock_guard lock(l.mu);
    l.lines.push_back(line);
    while (l.lines.size() > kMaximumLogLines) l.lines.pop_front();
  });
  window_ = std::make_shared<uikit::Window>(uikit::Screen::mainScreen().bounds());
  root_ = std::make_shared<RootViewController>();
  window_->setRootViewController(root_);
  window_->makeKeyAndVisible();
}

void AdHost::applicationWillTerminate(const std::shared_ptr<uikit::Application>&) {
  WV_DCHECK_MAIN_THREAD();
  if (root_ && root_->presentedViewController()) root_->dismissViewControllerAnimated(false, nullptr);
  for (const auto& name : std::vector<std::string>(order_)) remove(name);
  retiredRecorders_.clear();
  QMARewardBasedVideoAd::sharedInstance()->setDelegate({});
  if (window_) window_->setHidden(true);
  window_.reset();
  root_.reset();
}

std::vector<std::string> AdHost::takeLogLines() {
  auto& l = logLines();
  std::lock_guard lock(l.mu);
  std::vector<std::string> out(l.lines.begin(), l.lines.end());
  l.lines.clear();
  return out;
}

HostedAd* AdHost::ad(const std::string& name) {
  auto it = ads_.find(name);
  return it == ads_.end() ? nullptr : &it->second;
}

bool AdHost::add(HostedAd hosted) {
  if (ads_.count(hosted.name)) return false;
  order_.push_back(hosted.name);
  ads_.emplace(hosted.name, std::move(hosted));
  return true;
}

void AdHost::remove(const std::string& name) {
  auto it = ads_.find(name);
  if (it == ads_.end()) return;
  if (it->second.banner) it->second.banner->removeFromSuperview();
  if (it->second.customView) it->second.customView->removeFromSuperview();
  if (it->second.nativeView) it->second.nativeView->removeFromSuperview();
  if (it->second.recorder) retiredRecorders_.push_back(it->second.recorder);
  ads_.erase(it);
  std::erase(order_, name);
}

uikit::Point AdHost::nextBannerOrigin() const {
  double y = uikit::Application::sharedApplication()->isStatusBarHidden() ? 0 : 20;
  for (const auto& name : order_) {
    const auto& hosted = ads_.at(name);
    if (hosted.nativeView && hosted.nativeView->superview()) y = std::max(y, hosted.nativeView->frame().maxY());
    if (!hosted.banner || !hosted.banner->superview()) continue;
    y = std::max(y, hosted.banner->uikit::View::frame().maxY());
  }
  return {0, y};
}

void AdHost::record(const std::string& ad, std::string selector, std::string detail) {
  events_.push_back(Event{ad, std::move(selector), std::move(detail)});
}

// ---- the recorder

bool Recorder::respondsToSelector(std::string_view selector) const {
  return !implemented_ || implemented_->count(std::string(selector)) > 0;
}

void Recorder::record(std::string selector, std::string detail) {
  if (auto host = AdHost::shared()) host->record(name_, std::move(selector), std::move(detail));
}

void Recorder::adViewDidReceiveAd(QMABannerView&) { record(kAdViewDidReceiveAd); }
void Recorder::adViewDidFailToReceiveAdWithError(QMABannerView&, const QMARequestError& error) {
  record(kAdViewDidFailToReceiveAdWithError, describeError(error));
}
void Recorder::adViewWillPresentScreen(QMABannerView&) { record(kAdViewWillPresentScreen); }
void Recorder::adViewWillDismissScreen(QMABannerView&) { record(kAdViewWillDismissScreen); }
void Recorder::adViewDidDismissScreen(QMABannerView&) { record(kAdViewDidDismissScreen); }
void Recorder::adViewWillLeaveApplication(QMABannerView&) { record(kAdViewWillLeaveApplication); }

void Recorder::interstitialDidReceiveAd(QMAInterstitial&) { record(kInterstitialDidReceiveAd); }
void Recorder::interstitialDidFailToReceiveAdWithError(QMAInterstitial&, const QMARequestError& error) {
  record(kInterstitialDidFailToReceiveAdWithError, describeError(error));
}
void Recorder::interstitialWillPresentScreen(QMAInterstitial&) { record(kInterstitialWillPresentScreen); }
void Recorder::interstitialWillDismissScreen(QMAInterstitial&) { record(kInterstitialWillDismissScreen); }
void Recorder::interstitialDidDismissScreen(QMAInterstitial&) { record(kInterstitialDidDismissScreen); }
void Recorder::interstitialWillLeaveApplication(QMAInterstitial&) { record(kInterstitialWillLeaveApplication); }
void Recorder::interstitialDidReceiveAdClick(QMAInterstitial&) { record(kInterstitialDidReceiveAdClick); }

void Recorder::adViewDidReceiveAppEventWithInfo(KVRBannerView&, const std::string& name,
                                                const std::optional<std::string>& info) {
  record(kAdViewDidReceiveAppEventWithInfo, "name=" + name + (info ? " info=" + *info : ""));
}
void Recorder::interstitialDidReceiveAppEventWithInfo(KVRInterstitial&, const std::string& name,
                                                      const std::optional<std::string>& info) {
  record(kInterstitialDidReceiveAppEventWithInfo, "name=" + name + (info ? " info=" + *info : ""));
}
void Recorder::adViewWillChangeAdSizeTo(KVRBannerView&, QMAAdSize size) {
  record("adView:willChangeAdSizeTo:", sizeText(size));
}

void Recorder::renderCustomAd(const std::shared_ptr<KVRCustomRenderedAd>& ad, const std::shared_ptr<uikit::View>& in) {
  auto host = AdHost::shared();
  auto* hosted = host ? host->ad(name_) : nullptr;
  if (!hosted || !in) return;
  if (hosted->customView) hosted->customView->removeFromSuperview();
  auto label = std::make_shared<uikit::Label>(in->bounds());
  label->setText(visibleText(ad->adHTML().value_or("")));
  label->setBackgroundColor(uikit::Color::whiteColor());
  label->setAutoresizingMask(uikit::ViewAutoresizingFlexibleWidth | uikit::ViewAutoresizingFlexibleHeight);
  in->addSubview(label);
  hosted->customAd = ad;
  hosted->customView = label;
  ad->finishedRenderingAdView(label);
  ad->recordImpression();
}

void Recorder::bannerViewDidReceiveCustomRenderedAd(KVRBannerView& banner, const std::shared_ptr<KVRCustomRenderedAd>& ad) {
  record(kBannerViewDidReceiveCustomRenderedAd, "html=\"" + visibleText(ad->adHTML().value_or("")) + "\"");
  renderCustomAd(ad, banner.shared_from_this());
}

void Recorder::interstitialDidReceiveCustomRenderedAd(KVRInterstitial&, const std::shared_ptr<KVRCustomRenderedAd>& ad) {
  record(kInterstitialDidReceiveCustomRenderedAd, "html=\"" + visibleText(ad->adHTML().value_or("")) + "\"");
  auto host = AdHost::shared();
  if (host) renderCustomAd(ad, host->rootViewController()->view());
}

void Recorder::rewardBasedVideoAdDidRewardUserWithReward(QMARewardBasedVideoAd&, const std::shared_ptr<QMAAdReward>& reward) {
  record(kDidRewardUserWithReward,
         reward ? "type=" + reward->type() + " amount=" + reward->amount().stringValue() : std::string("reward=none"));
}
void Recorder::rewardBasedVideoAdDidReceiveAd(QMARewardBasedVideoAd&) { record(kDidReceiveAd); }
void Recorder::rewardBasedVideoAdDidOpen(QMARewardBasedVideoAd&) { record(kDidOpen); }
void Recorder::rewardBasedVideoAdDidStartPlaying(QMARewardBasedVideoAd&) { record(kDidStartPlaying); }
void Recorder::rewardBasedVideoAdDidClose(QMARewardBasedVideoAd&) { record(kDidClose); }
void Recorder::rewardBasedVideoAdWillLeaveApplication(QMARewardBasedVideoAd&) { record(kWillLeaveApplication); }
void Recorder::rewardBasedVideoAdDidFailToLoadwithError(QMARewardBasedVideoAd&, const foundation::Error& error) {
  record(kDidFailToLoadwithError, describeError(error));
}

}  // namespace adhost
