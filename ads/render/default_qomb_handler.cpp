#include "ads/render/default_qomb_handler.h"

#include <cctype>
#include <limits>

#include "ads/render/ad_view.h"
#include "ads/render/ad_view_delegate.h"
#include "ads/render/full_screen_ad.h"
#include "ads/services/click_tracker_collection.h"
#include "ads/services/device.h"
#include "ads/services/logging.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/uikit/system_sound.h"

namespace {

// The leading integer of a text, as a number's text reads: spaces, an optional sign,
// digits; 0 without digits; held to the range of long.
long leadingInteger(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const int digit = text[i] - '0';
    if (value > (std::numeric_limits<long>::max() - digit) / 10)
      return negative ? std::numeric_limits<long>::min() : std::numeric_limits<long>::max();
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

std::int32_t toInt32(long value) {
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

template <class Handler, void (Handler::*Method)(const QMAQOMBArguments&)>
QMAQOMBAction action() {
  return [](QMAQOMBHandler& h, const QMAQOMBArguments& a) { (static_cast<Handler&>(h).*Method)(a); };
}

}  // namespace

// ---- QMADefaultQOMBHandler

const QMAActionBlockDictionary* QMADefaultQOMBHandler::actionBlockDictionary() const {
  using H = QMADefaultQOMBHandler;
  static const QMAActionBlockDictionary table = {
      {"httpTrack", action<H, &H::didReceiveTrackHTTPNotification>()},
      {"log", action<H, &H::didReceiveLogNotification>()},
      {"touch", action<H, &H::didReceiveTouchNotification>()},
      {"vibrate", action<H, &H::didReceiveVibrateNotification>()},
      {"canOpenURLs", action<H, &H::didReceiveCanOpenURLsNotification>()},
      {"close", action<H, &H::didReceiveCloseNotification>()},
  };
  return &table;
}

long QMADefaultQOMBHandler::integerForKeyFromDictionaryWithDefaultValue(const std::string& key,
                                                                        const foundation::Dictionary& dictionary,
                                                                        long defaultValue) {
  auto it = dictionary.find(key);
  if (it == dictionary.end()) return defaultValue;
  if (const auto* text = it->second.asString()) return leadingInteger(*text);
  if (auto number = it->second.longLongValue()) return static_cast<long>(*number);
  return defaultValue;
}

void QMADefaultQOMBHandler::didReceiveTrackHTTPNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  const auto u = arguments.note ? arguments.note->parameter("u") : std::nullopt;
  QMAClickTrackerCollection::sharedInstance()->trackURL(u ? net::URL::fromString(*u) : std::nullopt);
}

void QMADefaultQOMBHandler::didReceiveLogNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  const auto text = arguments.note ? arguments.note->parameter("string") : std::nullopt;
  QMALog("%@", text.value_or("(null)"));
}

void QMADefaultQOMBHandler::didReceiveTouchNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  const foundation::Dictionary parameters = arguments.note ? arguments.note->parameters() : foundation::Dictionary{};
  const auto x = toInt32(integerForKeyFromDictionaryWithDefaultValue("tx", parameters, -1));
  const auto y = toInt32(integerForKeyFromDictionaryWithDefaultValue("ty", parameters, -1));
  const auto d = toInt32(integerForKeyFromDictionaryWithDefaultValue("td", parameters, -1));
  dispatch::Queue::main()->async([x, y, d] { QMASignalCollector::sharedInstance().addTouchSample(x, y, d); });
}

void QMADefaultQOMBHandler::didReceiveVibrateNotification(const QMAQOMBArguments&) {
  WV_DCHECK_MAIN_THREAD();
  uikit::playSystemSound(uikit::kSystemSoundID_Vibrate);
}

void QMADefaultQOMBHandler::didReceiveCanOpenURLsNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  std::vector<std::string> urls;
  if (auto list = arguments.note ? arguments.note->parameter("urls") : std::nullopt) {
    std::size_t start = 0;
    while (true) {
      const auto comma = list->find(',', start);
      urls.push_back(list->substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  std::weak_ptr<QMAAdView> weakView = arguments.adView;
  dispatch::Queue::main()->async([weakView, urls] {
    auto openable = QMADevice::sharedInstance()->canOpenURLs(urls);
    if (auto view = weakView.lock()) view->postJSNotificationUserInfo("openableURLs", openable);
  });
}

void QMADefaultQOMBHandler::didReceiveCloseNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  auto controller = arguments.adView ? std::dynamic_pointer_cast<QMAFullScreenAd>(arguments.adView->viewController())
                                     : nullptr;
  if (controller) {
    controller->closeFullScreenAd();
    return;
  }
  // A banner's page closes while what it asked for is on its way in, or shown in a screen
  // of its own (a web app from its URL): the slot's takeover ends all the same.
  auto delegate = arguments.adView ? std::dynamic_pointer_cast<QMAAdViewDelegate>(arguments.adView->delegate()) : nullptr;
  auto opener = delegate ? delegate->opener() : nullptr;
  if (auto slot = opener ? opener->slot() : nullptr) slot->endTakeover();
}

// ---- QMADelayPageLoadQOMBHandler

std::shared_ptr<QMADelayPageLoadQOMBHandler> QMADelayPageLoadQOMBHandler::initWithDelegate(
    std::weak_ptr<QMADelayLoadDelegate> delegate) {
  if (delegate.expired()) return nullptr;
  auto handler = std::make_shared<QMADelayPageLoadQOMBHandler>();
  handler->delegate_ = std::move(delegate);
  return handler;
}

const QMAActionBlockDictionary* QMADelayPageLoadQOMBHandler::actionBlockDictionary() const {
  using H = QMADelayPageLoadQOMBHandler;
  static const QMAActionBlockDictionary table = {
      {"delayPageLoaded", action<H, &H::delayPageLoadWithArguments>()},
  };
  return &table;
}

void QMADelayPageLoadQOMBHandler::delayPageLoadWithArguments(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  const foundation::Dictionary parameters = arguments.note ? arguments.note->parameters() : foundation::Dictionary{};
  auto self = std::static_pointer_cast<QMADelayPageLoadQOMBHandler>(shared_from_this());
  dispatch::Queue::main()->async([self, parameters] { self->handleDelayLoadWithParameters(parameters); });
}

void QMADelayPageLoadQOMBHandler::handleDelayLoadWithParameters(const foundation::Dictionary& parameters) {
  WV_DCHECK_MAIN_THREAD();
  const long old = delayCount_;
  if (parameters.count("start")) {
    ++delayCount_;
    if (auto d = delegate()) d->loadHandlerDidChangeDelayFromTo(*this, old, delayCount_);
  } else if (parameters.count("stop")) {
    if (delayCount_ < 1) return;
    --delayCount_;
    if (auto d = delegate()) d->loadHandlerDidChangeDelayFromTo(*this, old, delayCount_);
  } else if (parameters.count("cancel")) {
    if (auto d = delegate()) d->loadHandlerDidCancel(*this);
    delegate_.reset();
    delayCount_ = 0;
  }
}
