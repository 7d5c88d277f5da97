#pragma once
// The fixture of adhost's end-to-end tests: an ad server on 127.0.0.1 playing the test's
// scenario, and an adhost process on the hand clock, driven line by line, with a device
// root of its own that goes with the test.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/uikit/image.h"
#include "tools/adserver/ad_server.h"
#include "tools/testsupport/driven_process.h"

namespace adhost_test {

using Colour = std::array<int, 3>;

// The colour at a point (in points) of a picture `pointsWide` points wide: the middle of
// its device pixel.
inline Colour colourAt(const uikit::Image& image, double x, double y, double pointsWide = 375) {
  const double scale = image.pixelWidth() / pointsWide;
  const auto px = static_cast<std::size_t>(x * scale + scale / 2), py = static_cast<std::size_t>(y * scale + scale / 2);
  const std::size_t at = (py * image.pixelWidth() + px) * 4;
  return {image.rgba()[at], image.rgba()[at + 1], image.rgba()[at + 2]};
}

// Within the rounding of the engine's colour conversions.
inline bool near(const Colour& a, const Colour& b) {
  for (int i = 0; i < 3; ++i)
    if (std::abs(a[i] - b[i]) > 6) return false;
  return true;
}

class HostedAdsTest : public ::testing::Test {
 protected:
  // The ad server's scenario for this test.
  virtual nlohmann::json scenario() const = 0;

  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("wv-adhost-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(root_);
    server_ = std::make_unique<adserver::AdServer>(scenario());
    ASSERT_TRUE(server_->start());
    host_ = std::make_unique<testsupport::DrivenProcess>(
        ADHOST_PATH, std::vector<std::string>{"--manual-clock", "--wait-limit", "45"},
        std::vector<std::string>{"WARDVANE_DEVICE_ROOT=" + root_.string(), "WARDVANE_AD_NETWORK_URL=" + server_->baseURL(),
                                 "TZ=UTC"},
        std::chrono::seconds(60));
  }
  void TearDown() override {
    if (host_) {
      EXPECT_EQ(send("quit"), "ok bye");
    }
    host_.reset();
    server_->stop();
    std::filesystem::remove_all(root_);
  }
  std::string send(const std::string& line) { return host_->send(line); }
  // Sends and expects the answer to begin with `start`.
  void expect(const std::string& line, const std::string& start) {
    const std::string answer = send(line);
    EXPECT_EQ(answer.rfind(start, 0), 0u) << line << "\n  answered: " << answer;
  }
  // Asks `line` until its answer holds `what` (a page's message takes a turn of the host's
  // loop or two to arrive, a presentation its animation), at most 30 s of real time; the
  // hand clock moves 0.1 s a try, 3 s at most. The last answer.
  std::string askUntil(const std::string& line, const std::string& what) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string answer;
    for (int tries = 0;; ++tries) {
      answer = send(line);
      if (answer.find(what) != std::string::npos || std::chrono::steady_clock::now() >= deadline) return answer;
      if (tries < 30) {
        send("clock advance 0.1");
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  }
  // The value of `script` in the page of `name`.
  std::string js(const std::string& name, const std::string& script) {
    const std::string answer = send("js " + name + " " + script);
    const std::string head = "ok " + name + " js ";
    EXPECT_EQ(answer.rfind(head, 0), 0u) << answer;
    return answer.rfind(head, 0) == 0 ? answer.substr(head.size()) : answer;
  }
  // The scenario file `name` of adserver's scenarios folder.
  static nlohmann::json scenarioFile(const std::string& name) {
    return adserver::AdServer::loadScenarioFile(std::string(WV_ADSERVER_SCENARIOS_DIR) + "/" + name);
  }

  std::filesystem::path root_;
  std::unique_ptr<adserver::AdServer> server_;
  std::unique_ptr<testsupport::DrivenProcess> host_;
};

}  // namespace adhost_test
