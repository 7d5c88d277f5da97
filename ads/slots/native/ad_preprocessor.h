#pragma once
// QMAAdPreprocessor: turns one native ad response into the ad configuration the native ad
// classes read. It loads the ad network's native-ad support page into the ad view of a
// hidden slot of its own, hands the response's JSON to the page's
// "quillon.qvra.nativeAds.preProcessJsonQomb(%@)" and waits for the page's bridge answer
// "nativeAdPreProcess" with the processed configuration in "success". Its completion
// handler runs exactly once, on the main queue: with the configuration (a JSON object) and
// the slot, whose page the native ad keeps for its clicks, or with an error.
//
// It always ends: the page has kAnswerTimeout seconds from the end of its load to answer,
// and the whole run kOverallTimeout seconds from the start, whatever the page load does.
//
// Threads: main thread; the handler runs on the main queue.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ads/slots/slot.h"
#include "platform/foundation/error.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/value.h"

class QMAAdPreprocessor : public QMASlotAdEventDelegate, public std::enable_shared_from_this<QMAAdPreprocessor> {
 public:
  static constexpr const char* kPreprocessScriptFormat = "quillon.qvra.nativeAds.preProcessJsonQomb(%@)";
  static constexpr const char* kPreprocessNotification = "nativeAdPreProcess";
  static constexpr double kAnswerTimeout = 5.0;
  static constexpr double kOverallTimeout = 60.0;

  // The configuration (a JSON object) and the slot, or an error.
  using CompletionHandler = std::function<void(const std::optional<foundation::Value>& configuration,
                                               const std::shared_ptr<QMASlot>& slot,
                                               const std::optional<foundation::Error>& error)>;

  static std::shared_ptr<QMAAdPreprocessor> initWithAdUnitID(const std::optional<std::string>& adUnitID);
  ~QMAAdPreprocessor() override;

  void preprocessNativeAdJSONCompletionHandler(const std::string& nativeAdJSON, CompletionHandler handler);

  // QMASlotAdEventDelegate
  void slotFinishedLoadingAdContent(QMASlot& slot) override;
  void slotDidFailToLoadAdContentWithError(QMASlot& slot, const QMARequestError& error) override;

  void handlePreprocessorNotification(const foundation::Notification& notification);

  const std::shared_ptr<QMASlot>& slot() const { return slot_; }
  const std::string& nativeAdJSON() const { return nativeAdJSON_; }

 private:
  QMAAdPreprocessor() = default;
  // Hands the result to the wrapped handler (which runs the caller's once).
  void complete(const std::optional<foundation::Value>& configuration, const std::shared_ptr<QMASlot>& slot,
                const std::optional<foundation::Error>& error);
  void stopObserving();

  std::shared_ptr<QMASlot> slot_;
  CompletionHandler completionHandler_;
  std::string nativeAdJSON_;
  foundation::NotificationCenter::ObserverToken observer_;
};
