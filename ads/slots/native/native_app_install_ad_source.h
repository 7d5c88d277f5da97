#pragma once
// QMANativeAppInstallAdSource: wraps a native app-install ad that another ad network's
// adapter (or a host's custom event) delivered through mediation. It copies the ad's
// assets, forwards view tracking, impressions and clicks to it, and runs the blocks the
// mediation manager registered (its click and impression reports). Runs on the caller's
// thread; blocks run synchronously, in the order added.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/value.h"
#include "platform/uikit/image.h"

class QMAAd;
class QMANativeAppInstallAdSource;
namespace uikit {
class View;
}

// What an adapter's native app-install ad offers. recordImpression and recordClickOnView
// are optional: respondsToRecordImpression / respondsToRecordClickOnView say whether it
// implements them.
class QMAForwardingNativeAppInstallAd {
 public:
  virtual ~QMAForwardingNativeAppInstallAd() = default;
  virtual std::optional<std::string> headline() const = 0;
  virtual foundation::Array images() const = 0;
  virtual foundation::Array imagesURLs() const = 0;
  virtual std::optional<std::string> body() const = 0;
  virtual std::shared_ptr<uikit::Image> icon() const = 0;
  virtual std::optional<std::string> callToAction() const = 0;
  virtual std::optional<std::string> starRating() const = 0;
  virtual std::optional<std::string> store() const = 0;
  virtual std::optional<std::string> price() const = 0;
  virtual std::optional<foundation::Dictionary> extras() const = 0;
  virtual void trackView(const std::shared_ptr<uikit::View>& view) = 0;
  virtual bool respondsToRecordImpression() const { return false; }
  virtual void recordImpression() {}
  virtual bool respondsToRecordClickOnView() const { return false; }
  virtual void recordClickOnView(const std::shared_ptr<uikit::View>&) {}
};

// The format's answer to a mediated source (ad:didReceiveNativeAppInstallAdSource:).
class QMANativeAppInstallAdSourceReceiver {
 public:
  virtual ~QMANativeAppInstallAdSourceReceiver() = default;
  virtual void adDidReceiveNativeAppInstallAdSource(const std::shared_ptr<QMAAd>& ad,
                                                    const std::shared_ptr<QMANativeAppInstallAdSource>& source) = 0;
};

class QMANativeAppInstallAdSource {
 public:
  using ClickHandlingBlock = std::function<void(const std::shared_ptr<uikit::View>& view, const std::string& assetName,
                                                const std::optional<foundation::Dictionary>& environment)>;
  using ImpressionHandlingBlock = std::function<void()>;

  // Null without a forwarding ad.
  static std::shared_ptr<QMANativeAppInstallAdSource> initWithForwardingNativeAppInstallAd(
      std::shared_ptr<QMAForwardingNativeAppInstallAd> ad);

  void addClickHandlingBlock(ClickHandlingBlock block) { clickHandlingBlocks_.push_back(std::move(block)); }
  void addImpressionHandlingBlock(ImpressionHandlingBlock block) {
    impressionHandlingBlocks_.push_back(std::move(block));
  }
  void trackView(const std::shared_ptr<uikit::View>& view) { forwardingNativeAppInstallAd_->trackView(view); }
  void recordImpression();
  void recordClickOnViewWithAssetNameEnvironment(const std::shared_ptr<uikit::View>& view, const std::string& assetName,
                                                 const std::optional<foundation::Dictionary>& environment);

  const std::optional<std::string>& headline() const { return headline_; }
  const foundation::Array& images() const { return images_; }
  const foundation::Array& imagesURLs() const { return imagesURLs_; }
  const std::optional<std::string>& body() const { return body_; }
  const std::shared_ptr<uikit::Image>& icon() const { return icon_; }
  const std::optional<std::string>& callToAction() const { return callToAction_; }
  const std::optional<std::string>& starRating() const { return starRating_; }
  const std::optional<std::string>& store() const { return store_; }
  const std::optional<std::string>& price() const { return price_; }
  const std::optional<foundation::Dictionary>& extras() const { return extras_; }
  const std::shared_ptr<QMAForwardingNativeAppInstallAd>& forwardingNativeAppInstallAd() const {
    return forwardingNativeAppInstallAd_;
  }

 private:
  std::optional<std::string> headline_;
  foundation::Array images_;
  foundation::Array imagesURLs_;
  std::optional<std::string> body_;
  std::shared_ptr<uikit::Image> icon_;
  std::optional<std::string> callToAction_;
  std::optional<std::string> starRating_;
  std::optional<std::string> store_;
  std::optional<std::string> price_;
  std::optional<foundation::Dictionary> extras_;
  std::shared_ptr<QMAForwardingNativeAppInstallAd> forwardingNativeAppInstallAd_;
  std::vector<ClickHandlingBlock> clickHandlingBlocks_;
  std::vector<ImpressionHandlingBlock> impressionHandlingBlocks_;
};
