// WardvaneApp: the settings application, driven by text commands on standard input or
// from a script file.
//   WardvaneApp [--echo] [script-file]

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/foundation/bundle.h"
#include "platform/foundation/user_defaults.h"
#include "platform/localauthentication/la_context.h"
#include "platform/uikit/application.h"
#include "settings-app/app_delegate.h"
#include "settings-app/driver.h"

int main(int argc, char** argv) {
  bool echo = false;
  const char* script = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--echo") == 0) echo = true;
    else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "usage: WardvaneApp [--echo] [script-file]\n");
      return 2;
    } else script = argv[i];
  }
  int in = STDIN_FILENO;
  if (script && std::strcmp(script, "-") != 0) {
    in = open(script, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
      std::perror(script);
      return 1;
    }
  }
  foundation::Bundle::main().setBundleIdentifier("com.brimcote.wardvane");
  // The preferences file of this identifier is the settings file, which the application
  // writes whole as a document and the plug-in reads: what the ad component keeps in the
  // standard user defaults goes to a file of its own.
  foundation::UserDefaults::setStandardUserDefaultsDomain("com.brimcote.wardvane.app");
  localauthentication::Reader::configureFromEnvironment();
  wardvane::app::registerAppDelegateClass();
  wardvane::app::TextDriver driver(STDOUT_FILENO, echo);
  driver.attach(in);
  return uikit::applicationMain(argc, argv, "", "AppDelegate");
}
