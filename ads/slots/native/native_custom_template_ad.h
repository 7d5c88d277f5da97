#pragma once
// QMANativeCustomTemplateAd (template 3): the native ad whose layout the host designs. It
// carries one of the template IDs the host's loader delegate named and a free set of
// named string and image assets; the host reads them by name, records the impression and
// reports clicks by asset name, optionally with its own click handler, which runs once the
// support page has answered the click ("nativeAdCustomClick").
//
// Threads: main thread, except the kept click handler, which lives on the ad's own serial
// queue "com.quillon.pelmark.custom-template"; the handler itself runs on the main queue.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ads/slots/native/native_ad.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/notification_center.h"

class QMANativeCustomTemplateAd : public QMANativeAd {
 public:
  static constexpr const char* kClassName = "QMANativeCustomTemplateAd";
  static constexpr const char* kCustomClickNotification = "nativeAdCustomClick";
  using ClickHandler = std::function<void()>;

  // None without a usable "custom_template_id" (a string, or a number as its decimal text).
  static std::shared_ptr<QMANativeCustomTemplateAd> initWithDictionaryOptions(
      foundation::Dictionary adObject, const std::optional<QMAAdLoaderOptionsByClass>& options);
  // {"format": 3, "custom_template_ids": the delegate's IDs as text}.
  static foundation::Dictionary requestParametersForAdLoader(QMAAdLoader& adLoader);
  // The IDs a delegate answer gives: strings as they are (logged when not numeric),
  // numbers as their decimal text, anything else dropped with a log.
  static std::vector<std::string> templateIDsFromDelegateAnswer(const std::optional<foundation::Array>& ids);
  ~QMANativeCustomTemplateAd() override;

  std::string className() const override { return kClassName; }
  std::string clickActionTemplateID() const override { return "3"; }
  // Valid when the request's "custom_template_ids" hold this ad's template ID.
  bool hasValidConfigurationForRequestParameters(const std::optional<foundation::Dictionary>& params) const override;
  std::optional<std::set<std::string>> requiredAssets() const override;
  void loadAssets() override;
  void adLoaderDidReceiveAd(QMAAdLoader& adLoader) override;
  void setSlot(std::shared_ptr<QMASlot> slot) override;

  // ---- the host's side
  const std::string& templateID() const { return templateID_; }
  // The available names in case-insensitive order (ties in byte order).
  std::vector<std::string> availableAssetKeys() const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  std::shared_ptr<QMANativeAdImage> imageForKey(const std::string& key) const;
  void performClickOnAssetWithKeyCustomClickHandler(const std::string& key, ClickHandler handler);
  std::string description() const;

  // The page answered a click (main thread).
  void handleNativeAdCustomClick();
  bool hasPendingClickHandler() const;

 private:
  QMANativeCustomTemplateAd(foundation::Dictionary adObject, std::string templateID);
  void exposeImage(const std::string& name, const std::shared_ptr<QMANativeAdImage>& image);

  bool disableImageLoading_ = false;
  dispatch::QueuePtr lockQueue_;
  std::map<std::string, std::shared_ptr<QMANativeAdImage>> optionalImages_;
  std::map<std::string, std::shared_ptr<QMANativeAdImage>> requiredImages_;
  std::map<std::string, std::shared_ptr<QMANativeAdImage>> imageAssets_;
  std::map<std::string, std::string> stringAssets_;
  std::set<std::string> availableAssetKeys_;
  ClickHandler customClickHandler_;  // on lockQueue_
  std::string templateID_;
  foundation::NotificationCenter::ObserverToken customClickObserver_;
};
