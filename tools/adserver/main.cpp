// adserver: the ad network's servers played on 127.0.0.1.
//   adserver [--scenario FILE] [--port N] [--log FILE] [--creatives DIR] [--stdin-lifetime]
// Prints "adserver listening on http://127.0.0.1:PORT" once it listens; runs until
// interrupted (SIGINT, SIGTERM) or until its standard input closes when --stdin-lifetime.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <unistd.h>
#include <string>

#include "tools/adserver/ad_server.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }
}  // namespace

int main(int argc, char** argv) {
  std::string scenarioPath, logPath, creativesPath;
  int port = 0;
  bool stdinLifetime = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "adserver: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--scenario") scenarioPath = next();
    else if (arg == "--port") port = std::atoi(next().c_str());
    else if (arg == "--log") logPath = next();
    else if (arg == "--creatives") creativesPath = next();
    else if (arg == "--stdin-lifetime") stdinLifetime = true;
    else {
      std::cerr << "usage: adserver [--scenario FILE] [--port N] [--log FILE] [--creatives DIR] [--stdin-lifetime]\n";
      return 2;
    }
  }
  nlohmann::json scenario = nlohmann::json::object();
  if (!scenarioPath.empty()) {
    try {
      scenario = adserver::AdServer::loadScenarioFile(scenarioPath);
    } catch (const adserver::ScenarioError& e) {
      std::cerr << "adserver: " << e.what() << "\n";
      return 2;
    }
  }
  adserver::AdServer server(scenario);
  if (!logPath.empty()) server.setLogFile(logPath);
  if (!creativesPath.empty()) server.setCreativesDirectory(creativesPath);
  if (!server.start(port)) {
    std::cerr << "adserver: cannot listen on 127.0.0.1:" << port << "\n";
    return 1;
  }
  std::printf("adserver listening on %s\n", server.baseURL().c_str());
  std::fflush(stdout);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  if (stdinLifetime) {
    std::string line;
    while (!stopRequested && std::getline(std::cin, line)) {
    }
  } else {
    while (!stopRequested) pause();
  }
  server.stop();
  return 0;
}
