// Hostile pages and servers, end to end in adhost against adserver: a creative keeps the
// browser's same-origin rule (it reads its own server, and another local service only
// where that service's answer allows it), and an ad answered in a declared charset other
// than UTF-8 shows with its text as written.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tools/adhost/adhost_test_support.h"
#include "tools/adserver/ad_server.h"

namespace {

class OriginAndCharsetTest : public adhost_test::HostedAdsTest {
 protected:
  nlohmann::json scenario() const override {
    return {
        {"ads",
         {{"latin1-header", {{"body_file", "latin1.html"}, {"content_type", "text/html; charset=iso-8859-1"}}},
          // A bare type: the creatives folder's own would say UTF-8, which wins over a meta.
          {"latin1-meta", {{"body_file", "latin1-meta.html"}, {"content_type", "text/html"}}},
          {"origin", {{"body_file", "origin.html"}}}}},
        {"ad_rules",
         {{{"when", {{"slotname", "latin1-header"}}}, {"ad", "latin1-header"}},
          {{"when", {{"slotname", "latin1-meta"}}}, {"ad", "latin1-meta"}},
          {{"when", {{"slotname", "origin"}}}, {"ad", "origin"}}}},
        // The ad server's own data, with no CORS header: its creatives read it as their own.
        {"files", {{"/own/data.json", {{"content_type", "application/json"}, {"body", "{\"own\":1}"}}}}},
    };
  }
  // The value of `script` in the page of `name`.
  std::string js(const std::string& name, const std::string& script) {
    const std::string answer = send("js " + name + " " + script);
    const std::string head = "ok " + name + " js ";
    EXPECT_EQ(answer.rfind(head, 0), 0u) << answer;
    return answer.rfind(head, 0) == 0 ? answer.substr(head.size()) : answer;
  }
  // The value of `script` once it is not empty (at most 20 s of real time: the page's
  // requests run on real time).
  std::string until(const std::string& name, const std::string& script) {
    std::string seen;
    for (int i = 0; i < 400 && seen.empty(); ++i) {
      seen = js(name, script);
      if (seen.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return seen;
  }
  void show(const std::string& name, const std::string& unit) {
    expect("kvr-banner " + name + " mrec unit " + unit, "ok " + name + " KVRBannerView");
    expect("load " + name, "ok loading");
    expect("wait " + name + " adViewDidReceiveAd", "ok " + name + " adViewDidReceiveAd:");
  }
};

// "Café crème" written in Latin-1: declared by the answer's Content-Type, or by the page's
// own <meta charset> under a bare "text/html". Both show, with their text as written.
TEST_F(OriginAndCharsetTest, AnAdInADeclaredCharsetShowsItsTextAsWritten) {
  for (const std::string unit : {"latin1-header", "latin1-meta"}) {
    SCOPED_TRACE(unit);
    show(unit, unit);
    EXPECT_EQ(js(unit, "document.getElementById('t').textContent"), "Caf\xC3\xA9 cr\xC3\xA8me");
    EXPECT_EQ(js(unit, "document.title"), "Caf\xC3\xA9");
    EXPECT_EQ(js(unit, "window.creativeState"), "ready");
  }
}

// A creative on the ad server's origin reads its own server; a local service of another
// origin only where that service's own answer allows it.
TEST_F(OriginAndCharsetTest, ACreativeReadsOnlyWhatItsOriginMayRead) {
  adserver::AdServer service(nlohmann::json{
      {"files",
       {{"/secret.json", {{"content_type", "application/json"}, {"body", "{\"secret\":1}"}}},
        {"/open.json",
         {{"content_type", "application/json"},
          {"headers", {{"Access-Control-Allow-Origin", "*"}}},
          {"body", "{\"open\":1}"}}}}}});
  ASSERT_TRUE(service.start());
  show("ad", "origin");
  const std::string own = server_->baseURL() + "/own/data.json";
  const std::string secret = service.baseURL() + "/secret.json";
  const std::string open = service.baseURL() + "/open.json";
  for (const std::string how : {"fetch", "xhr"}) {
    SCOPED_TRACE(how);
    for (const auto& url : {own, secret, open}) js("ad", "read('" + how + "', '" + url + "')");
    EXPECT_EQ(until("ad", "reads['" + how + " " + own + "']"), "{\"own\":1}");
    EXPECT_EQ(until("ad", "reads['" + how + " " + secret + "']"), "refused");
    EXPECT_EQ(until("ad", "reads['" + how + " " + open + "']"), "{\"open\":1}");
  }
  // The service was asked (a browser sends the request and withholds the answer), with the
  // page's true origin.
  const auto asked = service.requestsForPath("/secret.json");
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front().headers.count("origin") ? asked.front().headers.at("origin") : "<none>", server_->baseURL());
  service.stop();
}

}  // namespace
