#include "ads/render/qomb.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "ads/services/url_utilities.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"

bool QMANotification::isNotificationURL(const std::optional<net::URL>& url) {
  if (!url) return false;
  auto scheme = url->scheme();
  if (!scheme) return false;
  std::string lower = *scheme;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower == "qomb";
}

std::shared_ptr<QMANotification> QMANotification::initWithNotificationURL(const std::optional<net::URL>& url) {
  if (!isNotificationURL(url)) return nullptr;
  const std::string rawPath = url->path();
  std::optional<std::string> name;
  if (!rawPath.empty()) {
    // The platform's URL class gives the path decoded; a path that does not decode
    // has no name.
    auto decoded = net::percentUnescape(rawPath);
    if (decoded && !decoded->empty()) name = decoded->substr(1);
  }
  auto parameters = qma_dictionaryFromQueryParametersAndConvertKeysToLowercase(*url, false);
  return initWithNameParameters(name, parameters);
}

std::shared_ptr<QMANotification> QMANotification::initWithNameParameters(
    const std::optional<std::string>& name, const std::optional<foundation::Dictionary>& parameters) {
  if (!name || name->empty()) return nullptr;
  return std::shared_ptr<QMANotification>(new QMANotification(*name, parameters.value_or(foundation::Dictionary{})));
}

std::optional<std::string> QMANotification::parameter(std::string_view key) const {
  if (const auto* s = foundation::stringForKey(parameters_, key)) return *s;
  return std::nullopt;
}

std::string QMANotification::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  std::string params = "{";
  bool first = true;
  for (const auto& [k, v] : parameters_) {
    params += (first ? "" : ", ") + k + " = " + (v.asString() ? *v.asString() : std::string("?"));
    first = false;
  }
  params += "}";
  return "<QMANotification: " + std::string(address) + "> name:" + name_ + " parameters:" + params;
}

bool QMAQOMBHandler::handleRequestAdView(const net::URLRequest& request, const std::shared_ptr<QMAAdView>& adView) {
  if (!QMANotification::isNotificationURL(request.url)) return false;
  return handleNotificationAdView(QMANotification::initWithNotificationURL(request.url), adView);
}

bool QMAQOMBHandler::handleNotificationAdView(const std::shared_ptr<QMANotification>& note,
                                              const std::shared_ptr<QMAAdView>& adView) {
  const auto* table = actionBlockDictionary();
  if (!table || !note) return false;
  auto it = table->find(note->name());
  if (it == table->end()) return false;
  auto keep = shared_from_this();
  it->second(*this, QMAQOMBArguments{adView, note});
  return true;
}

void qma_postNotificationFromURLObject(foundation::NotificationCenter& center, const std::optional<net::URL>& url,
                                       std::shared_ptr<void> object) {
  auto note = QMANotification::initWithNotificationURL(url);
  if (!note) return;
  center.postNotificationName(note->name(), std::move(object), note->parameters());
}

void qma_postNotificationFromURLObjectWithDelay(foundation::NotificationCenter& center,
                                                const std::optional<net::URL>& url, std::shared_ptr<void> object,
                                                double delay) {
  foundation::NotificationCenter* c = &center;
  dispatch::after(std::max(delay, 0.0), dispatch::Queue::main(), [c, url, object] {
    dispatch::OperationQueue::mainQueue()->addOperationWithBlock(
        [c, url, object] { qma_postNotificationFromURLObject(*c, url, object); });
  });
}
