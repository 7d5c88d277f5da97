#include "ads/model/ad.h"

#include <cmath>

#include "ads/model/request_error.h"
#include "ads/services/utilities.h"
#include "platform/foundation/format.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

std::optional<net::URL> urlFromText(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return net::URL::fromString(text);
}

const std::string* stringValue(const Dictionary& d, std::string_view key) { return foundation::stringForKey(d, key); }

}  // namespace

// ---- URL sets and lists

bool QMAURLSet::add(const net::URL& url) {
  if (contains(url)) return false;
  urls_.push_back(url);
  return true;
}

bool QMAURLSet::contains(const net::URL& url) const {
  for (const auto& u : urls_)
    if (u == url) return true;
  return false;
}

std::vector<net::URL> QMAURLArrayFromStringArray(const Array& strings) {
  std::vector<net::URL> urls;
  for (const auto& entry : strings) {
    const std::string* s = entry.asString();
    if (!s) continue;
    if (auto url = urlFromText(*s)) urls.push_back(*url);
  }
  return urls;
}

std::optional<std::vector<net::URL>> QMAURLArrayFromWhitespaceSeparatedString(std::string_view text) {
  std::vector<net::URL> urls;
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t end = text.find_first_of(" \t", i);
    if (end == std::string_view::npos) end = text.size();
    if (auto url = urlFromText(std::string(text.substr(i, end - i)))) urls.push_back(*url);
    i = end + 1;
  }
  if (urls.empty()) return std::nullopt;
  return urls;
}

// ---- the ad

std::shared_ptr<QMAAd> QMAAd::init() { return make<QMAAd>(nullptr); }

std::shared_ptr<QMAAd> QMAAd::initWithDictionary(const Dictionary& dictionary) { return make<QMAAd>(&dictionary); }

void QMAAd::initDefaults() { statistics_ = QMAStatisticDictionary::initWithDelegate(QMAApplication::sharedInstance()); }

void QMAAd::readDictionary(const Dictionary& d) {
  const std::string* html = stringValue(d, "ad_html");
  std::optional<net::URL> baseURL;
  if (const std::string* base = stringValue(d, "ad_base_url")) baseURL = urlFromText(*base);
  if (baseURL && html && !html->empty()) {
    adHTML_ = *html;
    adBaseURL_ = baseURL;
  } else if (const std::string* url = stringValue(d, "ad_url")) {
    adURL_ = urlFromText(*url);
  }

  const std::string* sizeText = stringValue(d, "ad_size");
  size_ = QMAAdSizeFromCGSize(QMAAdSizeFromString(sizeText ? *sizeText : std::string()));

  if (const std::string* orientation = stringValue(d, "orientation")) {
    if (std::uint64_t mask = QMAInterfaceOrientationMaskFromString(*orientation)) supportedOrientations_ = mask;
  }

  if (auto it = d.find("ad_is_javascript"); it != d.end())
    hasAdNetworkJavaScript_ = it->second.boolValue().value_or(false);
  if (hasAdNetworkJavaScript_) {
    if (const std::string* passback = stringValue(d, "ad_passback_url")) adNetworkPassbackURL_ = urlFromText(*passback);
  }
  if (const std::string* dialog = stringValue(d, "debug_dialog")) debugDialog_ = *dialog;
  if (const Dictionary* vistrace = foundation::dictionaryForKey(d, "vistrace")) vistraceConfigurations_ = *vistrace;
  if (const Dictionary* swipe = foundation::dictionaryForKey(d, "swipe_to_viewcontroller"); swipe && !swipe->empty())
    swipeToViewControllerConfigurations_ = QMASwipeToViewControllerConfigurations::initWithSwipeConfigurations(*swipe);

  if (const Array* urls = foundation::arrayForKey(d, "click_urls"))
    addClickURLsFromArray(QMAURLArrayFromStringArray(*urls));
  if (const Array* urls = foundation::arrayForKey(d, "impression_urls"))
    addImpressionURLsFromArray(QMAURLArrayFromStringArray(*urls));
  if (const Array* urls = foundation::arrayForKey(d, "manual_impression_urls"))
    addManualImpressionURLsFromArray(QMAURLArrayFromStringArray(*urls));
}

void QMAAd::addClickURLsFromArray(const std::vector<net::URL>& urls) {
  for (const auto& url : urls) clickURLs_.add(url);
}

void QMAAd::addImpressionURLsFromArray(const std::vector<net::URL>& urls) {
  for (const auto& url : urls) impressionURLs_.add(url);
}

void QMAAd::addManualImpressionURLsFromArray(const std::vector<net::URL>& urls) {
  for (const auto& url : urls) manualImpressionURLs_.add(url);
}

// ---- the two kinds

std::shared_ptr<QMABannerAd> QMABannerAd::init() { return make<QMABannerAd>(nullptr); }

std::shared_ptr<QMABannerAd> QMABannerAd::initWithDictionary(const Dictionary& dictionary) {
  return make<QMABannerAd>(&dictionary);
}

void QMABannerAd::readDictionary(const Dictionary& d) {
  QMAAd::readDictionary(d);
  // A number only: the JSON of the page never sends NaN, but a preset ad could.
  if (auto it = d.find("refresh_rate"); it != d.end() && it->second.isNumber()) {
    double seconds = *it->second.doubleValue();
    if (std::isfinite(seconds)) setReloadInterval(seconds);
  }
}

std::shared_ptr<QMAInterstitialAd> QMAInterstitialAd::init() { return make<QMAInterstitialAd>(nullptr); }

std::shared_ptr<QMAInterstitialAd> QMAInterstitialAd::initWithDictionary(const Dictionary& dictionary) {
  return make<QMAInterstitialAd>(&dictionary);
}

// ---- native ad classes

std::optional<std::string> QMANativeAdClassForAdLoaderAdType(std::string_view adType, foundation::Error* error) {
  static const std::pair<std::string_view, const char*> kTable[] = {
      {kQMAAdLoaderAdTypeNativeAppInstall, "QMANativeAppInstallAd"},
      {kQMAAdLoaderAdTypeNativeContent, "QMANativeContentAd"},
      {kQMAAdLoaderAdTypeNativeCustomTemplate, "QMANativeCustomTemplateAd"},
  };
  for (const auto& [type, name] : kTable)
    if (type == adType) return name;
  if (error) {
    *error = qma_errorWithDomainCodeDescription(
        kQMAErrorDomain, QMARequestErrorCodeInvalidArgument,
        foundation::stringWithFormat("Invalid ad format requested: \"%@\".", std::string(adType)));
  }
  return std::nullopt;
}

std::optional<std::string> QMANativeAdClassForAdConfiguration(std::string_view type, long templateID,
                                                              foundation::Error* error) {
  std::string templateText = std::to_string(templateID);
  if (type == "native") {
    if (templateText == "2") return "QMANativeAppInstallAd";
    if (templateText == "1") return "QMANativeContentAd";
    if (templateText == "3") return "QMANativeCustomTemplateAd";
  }
  if (error) {
    *error = qma_errorWithCodeDescription(
        3, foundation::stringWithFormat("Invalid ad format: \"%@\", %@.", std::string(type), templateText));
  }
  return std::nullopt;
}
