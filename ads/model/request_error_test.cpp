#include "ads/model/request_error.h"

#include <gtest/gtest.h>

#include "ads/model/request.h"
#include "ads/model/test_support.h"
#include "ads/services/device.h"
#include "platform/system/device_facts.h"

namespace {

using foundation::Dictionary;
using foundation::Error;
using foundation::Value;

const std::string* infoString(const Error& e, const char* key) { return foundation::stringForKey(e.userInfo, key); }

struct RequestErrors : model_test::ModelTest {};

TEST_F(RequestErrors, EveryCodeHasItsDefaultMessageAndOthersTakeCodeZeros) {
  const std::string invalid = "Request Error: Invalid ad request parameter(s). Check the Xcode console for details.";
  const std::pair<long, std::string> table[] = {
      {0, invalid},
      {1, "Request Error: No ad to show."},
      {2, "Request Error: A network error occurred."},
      {3, "Request Error: Server error processing the request."},
      {5, "Request Error: The Quillon Ad request was unable to be fulfilled before a timeout occurred."},
      {6, "Request Error: Will not send request because interstitial object has been used."},
      {7, "Request Error: The mediation response was invalid."},
      {8, "Request Error: Cannot find an ad network adapter for mediation."},
      {9, "Request Error: No ad to show from all configured ad networks."},
      {10, "Request Error: Incompatible ad type requested."},
      {11, "Request Error: Internal error."},
      {12, "Request Error: Invalid argument."},
      {13, "Request Error: Received invalid response."},
      {14, invalid},
      {99, invalid},
      {-1, invalid},
  };
  for (const auto& [code, message] : table) {
    auto e = QMARequestError::errorWithCode(code);
    EXPECT_EQ(e.domain, "com.quillon.ads") << code;
    EXPECT_EQ(e.code, code);
    EXPECT_EQ(e.localizedDescription(), message) << code;
    EXPECT_EQ(e.localizedFailureReason(), message) << code;
    EXPECT_EQ(e.userInfo.size(), 2u) << code;
  }
}

TEST_F(RequestErrors, TheOSMinimumMessageNamesTheDevicesVersion) {
  EXPECT_EQ(QMARequestError::OSMinimumMessageForVersion("5.1.1"),
            "Request Error: This device's OS is 5.1.1. It is below the minimum of 6.0.");
  // Made before the device facts are cached, the message still names the real version.
  auto version = QMADevice::sharedInstance()->systemVersion().value_or(system_facts::device().systemVersion);
  EXPECT_EQ(QMARequestError::errorWithCode(4).localizedDescription(),
            QMARequestError::OSMinimumMessageForVersion(version));
}

TEST_F(RequestErrors, ACallersMessageReplacesTheDefaultForEveryCode) {
  for (long code : {0L, 4L, 11L, 13L, 42L}) {
    auto e = QMARequestError::errorWithCodeCustomMessage(code, "Empty ad HTML.");
    EXPECT_EQ(e.localizedDescription(), "Empty ad HTML.") << code;
    EXPECT_EQ(e.localizedFailureReason(), "Empty ad HTML.") << code;
  }
  EXPECT_EQ(QMARequestError::errorWithCodeCustomMessage(1, std::nullopt).localizedDescription(),
            "Request Error: No ad to show.");
}

TEST_F(RequestErrors, AnUnderlyingErrorIsRecordedAndGivesItsMessage) {
  Error cause{"net.load", -1001, {{foundation::kLocalizedDescriptionKey, "The request timed out."}}};
  auto e = QMARequestError::errorWithCodeUnderlyingError(5, cause);
  EXPECT_EQ(e.localizedDescription(), "The request timed out.");
  ASSERT_TRUE(e.underlyingError());
  EXPECT_EQ(*e.underlyingError(), cause);

  auto none = QMARequestError::errorWithCodeUnderlyingError(5, std::nullopt);
  EXPECT_EQ(none.localizedDescription(),
            "Request Error: The Quillon Ad request was unable to be fulfilled before a timeout occurred.");
  EXPECT_FALSE(none.userInfo.contains(foundation::kUnderlyingErrorKey));
}

TEST_F(RequestErrors, OnlyAPositiveHTTPStatusIsRecordedWithThePlatformsText) {
  EXPECT_FALSE(QMARequestError::errorWithCodeRequestHTTPStatusCode(2, nullptr, 0).userInfo.contains("HttpStatus"));
  EXPECT_FALSE(QMARequestError::errorWithCodeRequestHTTPStatusCode(13, nullptr, -1).userInfo.contains("HttpStatus"));
  auto e = QMARequestError::errorWithCodeRequestHTTPStatusCode(3, nullptr, 404);
  ASSERT_TRUE(infoString(e, "HttpStatus"));
  EXPECT_EQ(*infoString(e, "HttpStatus"), "HTTP status 404: not found");
}

TEST_F(RequestErrors, AnInvalidRequestCarriesTheRequestsParametersButNeverInPlaceOfItsOwnKeys) {
  auto request = QMARequest::request();
  request->setKeywords(std::vector<std::string>{"boats"});
  request->addAdditionalParametersFromDictionary({
      {"NSLocalizedDescription", 5},
      {"NSLocalizedFailureReason", Value(foundation::Array{})},
      {"NSUnderlyingError", "not an error"},
      {"HttpStatus", "200 OK"},
      {"slot_hint", "top"},
  });

  auto invalid = QMARequestError::errorWithCodeRequestHTTPStatusCode(0, request, 400);
  EXPECT_EQ(invalid.userInfo.at("kw"), Value(foundation::Array{"boats"}));
  EXPECT_EQ(invalid.userInfo.at("slot_hint"), Value("top"));
  EXPECT_EQ(invalid.userInfo.at("js"), Value("qvra-sdk-i-v7.4.1"));
  EXPECT_EQ(invalid.localizedDescription(),
            "Request Error: Invalid ad request parameter(s). Check the Xcode console for details.");
  EXPECT_EQ(invalid.localizedFailureReason(), invalid.localizedDescription());
  EXPECT_FALSE(invalid.userInfo.contains(foundation::kUnderlyingErrorKey));
  EXPECT_EQ(*infoString(invalid, "HttpStatus"), "HTTP status 400: bad request");

  auto network = QMARequestError::errorWithCodeRequest(2, request);
  EXPECT_FALSE(network.userInfo.contains("kw"));
  EXPECT_EQ(network.userInfo.size(), 2u);
}

TEST_F(RequestErrors, ThePlatformInitialiserWrapsTheGivenErrorAsAnInternalOne) {
  Dictionary info{{"k", "v"}};
  auto e = QMARequestError::initWithDomainCodeUserInfo("com.example", 5, info);
  EXPECT_EQ(e.domain, "com.quillon.ads");
  EXPECT_EQ(e.code, 11);
  EXPECT_EQ(e.localizedDescription(), "Request Error: Internal error.");
  ASSERT_TRUE(e.underlyingError());
  EXPECT_EQ(*e.underlyingError(), (Error{"com.example", 5, info}));
}

TEST_F(RequestErrors, APlainCopyAndAPlatformErrorCarryEverything) {
  auto e = QMARequestError::errorWithCodeRequestHTTPStatusCode(3, nullptr, 500);
  Error plain = e.error();
  EXPECT_EQ(plain, static_cast<const Error&>(e));
  Error carried = e;  // any part holding platform errors holds a request error whole
  EXPECT_EQ(carried.localizedDescription(), "Request Error: Server error processing the request.");
  EXPECT_EQ(*foundation::stringForKey(carried.userInfo, "HttpStatus"), "HTTP status 500: internal server error");
}

}  // namespace
