#pragma once
// One ad response as the component sees it: the ad's HTML with the URL it came from, or
// an ad URL still to be fetched, plus what the response headers or the ad dictionary said
// about it (response type, size, orientations, reload interval, tracking URLs, viewability
// and swipe set-ups) and a statistics dictionary that travels with the next requests.
// QMABannerAd and QMAInterstitialAd are the kinds the two web-view formats make.
//
// An ad has no lock of its own: it is made and filled by one owner at a time (the SDK-core
// controller, the slot, the fetcher; in the component all on the main thread) and then
// handed on, so any thread may use it while it owns it. Its statistics dictionary is safe
// from any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ads/model/ad_collaborators.h"
#include "ads/model/ad_size.h"
#include "ads/model/swipe_configurations.h"
#include "ads/services/application.h"
#include "ads/services/statistic_dictionary.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/net/url.h"

// Response types, the `responseType` of an ad (set by the fetcher from the headers).
enum QMAAdResponseType : std::uint64_t {
  QMAAdResponseTypeInvalid = 0,
  QMAAdResponseTypeHTML = 1,
  QMAAdResponseTypeMediation = 2,
  QMAAdResponseTypeNative = 3,
  QMAAdResponseTypeCustomRendering = 4,
};

// An insertion-ordered set of URLs: a URL given twice is kept once.
class QMAURLSet {
 public:
  bool add(const net::URL& url);
  bool contains(const net::URL& url) const;
  void removeAll() { urls_.clear(); }
  std::size_t size() const { return urls_.size(); }
  bool empty() const { return urls_.empty(); }
  const std::vector<net::URL>& urls() const { return urls_; }

 private:
  std::vector<net::URL> urls_;
};

class QMAAd : public QMAAdWithStatistics, public std::enable_shared_from_this<QMAAd> {
 public:
  static std::shared_ptr<QMAAd> init();
  // The ad dictionary of delivered and preset ads; values of another type than expected
  // count as absent.
  static std::shared_ptr<QMAAd> initWithDictionary(const foundation::Dictionary& dictionary);
  ~QMAAd() override = default;

  virtual std::string className() const { return "QMAAd"; }

  // Tracking URLs; the sets only grow from outside through these.
  const QMAURLSet& clickURLs() const { return clickURLs_; }
  const QMAURLSet& impressionURLs() const { return impressionURLs_; }
  const QMAURLSet& manualImpressionURLs() const { return manualImpressionURLs_; }
  void addClickURLsFromArray(const std::vector<net::URL>& urls);
  void addImpressionURLsFromArray(const std::vector<net::URL>& urls);
  void addManualImpressionURLsFromArray(const std::vector<net::URL>& urls);
  void removeAllImpressionURLs() { impressionURLs_.removeAll(); }
  void removeAllManualImpressionURLs() { manualImpressionURLs_.removeAll(); }

  bool isScrollEnabled() const { return scrollEnabled_; }
  void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }
  bool hasAdNetworkJavaScript() const { return hasAdNetworkJavaScript_; }
  std::shared_ptr<QMAStatisticDictionary> statistics() const override { return statistics_; }

  const std::optional<net::URL>& adBaseURL() const { return adBaseURL_; }
  void setAdBaseURL(std::optional<net::URL> url) { adBaseURL_ = std::move(url); }
  const std::optional<std::string>& adHTML() const { return adHTML_; }
  void setAdHTML(std::optional<std::string> html) { adHTML_ = std::move(html); }
  const std::optional<net::URL>& adURL() const { return adURL_; }
  void setAdURL(std::optional<net::URL> url) { adURL_ = std::move(url); }
  // The response headers seen so far, names in lower case.
  const std::optional<foundation::Dictionary>& responseHeaders() const { return responseHeaders_; }
  void setResponseHeaders(std::optional<foundation::Dictionary> headers) { responseHeaders_ = std::move(headers); }
  const std::optional<foundation::Dictionary>& vistraceConfigurations() const { return vistraceConfigurations_; }
  void setVistraceConfigurations(std::optional<foundation::Dictionary> c) { vistraceConfigurations_ = std::move(c); }
  const std::shared_ptr<QMASwipeToViewControllerConfigurations>& swipeToViewControllerConfigurations() const {
    return swipeToViewControllerConfigurations_;
  }
  void setSwipeToViewControllerConfigurations(std::shared_ptr<QMASwipeToViewControllerConfigurations> c) {
    swipeToViewControllerConfigurations_ = std::move(c);
  }
  std::uint64_t responseType() const { return responseType_; }
  void setResponseType(std::uint64_t type) { responseType_ = type; }
  // Present when the ad uses MRAID.
  std::shared_ptr<QMAMRAIDEventHandling> MRAIDEventHandler() const { return MRAIDEventHandler_.lock(); }
  void setMRAIDEventHandler(std::weak_ptr<QMAMRAIDEventHandling> handler) { MRAIDEventHandler_ = std::move(handler); }
  double reloadInterval() const { return reloadInterval_; }
  void setReloadInterval(double seconds) { reloadInterval_ = seconds; }
  std::uint64_t supportedOrientations() const { return supportedOrientations_; }
  void setSupportedOrientations(std::uint64_t mask) { supportedOrientations_ = mask; }
  const std::optional<std::string>& debugDialog() const { return debugDialog_; }
  void setDebugDialog(std::optional<std::string> dialog) { debugDialog_ = std::move(dialog); }
  const std::optional<std::string>& customAdSizeString() const { return customAdSizeString_; }
  void setCustomAdSizeString(std::optional<std::string> size) { customAdSizeString_ = std::move(size); }
  const std::optional<net::URL>& adNetworkPassbackURL() const { return adNetworkPassbackURL_; }
  std::shared_ptr<QMAAdMediationDelegate> mediationDelegate() const { return mediationDelegate_.lock(); }
  void setMediationDelegate(std::weak_ptr<QMAAdMediationDelegate> delegate) {
    mediationDelegate_ = std::move(delegate);
  }
  QMAAdSize size() const { return size_; }
  void setSize(QMAAdSize size) { size_ = size; }

 protected:
  QMAAd() = default;
  // Sets the defaults; the factories call it once the object is shared.
  void initDefaults();
  // Reads the ad dictionary's keys in order; the kinds add their own after.
  virtual void readDictionary(const foundation::Dictionary& dictionary);

  template <class T>
  static std::shared_ptr<T> make(const foundation::Dictionary* dictionary) {
    std::shared_ptr<T> ad(new T());
    ad->initDefaults();
    if (dictionary) ad->readDictionary(*dictionary);
    return ad;
  }

 private:
  QMAURLSet clickURLs_;
  QMAURLSet impressionURLs_;
  QMAURLSet manualImpressionURLs_;
  bool scrollEnabled_ = true;
  bool hasAdNetworkJavaScript_ = false;
  std::shared_ptr<QMAStatisticDictionary> statistics_;
  std::optional<net::URL> adBaseURL_;
  std::optional<std::string> adHTML_;
  std::optional<net::URL> adURL_;
  std::optional<foundation::Dictionary> responseHeaders_;
  std::optional<foundation::Dictionary> vistraceConfigurations_;
  std::shared_ptr<QMASwipeToViewControllerConfigurations> swipeToViewControllerConfigurations_;
  std::uint64_t responseType_ = QMAAdResponseTypeInvalid;
  std::weak_ptr<QMAMRAIDEventHandling> MRAIDEventHandler_;
  double reloadInterval_ = 0;
  std::uint64_t supportedOrientations_ = 30;
  std::optional<std::string> debugDialog_;
  std::optional<std::string> customAdSizeString_;
  std::optional<net::URL> adNetworkPassbackURL_;
  std::weak_ptr<QMAAdMediationDelegate> mediationDelegate_;
  QMAAdSize size_;
};

class QMABannerAd : public QMAAd {
 public:
  static std::shared_ptr<QMABannerAd> init();
  // Also reads "refresh_rate" (a number) as the reload interval.
  static std::shared_ptr<QMABannerAd> initWithDictionary(const foundation::Dictionary& dictionary);
  std::string className() const override { return "QMABannerAd"; }

 protected:
  friend class QMAAd;
  QMABannerAd() = default;
  void readDictionary(const foundation::Dictionary& dictionary) override;
};

class QMAInterstitialAd : public QMAAd {
 public:
  static std::shared_ptr<QMAInterstitialAd> init();
  static std::shared_ptr<QMAInterstitialAd> initWithDictionary(const foundation::Dictionary& dictionary);
  std::string className() const override { return "QMAInterstitialAd"; }

 protected:
  friend class QMAAd;
  QMAInterstitialAd() = default;
};

// Each string entry that makes a URL (with a non-empty text); other entries are skipped.
std::vector<net::URL> QMAURLArrayFromStringArray(const foundation::Array& strings);
// The pieces between spaces and tabs that make URLs, in order; nullopt when none does.
std::optional<std::vector<net::URL>> QMAURLArrayFromWhitespaceSeparatedString(std::string_view text);

// The native ad classes by name: the ad loader's ad types ("1" content, "2" app install,
// "3" custom template) and the ad configuration's type and template ID.
inline constexpr const char* kQMAAdLoaderAdTypeNativeContent = "1";
inline constexpr const char* kQMAAdLoaderAdTypeNativeAppInstall = "2";
inline constexpr const char* kQMAAdLoaderAdTypeNativeCustomTemplate = "3";
// Nullopt for another type, with error 12 of the public domain
// ("Invalid ad format requested: \"<type>\".").
std::optional<std::string> QMANativeAdClassForAdLoaderAdType(std::string_view adType, foundation::Error* error);
// Nullopt for anything but ("native", 1..3), with internal error 3
// ("Invalid ad format: \"<type>\", <template ID>.").
std::optional<std::string> QMANativeAdClassForAdConfiguration(std::string_view type, long templateID,
                                                              foundation::Error* error);
