#include "ads/slots/native/ad_loader.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <typeinfo>

#include "ads/services/logging.h"
#include "ads/services/utilities.h"
#include "ads/model/ad.h"
#include "ads/model/ad_size.h"
#include "ads/model/ad_type.h"
#include "ads/slots/native/native_content_ads.h"
#include "ads/slots/native/native_custom_template_ad.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"
#include "platform/foundation/json.h"
#include "platform/foundation/user_defaults.h"

std::string QMAAdLoaderDelegate::delegateClassName() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  return name;
}

namespace {

void logLoaderMessage(const std::string& message) { QMALogger::sharedInstance()->logPublicMessage(message); }

template <class Protocol>
bool conformsTo(const QMAAdLoaderDelegate* delegate) {
  return dynamic_cast<const Protocol*>(delegate) != nullptr;
}

template <class Ad>
std::shared_ptr<QMANativeAd> make(foundation::Dictionary adObject,
                                  const std::optional<QMAAdLoaderOptionsByClass>& options) {
  return Ad::initWithDictionaryOptions(std::move(adObject), options);
}

const QMANativeAdClass kClasses[] = {
    {QMANativeAppInstallAd::kClassName, kQMANativeAppInstallAdLoaderDelegateProtocol,
     conformsTo<QMANativeAppInstallAdLoaderDelegate>, QMANativeAppInstallAd::requestParametersForAdLoader,
     make<QMANativeAppInstallAd>},
    {QMANativeContentAd::kClassName, kQMANativeContentAdLoaderDelegateProtocol,
     conformsTo<QMANativeContentAdLoaderDelegate>, QMANativeContentAd::requestParametersForAdLoader,
     make<QMANativeContentAd>},
    {QMANativeCustomTemplateAd::kClassName, kQMANativeCustomTemplateAdLoaderDelegateProtocol,
     conformsTo<QMANativeCustomTemplateAdLoaderDelegate>, QMANativeCustomTemplateAd::requestParametersForAdLoader,
     make<QMANativeCustomTemplateAd>},
};

// How an object of the options array reads in a log line.
std::string describeOption(const std::any& object) {
  if (const auto* s = std::any_cast<std::string>(&object)) return *s;
  if (const auto* s = std::any_cast<const char*>(&object)) return *s ? *s : "(null)";
  if (const auto* v = std::any_cast<foundation::Value>(&object)) return foundation::jsonSerialize(*v);
  if (!object.has_value()) return "(null)";
  return std::string("<") + object.type().name() + ">";
}

std::shared_ptr<QMAAdLoaderOptions> optionFrom(const std::any& object) {
  if (const auto* o = std::any_cast<std::shared_ptr<QMAAdLoaderOptions>>(&object)) return *o;
  if (const auto* o = std::any_cast<std::shared_ptr<QMANativeAdImageAdLoaderOptions>>(&object)) return *o;
  return nullptr;
}

std::string adTypeText(const foundation::Value& v) {
  if (const std::string* s = v.asString()) return *s;
  return foundation::jsonSerialize(v);
}

}  // namespace

const QMANativeAdClass* QMANativeAdClassNamed(std::string_view name) {
  for (const auto& cls : kClasses)
    if (name == cls.name) return &cls;
  return nullptr;
}

foundation::Error QMAAdLoaderConformanceError(const QMANativeAdClass& cls, const QMAAdLoaderDelegate& delegate) {
  return qma_errorWithCodeDescription(
      3, foundation::stringWithFormat("Delegate does not conform to the required protocol, %@. Add %@ to %@'s protocol list.",
                                      cls.requiredDelegateProtocol, cls.requiredDelegateProtocol,
                                      delegate.delegateClassName()));
}

// ---- creation

std::shared_ptr<QMAAdLoader> QMAAdLoader::initWithAdUnitIDRootViewControllerAdTypesOptions(
    const std::optional<std::string>& adUnitID, const std::shared_ptr<uikit::ViewController>& rootViewController,
    const foundation::Array& adTypes, const std::optional<std::vector<std::any>>& options) {
  WV_DCHECK_MAIN_THREAD();
  std::set<std::string> classes;
  for (const auto& type : adTypes) {
    foundation::Error error;
    const std::string text = adTypeText(type);
    auto cls = type.asString() ? QMANativeAdClassForAdLoaderAdType(text, &error) : std::nullopt;
    if (!cls) {
      if (!type.asString())
        error = qma_errorWithDomainCodeDescription(
            kQMAErrorDomain, QMARequestErrorCodeInvalidArgument,
            foundation::stringWithFormat("Invalid ad format requested: \"%@\".", text));
      logLoaderMessage(foundation::stringWithFormat("Error: %@", error.localizedDescription()));
      return nullptr;
    }
    classes.insert(*cls);
  }
  if (classes.empty()) {
    logLoaderMessage("Error: Must specify at least one ad type to load.");
    return nullptr;
  }
  std::shared_ptr<QMAAdLoader> loader(new QMAAdLoader());
  loader->adTypes_ = std::move(classes);
  QMAAdLoaderOptionsByClass stored;
  if (options) {
    for (const auto& object : *options) {
      auto option = optionFrom(object);
      if (!option) {
        logLoaderMessage(foundation::stringWithFormat("Error: Invalid ad loader option will be ignored (%@).",
                                               describeOption(object)));
        continue;
      }
      if (stored.count(option->className())) {
        logLoaderMessage(foundation::stringWithFormat("Error: Options already provided for %@. Ignoring option object (%@).",
                                               option->className(), option->description()));
        continue;
      }
      stored[option->className()] = option->copy();
    }
  }
  if (!stored.empty()) loader->adLoaderOptions_ = std::move(stored);
  loader->lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.adloader");
  loader->adUnitID_ = adUnitID;
  loader->rootViewController_ = rootViewController;

  loader->slot_ = QMASlot::init();
  loader->slot_->setSlotDelegate(std::static_pointer_cast<QMASlotDelegate>(loader));
  loader->slot_->setAdResponseDelegate(std::static_pointer_cast<QMASlotAdResponseDelegate>(loader));
  // The slot's own failures (its SDK core, an invalid request) come as ad events.
  loader->slot_->setAdEventDelegate(std::static_pointer_cast<QMASlotAdEventDelegate>(loader));
  loader->slot_->setAdUnitID(adUnitID);
  if (auto view = loader->slot_->adView()) view->configureAsBannerAdView();
  loader->slot_->setAdTypeAndReloadRequest(QMAAdType::bannerAdTypeForSize(kQMAAdSizeBanner), false);
  return loader;
}

QMAAdLoader::~QMAAdLoader() {
  if (slot_) slot_->cancelPendingAndFutureActions();
}

std::optional<uikit::Rect> QMAAdLoader::frame() {
  auto type = slot_ ? slot_->adType() : nullptr;
  const uikit::Size size = type ? CGSizeFromQMAAdSize(type->adSize()) : uikit::Size{};
  return uikit::Rect{{0, 0}, size};
}

// ---- the delegate

void QMAAdLoader::setDelegate(const std::shared_ptr<QMAAdLoaderDelegate>& delegate) {
  if (delegate && delegate == delegate_.lock()) return;
  if (!delegate) {
    delegate_.reset();
    return;
  }
  for (const auto& name : adTypes_) {
    const QMANativeAdClass* cls = QMANativeAdClassNamed(name);
    if (cls && !cls->conformsToRequiredDelegateProtocol(delegate.get())) {
      logLoaderMessage(QMAAdLoaderConformanceError(*cls, *delegate).localizedDescription());
      return;
    }
  }
  delegate_ = delegate;
}

std::map<std::string, foundation::Dictionary> QMAAdLoader::adClassRequestParameters() const {
  std::map<std::string, foundation::Dictionary> copy;
  lockQueue_->sync([&] { copy = adClassRequestParameters_; });
  return copy;
}

void QMAAdLoader::setAdClassRequestParameters(std::map<std::string, foundation::Dictionary> parameters) {
  std::weak_ptr<QMAAdLoader> weak = weak_from_this();
  lockQueue_->async([weak, parameters = std::move(parameters)] {
    if (auto self = weak.lock()) self->adClassRequestParameters_ = parameters;
  });
}

// ---- loading

void QMAAdLoader::loadRequest(const std::shared_ptr<QMARequest>& request) {
  WV_DCHECK_MAIN_THREAD();
  if (foundation::UserDefaults::standardUserDefaults()->boolForKey(kAppEventsSwitchKey)) {
    auto loader = QMAAppEventAdLoader::initWithAdUnitIDRootViewControllerAdTypesAdLoaderOptions(
        adUnitID_, rootViewController_.lock(), adTypes_, adLoaderOptions_);
    loader->setDelegate(std::static_pointer_cast<QMAAppEventAdLoaderDelegate>(shared_from_this()));
    appEventAdLoaders_.push_back(loader);
    loader->loadRequest(request);
    return;
  }
  if (slot_->isMakingRequest()) {
    // The slot takes one request at a time: a second one while the first is under way is
    // refused, and says so, so that every load has its answer.
    auto self = shared_from_this();
    dispatch::Queue::main()->async([self] {
      self->reportError(QMARequestError::errorWithCodeCustomMessage(
          QMARequestErrorCodeInvalidRequest,
          std::string("Request Error: An ad request is already in progress on this ad loader.")));
    });
    return;
  }
  foundation::Array formatParameters;
  std::map<std::string, foundation::Dictionary> byClass;
  for (const auto& name : adTypes_) {
    const QMANativeAdClass* cls = QMANativeAdClassNamed(name);
    if (!cls) continue;
    foundation::Dictionary parameters = cls->requestParametersForAdLoader(*this);
    if (parameters.empty()) continue;
    formatParameters.emplace_back(parameters);
    byClass[name] = std::move(parameters);
  }
  setAdClassRequestParameters(byClass);
  auto copy = request ? request->copy() : QMARequest::request();
  copy->setFormatParameters(std::move(formatParameters));
  copy->setResponseType(QMAAdResponseTypeNative);
  slotLoadSettled_ = false;
  slotTookLoad_ = false;
  slot_->loadRequest(copy);
  if (!slotTookLoad_) {
    // The slot refused the load without a word (an inactive application, for one).
    reportSlotFailure(QMARequestError::errorWithCodeRequest(QMARequestErrorCodeInvalidRequest, copy));
  }
}

void QMAAdLoader::slotWillLoadAdWithRequest(QMASlot& slot, const std::shared_ptr<QMARequest>&) {
  if (&slot == slot_.get()) slotTookLoad_ = true;
}

void QMAAdLoader::reportError(const QMARequestError& error) {
  auto keep = shared_from_this();
  if (auto d = delegate()) d->adLoaderDidFailToReceiveAdWithError(*this, error);
}

void QMAAdLoader::reportSlotFailure(const QMARequestError& error) {
  if (slotLoadSettled_) return;
  slotLoadSettled_ = true;
  reportError(error);
}

void QMAAdLoader::slotDidFailToLoadAdContentWithError(QMASlot& slot, const QMARequestError& error) {
  if (&slot != slot_.get()) return;
  reportSlotFailure(error);
}

void QMAAdLoader::slotDidFailToReceiveAdWithError(QMASlot& slot, const std::optional<QMARequestError>& error) {
  if (&slot != slot_.get()) return;
  reportSlotFailure(error.value_or(QMARequestError::errorWithCode(QMARequestErrorCodeInternalError)));
}

bool QMAAdLoader::slotDidReceiveAd(QMASlot& slot, const std::shared_ptr<QMAAd>& ad) {
  WV_DCHECK_MAIN_THREAD();
  if (!ad || ad->responseType() != QMAAdResponseTypeNative) return false;
  // From here the preprocessor and the native ad give the load its outcome.
  slotLoadSettled_ = true;
  auto preprocessor = QMAAdPreprocessor::initWithAdUnitID(adUnitID_);
  std::weak_ptr<QMAAdLoader> weak = weak_from_this();
  adPreprocessors_.push_back(preprocessor);
  preprocessor->preprocessNativeAdJSONCompletionHandler(
      ad->adHTML().value_or(std::string()),
      [weak, preprocessor](const std::optional<foundation::Value>& configuration,
                           const std::shared_ptr<QMASlot>& preprocessedSlot, const std::optional<foundation::Error>&) {
        if (auto self = weak.lock()) self->preprocessorDidComplete(preprocessor, configuration, preprocessedSlot);
      });
  slot.didReceiveValidAd();
  return true;
}

void QMAAdLoader::preprocessorDidComplete(const std::shared_ptr<QMAAdPreprocessor>& preprocessor,
                                          const std::optional<foundation::Value>& configuration,
                                          const std::shared_ptr<QMASlot>& slot) {
  WV_DCHECK_MAIN_THREAD();
  auto keep = shared_from_this();
  std::shared_ptr<QMANativeAd> ad;
  auto className = QMANativeAd::classFromAdConfigurationDictionary(configuration);
  const QMANativeAdClass* cls = className && adTypes_.count(*className) ? QMANativeAdClassNamed(*className) : nullptr;
  if (cls) {
    if (auto adObject = QMANativeAd::firstAdObjectInAdConfigurationDictionary(configuration))
      ad = cls->initWithDictionaryOptions(std::move(*adObject), adLoaderOptions_);
  }
  std::optional<foundation::Dictionary> parameters;
  if (className) {
    auto all = adClassRequestParameters();
    if (auto it = all.find(*className); it != all.end()) parameters = it->second;
  }
  adPreprocessors_.erase(std::remove(adPreprocessors_.begin(), adPreprocessors_.end(), preprocessor),
                         adPreprocessors_.end());
  if (ad && slot && ad->hasValidConfigurationForRequestParameters(parameters)) {
    nativeAds_.push_back(ad);
    ad->setAdUnitID(adUnitID_);
    ad->setRootViewController(rootViewController_);
    ad->setLoadingDelegate(std::static_pointer_cast<QMANativeAdLoadDelegate>(shared_from_this()));
    ad->setSlot(slot);
    if (auto view = slot->adView()) view->setViewController(rootViewController_);
    ad->loadAssets();
  } else {
    reportError(QMARequestError::errorWithCode(QMARequestErrorCodeInvalidResponse));
  }
}

void QMAAdLoader::removeNativeAd(const QMANativeAd& ad) {
  nativeAds_.erase(std::remove_if(nativeAds_.begin(), nativeAds_.end(),
                                  [&](const std::shared_ptr<QMANativeAd>& a) { return a.get() == &ad; }),
                   nativeAds_.end());
}

void QMAAdLoader::deliverAd(QMANativeAd& ad) {
  auto keep = shared_from_this();
  auto keepAd = ad.shared_from_this();
  auto d = delegate();
  if (!d) return;
  const QMANativeAdClass* cls = QMANativeAdClassNamed(ad.className());
  if (!cls || !cls->conformsToRequiredDelegateProtocol(d.get())) {
    std::optional<foundation::Error> underlying;
    if (cls) underlying = QMAAdLoaderConformanceError(*cls, *d);
    d->adLoaderDidFailToReceiveAdWithError(
        *this, QMARequestError::errorWithCodeUnderlyingError(QMARequestErrorCodeInvalidRequest, underlying));
    return;
  }
  ad.adLoaderDidReceiveAd(*this);
}

void QMAAdLoader::nativeAdDidFinishLoadingAssets(QMANativeAd& ad) {
  auto keepAd = ad.shared_from_this();
  removeNativeAd(ad);
  deliverAd(ad);
}

void QMAAdLoader::nativeAdDidFailToLoadRequiredAssets(QMANativeAd& ad) {
  auto keepAd = ad.shared_from_this();
  removeNativeAd(ad);
  reportError(QMARequestError::errorWithCode(QMARequestErrorCodeNetworkError));
}

void QMAAdLoader::appEventAdLoaderDidReceiveAd(QMAAppEventAdLoader& loader, const std::shared_ptr<QMANativeAd>& ad) {
  auto keep = loader.shared_from_this();
  appEventAdLoaders_.erase(std::remove(appEventAdLoaders_.begin(), appEventAdLoaders_.end(), keep),
                           appEventAdLoaders_.end());
  if (ad) deliverAd(*ad);
}

void QMAAdLoader::appEventAdLoaderDidFailToReceiveAdWithError(QMAAppEventAdLoader& loader,
                                                               const QMARequestError& error) {
  auto keep = loader.shared_from_this();
  appEventAdLoaders_.erase(std::remove(appEventAdLoaders_.begin(), appEventAdLoaders_.end(), keep),
                           appEventAdLoaders_.end());
  reportError(error);
}
