#include "tools/adhost/driver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <utility>

#include "ads/model/kvr_request.h"
#include "ads/present/browser_view_controller.h"
#include "ads/present/mraid_resize_overlay_presenter.h"
#include "ads/present/overlay_presenters.h"
#include "ads/present/swipeable_store_product_view_controller.h"
#include "ads/render/ad_view_delegate.h"
#include "ads/render/sdk_core_controller.h"
#include "ads/services/logging.h"
#include "ads/slots/mobile_ads.h"
#include "platform/dispatch/run_loop.h"
#include "platform/eventkit/event_edit_view_controller.h"
#include "platform/eventkit/event_store.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/format.h"
#include "platform/foundation/json.h"
#include "platform/net/connection.h"
#include "platform/uikit/alert_controller.h"
#include "platform/messageui/compose_view_controller.h"
#include "platform/storekit/store_product_view_controller.h"
#include "platform/uikit/application.h"
#include "platform/uikit/controls.h"
#include "platform/uikit/device.h"
#include "platform/uikit/graphics_context.h"
#include "platform/uikit/image.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/scroll_view.h"
#include "platform/uikit/window.h"
#include "tools/adhost/command.h"
#include "tools/adhost/host.h"
#include "tools/adhost/native_host.h"
#include "tools/adhost/reward_adapter.h"

namespace adhost {
namespace {

using uikit::Rect;
using uikit::View;

std::string number(double v) { return foundation::stringWithFormat("%g", v); }
std::string pointText(uikit::Point p) { return number(p.x) + "," + number(p.y); }
std::string sizeText(uikit::Size s) { return number(s.width) + "x" + number(s.height); }
std::string rectText(Rect r) { return "at " + pointText(r.origin) + " " + sizeText(r.size); }
std::string quoted(const std::string& s) { return "\"" + s + "\""; }

template <class T>
std::shared_ptr<T> findView(const std::shared_ptr<View>& root, const std::function<bool(T&)>& match) {
  if (!root) return nullptr;
  if (auto t = std::dynamic_pointer_cast<T>(root); t && match(*t)) return t;
  for (const auto& sub : root->subviews())
    if (auto t = findView<T>(sub, match)) return t;
  return nullptr;
}

// What an ad web view shows: the visible text of its page.
std::string adText(const std::shared_ptr<QMAAdView>& adView) {
  if (!adView || !adView->webView()) return "";
  return visibleText(adView->webView()->documentParts().bodyHTML);
}

// While it lives, a page read synchronously (a script's value, the text it shows) is
// waited for up to `seconds` instead of the usual second: a healthy page on a loaded
// machine can wait for a core that long, and its read then answers "" for what the page
// has. Only a page that never answers (the watchdog ends one that hangs) is given up on.
class PatientReads {
 public:
  explicit PatientReads(double seconds) : usual_(webkit::WebViewLimits::current().maxRunSeconds) {
    webkit::WebViewLimits::current().maxRunSeconds = std::max(usual_, seconds);
  }
  ~PatientReads() { webkit::WebViewLimits::current().maxRunSeconds = usual_; }
  PatientReads(const PatientReads&) = delete;
  PatientReads& operator=(const PatientReads&) = delete;

 private:
  double usual_;
};

// The screen point a finger aims at to touch the middle of the view.
uikit::Point middleOnScreen(const View& v) {
  const Rect b = v.bounds();
  return v.convertPointToView({b.midX(), b.midY()}, nullptr);
}

// Whether a finger at the middle of `target` touches it (or something in it).
bool reachable(const std::shared_ptr<View>& target, std::shared_ptr<View>* hit = nullptr) {
  if (!target || !target->window()) return false;
  auto touched = uikit::Window::hitTestScreen(middleOnScreen(*target));
  if (hit) *hit = touched;
  return touched && touched->isDescendantOfView(target.get());
}

// A moment as UTC text, yyyy-MM-ddTHH:mm:ssZ (whole seconds); "none" without one.
std::string utcText(const std::optional<foundation::Date>& date) {
  if (!date || !std::isfinite(date->timeIntervalSince1970)) return "none";
  const std::time_t seconds = static_cast<std::time_t>(std::floor(date->timeIntervalSince1970));
  std::tm parts{};
  if (!::gmtime_r(&seconds, &parts)) return "none";
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return buf;
}

// One calendar event as a person reads it: title, start and end, place and notes.
std::string eventText(const eventkit::Event& event) {
  return quoted(event.title.value_or("")) + " " + utcText(event.startDate) + " to " + utcText(event.endDate) +
         " at " + quoted(event.location.value_or("")) + " notes " + quoted(event.notes.value_or(""));
}

std::string authorizationText(eventkit::AuthorizationStatus status) {
  switch (status) {
    case eventkit::AuthorizationStatusNotDetermined: return "not-determined";
    case eventkit::AuthorizationStatusRestricted: return "restricted";
    case eventkit::AuthorizationStatusDenied: return "denied";
    case eventkit::AuthorizationStatusAuthorized: return "authorized";
  }
  return "unknown";
}

// The most pixels a picture may have on either side.
constexpr double kMaximumPictureSide = 16384;

// A bitmap for `size` points at `scale`, or none when it would be empty or too large.
std::optional<uikit::GraphicsContext> bitmapFor(uikit::Size size, double scale) {
  const double width = std::ceil(size.width * scale - 1e-6), height = std::ceil(size.height * scale - 1e-6);
  if (!(width >= 1 && height >= 1 && width <= kMaximumPictureSide && height <= kMaximumPictureSide)) return std::nullopt;
  uikit::GraphicsContext context(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
  context.scaleCTM(scale, scale);
  return context;
}

// What the screen shows, one pixel per device pixel: every shown window, back to front,
// over the black of a screen with nothing on it.
std::shared_ptr<uikit::Image> pictureOfScreen() {
  const auto& screen = uikit::Screen::mainScreen();
  const Rect bounds = screen.bounds();
  auto context = bitmapFor(bounds.size, screen.scale());
  if (!context) return nullptr;
  context->fillRect(bounds, uikit::Color{0, 0, 0, 1});
  for (const auto& window : uikit::Window::visibleWindows()) {
    context->saveGState();
    context->translateCTM(window->frame().minX(), window->frame().minY());
    window->renderInContext(*context);
    context->restoreGState();
  }
  return context->makeImage(screen.scale());
}

// The view and its subviews alone, one pixel per device pixel (transparent where they
// draw nothing).
std::shared_ptr<uikit::Image> pictureOfView(const View& view) {
  const double scale = view.contentScaleFactor();
  auto context = bitmapFor(view.bounds().size, scale);
  if (!context) return nullptr;
  view.renderInContext(*context);
  return context->makeImage(scale);
}

// Writes `image` to `path` as PNG; the reason when it cannot.
std::optional<std::string> writePNG(const std::shared_ptr<uikit::Image>& image, const std::string& path) {
  auto png = uikit::Image::pngRepresentation(image);
  if (!png) return "nothing to draw";
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return "cannot write " + path;
  file.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
  file.close();
  if (!file) return "cannot write " + path;
  return std::nullopt;
}

}  // namespace

struct TextDriver::Impl {
  int out = -1;
  bool echo = false;
  double waitLimit = 10;
  int in = -1;
  dispatch::RunLoop::Id source = 0;
  std::string pending;
  bool busy = false;
  bool readScheduled = false;
  bool quitting = false;

  std::shared_ptr<AdHost> host() { return AdHost::shared(); }

  // Lets what is ready run (queued blocks, due timers), as the screen would before the
  // next touch, and lays the windows out. A page's thousands of requests arriving (or
  // leaving with it) keep the loop from ever running dry: once passes that moved pages'
  // requests have run for kSettleSeconds of real time, the command goes, and the rest
  // runs between commands. Other work is let run to its end, as before.
  void settle() {
    auto& loop = dispatch::RunLoop::main();
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(kSettleSeconds);
    for (;;) {
      const auto before = net::pagesLineState();
      if (!loop.runOnce(0)) break;
      const auto after = net::pagesLineState();
      const bool traffic = after.added != before.added || after.ended != before.ended;
      if (traffic && std::chrono::steady_clock::now() >= until) break;
    }
    for (auto& w : uikit::Window::visibleWindows()) w->layoutIfNeeded();
  }
  static constexpr double kSettleSeconds = 0.25;

  // Runs the main run loop until `done`, at most the wait limit of real time; a hand clock
  // is moved only to timers due within 50 ms.
  bool pumpUntil(const std::function<bool()>& done) {
    auto& loop = dispatch::RunLoop::main();
    return loop.runUntil(
        [&] {
          if (done()) return true;
          if (!foundation::Clock::isManual()) return false;
          const double next = loop.nextTimerDate();
          const double wait = next - foundation::Clock::monotonic();
          if (next >= 0 && wait > 0 && wait <= 0.05) foundation::Clock::advance(wait + 1e-6);
          return false;
        },
        waitLimit);
  }

  std::shared_ptr<uikit::ViewController> topFullScreen() {
    auto h = host();
    auto top = h && h->rootViewController() ? h->rootViewController()->presentedViewController() : nullptr;
    // The top of the stack: a browser opened from an interstitial is presented by it.
    while (top && top->presentedViewController()) top = top->presentedViewController();
    // A full-screen ad with a transparent background is laid straight into the window over
    // what it covers, not presented: it is on top unless something was presented over it.
    auto overlaid = overlaidFullScreen();
    if (overlaid && (!top || !top->isViewLoaded() || placeInWindow(overlaid->view()) > placeInWindow(top->view())))
      return overlaid;
    return top;
  }

  // The full-screen ad a transparent overlay shows in the host's window, frontmost first;
  // none when there is none (an MRAID resize's overlay leaves its banner a banner).
  std::shared_ptr<uikit::ViewController> overlaidFullScreen() {
    return frontmostOverlay([](const QMAAdAppViewController& vc) {
      return std::dynamic_pointer_cast<QMATransparentOverlayPresenter>(vc.presenter()) &&
             !std::dynamic_pointer_cast<QMAMRAIDResizeOverlayPresenter>(vc.presenter()) &&
             !vc.presentingViewController();
    });
  }

  // The frontmost ad-app controller laid over the host's window whose view is its own and
  // that `wanted` picks; none without one.
  std::shared_ptr<uikit::ViewController> frontmostOverlay(
      const std::function<bool(const QMAAdAppViewController&)>& wanted) {
    auto h = host();
    auto window = h ? h->window() : nullptr;
    if (!window) return nullptr;
    std::shared_ptr<uikit::ViewController> found;
    std::function<bool(const std::shared_ptr<View>&)> look = [&](const std::shared_ptr<View>& v) {
      auto vc = std::dynamic_pointer_cast<QMAAdAppViewController>(v->viewController());
      if (vc && vc->view() == v && wanted(*vc)) {
        found = vc;
        return true;
      }
      const auto subs = v->subviews();
      for (auto it = subs.rbegin(); it != subs.rend(); ++it)
        if (look(*it)) return true;
      return false;
    };
    look(window);
    return found;
  }

  // Where a view's branch stands among its window's subviews (front is larger); -1 outside.
  static long placeInWindow(const std::shared_ptr<View>& v) {
    auto window = v ? v->window() : nullptr;
    if (!window) return -1;
    std::shared_ptr<View> branch = v;
    while (branch->superview() && branch->superview() != window) branch = branch->superview();
    const auto& subs = window->subviews();
    return static_cast<long>(std::find(subs.begin(), subs.end(), branch) - subs.begin());
  }

  // ---- making ads

  std::string makeBanner(const Command& c) {
    auto h = host();
    if (h->ad(c.name)) return "error: there is already an ad named " + c.name;
    const QMAAdSize size = c.size.value_or(kQMAAdSizeBanner);
    const bool kvr = c.verb == Verb::KVRBanner;
    std::shared_ptr<QMABannerView> banner =
        kvr ? std::static_pointer_cast<QMABannerView>(KVRBannerView::initWithAdSize(size)) : QMABannerView::initWithAdSize(size);
    if (!banner) return "error: the banner refused the size " + NSStringFromQMAAdSize(size) + " (see log)";
    HostedAd hosted;
    hosted.name = c.name;
    hosted.kind = kvr ? HostedAd::Kind::KVRBanner : HostedAd::Kind::Banner;
    hosted.recorder = std::make_shared<Recorder>(c.name);
    hosted.banner = banner;
    banner->setAdUnitID(c.unit.value_or(c.name));
    banner->setDelegate(hosted.recorder);
    if (!c.noRoot) banner->setRootViewController(h->rootViewController());
    if (auto k = std::dynamic_pointer_cast<KVRBannerView>(banner)) {
      k->setAppEventDelegate(hosted.recorder);
      k->setAdSizeDelegate(hosted.recorder);
      if (!c.validSizes.empty()) {
        std::vector<std::shared_ptr<const QMABoxedValue>> boxed;
        for (const auto& s : c.validSizes) boxed.push_back(NSValueFromQMAAdSize(s));
        k->setValidAdSizes(boxed);
      }
      if (c.manualImpressions) k->setEnableManualImpressions(true);
      if (c.customRendering) k->setCustomRenderedBannerViewDelegate(hosted.recorder);
    }
    const uikit::Point origin = c.origin.value_or(h->nextBannerOrigin());
    banner->setFrame({origin, banner->uikit::View::frame().size});
    h->rootViewController()->view()->addSubview(banner);
    h->add(std::move(hosted));
    return "ok " + c.name + " " + banner->className() + " " + rectText(banner->uikit::View::frame()) +
           " size=" + NSStringFromQMAAdSize(banner->adSize()) + " unit=" + banner->adUnitID().value_or("");
  }

  std::string makeInterstitial(const Command& c) {
    auto h = host();
    if (h->ad(c.name)) return "error: there is already an ad named " + c.name;
    const bool kvr = c.verb == Verb::KVRInterstitial;
    const std::string unit = c.unit.value_or(c.name);
    std::shared_ptr<QMAInterstitial> interstitial =
        kvr ? std::static_pointer_cast<QMAInterstitial>(KVRInterstitial::initWithAdUnitID(unit))
            : QMAInterstitial::initWithAdUnitID(unit);
    HostedAd hosted;
    hosted.name = c.name;
    hosted.kind = kvr ? HostedAd::Kind::KVRInterstitial : HostedAd::Kind::Interstitial;
    hosted.recorder = std::make_shared<Recorder>(c.name);
    hosted.interstitial = interstitial;
    interstitial->setDelegate(hosted.recorder);
    if (auto k = std::dynamic_pointer_cast<KVRInterstitial>(interstitial)) {
      k->setAppEventDelegate(hosted.recorder);
      if (c.customRendering) k->setCustomRenderedInterstitialDelegate(hosted.recorder);
    }
    h->add(std::move(hosted));
    return "ok " + c.name + " " + interstitial->className() + " unit=" + unit;
  }

  HostedAd& rewardAd() {
    auto h = host();
    if (!h->ad(AdHost::kRewardName)) {
      HostedAd hosted;
      hosted.name = AdHost::kRewardName;
      hosted.kind = HostedAd::Kind::Reward;
      hosted.recorder = std::make_shared<Recorder>(AdHost::kRewardName);
      QMARewardBasedVideoAd::sharedInstance()->setDelegate(hosted.recorder);
      h->add(std::move(hosted));
    }
    return *h->ad(AdHost::kRewardName);
  }

  // ---- acting on ads

  std::string load(const Command& c) {
    auto* hosted = host()->ad(c.name);
    if (hosted && hosted->adLoader) {
      hosted->adLoader->loadRequest(QMARequest::request());
      return "ok loading " + c.name;
    }
    if (!hosted || hosted->kind == HostedAd::Kind::Reward) return "error: no banner or interstitial named " + c.name;
    const bool kvr = hosted->kind == HostedAd::Kind::KVRBanner || hosted->kind == HostedAd::Kind::KVRInterstitial;
    std::shared_ptr<QMARequest> request = kvr ? std::static_pointer_cast<QMARequest>(KVRRequest::request()) : QMARequest::request();
    if (!c.parameters.empty()) {
      foundation::Dictionary extra;
      for (const auto& [key, value] : c.parameters) extra[key] = value;
      request->addAdditionalParametersFromDictionary(extra);
    }
    if (hosted->banner) hosted->banner->loadRequest(request);
    if (hosted->interstitial) hosted->interstitial->loadRequest(request);
    return "ok loading " + c.name;
  }

  std::string present(const Command& c) {
    auto* hosted = host()->ad(c.name);
    if (!hosted || !hosted->interstitial) return "error: no interstitial named " + c.name;
    auto before = topFullScreen();
    hosted->interstitial->presentFromRootViewController(host()->rootViewController());
    auto top = topFullScreen();
    // The platform refuses while something else is presented: nothing new reaches the screen.
    if (before && top == before)
      return "error: " + c.name + " was refused: " + before->className() + " is presented already";
    return "ok " + c.name + (top ? " full screen: " + top->className() : std::string(" nothing presented"));
  }

  std::string tap(const Command& c) {
    auto h = host();
    auto* hosted = h->ad(c.name);
    if (!hosted) return "error: no ad named " + c.name;
    if (hosted->kind == HostedAd::Kind::Native) {
      if (!c.asset) return "error: tap " + c.name + " needs an asset (headline, image, attribution-icon...)";
      return tapNativeAsset(*hosted, *c.asset);
    }
    if (c.asset) return "error: " + c.name + " is no native ad: tap NAME [LINK]";
    std::shared_ptr<View> target;
    if (hosted->customView) {
      target = hosted->customView;
    } else if (hosted->banner) {
      target = hosted->banner->rootAdView();
    } else if (hosted->interstitial) {
      auto vc = std::dynamic_pointer_cast<QMAInterstitialViewController>(topFullScreen());
      if (!vc || vc->slot() != std::static_pointer_cast<QMAPresentationSlot>(hosted->interstitial->slot()))
        return "error: " + c.name + " is not on screen";
      target = vc->adView();
    } else if (hosted->kind == HostedAd::Kind::Reward) {
      auto vc = std::dynamic_pointer_cast<RewardVideoViewController>(topFullScreen());
      if (!vc) return "error: no reward video on screen";
      target = vc->videoView;
    }
    if (c.origin) return tapAt(c, *hosted, target);
    std::shared_ptr<View> hit;
    if (!reachable(target, &hit))
      return "error: a finger cannot reach " + c.name + (hit ? " (" + hit->className() + " is on top)" : "");
    if (hosted->customView && hosted->customAd) {
      hosted->customAd->recordClick();
      return "ok tapped " + c.name + " (the host's own view: click recorded)";
    }
    if (auto control = std::dynamic_pointer_cast<uikit::Control>(hit)) {
      if (!control->acceptsTouches()) return "error: " + c.name + " takes no touches now";
      control->sendActionsForControlEvents(uikit::ControlEvents::TouchUpInside);
      return "ok tapped " + c.name;
    }
    auto adView = std::dynamic_pointer_cast<QMAAdView>(target);
    if (!adView || !adView->webView()) return "ok touched " + c.name;
    const std::size_t link = c.link.value_or(0);
    const auto& links = adView->webView()->documentParts().links;
    if (link >= links.size() || !adView->webView()->tapLink(link))
      return "ok touched " + c.name + " (no link " + std::to_string(link) + ")";
    return "ok tapped " + c.name + " link " + std::to_string(link) + " " + links[link];
  }

  // What a creative's request to open a landing page in the application does: the opener of
  // its ad view's delegate opens the in-app browser from where the ad is shown.
  // A finger on a button of the alert on top (an alert is the one controller its window
  // presents).
  std::string answer(const std::string& title) {
    auto windows = uikit::Window::visibleWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
      auto root = (*it)->rootViewController();
      auto alert = std::dynamic_pointer_cast<uikit::AlertController>(root ? root->presentedViewController() : nullptr);
      if (!alert) continue;
      if (!alert->chooseActionWithTitle(title)) return "error: the alert has no button " + title;
      return "ok answered " + title;
    }
    // The event editor's own buttons: "Add" saves the event as shown, "Cancel" drops it.
    if (auto editor = std::dynamic_pointer_cast<eventkit::EKEventEditViewController>(topFullScreen())) {
      if (title != "Add" && title != "Cancel") return "error: the event editor has no button " + title;
      editor->completeWithAction(title == "Add" ? eventkit::EKEventEditViewActionSaved
                                                : eventkit::EKEventEditViewActionCanceled);
      return "ok answered " + title;
    }
    return "error: no alert on screen";
  }

  // The calendar as the user set it up: whether applications may use it, what the user
  // answers when one asks (with grant or deny; an answer given before changes to it, as in
  // the settings), and the events saved in it, oldest first.
  std::string calendar(const Command& c) {
    using namespace eventkit;
    if (c.event) {
      const bool grant = *c.event == "grant";
      EventStore::setAnswerToAccessRequest(grant);
      if (EventStore::authorizationStatusForEntityType(EntityTypeEvent) != AuthorizationStatusNotDetermined)
        EventStore::setAuthorizationStatus(EntityTypeEvent,
                                           grant ? AuthorizationStatusAuthorized : AuthorizationStatusDenied);
    }
    const auto events = EventStore::savedEvents();
    std::string s = "ok calendar " + authorizationText(EventStore::authorizationStatusForEntityType(EntityTypeEvent)) +
                    " events " + std::to_string(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) s += (i == 0 ? ": " : " | ") + eventText(events[i]);
    return s;
  }

  // Script in the ad's page, where its ad view is now (in its banner, or expanded or
  // resized over the host), as the creative's own code would run.
  std::string script(const Command& c) {
    auto* hosted = host()->ad(c.name);
    if (!hosted || (!hosted->banner && !hosted->interstitial)) return "error: no banner or interstitial named " + c.name;
    std::shared_ptr<QMAAdView> adView;
    if (hosted->banner) adView = std::dynamic_pointer_cast<QMAAdView>(hosted->banner->rootAdView());
    if (hosted->interstitial) {
      auto vc = std::dynamic_pointer_cast<QMAInterstitialViewController>(topFullScreen());
      if (vc && vc->slot() == std::static_pointer_cast<QMAPresentationSlot>(hosted->interstitial->slot()))
        adView = vc->adView();
    }
    if (!adView) return "error: " + c.name + " shows no ad";
    PatientReads patient(waitLimit);
    return "ok " + c.name + " js " + adView->stringByEvaluatingJavaScriptFromString(*c.script);
  }

  // Ends a web process as a crash would; what follows is the component's to handle.
  std::string crash(const Command& c) {
    std::shared_ptr<QMAAdView> adView;
    if (c.verb == Verb::CrashSDKCore) {
      adView = QMASDKCoreController::sharedInstance()->activeSDKCoreWebView()->adView();
    } else {
      auto* hosted = host()->ad(c.name);
      if (!hosted || (!hosted->banner && !hosted->interstitial)) return "error: no banner or interstitial named " + c.name;
      if (hosted->banner) adView = std::dynamic_pointer_cast<QMAAdView>(hosted->banner->rootAdView());
      if (hosted->interstitial) {
        auto vc = std::dynamic_pointer_cast<QMAInterstitialViewController>(topFullScreen());
        if (vc && vc->slot() == std::static_pointer_cast<QMAPresentationSlot>(hosted->interstitial->slot()))
          adView = vc->adView();
      }
    }
    const std::string what = c.verb == Verb::CrashSDKCore ? std::string("the SDK-core page") : c.name;
    if (!adView || !adView->webView() || adView->webView()->documentURL() == "about:blank")
      return "error: " + what + " shows no page";
    adView->webView()->terminateWebProcess();
    return "ok crashed " + what;
  }

  std::string browse(const Command& c) {
    auto* hosted = host()->ad(c.name);
    if (!hosted || (!hosted->banner && !hosted->interstitial)) return "error: no banner or interstitial named " + c.name;
    auto url = net::URL::fromString(*c.url);
    if (!url) return "error: not a URL: " + *c.url;
    std::shared_ptr<QMAAdView> adView;
    if (hosted->banner) adView = std::dynamic_pointer_cast<QMAAdView>(hosted->banner->rootAdView());
    if (hosted->interstitial) {
      auto vc = std::dynamic_pointer_cast<QMAInterstitialViewController>(topFullScreen());
      if (!vc || vc->slot() != std::static_pointer_cast<QMAPresentationSlot>(hosted->interstitial->slot()))
        return "error: " + c.name + " is not on screen";
      adView = vc->adView();
    }
    auto delegate = adView ? std::dynamic_pointer_cast<QMAAdViewDelegate>(adView->delegate()) : nullptr;
    auto opener = delegate ? delegate->opener() : nullptr;
    if (!opener) return "error: " + c.name + " shows no ad";
    auto before = topFullScreen();
    opener->setViewController(adView->viewController());
    opener->setAdView(adView);
    opener->openBrowserToURLSupportedOrientations(url, 30);
    auto top = topFullScreen();
    if (top == before) return "error: " + c.name + " opened nothing (the click gate or the orientations refused)";
    return "ok " + c.name + " full screen: " + top->className();
  }

  // A finger at a point of the ad's view (its own coordinates): what is on top there takes
  // it; on a web view it is a pointer press and release at that point of the page.
  std::string tapAt(const Command& c, HostedAd& hosted, const std::shared_ptr<View>& target) {
    const std::string where = c.name + " at " + pointText(*c.origin);
    if (!target || !target->window() || !target->bounds().contains(*c.origin))
      return "error: a finger cannot reach " + where;
    const uikit::Point onScreen = target->convertPointToView(*c.origin, nullptr);
    auto hit = uikit::Window::hitTestScreen(onScreen);
    if (!hit || !hit->isDescendantOfView(target.get()))
      return "error: a finger cannot reach " + where + (hit ? " (" + hit->className() + " is on top)" : "");
    if (hosted.customView && hosted.customAd) {
      hosted.customAd->recordClick();
      return "ok tapped " + where + " (the host's own view: click recorded)";
    }
    if (auto control = std::dynamic_pointer_cast<uikit::Control>(hit)) {
      if (!control->acceptsTouches()) return "error: " + c.name + " takes no touches now";
      control->sendActionsForControlEvents(uikit::ControlEvents::TouchUpInside);
      return "ok tapped " + where;
    }
    auto adView = std::dynamic_pointer_cast<QMAAdView>(target);
    if (!adView || !adView->webView()) return "ok touched " + where;
    auto web = adView->webView();
    web->tapAtPoint(web->convertPointFromView(onScreen, nullptr));
    return "ok tapped " + where;
  }

  // A finger on the banner from one screen point to another: a first small move where it
  // came down, then four moves a frame apart (1/60 s on a hand-driven clock), then lifted,
  // or cancelled by the system before.
  std::string swipe(const Command& c) {
    std::shared_ptr<QMABannerView> b;
    if (auto e = banner(c, &b); !e.empty()) return e;
    std::shared_ptr<uikit::PanGestureRecognizer> pan;
    for (const auto& r : b->gestureRecognizers())
      if (auto p = std::dynamic_pointer_cast<uikit::PanGestureRecognizer>(r); p && p->isEnabled()) pan = p;
    if (!pan) return "error: " + c.name + " takes no swipe now";
    auto at = [&](double f) {
      const uikit::Point p{c.origin->x + (c.to->x - c.origin->x) * f, c.origin->y + (c.to->y - c.origin->y) * f};
      return b->convertPointFromView(p, nullptr);
    };
    uikit::Point last = at(0);
    pan->touchesBegan({{last, last}});
    for (const double f : {0.02, 0.25, 0.5, 0.75, 1.0}) {
      if (pan->state() == uikit::GestureRecognizerState::Cancelled) break;
      if (foundation::Clock::isManual()) foundation::Clock::advance(1.0 / 60);
      const uikit::Point next = at(f);
      pan->touchesMoved({{next, last}});
      last = next;
    }
    const bool refused = pan->state() == uikit::GestureRecognizerState::Cancelled;
    if (c.on) pan->touchesCancelled({{last, last}});
    else pan->touchesEnded({{last, last}});
    pan->reset();
    if (refused) return "ok swiped " + c.name + " (refused: it began outside the swipeable areas)";
    return std::string("ok swiped ") + c.name + (c.on ? " (cancelled by the system)" : "");
  }

  std::string close() {
    auto top = topFullScreen();
    if (!top) {
      // With nothing full screen, a resized ad's close area is the control on top.
      if (auto resized = resizeOverlay()) return tapCloseButton(resized);
      return "error: nothing is presented";
    }
    if (auto store = std::dynamic_pointer_cast<QMASwipeableStoreProductViewController>(top)) {
      store->userDidFinish();
      return "ok closed " + top->className();
    }
    if (auto done = closeSystemScreen(top)) return *done;
    if (auto browser = std::dynamic_pointer_cast<QMABrowserViewController>(top)) {
      auto done = browser->toolbar() ? browser->toolbar()->itemWithLabel("Done") : nullptr;
      if (!done || !done->tap()) return "error: the browser's Done takes no touches now";
      return "ok closed QMABrowserViewController";
    }
    return tapCloseButton(top);
  }

  // A finger on the close button (or the clear close area) a controller of ours shows.
  static std::string tapCloseButton(const std::shared_ptr<uikit::ViewController>& top) {
    auto button = findView<uikit::Button>(top->view(), [](uikit::Button& b) {
      return b.accessibilityLabel() == QMAAdAppViewController::kCloseButtonAccessibilityLabel ||
             b.accessibilityLabel() == kRewardCloseButtonLabel;
    });
    if (!button) return "error: " + top->className() + " shows no close button";
    std::shared_ptr<View> hit;
    if (!reachable(button, &hit) || hit != button) return "error: a finger cannot reach the close button";
    if (!button->userTap()) return "error: the close button takes no touches now";
    return "ok closed " + top->className();
  }

  // The controller of a resized ad laid over the host, frontmost first; none without one.
  std::shared_ptr<uikit::ViewController> resizeOverlay() {
    return frontmostOverlay([](const QMAAdAppViewController& vc) {
      return std::dynamic_pointer_cast<QMAMRAIDResizeOverlayPresenter>(vc.presenter()) != nullptr;
    });
  }

  // The system's own screens an ad opens close as their user would: a store page with
  // "Done", a composer with "Cancel", the event editor with "Add" (the event is saved).
  static std::optional<std::string> closeSystemScreen(const std::shared_ptr<uikit::ViewController>& top) {
    if (auto page = std::dynamic_pointer_cast<storekit::SKStoreProductViewController>(top)) {
      page->done();
    } else if (auto mail = std::dynamic_pointer_cast<messageui::MFMailComposeViewController>(top)) {
      mail->finishWithResult(messageui::MFMailComposeResultCancelled);
    } else if (auto text = std::dynamic_pointer_cast<messageui::MFMessageComposeViewController>(top)) {
      text->finishWithResult(messageui::MessageComposeResultCancelled);
    } else if (auto editor = std::dynamic_pointer_cast<eventkit::EKEventEditViewController>(top)) {
      editor->completeWithAction(eventkit::EKEventEditViewActionSaved);
    } else {
      return std::nullopt;
    }
    return "ok closed " + top->className();
  }

  std::string banner(const Command& c, std::shared_ptr<QMABannerView>* out) {
    auto* hosted = host()->ad(c.name);
    if (!hosted || !hosted->banner) return "error: no banner named " + c.name;
    *out = hosted->banner;
    return "";
  }

  std::string bannerLine(const std::string& name, const QMABannerView& b) {
    return "ok " + name + " " + rectText(b.uikit::View::frame()) + " size=" + NSStringFromQMAAdSize(b.adSize());
  }

  // ---- reading

  std::string adLine(const HostedAd& hosted) {
    if (hosted.kind == HostedAd::Kind::Native) return nativeScreenLine(hosted);
    std::string s = hosted.name + " " + hosted.kindName();
    if (hosted.banner) {
      auto& b = *hosted.banner;
      if (!b.superview()) return s + " not placed";
      s += " " + rectText(b.convertRectToView(b.bounds(), nullptr)) + " size=" + NSStringFromQMAAdSize(b.adSize());
      if (!b.isEffectivelyVisible()) s += " hidden";
      if (auto label = std::dynamic_pointer_cast<uikit::Label>(hosted.customView))
        return s + " shows the host's own view " + quoted(label->text());
      auto shown = std::dynamic_pointer_cast<QMAAdView>(b.rootAdView());
      if (!shown) return s + (b.rootAdView() ? " shows " + b.rootAdView()->className() : " shows nothing");
      if (shown->isHidden()) return s + " shows no ad";
      return s + " shows " + quoted(adText(shown)) + " links=" + std::to_string(shown->webView()->documentParts().links.size());
    }
    if (hosted.interstitial) {
      auto& i = *hosted.interstitial;
      return s + (i.isReady() ? " ready" : " not-ready") + (i.hasBeenUsed() ? " used" : "");
    }
    auto rbv = QMARewardBasedVideoAd::sharedInstance();
    return s + (rbv->isReady() ? " ready" : rbv->requestInProgress() ? " loading" : " not-ready");
  }

  std::string screen() {
    auto h = host();
    const Rect bounds = h->window()->bounds();
    std::string s = "ok screen " + sizeText(bounds.size) + " status-bar=" +
                    (uikit::Application::sharedApplication()->isStatusBarHidden() ? "hidden" : "shown") +
                    " interface=" + interfaceOrientationText(uikit::Application::sharedApplication()->statusBarOrientation()) +
                    " device=" + deviceOrientationText(uikit::Device::currentDevice()->orientation());
    for (const auto& name : h->adNames()) {
      auto* hosted = h->ad(name);
      if (!hosted) continue;
      s += "; " + adLine(*hosted);
      auto label = std::dynamic_pointer_cast<uikit::Label>(hosted->customView);
      if (label && !hosted->banner) s += " shows the host's own view " + quoted(label->text());
    }
    // Every controller presented over the host, bottom first.
    std::string stack;
    for (auto vc = h->rootViewController() ? h->rootViewController()->presentedViewController() : nullptr; vc;
         vc = vc->presentedViewController())
      stack += (stack.empty() ? "" : " > ") + vc->className();
    if (stack.find(" > ") != std::string::npos) s += "; presented " + stack;
    if (auto browser = std::dynamic_pointer_cast<QMABrowserViewController>(topFullScreen())) {
      s += "; full screen QMABrowserViewController";
      if (browser->adView()) s += " shows " + quoted(adText(browser->adView()));
      if (browser->toolbar()) {
        s += " toolbar";
        for (const auto& item : browser->toolbar()->items()) {
          if (item->accessibilityLabel().empty()) continue;
          s += " [" + item->accessibilityLabel() + (item->isEnabled() ? "" : " off") + "]";
        }
      }
    } else if (auto top = topFullScreen()) {
      s += "; full screen " + top->className();
      if (auto vc = std::dynamic_pointer_cast<QMAInterstitialViewController>(top)) {
        for (const auto& name : h->adNames()) {
          auto* hosted = h->ad(name);
          if (hosted && hosted->interstitial &&
              vc->slot() == std::static_pointer_cast<QMAPresentationSlot>(hosted->interstitial->slot()))
            s += " of " + name;
        }
        s += " shows " + quoted(adText(vc->adView()));
        if (vc->closeButton() && vc->closeButton()->superview())
          s += " close-button " + rectText(vc->closeButton()->frame());
      } else if (auto video = std::dynamic_pointer_cast<RewardVideoViewController>(top)) {
        s += " network " + quoted(video->network) + (video->finished ? " finished" : " playing");
      } else if (auto editor = std::dynamic_pointer_cast<eventkit::EKEventEditViewController>(top)) {
        if (editor->event()) s += " event " + eventText(*editor->event());
      }
    }
    // Other applications the ad opened, oldest first.
    const auto opened = uikit::Application::sharedApplication()->openedURLs();
    if (!opened.empty()) {
      s += "; opened";
      for (const auto& url : opened) s += " " + url;
    }
    return s;
  }

  // The view an ad shows itself in: a banner's view, the full-screen view of a presented
  // interstitial or reward video, the host's own view of a full-screen ad it draws, the
  // native ad view of a native content or app-install ad.
  std::shared_ptr<View> viewOfAd(const HostedAd& hosted, std::string* why) {
    if (hosted.kind == HostedAd::Kind::Native) {
      if (!hosted.nativeAd) *why = hosted.name + " has no native ad yet";
      else if (!hosted.nativeView) *why = hosted.name + " has no view: the host lays it out";
      else if (!hosted.nativeView->window()) *why = hosted.name + " is not placed";
      return why->empty() ? hosted.nativeView : nullptr;
    }
    if (hosted.banner) {
      if (!hosted.banner->window()) *why = hosted.name + " is not placed";
      return hosted.banner->window() ? hosted.banner : nullptr;
    }
    if (hosted.customView && hosted.customView->window()) return hosted.customView;
    auto top = topFullScreen();
    if (hosted.interstitial) {
      auto vc = std::dynamic_pointer_cast<QMAInterstitialViewController>(top);
      if (vc && vc->slot() == std::static_pointer_cast<QMAPresentationSlot>(hosted.interstitial->slot())) return vc->adView();
    } else if (auto video = std::dynamic_pointer_cast<RewardVideoViewController>(top)) {
      return video->videoView;
    }
    *why = hosted.name + " is not on screen";
    return nullptr;
  }

  std::string snapshot(const Command& c) {
    std::shared_ptr<uikit::Image> picture;
    if (c.name.empty()) {
      picture = pictureOfScreen();
    } else {
      auto* hosted = host()->ad(c.name);
      if (!hosted) return "error: no ad named " + c.name;
      std::string why;
      auto view = viewOfAd(*hosted, &why);
      if (!view) return "error: " + why;
      picture = pictureOfView(*view);
    }
    if (auto error = writePNG(picture, *c.file)) return "error: " + *error;
    return "ok snapshot " + (c.name.empty() ? std::string("screen") : c.name) + " " +
           std::to_string(picture->pixelWidth()) + "x" + std::to_string(picture->pixelHeight()) + " " + *c.file;
  }

  std::string events(const std::optional<std::string>& name) {
    std::string s = "ok events";
    bool first = true;
    for (const auto& e : host()->events()) {
      if (name && e.ad != *name) continue;
      s += first ? " " : " | ";
      s += e.line();
      first = false;
    }
    return s;
  }

  static bool sameSelector(const std::string& heard, const std::string& wanted) {
    auto bare = [](std::string t) {
      if (!t.empty() && t.back() == ':') t.pop_back();
      return t;
    };
    return bare(heard) == bare(wanted);
  }

  std::string wait(const Command& c) {
    auto h = host();
    auto* hosted = h->ad(c.name);
    if (!hosted) return "error: no ad named " + c.name;
    const std::string name = c.name;
    std::optional<Event> found;
    auto look = [&] {
      auto* ad = h->ad(name);
      if (!ad) return true;
      const auto& all = h->events();
      std::size_t seen = 0;
      for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].ad != name) continue;
        if (seen++ < ad->waited) continue;
        ad->waited = seen;
        if (!c.event || sameSelector(all[i].selector, *c.event)) {
          found = all[i];
          return true;
        }
      }
      return false;
    };
    settle();
    if (!look()) pumpUntil(look);
    if (!found) return "error: " + name + " heard no " + c.event.value_or("message") + " within " + number(waitLimit) + " s";
    return "ok " + found->line();
  }

  std::string clockLine() {
    auto c = foundation::Calendar::componentsInLocalTime({foundation::Clock::now()});
    char buf[64];
    std::snprintf(buf, sizeof buf, "ok clock %04d-%02d-%02d %02d:%02d:%02d %s", c.year, c.month, c.day, c.hour, c.minute,
                  c.second, foundation::Clock::isManual() ? "manual" : "system");
    return buf;
  }

  std::string log() {
    QMALogQueue()->sync([] {});  // what the component has logged so far, all of it
    foundation::Array lines;
    for (auto& line : host()->takeLogLines()) lines.push_back(std::move(line));
    return "ok log " + foundation::jsonSerialize(foundation::Value(lines));
  }

  // ---- the device and the store

  // Interface orientations by their number; the device's landscape left is the
  // interface's landscape right.
  static std::string interfaceOrientationText(long o) {
    switch (o) {
      case 1: return "portrait";
      case 2: return "upside-down";
      case 3: return "landscape-right";
      case 4: return "landscape-left";
      default: return "unknown";
    }
  }
  static std::string deviceOrientationText(uikit::DeviceOrientation o) {
    switch (o) {
      case uikit::DeviceOrientation::Portrait: return "portrait";
      case uikit::DeviceOrientation::PortraitUpsideDown: return "upside-down";
      case uikit::DeviceOrientation::LandscapeLeft: return "landscape-left";
      case uikit::DeviceOrientation::LandscapeRight: return "landscape-right";
      default: return "flat";
    }
  }

  // The user turns the phone; the interface follows where the host and the controller on
  // top allow, and the views on screen lay out again (and settle, as a turn is animated).
  std::string rotate(const Command& c) {
    auto application = uikit::Application::sharedApplication();
    uikit::Device::currentDevice()->setOrientation(static_cast<uikit::DeviceOrientation>(*c.deviceOrientation));
    settle();
    const long after = application->statusBarOrientation();
    const std::string device = deviceOrientationText(uikit::Device::currentDevice()->orientation());
    const Rect bounds = uikit::Screen::mainScreen().bounds();
    std::string s = "ok rotated " + device + ": interface " + interfaceOrientationText(after) + " (" +
                    std::to_string(after) + ")";
    if (after != *c.deviceOrientation) s += " stays: the host or the screen on top does not turn there";
    return s + ", screen " + sizeText(bounds.size);
  }

  // What the store answers for an item's product page from now on.
  std::string storePage(const Command& c) {
    storekit::SKTestProductPages::setPageFails(*c.storeItem, c.on);
    return "ok store page " + std::to_string(*c.storeItem) + (c.on ? " fails to load" : " loads");
  }

  // ---- dispatch

  std::string run(const std::string& line) {
    auto parsed = parseCommand(line);
    if (auto* error = std::get_if<ParseError>(&parsed)) return "error: " + error->message;
    const Command& c = std::get<Command>(parsed);
    auto h = host();
    if (c.verb == Verb::Nothing) return "";
    if (!h || !h->rootViewController()) return "error: the application has not launched";
    auto application = uikit::Application::sharedApplication();
    std::shared_ptr<QMABannerView> b;
    switch (c.verb) {
      case Verb::Nothing: return "";
      case Verb::Banner:
      case Verb::KVRBanner: return makeBanner(c);
      case Verb::Interstitial:
      case Verb::KVRInterstitial: return makeInterstitial(c);
      case Verb::Load: return load(c);
      case Verb::Present: return present(c);
      case Verb::Cancel: {
        auto* hosted = h->ad(c.name);
        if (!hosted || !hosted->interstitial) return "error: no interstitial named " + c.name;
        hosted->interstitial->cancel();
        return "ok cancelled " + c.name;
      }
      case Verb::RewardLoad:
        rewardAd();
        QMARewardBasedVideoAd::sharedInstance()->loadRequestWithAdUnitIDUserID(QMARequest::request(), c.unit, c.user);
        return "ok loading reward";
      case Verb::RewardPresent: {
        rewardAd();
        QMARewardBasedVideoAd::sharedInstance()->presentFromRootViewController(h->rootViewController());
        auto top = topFullScreen();
        return "ok reward" + (top ? " full screen: " + top->className() : std::string(" nothing presented"));
      }
      case Verb::Tap: return tap(c);
      case Verb::Native: {
        if (h->ad(c.name)) return "error: there is already an ad named " + c.name;
        HostedAd hosted;
        hosted.name = c.name;
        hosted.kind = HostedAd::Kind::Native;
        hosted.nativeRecorder = std::make_shared<NativeRecorder>(c.name, c.templateIDs);
        std::string answer = loadNativeAd(hosted, c.nativeTypes, c.unit, c.multipleImages, c.noImages);
        if (hosted.adLoader) h->add(std::move(hosted));
        return answer;
      }
      case Verb::Snapshot: {
        if (c.file) return snapshot(c);
        auto* hosted = h->ad(c.name);
        if (!hosted || hosted->kind != HostedAd::Kind::Native) return "error: no native ad named " + c.name;
        return nativeSnapshot(*hosted);
      }
      case Verb::Close: return close();
      case Verb::Browse: return browse(c);
      case Verb::Script: return script(c);
      case Verb::Answer: return answer(*c.event);
      case Verb::Calendar: return calendar(c);
      case Verb::Frame:
        if (auto e = banner(c, &b); !e.empty()) return e;
        b->setFrame({*c.origin, *c.frameSize});
        return bannerLine(c.name, *b);
      case Verb::Size:
        if (auto e = banner(c, &b); !e.empty()) return e;
        b->setAdSize(*c.size);
        return bannerLine(c.name, *b);
      case Verb::Hide:
      case Verb::Show:
        if (auto e = banner(c, &b); !e.empty()) return e;
        b->setHidden(c.verb == Verb::Hide);
        return "ok " + c.name + (c.verb == Verb::Hide ? " hidden" : " shown");
      case Verb::Remove:
        if (!h->ad(c.name)) return "error: no ad named " + c.name;
        h->remove(c.name);
        return "ok removed " + c.name;
      case Verb::Autoload:
        if (auto e = banner(c, &b); !e.empty()) return e;
        b->setAutoloadEnabled(c.on);
        return "ok " + c.name + " autoload " + (c.on ? "on" : "off");
      case Verb::Impression: {
        auto kvr = std::dynamic_pointer_cast<KVRBannerView>(h->ad(c.name) ? h->ad(c.name)->banner : nullptr);
        if (!kvr) return "error: no kvr-banner named " + c.name;
        kvr->recordImpression();
        return "ok impression recorded for " + c.name;
      }
      case Verb::Implements: {
        auto* hosted = c.name == AdHost::kRewardName ? &rewardAd() : h->ad(c.name);
        if (!hosted || !hosted->recorder) return "error: no banner, interstitial or reward ad named " + c.name;
        if (c.selectors.size() == 1 && c.selectors[0] == "all") {
          hosted->recorder->setImplemented(std::nullopt);
        } else if (c.selectors.size() == 1 && c.selectors[0] == "none") {
          hosted->recorder->setImplemented(std::set<std::string>{});
        } else {
          hosted->recorder->setImplemented(std::set<std::string>(c.selectors.begin(), c.selectors.end()));
        }
        return "ok " + c.name + " implements " + (c.selectors.size() == 1 ? c.selectors[0] : std::to_string(c.selectors.size()) + " messages");
      }
      case Verb::Correlator:
        KVRRequest::updateCorrelator();
        return "ok new correlator";
      case Verb::Configure:
        QMAMobileAds::configureWithApplicationCodeTrackingID(c.unit, c.user);
        return "ok configured (see log)";
      case Verb::Scroll: {
        auto page = std::dynamic_pointer_cast<uikit::ScrollView>(h->rootViewController()->view());
        if (!page) return "error: the host's page does not scroll";
        page->setContentOffset(*c.origin);
        return "ok scrolled to " + foundation::stringWithFormat("%g,%g", c.origin->x, c.origin->y);
      }
      case Verb::Swipe: return swipe(c);
      case Verb::Clock:
        if (c.seconds) {
          if (!foundation::Clock::isManual()) foundation::Clock::useManual(foundation::Clock::now());
          foundation::Clock::advance(*c.seconds);
        }
        return clockLine();
      case Verb::Background:
        if (application->applicationState() != uikit::ApplicationState::Active) return "error: not in the foreground";
        application->enterBackground();
        return "ok in the background";
      case Verb::Foreground:
        if (application->applicationState() != uikit::ApplicationState::Background) return "error: not in the background";
        application->enterForeground();
        return "ok in the foreground";
      case Verb::Screen: {
        PatientReads patient(waitLimit);
        return screen();
      }
      case Verb::Requests: {
        const auto pages = net::pagesLineState();
        return "ok requests running=" + std::to_string(pages.running) + " waiting=" + std::to_string(pages.waiting);
      }
      case Verb::Events: return events(c.name.empty() ? std::nullopt : std::optional<std::string>(c.name));
      case Verb::Wait: return wait(c);
      case Verb::Log: return log();
      case Verb::Help: return "ok " + helpLine();
      case Verb::Crash:
      case Verb::CrashSDKCore: return crash(c);
      case Verb::Rotate: return rotate(c);
      case Verb::StorePage: return storePage(c);
      case Verb::Quit:
        quitting = true;
        application->terminate();
        return "ok bye";
    }
    return "error: unknown command";
  }

  // One answer is one line: line breaks and other control characters in what a server or a
  // message said are written escaped.
  static std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '\n') out += "\\n";
      else if (c == '\r') out += "\\r";
      else if (c == '\t') out += ' ';
      else if (static_cast<unsigned char>(c) < 0x20) out += '?';
      else out += c;
    }
    return out;
  }

  void write(const std::string& text) {
    std::string s = oneLine(text) + "\n";
    const char* p = s.data();
    std::size_t left = s.size();
    while (left > 0) {
      ssize_t n = ::write(out, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      p += n;
      left -= std::size_t(n);
    }
  }

  // Commands are read only by the loop's outermost passes. Whatever the host is in the
  // middle of may run the loop itself (a page's script evaluated to its answer inside a
  // main-queue block): a command read on such an inner pass would run inside that block,
  // and a `wait` there would wait for main-queue work that cannot start until the block
  // returns. So the source stands down and the reading waits for the end of the pass.
  void onReadable() {
    auto& loop = dispatch::RunLoop::main();
    if (source) loop.removeFileDescriptorSource(source);
    source = 0;
    if (readScheduled) return;
    readScheduled = true;
    loop.performBlockAfterPass([this] {
      readScheduled = false;
      readCommands();
    });
  }

  void readCommands() {
    // Settling between commands runs the loop, which may call here again: the commands
    // already read run first, in order.
    if (busy) return;
    busy = true;
    auto& loop = dispatch::RunLoop::main();
    if (source) loop.removeFileDescriptorSource(source);
    source = 0;
    if (readAvailable()) source = loop.addFileDescriptorSource(in, [this] { onReadable(); });
    busy = false;
  }

  bool readAvailable() {
    char buf[4096];
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n > 0) {
      pending.append(buf, std::size_t(n));
      std::size_t pos;
      while ((pos = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, pos);
        pending.erase(0, pos + 1);
        handle(line);
        if (quitting) return false;
      }
      // A line that never ends is answered once it is too long to be a command.
      if (pending.size() > kMaximumLineLength) {
        pending.clear();
        write("error: the line is longer than 4096 bytes");
      }
      return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (!pending.empty()) handle(std::exchange(pending, ""));
    if (!quitting) uikit::Application::sharedApplication()->terminate();
    return false;
  }

  std::string handle(const std::string& line) {
    WV_DCHECK_MAIN_THREAD();
    if (echo) {
      auto parsed = parseCommand(line);
      const bool blank = std::holds_alternative<Command>(parsed) && std::get<Command>(parsed).verb == Verb::Nothing &&
                         line.find('#') == std::string::npos;
      if (!blank) write("> " + line);
    }
    settle();
    std::string answer = run(line);
    settle();
    write(answer);
    return answer;
  }
};

TextDriver::TextDriver(int out, bool echo, double waitLimit) : impl_(std::make_unique<Impl>()) {
  impl_->out = out;
  impl_->echo = echo;
  impl_->waitLimit = waitLimit;
}

TextDriver::~TextDriver() {
  if (impl_->source) dispatch::RunLoop::main().removeFileDescriptorSource(impl_->source);
}

void TextDriver::attach(int fd) {
  impl_->in = fd;
  impl_->source = dispatch::RunLoop::main().addFileDescriptorSource(fd, [this] { impl_->onReadable(); });
}

std::string TextDriver::execute(const std::string& line) { return impl_->handle(line); }

}  // namespace adhost
