#pragma once
// The base ad view delegate (the class `QMAAdViewDelegate`): it owns the opener that carries
// out clicks (made by the maker the presentation part installs, see ad_view_opener.h) and
// the ordered list of bridge-message handlers of an ad view, and routes every "qomb"
// navigation to the handlers, first claim wins, re-posting an unclaimed message as a
// notification named after it. Every navigation first tells the opener what is being
// opened, from where. Built here: the message routing and the link policy by scheme (web
// links load, mail and message links open the opener's composers, other applications go
// to the opener). The list starts with the opener's handler, then the default, MRAID and
// precache handlers.
//
// Threads: main thread. Messages of one page reach the handlers in the order the page sent
// them (one hop through the main queue each, in order).

#include <functional>
#include <memory>
#include <vector>

#include "ads/render/ad_view.h"
#include "ads/render/ad_view_opener.h"
#include "ads/render/qomb.h"

class QMAAdViewDelegate : public QMAAdViewDelegateProtocol, public std::enable_shared_from_this<QMAAdViewDelegate> {
 public:
  static std::shared_ptr<QMAAdViewDelegate> init() { return std::make_shared<QMAAdViewDelegate>(); }
  QMAAdViewDelegate();
  // Lets the opener go of the view controller, the slot and the ad view it acted for.
  ~QMAAdViewDelegate() override;

  // The maker of every new delegate's opener, installed by the presentation part; none by
  // default. Main thread, before the first delegate it is to serve is made.
  static void setOpenerFactory(std::function<std::shared_ptr<QMAAdViewOpener>()> factory);

  const std::shared_ptr<QMAAdViewOpener>& opener() const { return opener_; }
  void setOpener(std::shared_ptr<QMAAdViewOpener> opener) { opener_ = std::move(opener); }

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

 protected:
  // The policy; with `followPage` NO a web link that would load leaves the ad view's
  // recorded URL (and the URL stash) alone, for a navigation that is not going to load.
  std::optional<bool> decideNavigation(QMAAdView& adView, const net::URLRequest& request, webkit::NavigationType type,
                                       bool followPage);

 private:
  std::shared_ptr<QMAAdViewOpener> opener_;
  std::vector<std::shared_ptr<QMAQOMBHandler>> qombHandlers_;
  bool hasLoadedAtLeastOnce_ = false;
  bool fileAccessAllowed_ = false;
};
