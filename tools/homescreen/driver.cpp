#include "tools/homescreen/driver.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "hooklib/shared/settings_file.h"
#include "platform/corefoundation/core_foundation.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/foundation/json.h"
#include "platform/ipc/notify_center.h"
#include "platform/springboard/home_screen.h"
#include "platform/uikit/alert_controller.h"
#include "platform/uikit/window.h"

namespace homescreen {
namespace {

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// The first word of `text`, and the rest after it with its inner spaces kept (an app's
// identifier may hold spaces).
std::pair<std::string, std::string> splitFirstWord(const std::string& text) {
  auto space = text.find_first_of(" \t");
  if (space == std::string::npos) return {text, ""};
  return {text.substr(0, space), trim(text.substr(space + 1))};
}

// "YYYY-MM-DD HH:MM[:SS]" in local time.
bool parseLocalTime(const std::string& date, const std::string& time, double* out) {
  foundation::DateComponents c;
  int n = 0;
  if (std::sscanf(date.c_str(), "%d-%d-%d%n", &c.year, &c.month, &c.day, &n) != 3 ||
      n != static_cast<int>(date.size())) {
    return false;
  }
  c.second = 0;
  int got = std::sscanf(time.c_str(), "%d:%d:%d%n", &c.hour, &c.minute, &c.second, &n);
  if (got < 2) return false;
  if (got == 2 && std::sscanf(time.c_str(), "%d:%d%n", &c.hour, &c.minute, &n) != 2) return false;
  if (n != static_cast<int>(time.size())) return false;
  if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour < 0 || c.hour > 23 || c.minute < 0 ||
      c.minute > 59 || c.second < 0 || c.second > 59) {
    return false;
  }
  *out = foundation::Calendar::dateFromLocalComponents(c).timeIntervalSince1970;
  return true;
}

std::string quoted(const std::optional<std::string>& s) {
  return s ? foundation::jsonSerialize(foundation::Value(*s)) : "null";
}

const char* kHelp =
    "commands: unlock | clock [set YYYY-MM-DD HH:MM[:SS] | advance SECONDS] | launch ID | press ID | "
    "tap card|item|icon ID | alert [tap TITLE] | log | notifications | switcher load | home vc | apps changed | "
    "help | quit (an ID or TITLE is the rest of the line; a blank or # line gets an empty answer)";

}  // namespace

std::string Driver::help() { return kHelp; }

bool setManualClock(const std::string& localTime) {
  auto space = localTime.find(' ');
  double t = 0;
  if (space == std::string::npos || !parseLocalTime(localTime.substr(0, space), localTime.substr(space + 1), &t)) {
    return false;
  }
  foundation::Clock::isManual() ? foundation::Clock::setWall(t) : foundation::Clock::useManual(t);
  return true;
}

std::string Driver::clockLine() const {
  double now = foundation::Clock::now();
  auto c = foundation::Calendar::componentsInLocalTime(foundation::Date{now});
  char buf[96];
  std::snprintf(buf, sizeof buf, "clock %04d-%02d-%02d %02d:%02d:%02d %s", c.year, c.month, c.day, c.hour, c.minute,
                c.second, foundation::Clock::isManual() ? "manual" : "system");
  return buf;
}

std::string Driver::alertLine() const {
  std::string window = "absent";
  for (const auto& w : uikit::Window::allWindows()) {
    if (w->windowLevel() == 666666.0) window = w->isHidden() ? "hidden" : "visible";
  }
  auto alert = uikit::AlertController::visibleAlert();
  if (!alert) return "alert none window=" + window;
  std::string actions;
  for (const auto& a : alert->actions()) actions += (actions.empty() ? "" : ",") + a->title().value_or("");
  std::string style = alert->preferredStyle() == uikit::AlertControllerStyle::Alert ? "alert" : "action-sheet";
  return "alert style=" + style + " title=" + quoted(alert->alertTitle()) + " message=" + quoted(alert->message()) +
         " actions=" + quoted(actions) + " window=" + window;
}

std::string Driver::tap(const std::string& where, const std::string& id) {
  struct Kind {
    const char* word;
    const char* cls;
    const char* what;
    void (springboard::HomeScreen::*tap)(const std::string&);
  } kinds[] = {
      {"card", "SBDeckSwitcherItemContainer", "card switcher", &springboard::HomeScreen::tapCardSwitcher},
      {"item", "SBAppSwitcherController", "older switcher", &springboard::HomeScreen::tapSwitcherItem},
      {"icon", "SBAppSwitcherIconController", "older switcher icons", &springboard::HomeScreen::tapSwitcherIcon},
  };
  for (const auto& k : kinds) {
    if (where != k.word) continue;
    if (!home_.hasClass(k.cls)) return std::string("error: this home screen has no ") + k.what;
    if (!home_.app(id)) return "error: no app " + id;
    auto before = home_.openCount(id);
    (home_.*k.tap)(id);
    return (home_.openCount(id) > before ? "opened " : "swallowed ") + id;
  }
  return "error: tap card|item|icon ID";
}

std::string Driver::execute(const std::string& input, bool* quit) {
  WV_DCHECK_MAIN_THREAD();
  // Every line gets an answer, so a driver reading one line per line it writes stays in
  // step: a blank line or a comment gets an empty one.
  std::string line = trim(input);
  if (line.empty() || line[0] == '#') return "";
  auto w = words(line);
  const auto& cmd = w[0];
  auto rest = splitFirstWord(line).second;
  auto arg = [&](std::size_t i) { return i < w.size() ? w[i] : std::string(); };

  if (cmd == "help" && w.size() == 1) return kHelp;
  if (cmd == "quit" && w.size() == 1) {
    if (quit) *quit = true;
    return "bye";
  }
  if (cmd == "unlock" && w.size() == 1) {
    home_.finishUnlock();
    return "unlocked";
  }
  if (cmd == "clock") {
    if (w.size() == 1) return clockLine();
    if (arg(1) == "set" && w.size() == 4) {
      if (!setManualClock(w[2] + " " + w[3])) return "error: clock set YYYY-MM-DD HH:MM[:SS]";
      return clockLine();
    }
    if (arg(1) == "advance" && w.size() == 3) {
      char* end = nullptr;
      double s = std::strtod(w[2].c_str(), &end);
      if (!end || *end || !(s > 0) || !std::isfinite(s)) return "error: clock advance SECONDS (> 0)";
      if (!foundation::Clock::isManual()) foundation::Clock::useManual(foundation::Clock::now());
      foundation::Clock::advance(s);
      return clockLine();
    }
    return "error: clock [set YYYY-MM-DD HH:MM[:SS] | advance SECONDS]";
  }
  if ((cmd == "launch" || cmd == "press") && !rest.empty()) {
    const auto& id = rest;
    if (!home_.app(id)) return "error: no app " + id;
    if (cmd == "press") return (home_.pressIcon(id) ? "darkened " : "not darkened ") + id;
    auto before = home_.openCount(id);
    home_.launchFromIcon(id);
    return (home_.openCount(id) > before ? "opened " : "refused ") + id;
  }
  if (cmd == "tap" && w.size() >= 3) {
    auto [where, id] = splitFirstWord(rest);
    return tap(where, id);
  }
  if (cmd == "alert") {
    if (w.size() == 1) return alertLine();
    auto [tapWord, title] = splitFirstWord(rest);
    if (tapWord == "tap" && !title.empty()) {
      auto alert = uikit::AlertController::visibleAlert();
      if (!alert) return "error: no alert";
      if (!alert->chooseActionWithTitle(title)) return "error: no action " + quoted(title);
      return "tapped " + quoted(title) + "; " + alertLine();
    }
    return "error: alert [tap TITLE]";
  }
  if (cmd == "log" && w.size() == 1) {
    foundation::Array lines;
    for (const auto& l : corefoundation::loggedLines()) lines.emplace_back(l.text);
    return "log " + foundation::jsonSerialize(foundation::Value(std::move(lines)));
  }
  if (cmd == "notifications" && w.size() == 1) {
    return "notifications " +
           std::to_string(ipc::DarwinNotifyCenter::shared().deliveredCount(wardvane::kSettingsChangedNotification));
  }
  auto phrase = w.size() == 2 ? w[0] + " " + w[1] : std::string();
  if (phrase == "switcher load") {
    home_.loadSwitcherView();
    return home_.events().back() == "switcher view loaded" ? "switcher view loaded" : "switcher view not loaded";
  }
  if (phrase == "home vc") {
    return home_.homeScreenViewController() ? "home screen view controller" : "no home screen view controller";
  }
  if (phrase == "apps changed") {
    auto before = home_.events().size();
    home_.installedAppsDidChange();
    return home_.events().size() > before ? "installed apps changed" : "installed apps change not seen";
  }
  return "error: unknown command (try help)";
}

}  // namespace homescreen
