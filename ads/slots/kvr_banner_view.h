#pragma once
// KVRBannerView: the publisher-edition banner. Beside the banner it gives the host app
// events from its ads, several accepted sizes (sent with each request; an ad of one of them
// resizes the banner after a notice to the size delegate), manual impressions, ads it
// renders itself (custom rendering), and the pre-emption of a request in flight when the
// host has started a new page view (KVRRequest::updateCorrelator).
//
// Threads: main thread (checked), as the banner.

#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

#include "ads/slots/app_event_delegate.h"
#include "ads/slots/banner_view.h"
#include "ads/slots/custom_rendered_ad.h"

// Hears that the banner takes another of its accepted sizes. Its one message is required
// and sent without a check.
class QMAAdSizeDelegate {
 public:
  virtual ~QMAAdSizeDelegate() = default;
  virtual void adViewWillChangeAdSizeTo(KVRBannerView& bannerView, QMAAdSize size) = 0;
};

class KVRBannerView : public QMABannerView, public KVRCustomRenderedAdDelegate {
 public:
  static std::shared_ptr<KVRBannerView> initWithFrameAdSize(uikit::Rect frame, QMAAdSize size);
  static std::shared_ptr<KVRBannerView> initWithAdSize(QMAAdSize size) { return initWithFrameAdSize({}, size); }
  static std::shared_ptr<KVRBannerView> initWithAdSizeOrigin(QMAAdSize size, uikit::Point origin);
  static std::shared_ptr<KVRBannerView> initWithFrame(uikit::Rect frame);
  static std::shared_ptr<KVRBannerView> init() { return initWithFrame({}); }
  static std::shared_ptr<KVRBannerView> initWithCoder(uikit::Rect decodedFrame);
  std::string className() const override { return "KVRBannerView"; }

  std::shared_ptr<QMAAppEventDelegate> appEventDelegate() const { return appEventDelegate_.lock(); }
  void setAppEventDelegate(std::weak_ptr<QMAAppEventDelegate> d) { appEventDelegate_ = std::move(d); }
  std::shared_ptr<QMAAdSizeDelegate> adSizeDelegate() const { return adSizeDelegate_.lock(); }
  void setAdSizeDelegate(std::weak_ptr<QMAAdSizeDelegate> d) { adSizeDelegate_ = std::move(d); }
  std::shared_ptr<KVRCustomRenderedBannerViewDelegate> customRenderedBannerViewDelegate() const {
    return customRenderedBannerViewDelegate_.lock();
  }
  void setCustomRenderedBannerViewDelegate(std::weak_ptr<KVRCustomRenderedBannerViewDelegate> d) {
    customRenderedBannerViewDelegate_ = std::move(d);
  }
  // The sizes the banner accepts (none until set), boxed.
  std::optional<std::vector<std::shared_ptr<const QMABoxedValue>>> validAdSizes() override { return validAdSizes_; }
  void setValidAdSizes(std::optional<std::vector<std::shared_ptr<const QMABoxedValue>>> sizes) {
    validAdSizes_ = std::move(sizes);
  }
  // Each size up to the first null pointer, boxed in order.
  void setValidAdSizesWithSizes(std::initializer_list<const QMAAdSize*> sizes);
  bool enableManualImpressions() const;
  void setEnableManualImpressions(bool enabled);

  // Takes the size without a reload.
  void resize(QMAAdSize size) { setAdSizeAndReload(size, false); }
  // The host saw the ad: the manual impression URLs are pinged.
  void recordImpression();

  // ---- the slot's questions the publisher edition answers
  void slotWillLoadAdWithRequest(QMASlot& slot, const std::shared_ptr<QMARequest>& request) override;
  std::optional<bool> slotShouldPreemptInProgressRequest(QMASlot& slot) override;
  void slotDidReceiveAppEventWithInfo(QMASlot& slot, const std::string& name,
                                      const std::optional<std::string>& info) override;
  std::optional<bool> slotNotifyPublisherToRenderCustomRenderingAdError(QMASlot& slot, const std::shared_ptr<QMAAd>& ad,
                                                                       std::optional<foundation::Error>* error) override;
  void slotWillResizeToAdSize(QMASlot& slot, QMAAdSize size) override;

  // ---- KVRCustomRenderedAdDelegate
  void recordClick() override;
  void recordCustomAdImpression() override;
  void finishedRenderingAdView(const std::shared_ptr<uikit::View>& view) override;

 protected:
  friend class QMABannerView;
  explicit KVRBannerView(uikit::Rect frame) : QMABannerView(frame) {}

 private:
  std::uint64_t previousCorrelationID_ = 0;
  std::weak_ptr<QMAAppEventDelegate> appEventDelegate_;
  std::weak_ptr<QMAAdSizeDelegate> adSizeDelegate_;
  std::optional<std::vector<std::shared_ptr<const QMABoxedValue>>> validAdSizes_;
  std::weak_ptr<KVRCustomRenderedBannerViewDelegate> customRenderedBannerViewDelegate_;
};

// The base URL a custom-rendered ad gets: "/" resolved against the ad's base URL (the root
// of the ad's site); none without one.
std::optional<net::URL> KVRCustomRenderedAdBaseURL(const std::optional<net::URL>& adBaseURL);
// "<ClassName: 0x...>", or "(null)" for no object.
std::string KVRObjectDescription(const char* className, const void* object);
