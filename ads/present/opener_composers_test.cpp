// Mail and message links in the composers, prefilled from the link; the composers' delegate
// proxies; the wait for a full-screen ad on its way in; and MRAID calendar events in the
// event editor with the user's leave.
#include <gtest/gtest.h>

#include "ads/present/compose_delegate_proxy.h"
#include "ads/present/opener_test_support.h"
#include "ads/present/overlay_proxy.h"
#include "platform/eventkit/event_edit_view_controller.h"
#include "platform/foundation/clock.h"

namespace opener_composers_test {

using messageui::MFMailComposeViewController;
using messageui::MFMessageComposeViewController;
using messageui::MFTestComposers;

using Composers = opener_test::OpenerGroup;

TEST_F(Composers, AMailtoLinkFillsTheMailComposerAndItsQueryKeysMatchInAnyCase) {
  opener->openEmailComposer(url("mailto:a@x.example,b@x.example?CC=c@x.example,d@x.example&Subject=Hi&bcc=e@x.example&"
                                "body=Two%20lines%0Aof%20text"));
  auto mail = shown<MFMailComposeViewController>();
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->toRecipients(), std::vector<std::string>{"a@x.example,b@x.example"}) << "one entry, as written";
  EXPECT_EQ(mail->ccRecipients(), (std::vector<std::string>{"c@x.example", "d@x.example"}));
  EXPECT_EQ(mail->bccRecipients(), std::vector<std::string>{"e@x.example"});
  EXPECT_EQ(mail->subject(), "Hi");
  EXPECT_EQ(mail->messageBody(), "Two lines\nof text");
  EXPECT_FALSE(mail->isBodyHTML());
  EXPECT_EQ(heard(), (std::vector<std::string>{"willPresent", "ping"}));

  // The user sends: the composer goes, the takeover ends and the proxy lets go.
  auto proxy = std::dynamic_pointer_cast<QMAMailComposeDelegateProxy>(mail->mailComposeDelegate());
  ASSERT_TRUE(proxy);
  std::weak_ptr<QMAMailComposeDelegateProxy> weakProxy = proxy;
  proxy.reset();
  mail->finishWithResult(messageui::MFMailComposeResultSent);
  drainMain();
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_EQ(heard(), (std::vector<std::string>{"willDismiss", "didDismiss"}));
  EXPECT_TRUE(weakProxy.expired());
  EXPECT_FALSE(mail->mailComposeDelegate());
}

TEST_F(Composers, AMailtoLinkWithoutAQueryIsOneAddressAndNoOtherField) {
  opener->openEmailComposer(url("mailto:a@x.example"));
  auto mail = shown<MFMailComposeViewController>();
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->toRecipients(), std::vector<std::string>{"a@x.example"});
  EXPECT_TRUE(mail->ccRecipients().empty());
  EXPECT_EQ(mail->subject(), "");
  mail->finishWithResult(messageui::MFMailComposeResultCancelled);
}

TEST_F(Composers, AnSmsLinkSplitsItsRecipientsAndAnEmptyOneIsOneEmptyRecipient) {
  opener->openSmsComposer(url("sms:1,2?body=x"));
  auto text = shown<MFMessageComposeViewController>();
  ASSERT_TRUE(text);
  EXPECT_EQ(text->recipients(), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(text->body(), "x");
  text->finishWithResult(messageui::MessageComposeResultCancelled);
  drainMain();
  ASSERT_FALSE(root->presentedViewController());
  opener->openSmsComposer(url("sms:"));
  text = shown<MFMessageComposeViewController>();
  ASSERT_TRUE(text);
  EXPECT_EQ(text->recipients(), std::vector<std::string>{""});
  EXPECT_EQ(text->body(), "");
  text->finishWithResult(messageui::MessageComposeResultSent);
}

TEST_F(Composers, NothingOpensWithoutTheDevicesMailOrTextTheGateOrAController) {
  MFTestComposers::setCanSendMail(false);
  MFTestComposers::setCanSendText(false);
  opener->openEmailComposer(url("mailto:a@x.example"));
  opener->openSmsComposer(url("sms:1"));
  MFTestComposers::reset();
  MFTestComposers::setComposersCannotBeMade(true);
  opener->openEmailComposer(url("mailto:a@x.example"));
  opener->openSmsComposer(url("sms:1"));
  MFTestComposers::reset();
  opener->setAutoClickProtected(true);
  opener->openEmailComposer(url("mailto:a@x.example"));
  opener->setAutoClickProtected(false);
  opener->setViewController({});
  opener->openSmsComposer(url("sms:1"));
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_EQ(MFTestComposers::mailComposersMade() + MFTestComposers::messageComposersMade(), 0);
  EXPECT_TRUE(heard().empty());
}

TEST_F(Composers, AProxyWhoseOpenerHasGoneTakesItsComposerDownAndLetsGo) {
  auto text = MFMessageComposeViewController::init();
  std::weak_ptr<QMAMessageComposeDelegateProxy> weakProxy =
      QMAMessageComposeDelegateProxy::associatedDelegateProxyForController(text);
  ASSERT_FALSE(weakProxy.expired()) << "attached, the proxy keeps itself";
  {
    auto receiver = QMAOpener::init();
    weakProxy.lock()->setMessageComposeDelegate(receiver);
  }
  ASSERT_TRUE(root->presentViewController(text, false, nullptr));
  drainMain();
  text->finishWithResult(messageui::MessageComposeResultSent);
  drainMain();
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_TRUE(weakProxy.expired());
  EXPECT_FALSE(text->messageComposeDelegate());
}

TEST_F(Composers, AnotherComposerReplacesTheAttachedOne) {
  auto first = MFMailComposeViewController::init();
  auto second = MFMailComposeViewController::init();
  auto proxy = QMAMailComposeDelegateProxy::associatedDelegateProxyForController(first);
  proxy->setMailComposeViewController(second);
  EXPECT_FALSE(first->mailComposeDelegate());
  EXPECT_EQ(second->mailComposeDelegate(), proxy);
  proxy->stopProxying();
  EXPECT_FALSE(proxy->isAttached());
  EXPECT_FALSE(second->mailComposeDelegate());
}

// A full-screen ad whose view takes no touches yet: the composer waits for it.
struct ComposersOverAnAd : opener_test::OpenerGroup {
  std::shared_ptr<QMAViewController> ad;
  void SetUp() override {
    OpenerGroup::SetUp();
    ad = QMAViewController::init();
    ad->setSlot(slot);
    ad->presentFromViewControllerCompletion(root, nullptr);
    opener->setViewController(ad);
    heard();
  }
};

TEST_F(ComposersOverAnAd, AComposerWaitsForAnAdOnItsWayInAndShowsOnceItTakesTouches) {
  ad->view()->setUserInteractionEnabled(false);  // still animating in
  opener->openEmailComposer(url("mailto:a@x.example"));
  drainMain();
  EXPECT_FALSE(ad->presentedViewController());
  foundation::Clock::advance(QMAOpener::kComposerRetryInterval + 0.01);
  drainMain();
  EXPECT_FALSE(ad->presentedViewController()) << "asked again, still waiting";
  ad->view()->setUserInteractionEnabled(true);
  foundation::Clock::advance(QMAOpener::kComposerRetryInterval + 0.01);
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return root->presentedViewController() != nullptr &&
                                                  root->presentedViewController()->presentedViewController(); }));
  auto mail = std::dynamic_pointer_cast<MFMailComposeViewController>(root->presentedViewController()->presentedViewController());
  ASSERT_TRUE(mail);
  mail->finishWithResult(messageui::MFMailComposeResultSent);
  drainMain();
}

TEST_F(ComposersOverAnAd, TheWaitIsBoundedAndEndsWhenTheAdGivesTheScreenBack) {
  ad->view()->setUserInteractionEnabled(false);
  opener->openSmsComposer(url("sms:1"));
  for (int i = 0; i < QMAOpener::kComposerPresentationAttempts + 5; ++i) {
    foundation::Clock::advance(QMAOpener::kComposerRetryInterval + 0.01);
    drainMain();
  }
  EXPECT_FALSE(dispatch::RunLoop::main().nextTimerDate() >= 0 &&
               dispatch::RunLoop::main().nextTimerDate() - foundation::Clock::monotonic() <= 1)
      << "no more tries after the last";
  ad->view()->setUserInteractionEnabled(true);
  foundation::Clock::advance(1);
  drainMain();
  EXPECT_FALSE(ad->presentedViewController()) << "the request was dropped";

  // An ad giving the screen back never takes touches again: no waiting at all.
  opener->setViewController(ad);
  ad->relinquishScreenWithCompletion(nullptr);
  opener->openSmsComposer(url("sms:2"));
  foundation::Clock::advance(1);
  drainMain();
  EXPECT_EQ(heard(), (std::vector<std::string>{"willDismiss", "didDismiss"}));
}

// ---- calendar events

struct CalendarEvents : opener_test::OpenerGroup {
  static foundation::Dictionary event(const char* start, const char* end) {
    foundation::Dictionary d{{"description", "Launch party"}, {"summary", "Doors at ten"}, {"location", "Pier 4"}};
    if (start) d["start"] = start;
    if (end) d["end"] = end;
    return d;
  }
  std::shared_ptr<eventkit::EKEventEditViewController> editor() {
    return shown<eventkit::EKEventEditViewController>();
  }
  // A creative page that records the messages it hears.
  void loadRecordingPage() {
    struct Finish : QMAAdViewDelegateProtocol {
      bool finished = false;
      void adViewDidFinishLoad(QMAAdView&) override { finished = true; }
    };
    auto d = std::make_shared<Finish>();
    view->setDelegate(d);
    view->loadHTMLStringBaseURL(
        "<body><script>var got = []; function QVRA_ReceiveMessage(n, m) { got.push(n); }</script></body>",
        net::URL::fromString("https://ads.example/creative"));
    ASSERT_TRUE(qma_test::pumpMainLoop([&] { return d->finished; }));
    view->setDelegate({});
  }
  std::string pageHeard() { return view->stringByEvaluatingJavaScriptFromString("got.join(',')"); }
};

TEST_F(CalendarEvents, AllowedTheEditorShowsTheEventAndSavingItTakesTheEditorDown) {
  eventkit::EventStore::setAuthorizationStatus(eventkit::EntityTypeEvent, eventkit::AuthorizationStatusAuthorized);
  opener->openCalendarWithDictionary(event("2026-05-01T10:00:00+02:00", "2026-05-01T12:30:00Z"));
  auto e = editor();
  ASSERT_TRUE(e);
  ASSERT_TRUE(e->event());
  EXPECT_EQ(e->event()->title, "Launch party");
  EXPECT_EQ(e->event()->notes, "Doors at ten");
  EXPECT_EQ(e->event()->location, "Pier 4");
  EXPECT_EQ(e->event()->startDate->timeIntervalSince1970, 1777622400.0);  // 08:00 UTC
  EXPECT_EQ(e->event()->endDate->timeIntervalSince1970, 1777638600.0);
  EXPECT_EQ(heard(), (std::vector<std::string>{"willPresent", "ping"}));
  e->completeWithAction(eventkit::EKEventEditViewActionSaved);
  drainMain();
  EXPECT_FALSE(root->presentedViewController());
  EXPECT_EQ(heard(), (std::vector<std::string>{"willDismiss", "didDismiss"}));
  ASSERT_EQ(eventkit::EventStore::savedEvents().size(), 1u);
  EXPECT_EQ(eventkit::EventStore::savedEvents()[0].title, "Launch party");
}

TEST_F(CalendarEvents, UnreadableEventsAreTheCreativesErrorBeforeTheGateIsAsked) {
  eventkit::EventStore::setAuthorizationStatus(eventkit::EntityTypeEvent, eventkit::AuthorizationStatusAuthorized);
  opener->setAutoClickProtected(true);  // untouched: the gate would refuse
  for (const auto& d : {event(nullptr, nullptr), event("2026-05-01 10:00", nullptr),
                        event("2026-05-01T10:00:00Z", "2026-05-01T09:00:00Z")}) {
    opener->openCalendarWithDictionary(d);
    const auto got = heard();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].rfind("error createCalendarEvent: Could not fully parse event dictionary: {", 0), 0u) << got[0];
  }
  opener->openCalendarWithDictionary(event("2026-05-01T10:00:00Z", nullptr));
  EXPECT_EQ(heard(), std::vector<std::string>{"error createCalendarEvent: Creating calendar events is not allowed "
                                              "until the user interacts with the ad."});
  EXPECT_FALSE(editor());
}

TEST_F(CalendarEvents, AnEventWithoutAnEndLastsAnHour) {
  eventkit::EventStore::setAuthorizationStatus(eventkit::EntityTypeEvent, eventkit::AuthorizationStatusAuthorized);
  opener->openCalendarWithDictionary(event("2026-05-01T10:00:00Z", nullptr));
  auto e = editor();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->event()->endDate->timeIntervalSince1970 - e->event()->startDate->timeIntervalSince1970, 3600.0);
  e->completeWithAction(eventkit::EKEventEditViewActionCanceled);
  drainMain();
  EXPECT_TRUE(eventkit::EventStore::savedEvents().empty());
}

TEST_F(CalendarEvents, TheUserIsAskedOnceAndARefusalIsTheCanceledEventEveryTime) {
  loadRecordingPage();
  opener->openCalendarWithDictionary(event("2026-05-01T10:00:00Z", nullptr));  // not determined, refused
  EXPECT_EQ(eventkit::EventStore::authorizationStatusForEntityType(eventkit::EntityTypeEvent),
            eventkit::AuthorizationStatusDenied);
  EXPECT_FALSE(editor());
  opener->openCalendarWithDictionary(event("2026-05-01T10:00:00Z", nullptr));  // asked no more
  EXPECT_FALSE(editor());
  ASSERT_TRUE(qma_test::pumpMainLoop([&] { return pageHeard() == "onCalendarEventCanceled,onCalendarEventCanceled"; }))
      << pageHeard();
  EXPECT_TRUE(heard().empty()) << "no MRAID error: the page hears it was canceled";

  eventkit::EventStore::reset();
  eventkit::EventStore::setAnswerToAccessRequest(true);
  opener->openCalendarWithDictionary(event("2026-05-01T10:00:00Z", nullptr));
  auto e = editor();
  ASSERT_TRUE(e) << "granted: the editor shows";
  e->completeWithAction(eventkit::EKEventEditViewActionDeleted);
  drainMain();
  EXPECT_FALSE(root->presentedViewController());
}

}  // namespace opener_composers_test
