#include "ads/render/opener_qomb_handler.h"

#include <algorithm>
#include <cctype>

#include "ads/render/rendering_slot.h"
#include "ads/render/vistrace_qomb_handler.h"
#include "ads/services/click_tracker_collection.h"
#include "ads/services/device.h"
#include "ads/services/in_app_purchase.h"
#include "platform/dispatch/thread_checks.h"

namespace {

template <void (QMAOpenerQOMBHandler::*Action)(const QMAQOMBArguments&)>
QMAQOMBAction openerAction() {
  return [](QMAQOMBHandler& h, const QMAQOMBArguments& a) { (static_cast<QMAOpenerQOMBHandler&>(h).*Action)(a); };
}

bool isBreak(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::shared_ptr<QMAOpenerQOMBHandler> QMAOpenerQOMBHandler::initWithOpener(std::shared_ptr<QMAAdViewOpener> opener) {
  auto handler = std::make_shared<QMAOpenerQOMBHandler>();
  handler->opener_ = std::move(opener);
  return handler;
}

const QMAActionBlockDictionary* QMAOpenerQOMBHandler::actionBlockDictionary() const {
  static const QMAActionBlockDictionary table = {
      {"click", openerAction<&QMAOpenerQOMBHandler::didReceiveClickNotification>()},
      {"open", openerAction<&QMAOpenerQOMBHandler::didReceiveOpenNotification>()},
      {"fetchAppStore", openerAction<&QMAOpenerQOMBHandler::fetchInAppStore>()},
  };
  return &table;
}

const QMAActionBlockDictionary& QMAOpenerQOMBHandler::subActionBlockDictionary() {
  static const QMAActionBlockDictionary table = {
      {"in_app_store", openerAction<&QMAOpenerQOMBHandler::actionOpenInAppStore>()},
      {"in_app_purchase", openerAction<&QMAOpenerQOMBHandler::actionOpenInAppPurchase>()},
      {"browser", openerAction<&QMAOpenerQOMBHandler::actionOpenBrowser>()},
      {"webapp", openerAction<&QMAOpenerQOMBHandler::actionOpenWebApp>()},
      {"expand", openerAction<&QMAOpenerQOMBHandler::actionExpand>()},
      {"video", openerAction<&QMAOpenerQOMBHandler::actionOpenBrowser>()},
      {"call", openerAction<&QMAOpenerQOMBHandler::actionOpenApp>()},
      {"app", openerAction<&QMAOpenerQOMBHandler::actionOpenApp>()},
  };
  return table;
}

std::optional<net::URL> QMAOpenerQOMBHandler::URLFromParams(const QMANotification& note) {
  auto text = note.parameter("u");
  if (!text) return std::nullopt;
  return net::URL::fromString(*text);
}

std::optional<net::URL> QMAOpenerQOMBHandler::openableURLFromParams(const QMANotification& note) {
  auto url = URLFromParams(note);
  if (!url) return std::nullopt;
  std::string scheme = url->scheme().value_or("");
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (scheme.empty() || scheme == "javascript" || scheme == "file") return std::nullopt;
  if (url->isHTTP() && !url->host()) return std::nullopt;
  return url;
}

std::uint64_t QMAOpenerQOMBHandler::orientationFromParams(const QMANotification& note, bool statusBarIsLandscape) {
  auto o = note.parameter("o");
  if (!o) return 30;
  if (*o == "p") return 6;
  if (*o == "l") return 24;
  if (*o == "c") return statusBarIsLandscape ? 24 : 6;
  return 30;
}

std::uint64_t QMAOpenerQOMBHandler::orientationFromParams(const QMANotification& note) const {
  const auto o = note.parameter("o");
  // The device is asked only when the creative wants the present orientation.
  const bool landscape = o && *o == "c" && QMADevice::sharedInstance()->isOrientationLandscape();
  return orientationFromParams(note, landscape);
}

bool QMAOpenerQOMBHandler::shouldUseCustomClose(const QMANotification& note) {
  auto flag = note.parameter("custom_close");
  return flag && *flag == "1";
}

std::vector<std::string> QMAOpenerQOMBHandler::reportURLsFromParams(const QMANotification& note) {
  std::vector<std::string> urls;
  auto text = note.parameter("report_urls");
  if (!text) return urls;
  std::size_t i = 0;
  while (i < text->size()) {
    while (i < text->size() && isBreak((*text)[i])) ++i;
    const std::size_t start = i;
    while (i < text->size() && !isBreak((*text)[i])) ++i;
    if (i > start) urls.push_back(text->substr(start, i - start));
  }
  return urls;
}

void QMAOpenerQOMBHandler::didReceiveClickNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !opener_) return;
  auto url = URLFromParams(*arguments.note);
  auto slot = opener_->slot();
  if (!url || !slot) return;
  // Only the ping: no gate, nothing opens.
  QMAClickTrackerCollection::sharedInstance()->trackURL(slot->gestureClickURLWithURL(*url));
}

void QMAOpenerQOMBHandler::didReceiveOpenNotification(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note) return;
  const auto& table = subActionBlockDictionary();
  const auto sub = arguments.note->parameter("a");
  if (sub) {
    if (auto it = table.find(*sub); it != table.end()) {
      it->second(*this, arguments);
      return;
    }
  }
  actionOpenApp(arguments);
}

void QMAOpenerQOMBHandler::fetchInAppStore(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !opener_) return;
  if (auto product = arguments.note->parameter("product_id")) opener_->fetchInAppStoreForProductID(*product);
}

void QMAOpenerQOMBHandler::actionOpenInAppStore(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !opener_) return;
  const auto& note = *arguments.note;
  auto product = note.parameter("product_id");
  if (!product) return;
  // Waiting for the page to load is the default: a creative has to ask to see it at once.
  const auto wait = note.parameter("wait_for_fetch");
  opener_->openInAppStoreWithProductIDFallbackURLShouldWaitForFetch(*product, URLFromParams(note),
                                                                    !wait || *wait == "true");
}

void QMAOpenerQOMBHandler::actionOpenInAppPurchase(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !opener_) return;
  const auto& note = *arguments.note;
  auto product = note.parameter("product_id");
  const auto quantityText = note.parameter("quantity");
  const long long quantity = quantityText ? QMAIntegerValue(*quantityText) : 0;
  if (!product || !QMAInAppPurchase::quantityIsValid(quantity)) return;
  opener_->openInAppPurchaseQuantityReportingURLStringFormats(*product, quantity, reportURLsFromParams(note));
}

void QMAOpenerQOMBHandler::actionOpenBrowser(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !opener_) return;
  const auto& note = *arguments.note;
  if (!note.parameter("u")) return;
  auto url = openableURLFromParams(note);
  if (!url) {
    // An empty browser, or a script run in it, is no open: the creative hears it.
    opener_->reportMRAIDError(kNotOpenableMessage, note.parameter("a") == "video" ? "playVideo" : "open");
    return;
  }
  opener_->openBrowserToURLSupportedOrientations(url, orientationFromParams(note));
}

void QMAOpenerQOMBHandler::actionOpenWebApp(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !opener_) return;
  const auto& note = *arguments.note;
  const std::uint64_t mask = orientationFromParams(note);
  const bool customClose = shouldUseCustomClose(note);
  if (note.parameter("u")) {
    auto url = openableURLFromParams(note);
    if (!url) {
      opener_->reportMRAIDError(kNotOpenableMessage, "expand");
      return;
    }
    opener_->openWebAppSupportedOrientationsUsingCustomClose(url, mask, customClose);
  } else if (auto html = note.parameter("html")) {
    opener_->openWebAppWithHTMLSupportedOrientationsUsingCustomClose(html, mask, customClose);
  }
}

void QMAOpenerQOMBHandler::actionExpand(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !opener_) return;
  opener_->expandToWebAppWithSupportedOrientationsUsingCustomClose(orientationFromParams(*arguments.note),
                                                                   shouldUseCustomClose(*arguments.note));
}

void QMAOpenerQOMBHandler::actionOpenApp(const QMAQOMBArguments& arguments) {
  WV_DCHECK_MAIN_THREAD();
  if (!arguments.note || !opener_) return;
  auto url = URLFromParams(*arguments.note);
  if (!url) return;
  auto keep = opener_;
  // The click counts before the application is left, and leaves through the slot's click
  // URL: an ad whose slot has gone opens nothing.
  auto slot = opener_->slot();
  if (!slot) return;
  slot->adWasClicked();
  keep->openApp(slot->gestureClickURLWithURL(*url));
}
