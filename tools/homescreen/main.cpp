// homescreen: a stand-in for the phone's home-screen process. It defines the home-screen
// classes, lists the installed apps of a fixture, loads the plug-in (whose constructor
// then runs), serves on its main run loop, and takes driver commands on standard input.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "platform/corefoundation/core_foundation.h"
#include "platform/foundation/bundle.h"
#include "platform/dispatch/run_loop.h"
#include "platform/springboard/home_screen.h"
#include "platform/uikit/application.h"
#include "tools/homescreen/driver.h"

#ifndef WV_PLUGIN_PATH
#define WV_PLUGIN_PATH "libWardvane.so"
#endif

namespace {

int usage(const char* message) {
  if (message) std::fprintf(stderr, "homescreen: %s\n", message);
  std::fprintf(stderr,
               "usage: homescreen --apps FIXTURE.json [--bundle-id ID] [--leave-out CLASS[,CLASS...]]...\n"
               "                  [--clock \"YYYY-MM-DD HH:MM[:SS]\"] [--plugin PATH | --no-plugin] [--echo]\n"
               "Reads driver commands on standard input, one a line; each line gets one answer line\n"
               "(an empty one for a blank line or a # comment).\n%s\n",
               homescreen::Driver::help().c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string fixture;
  std::string bundleID = "com.apple.springboard";
  std::string plugin = WV_PLUGIN_PATH;
  std::set<std::string> leaveOut;
  bool loadPlugin = true;
  bool echo = false;
  std::string startClock;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--apps") {
      auto v = value();
      if (!v) return usage("--apps needs a file");
      fixture = v;
    } else if (a == "--bundle-id") {
      auto v = value();
      if (!v) return usage("--bundle-id needs an identifier");
      bundleID = v;
    } else if (a == "--leave-out") {
      auto v = value();
      if (!v) return usage("--leave-out needs class names");
      std::stringstream list(v);
      for (std::string name; std::getline(list, name, ',');) {
        const auto& known = springboard::HomeScreen::classNames();
        if (std::find(known.begin(), known.end(), name) == known.end())
          return usage(("unknown class " + name).c_str());
        leaveOut.insert(name);
      }
    } else if (a == "--plugin") {
      auto v = value();
      if (!v) return usage("--plugin needs a path");
      plugin = v;
    } else if (a == "--no-plugin") {
      loadPlugin = false;
    } else if (a == "--clock") {
      auto v = value();
      if (!v) return usage("--clock needs \"YYYY-MM-DD HH:MM[:SS]\"");
      startClock = v;
    } else if (a == "--echo") {
      echo = true;
    } else if (a == "--help" || a == "-h") {
      return usage(nullptr);
    } else {
      return usage(("unknown argument " + a).c_str());
    }
  }
  if (fixture.empty()) return usage("--apps is required");

  std::string error;
  auto apps = springboard::loadInstalledAppsFixture(fixture, &error);
  if (!apps) {
    std::fprintf(stderr, "homescreen: %s\n", error.c_str());
    return 1;
  }

  // The clock is taken over before the plug-in loads, as the plug-in records the load time.
  if (!startClock.empty() && !homescreen::setManualClock(startClock)) {
    return usage("--clock needs \"YYYY-MM-DD HH:MM[:SS]\" (local time)");
  }
  auto& loop = dispatch::RunLoop::main();
  foundation::Bundle::main().setBundleIdentifier(bundleID);
  springboard::HomeScreen home(std::move(*apps));
  home.install(leaveOut);

  if (loadPlugin && !dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    std::fprintf(stderr, "homescreen: cannot load the plug-in: %s\n", dlerror());
    return 1;
  }
  // The home screen finishes launching after its plug-ins have loaded, as the phone's
  // does: what a plug-in set to wait for the launch hears of it now.
  uikit::Application::sharedApplication()->launch();

  homescreen::Driver driver(home);
  std::string pending;
  bool quit = false;
  // One answer line for every line read, blank lines and comments included (theirs are
  // empty), so whoever drives the home screen never gets out of step.
  auto answer = [&](std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto first = line.find_first_not_of(" \t");
    if (echo && first != std::string::npos) std::cout << "> " << line.substr(first) << '\n';
    std::cout << driver.execute(line, &quit) << std::endl;
  };
  auto source = loop.addFileDescriptorSource(STDIN_FILENO, [&] {
    char buf[4096];
    auto n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      // The end of the commands: a last line without its newline still counts.
      if (!pending.empty() && !quit) answer(std::exchange(pending, ""));
      loop.stop();
      return;
    }
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while (!quit && (nl = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      answer(std::move(line));
    }
    if (quit) loop.stop();
  });
  std::cout << "homescreen ready: " << home.apps().size() << " apps, bundle " << bundleID << std::endl;
  loop.run();
  loop.removeFileDescriptorSource(source);
  home.uninstall();
  return 0;
}
