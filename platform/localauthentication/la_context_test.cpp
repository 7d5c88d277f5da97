#include "platform/localauthentication/la_context.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace localauthentication {
namespace {

struct Answer {
  bool called = false;
  bool success = false;
  std::optional<LAError> error;
  std::thread::id thread;
};

Answer evaluate() {
  auto answer = std::make_shared<Answer>();
  LAContext().evaluatePolicyLocalizedReasonReply(LAPolicy::DeviceOwnerAuthenticationWithBiometrics,
                                                 "Unlock with TouchID", [answer](bool ok, std::optional<LAError> e) {
                                                   answer->called = true;
                                                   answer->success = ok;
                                                   answer->error = e;
                                                   answer->thread = std::this_thread::get_id();
                                                 });
  Reader::waitUntilIdle();
  return *answer;
}

struct LAContextTest : ::testing::Test {
  void SetUp() override {
    Reader::configure({});
    Reader::resetCounters();
  }
  void TearDown() override {
    Reader::answerPending(Outcome::Cancel);
    Reader::waitUntilIdle();
    Reader::configure({});
  }
};

TEST_F(LAContextTest, OutcomesArriveOnAWorkerThread) {
  struct Case {
    Outcome outcome;
    bool success;
    std::optional<LAErrorCode> code;
  } cases[] = {
      {Outcome::Success, true, std::nullopt},
      {Outcome::Fail, false, LAErrorCode::AuthenticationFailed},
      {Outcome::Cancel, false, LAErrorCode::UserCancel},
  };
  for (auto& c : cases) {
    Reader::configure({true, true, c.outcome});
    auto a = evaluate();
    ASSERT_TRUE(a.called);
    EXPECT_EQ(a.success, c.success);
    EXPECT_EQ(a.error ? std::optional(a.error->code) : std::nullopt, c.code);
    EXPECT_NE(a.thread, std::this_thread::get_id());
  }
  EXPECT_EQ(Reader::prompts(), 3u);
  EXPECT_EQ(Reader::lastReason(), "Unlock with TouchID");
}

TEST_F(LAContextTest, AReaderThatCannotEvaluateSaysSoAndShowsNoPrompt) {
  LAError error{};
  EXPECT_TRUE(LAContext().canEvaluatePolicy(LAPolicy::DeviceOwnerAuthenticationWithBiometrics, &error));
  Reader::configure({true, false, Outcome::Success});
  EXPECT_FALSE(LAContext().canEvaluatePolicy(LAPolicy::DeviceOwnerAuthenticationWithBiometrics, &error));
  EXPECT_EQ(error.code, LAErrorCode::BiometryNotAvailable);
  EXPECT_FALSE(LAContext().canEvaluatePolicy(LAPolicy::DeviceOwnerAuthenticationWithBiometrics, nullptr));
  auto a = evaluate();
  EXPECT_FALSE(a.success);
  EXPECT_EQ(Reader::prompts(), 0u);
  Reader::configure({false, true, Outcome::Success});
  EXPECT_FALSE(LAContext::isAvailable());
}

TEST_F(LAContextTest, AWaitingPromptIsAnsweredLater) {
  Reader::configure({true, true, Outcome::Wait});
  auto answer = std::make_shared<Answer>();
  LAContext().evaluatePolicyLocalizedReasonReply(LAPolicy::DeviceOwnerAuthenticationWithBiometrics, "r",
                                                 [answer](bool ok, std::optional<LAError>) {
                                                   answer->called = true;
                                                   answer->success = ok;
                                                 });
  Reader::waitUntilIdle();
  EXPECT_FALSE(answer->called);
  EXPECT_EQ(Reader::pendingPrompts(), 1u);
  EXPECT_EQ(Reader::answerPending(Outcome::Success), 1u);
  Reader::waitUntilIdle();
  EXPECT_TRUE(answer->called);
  EXPECT_TRUE(answer->success);
  EXPECT_EQ(Reader::answerPending(Outcome::Success), 0u);
}

TEST_F(LAContextTest, EnvironmentConfiguresTheReader) {
  setenv("WARDVANE_LA_CAN_EVALUATE", "0", 1);
  setenv("WARDVANE_LA_OUTCOME", "cancel", 1);
  Reader::configureFromEnvironment();
  unsetenv("WARDVANE_LA_CAN_EVALUATE");
  unsetenv("WARDVANE_LA_OUTCOME");
  auto c = Reader::configuration();
  EXPECT_TRUE(c.available);
  EXPECT_FALSE(c.canEvaluate);
  EXPECT_EQ(c.outcome, Outcome::Cancel);
  EXPECT_FALSE(Reader::outcomeNamed("maybe"));
}

}  // namespace
}  // namespace localauthentication
