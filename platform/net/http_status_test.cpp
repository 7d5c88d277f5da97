#include "platform/net/http_status.h"

#include <gtest/gtest.h>

namespace net {
namespace {

TEST(HTTPStatusText, KnownCodesHaveTheirTextOthersTheirClass) {
  const std::pair<long, const char*> cases[] = {
      {404, "not found"}, {500, "internal server error"}, {400, "bad request"}, {200, "no error"},
      {299, "success"},   {499, "client error"},          {599, "server error"}, {150, "informational"},
      {399, "redirected"}, {999, "server error"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(localizedStringForStatusCode(code), text) << code;
}

}  // namespace
}  // namespace net
