// The stand-in composers: what the device offers, and the user's answer reaching a
// delegate the composer does not keep.
#include "platform/messageui/compose_view_controller.h"

#include <gtest/gtest.h>

namespace messageui {
namespace {

struct Recorder : MFMailComposeViewControllerDelegate, MFMessageComposeViewControllerDelegate {
  std::vector<long> results;
  void mailComposeControllerDidFinishWithResultError(const std::shared_ptr<MFMailComposeViewController>&,
                                                     MFMailComposeResult result,
                                                     const std::optional<foundation::Error>&) override {
    results.push_back(result);
  }
  void messageComposeViewControllerDidFinishWithResult(const std::shared_ptr<MFMessageComposeViewController>&,
                                                       MessageComposeResult result) override {
    results.push_back(result);
  }
};

struct ComposersTest : ::testing::Test {
  void TearDown() override { MFTestComposers::reset(); }
};

TEST_F(ComposersTest, TheDeviceDecidesWhatCanBeSentAndWhetherComposersAreMade) {
  EXPECT_TRUE(MFMailComposeViewController::canSendMail());
  EXPECT_TRUE(MFMessageComposeViewController::canSendText());
  MFTestComposers::setCanSendMail(false);
  MFTestComposers::setCanSendText(false);
  EXPECT_FALSE(MFMailComposeViewController::canSendMail());
  EXPECT_FALSE(MFMessageComposeViewController::canSendText());
  ASSERT_TRUE(MFMailComposeViewController::init());
  MFTestComposers::setComposersCannotBeMade(true);
  EXPECT_FALSE(MFMailComposeViewController::init());
  EXPECT_FALSE(MFMessageComposeViewController::init());
  EXPECT_EQ(MFTestComposers::mailComposersMade(), 1);
  MFTestComposers::reset();
  EXPECT_EQ(MFTestComposers::mailComposersMade(), 0);
  EXPECT_TRUE(MFMessageComposeViewController::init());
}

TEST_F(ComposersTest, TheUsersAnswerReachesTheDelegateWhileItLives) {
  auto mail = MFMailComposeViewController::init();
  auto text = MFMessageComposeViewController::init();
  auto recorder = std::make_shared<Recorder>();
  mail->setMailComposeDelegate(recorder);
  text->setMessageComposeDelegate(recorder);
  mail->finishWithResult(MFMailComposeResultSaved);
  text->finishWithResult(MessageComposeResultFailed);
  EXPECT_EQ(recorder->results, (std::vector<long>{1, 2}));
  recorder.reset();  // held weakly: gone, and nobody hears
  EXPECT_FALSE(mail->mailComposeDelegate());
  mail->finishWithResult(MFMailComposeResultSent);
}

}  // namespace
}  // namespace messageui
