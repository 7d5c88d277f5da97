#pragma once
// The in-app browser: landing pages that open inside the host application. A full-screen
// ad controller holding a QMABrowserAdView above a toolbar with back, forward, reload (a
// spinner while a page loads), open-in-the-system-browser and done. Its ad view's delegate
// (QMABrowserAdViewDelegate) counts the landing pages, times them and refreshes the
// toolbar whenever a page starts, finishes or fails to load; through it a landing page can
// still send the base set of bridge messages. The request carries the referring ad's host
// as "Referer".
//
// Threads: main thread only (checked).

#include <memory>
#include <optional>

#include "ads/present/view_controller.h"
#include "ads/render/ad_view.h"
#include "platform/uikit/toolbar.h"

class QMAAdViewDelegate;
class QMABrowserViewController;

class QMABrowserAdView : public QMAAdView {
 public:
  static std::shared_ptr<QMABrowserAdView> initWithFrame(uikit::Rect frame);
  explicit QMABrowserAdView(uikit::Rect frame) : QMAAdView(frame) {}
  std::string className() const override { return "QMABrowserAdView"; }
  // Only a browser is taken; anything else (null included) is ignored.
  void setViewController(std::weak_ptr<uikit::ViewController> vc) override;
  std::shared_ptr<QMABrowserViewController> browserViewController() const;
};

class QMABrowserViewController : public QMAViewController {
 public:
  static constexpr double kToolbarHeight = 44;
  static constexpr double kLandscapePhoneToolbarHeight = 30;

  static std::shared_ptr<QMABrowserViewController> init();
  // Lets the web view go of its delegate.
  ~QMABrowserViewController() override;
  std::string className() const override { return "QMABrowserViewController"; }

  void load(const std::optional<net::URL>& url) { loadReferringURL(url, std::nullopt); }
  // Now when the web view exists, else on the first appearance; a null URL is ignored.
  void loadReferringURL(const std::optional<net::URL>& url, const std::optional<net::URL>& referringURL);

  void back();
  void forward();
  void reload();
  void stop();
  void doneButtonPressed() { relinquishScreenWithCompletion(nullptr); }
  // Leaves the application for the page shown now (through an opener's gates) and marks
  // "pcbo" on the ad's statistics.
  void openInSafari();
  // Back and forward follow the history; while a page loads the spinner replaces reload
  // and the system-browser item is off.
  void refreshToolbar();

  std::shared_ptr<uikit::BarButtonItem> buttonWithImageNameWidthEnabledAction(
      const std::shared_ptr<uikit::Image>& image, const std::string& name, double width, bool enabled,
      uikit::BarButtonItem::Action action);
  void createToolbarButtons();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void didRotateFromInterfaceOrientation(long fromInterfaceOrientation) override;

  const std::optional<net::URL>& URLToLoad() const { return URLToLoad_; }
  const std::optional<net::URL>& referringURLToLoad() const { return referringURLToLoad_; }
  const std::shared_ptr<QMAAdViewDelegate>& adViewDelegate() const { return adViewDelegate_; }
  const std::shared_ptr<QMABrowserAdView>& adView() const { return adView_; }
  const std::shared_ptr<uikit::Toolbar>& toolbar() const { return toolbar_; }
  const std::shared_ptr<uikit::BarButtonItem>& flexibleSpaceButton() const { return flexibleSpaceButton_; }
  const std::shared_ptr<uikit::BarButtonItem>& backButton() const { return backButton_; }
  const std::shared_ptr<uikit::BarButtonItem>& forwardButton() const { return forwardButton_; }
  const std::shared_ptr<uikit::BarButtonItem>& reloadButton() const { return reloadButton_; }
  const std::shared_ptr<uikit::BarButtonItem>& safariButton() const { return safariButton_; }
  const std::shared_ptr<uikit::BarButtonItem>& doneButton() const { return doneButton_; }
  const std::shared_ptr<uikit::BarButtonItem>& spinnerContainingButton() const { return spinnerContainingButton_; }
  const std::shared_ptr<uikit::ActivityIndicatorView>& spinner() const { return spinner_; }

 private:
  QMABrowserViewController() = default;
  std::shared_ptr<QMABrowserViewController> browser() {
    return std::static_pointer_cast<QMABrowserViewController>(shared_from_this());
  }

  std::optional<net::URL> URLToLoad_;
  std::optional<net::URL> referringURLToLoad_;
  std::shared_ptr<QMAAdViewDelegate> adViewDelegate_;
  std::shared_ptr<QMABrowserAdView> adView_;
  std::shared_ptr<uikit::Toolbar> toolbar_;
  std::shared_ptr<uikit::BarButtonItem> flexibleSpaceButton_, backButton_, forwardButton_, reloadButton_,
      safariButton_, doneButton_, spinnerContainingButton_;
  std::shared_ptr<uikit::ActivityIndicatorView> spinner_;
};
