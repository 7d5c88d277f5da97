// adhost: a host application that shows the ad component's public ad objects on the
// headless screen, driven by text commands on standard input (or from a script file).
//   adhost [--echo] [--manual-clock] [--wait-limit SECONDS] [script-file]
// The ad network is the one WARDVANE_AD_NETWORK_URL names (an adserver on 127.0.0.1).

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/avfoundation/player.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/clock.h"
#include "platform/uikit/application.h"
#include "tools/adhost/driver.h"
#include "tools/adhost/host.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: adhost [--echo] [--manual-clock] [--wait-limit SECONDS] [script-file]\n"
               "Reads commands, one a line; each line gets one answer line (an empty one for a blank\n"
               "line or a # comment). Try \"help\".\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool echo = false;
  bool manualClock = false;
  double waitLimit = 10;
  const char* script = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--echo") == 0) {
      echo = true;
    } else if (std::strcmp(argv[i], "--manual-clock") == 0) {
      manualClock = true;
    } else if (std::strcmp(argv[i], "--wait-limit") == 0 && i + 1 < argc) {
      char* end = nullptr;
      waitLimit = std::strtod(argv[++i], &end);
      if (!end || *end || !(waitLimit > 0) || waitLimit > 600) return usage();
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return usage();
    } else {
      script = argv[i];
    }
  }
  int in = STDIN_FILENO;
  if (script && std::strcmp(script, "-") != 0) {
    in = open(script, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      std::perror(script);
      return 1;
    }
  }
  // The hand clock starts at the present second, so timers move only when told.
  if (manualClock) foundation::Clock::useManual(std::floor(foundation::Clock::now()));
  foundation::Bundle::main().setBundleIdentifier("com.example.adhost");
  adhost::AdHost::registerClasses();
  // No one stands in for the media here: a video is ready as soon as a player has it.
  avfoundation::Player::setItemsBecomeReadyOnTheirOwn(true);
  adhost::TextDriver driver(STDOUT_FILENO, echo, waitLimit);
  driver.attach(in);
  return uikit::applicationMain(argc, argv, "", adhost::AdHost::kDelegateClassName);
}
