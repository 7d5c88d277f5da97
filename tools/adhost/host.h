#pragma once
// adhost's application: a host on the headless UIKit that uses the ad component's public
// objects the way an application would. Its window shows a root view controller whose view
// holds the banners; full-screen ads are presented from that controller. Every ad it makes
// has a name and a recorder as its delegate (and app-event, size and custom-rendering
// delegate where the format has them), which logs each message it hears, in order. The
// reward-based video ad's networks are served by the host's own reward adapter
// (AdhostRewardAdapter), found by class name as any host's adapter is.
//
// Main thread only.

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/slots/banner_view.h"
#include "ads/slots/interstitial.h"
#include "ads/slots/kvr_banner_view.h"
#include "ads/slots/kvr_interstitial.h"
#include "ads/slots/reward_based_video_ad.h"
#include "platform/uikit/application.h"
#include "platform/uikit/view_controller.h"

class QMAAdLoader;
class QMANativeAd;

namespace adhost {

// One message a delegate heard: the ad's name, the message's selector, and what came with
// it (an error's code and text, an app event, a size, a reward).
struct Event {
  std::string ad;
  std::string selector;
  std::string detail;
  std::string line() const;
};

class Recorder;
class NativeRecorder;

// An ad the host made.
struct HostedAd {
  enum class Kind { Banner, KVRBanner, Interstitial, KVRInterstitial, Reward, Native };
  std::string name;
  Kind kind = Kind::Banner;
  std::shared_ptr<QMABannerView> banner;
  std::shared_ptr<QMAInterstitial> interstitial;
  std::shared_ptr<Recorder> recorder;
  // The ad the host renders itself, and the view it renders it in.
  std::shared_ptr<KVRCustomRenderedAd> customAd;
  std::shared_ptr<uikit::View> customView;
  // A native ad's loader, its recorder, the ad delivered and the host's view of it.
  std::shared_ptr<QMAAdLoader> adLoader;
  std::shared_ptr<NativeRecorder> nativeRecorder;
  std::shared_ptr<QMANativeAd> nativeAd;
  std::shared_ptr<uikit::View> nativeView;
  // The events of this ad already handed out by "wait".
  std::size_t waited = 0;
  std::string kindName() const;
};

class AdHost : public uikit::ApplicationDelegate, public std::enable_shared_from_this<AdHost> {
 public:
  static constexpr const char* kDelegateClassName = "AdHostAppDelegate";
  static constexpr const char* kRewardName = "reward";
  // Registers the delegate class with the application's main entry and the host's reward
  // adapter with the runtime's class registry.
  static void registerClasses();
  // The running one.
  static std::shared_ptr<AdHost> shared();

  void applicationDidFinishLaunching(const std::shared_ptr<uikit::Application>& app) override;
  // Lets every ad and view go while the process is whole: the application object itself
  // lives until the very end of the process, after the component's own singletons.
  void applicationWillTerminate(const std::shared_ptr<uikit::Application>& app) override;

  const std::shared_ptr<uikit::Window>& window() const { return window_; }
  const std::shared_ptr<uikit::ViewController>& rootViewController() const { return root_; }
  HostedAd* ad(const std::string& name);
  const std::vector<std::string>& adNames() const { return order_; }
  // Adds an ad; false when the name is taken.
  bool add(HostedAd ad);
  void remove(const std::string& name);
  // Where the next banner goes when no place is given: below the ones already placed.
  uikit::Point nextBannerOrigin() const;

  void record(const std::string& ad, std::string selector, std::string detail = {});
  const std::vector<Event>& events() const { return events_; }

  // What the component wrote to the log since the last call.
  std::vector<std::string> takeLogLines();

 private:
  std::shared_ptr<uikit::Window> window_;
  std::shared_ptr<uikit::ViewController> root_;
  std::map<std::string, HostedAd> ads_;
  std::vector<std::string> order_;
  std::vector<Event> events_;
  // The recorders of ads taken away: a host's delegate (its view controller, say) outlives
  // a banner it removes, and hears what the banner still has to say.
  std::vector<std::shared_ptr<Recorder>> retiredRecorders_;
};

// The delegate of every kind of ad: it records each message it hears, and answers that it
// implements a message unless the driver said otherwise ("implements").
class Recorder : public QMABannerViewDelegate,
                 public QMAInterstitialDelegate,
                 public QMAInterstitialAdClickDelegate,
                 public QMAAppEventDelegate,
                 public QMAAdSizeDelegate,
                 public KVRCustomRenderedBannerViewDelegate,
                 public KVRCustomRenderedInterstitialDelegate,
                 public QMARewardBasedVideoAdDelegate {
 public:
  explicit Recorder(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  // nullopt: every message; otherwise just these selectors.
  void setImplemented(std::optional<std::set<std::string>> selectors) { implemented_ = std::move(selectors); }
  bool respondsToSelector(std::string_view selector) const override;

  void adViewDidReceiveAd(QMABannerView&) override;
  void adViewDidFailToReceiveAdWithError(QMABannerView&, const QMARequestError& error) override;
  void adViewWillPresentScreen(QMABannerView&) override;
  void adViewWillDismissScreen(QMABannerView&) override;
  void adViewDidDismissScreen(QMABannerView&) override;
  void adViewWillLeaveApplication(QMABannerView&) override;

  void interstitialDidReceiveAd(QMAInterstitial&) override;
  void interstitialDidFailToReceiveAdWithError(QMAInterstitial&, const QMARequestError& error) override;
  void interstitialWillPresentScreen(QMAInterstitial&) override;
  void interstitialWillDismissScreen(QMAInterstitial&) override;
  void interstitialDidDismissScreen(QMAInterstitial&) override;
  void interstitialWillLeaveApplication(QMAInterstitial&) override;
  void interstitialDidReceiveAdClick(QMAInterstitial&) override;

  void adViewDidReceiveAppEventWithInfo(KVRBannerView&, const std::string& name,
                                        const std::optional<std::string>& info) override;
  void interstitialDidReceiveAppEventWithInfo(KVRInterstitial&, const std::string& name,
                                              const std::optional<std::string>& info) override;
  void adViewWillChangeAdSizeTo(KVRBannerView&, QMAAdSize size) override;
  void bannerViewDidReceiveCustomRenderedAd(KVRBannerView&, const std::shared_ptr<KVRCustomRenderedAd>& ad) override;
  void interstitialDidReceiveCustomRenderedAd(KVRInterstitial&, const std::shared_ptr<KVRCustomRenderedAd>& ad) override;

  void rewardBasedVideoAdDidRewardUserWithReward(QMARewardBasedVideoAd&, const std::shared_ptr<QMAAdReward>& reward) override;
  void rewardBasedVideoAdDidReceiveAd(QMARewardBasedVideoAd&) override;
  void rewardBasedVideoAdDidOpen(QMARewardBasedVideoAd&) override;
  void rewardBasedVideoAdDidStartPlaying(QMARewardBasedVideoAd&) override;
  void rewardBasedVideoAdDidClose(QMARewardBasedVideoAd&) override;
  void rewardBasedVideoAdWillLeaveApplication(QMARewardBasedVideoAd&) override;
  void rewardBasedVideoAdDidFailToLoadwithError(QMARewardBasedVideoAd&, const foundation::Error& error) override;

 private:
  void record(std::string selector, std::string detail = {});
  // The host draws a custom-rendered ad itself: a label with the ad's text, in the banner
  // or over the whole screen; then it reports the finished rendering and the impression.
  void renderCustomAd(const std::shared_ptr<KVRCustomRenderedAd>& ad, const std::shared_ptr<uikit::View>& in);
  std::string name_;
  std::optional<std::set<std::string>> implemented_;
};

// "code=N text" of an error.
std::string describeError(const foundation::Error& error);
// The visible text of an HTML document (tags dropped, white space folded), at most 60
// characters.
std::string visibleText(const std::string& html);

}  // namespace adhost
