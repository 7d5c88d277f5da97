#pragma once
// The base ad view delegate (the class `QMAAdViewDelegate`): it owns the ordered list of
// bridge-message handlers of an ad view and routes every "qomb" navigation to them, first
// claim wins, re-posting an unclaimed message as a notification named after it. Built
// here: the message routing and the plain navigation answers; the opener, the link policy
// by scheme and the concrete handlers of its list are the later work of their own classes.
//
// Threads: main thread. Messages of one page reach the handlers in the order the page sent
// them (one hop through the main queue each, in order).

#include <memory>
#include <vector>

#include "ads/render/ad_view.h"
#include "ads/render/qomb.h"

class QMAAdViewDelegate : public QMAAdViewDelegateProtocol, public std::enable_shared_from_this<QMAAdViewDelegate> {
 public:
  static std::shared_ptr<QMAAdViewDelegate> init() { return std::make_shared<QMAAdViewDelegate>(); }
  ~QMAAdViewDelegate() override = default;

  const std::vector<std::shared_ptr<QMAQOMBHandler>>& qombHandlers() const { return qombHandlers_; }
  // For subclasses' initialisers: appends a handler.
  void addQOMBHandler(std::shared_ptr<QMAQOMBHandler> handler);
  bool hasLoadedAtLeastOnce() const { return hasLoadedAtLeastOnce_; }
  bool isFileAccessAllowed() const { return fileAccessAllowed_; }
  void setFileAccessAllowed(bool allowed) { fileAccessAllowed_ = allowed; }

  std::optional<bool> adViewShouldStartLoadWithRequestNavigationType(QMAAdView& adView, const net::URLRequest& request,
                                                                     webkit::NavigationType type) override;
  void handleQOMBURLAdView(const net::URL& url, const std::shared_ptr<QMAAdView>& adView);
  void adViewDidStartLoad(QMAAdView&) override {}
  void adViewDidFinishLoad(QMAAdView& adView) override;
  void adViewDidFailLoadWithError(QMAAdView&, const foundation::Error&) override {}

 private:
  std::vector<std::shared_ptr<QMAQOMBHandler>> qombHandlers_;
  bool hasLoadedAtLeastOnce_ = false;
  bool fileAccessAllowed_ = false;
};
