#include "ads/slots/native/ad_preprocessor.h"

#include "ads/services/utilities.h"
#include "ads/slots/native/native_ad.h"
#include "ads/model/request.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/format.h"

std::shared_ptr<QMAAdPreprocessor> QMAAdPreprocessor::initWithAdUnitID(const std::optional<std::string>& adUnitID) {
  WV_DCHECK_MAIN_THREAD();
  std::shared_ptr<QMAAdPreprocessor> p(new QMAAdPreprocessor());
  p->slot_ = QMASlot::init();
  p->slot_->setAdEventDelegate(p);
  p->slot_->setAdUnitID(adUnitID);
  return p;
}

QMAAdPreprocessor::~QMAAdPreprocessor() { stopObserving(); }

void QMAAdPreprocessor::stopObserving() {
  if (observer_) {
    foundation::NotificationCenter::defaultCenter().removeObserver(observer_);
    observer_.reset();
  }
}

void QMAAdPreprocessor::preprocessNativeAdJSONCompletionHandler(const std::string& nativeAdJSON,
                                                                 CompletionHandler handler) {
  WV_DCHECK_MAIN_THREAD();
  foundation::Error decodeError;
  if (!qma_decodedJSONObjectError(nativeAdJSON, &decodeError)) {
    dispatch::Queue::main()->async([handler, decodeError] {
      if (handler) handler(std::nullopt, nullptr, decodeError);
    });
    return;
  }
  nativeAdJSON_ = nativeAdJSON;
  // Each call queues a block on the main queue that runs the caller's handler only if no
  // earlier block has; the handler is let go once it ran, so nothing it holds (the caller,
  // this preprocessor) stays alive through it.
  auto state = std::make_shared<CompletionHandler>(std::move(handler));
  completionHandler_ = [state](const std::optional<foundation::Value>& configuration,
                               const std::shared_ptr<QMASlot>& slot, const std::optional<foundation::Error>& error) {
    dispatch::Queue::main()->async([state, configuration, slot, error] {
      if (!*state) return;
      auto run = std::move(*state);
      *state = nullptr;
      run(configuration, slot, error);
    });
  };

  auto request = QMARequest::request();
  auto extras = QMAExtras::init();
  extras->setAdditionalObjectForKey(QMANativeAd::supportHTMLURL(), "_requestUrl");
  request->registerAdNetworkExtras(extras);
  slot_->loadRequest(request);

  // The slot may refuse the load without a word (an inactive application, for one): the
  // run then ends at once rather than never.
  std::weak_ptr<QMAAdPreprocessor> weak = weak_from_this();
  if (slot_->state() == QMASlotStateIdle) {
    complete(std::nullopt, nullptr,
             qma_errorWithCodeDescription(2, std::string("Couldn't load the native ad support page.")));
    return;
  }
  dispatch::after(kOverallTimeout, dispatch::Queue::main(), [weak] {
    if (auto self = weak.lock(); self && self->completionHandler_)
      self->complete(std::nullopt, nullptr, qma_errorWithCodeDescription(2, std::string("Timed out.")));
  });
}

void QMAAdPreprocessor::complete(const std::optional<foundation::Value>& configuration,
                                 const std::shared_ptr<QMASlot>& slot, const std::optional<foundation::Error>& error) {
  if (completionHandler_) completionHandler_(configuration, slot, error);
}

void QMAAdPreprocessor::slotFinishedLoadingAdContent(QMASlot& slot) {
  WV_DCHECK_MAIN_THREAD();
  if (&slot != slot_.get() || !slot_->adView()) return;
  stopObserving();
  std::weak_ptr<QMAAdPreprocessor> weak = weak_from_this();
  observer_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      kPreprocessNotification, slot_->adView().get(), nullptr, [weak](const foundation::Notification& n) {
        if (auto self = weak.lock()) self->handlePreprocessorNotification(n);
      });
  slot_->adView()->stringByEvaluatingJavaScriptFromString(
      foundation::stringWithFormat(kPreprocessScriptFormat, QMAJSONTextForScript(nativeAdJSON_)));
  dispatch::after(kAnswerTimeout, dispatch::Queue::main(), [weak] {
    if (auto self = weak.lock(); self && self->completionHandler_)
      self->complete(std::nullopt, nullptr, qma_errorWithCodeDescription(2, std::string("Timed out.")));
  });
}

void QMAAdPreprocessor::slotDidFailToLoadAdContentWithError(QMASlot& slot, const QMARequestError& error) {
  if (&slot != slot_.get()) return;
  complete(std::nullopt, nullptr, error.error());
}

void QMAAdPreprocessor::handlePreprocessorNotification(const foundation::Notification& notification) {
  const std::string* success = foundation::stringForKey(notification.userInfo, "success");
  auto decoded = success ? qma_decodedJSONObjectError(*success) : std::nullopt;
  // Only an object is a configuration: a number, text or array in "success" is a bad answer.
  if (decoded && decoded->asDictionary()) {
    complete(decoded, slot_, std::nullopt);
  } else {
    complete(std::nullopt, nullptr, QMARequestError::errorWithCode(QMARequestErrorCodeInvalidResponse).error());
  }
}
