#include "settings-app/driver.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <functional>
#include <utility>
#include <map>
#include <sstream>
#include <vector>

#include "platform/dispatch/run_loop.h"
#include "platform/dispatch/thread_checks.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/clock.h"
#include "platform/localauthentication/la_context.h"
#include "platform/uikit/alert_controller.h"
#include "platform/uikit/application.h"
#include "platform/uikit/table_view.h"
#include "settings-app/app_delegate.h"
#include "settings-app/bc_navigation_controller.h"

namespace wardvane::app {

using namespace uikit;
namespace la = localauthentication;

namespace {

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\n') out += "\\n";
    else if (c == '"' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  return out + "\"";
}

std::string rgb(const std::optional<Color>& c) {
  if (!c) return "none";
  return std::to_string(c->red255()) + "," + std::to_string(c->green255()) + "," + std::to_string(c->blue255());
}

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

template <class T>
std::shared_ptr<T> findView(const std::shared_ptr<View>& root) {
  if (!root) return nullptr;
  if (auto t = std::dynamic_pointer_cast<T>(root)) return t;
  for (auto& sub : root->subviews())
    if (auto t = findView<T>(sub)) return t;
  return nullptr;
}

void collectLabels(const std::shared_ptr<View>& v, std::vector<std::shared_ptr<Label>>& out) {
  if (auto l = std::dynamic_pointer_cast<Label>(v)) out.push_back(l);
  for (auto& sub : v->subviews()) collectLabels(sub, out);
}

// Parses "HH:MM", "+M" or "-M" (minutes from now) into today's date at that minute.
std::optional<foundation::Date> parseTime(const std::string& text) {
  double now = foundation::Clock::now();
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    char* end = nullptr;
    long minutes = std::strtol(text.c_str(), &end, 10);
    if (!end || *end) return std::nullopt;
    auto c = foundation::Calendar::componentsInLocalTime({now + 60.0 * double(minutes)});
    c.second = 0;
    return foundation::Calendar::dateFromLocalComponents(c);
  }
  int h = -1, m = -1;
  char extra;
  if (std::sscanf(text.c_str(), "%d:%d%c", &h, &m, &extra) != 2 || h < 0 || h > 23 || m < 0 || m > 59)
    return std::nullopt;
  auto c = foundation::Calendar::componentsInLocalTime({now});
  c.hour = h;
  c.minute = m;
  c.second = 0;
  return foundation::Calendar::dateFromLocalComponents(c);
}

}  // namespace

struct TextDriver::Impl {
  int out;
  bool echo;
  int in = -1;
  dispatch::RunLoop::Id source = 0;
  std::string pending;
  bool busy = false;
  bool quitting = false;

  std::shared_ptr<AppDelegate> app() { return AppDelegate::shared(); }

  std::shared_ptr<BCNavigationController> nav() {
    auto a = app();
    return a ? a->navigationController : nullptr;
  }

  // Lets replies of other threads reach the main queue, then lays the windows out, as
  // the screen would before the next touch.
  void settle() {
    la::Reader::waitUntilIdle();
    dispatch::RunLoop::main().drain();
    for (auto& w : Window::visibleWindows()) w->layoutIfNeeded();
  }

  std::shared_ptr<TableView> visibleTable() {
    auto n = nav();
    if (!n) return nullptr;
    auto tvc = std::dynamic_pointer_cast<TableViewController>(n->topViewController());
    return tvc ? tvc->tableView() : nullptr;
  }

  // Whether a finger at the middle of `v` touches `v` (or something inside it).
  static bool reachable(const std::shared_ptr<View>& v) {
    if (!v || !v->window()) return false;
    Rect b = v->bounds();
    Point p = v->convertPointToView({b.midX(), b.midY()}, nullptr);
    auto hit = Window::hitTestScreen(p);
    return hit && hit->isDescendantOfView(v.get());
  }

  // Under the fingerprint cover the whole screen is out of a finger's reach: every touch
  // answers so, whether or not there would be something under the finger.
  bool locked() {
    auto n = nav();
    return n && n->isCovered();
  }
  static constexpr const char* kLocked = "error: the screen is locked";

  std::string blocked() {
    if (locked()) return kLocked;
    if (AlertController::visibleAlert()) return "error: an alert is up";
    return "error: out of reach";
  }

  std::string dumpScreen() {
    std::ostringstream s;
    s << "=== screen\n";
    auto n = nav();
    if (n) {
      auto top = n->topViewController();
      auto item = top ? top->navigationItem() : nullptr;
      s << "title " << quoted(item ? item->title() : "") << "\n";
      if (auto back = n->backButtonTitle()) s << "back " << quoted(*back) << "\n";
      if (item && item->leftBarButtonItem()) s << "left " << quoted(item->leftBarButtonItem()->title()) << "\n";
      if (item && item->rightBarButtonItem()) s << "right " << quoted(item->rightBarButtonItem()->title()) << "\n";
      if (auto table = visibleTable()) {
        for (auto ip : table->indexPathsForVisibleRows()) {
          auto cell = table->cellForRowAtIndexPath(ip);
          s << "row " << ip.row;
          std::vector<std::shared_ptr<Label>> labels;
          if (!cell->textLabel()->text().empty()) labels.push_back(cell->textLabel());
          if (cell->detailTextLabel() && !cell->detailTextLabel()->text().empty())
            labels.push_back(cell->detailTextLabel());
          std::vector<std::shared_ptr<Label>> inside;
          collectLabels(cell->contentView(), inside);
          for (auto& l : inside)
            if (l != cell->textLabel() && l != cell->detailTextLabel()) labels.push_back(l);
          for (auto& l : labels) s << " " << quoted(l->text());
          if (auto sw = std::dynamic_pointer_cast<Switch>(cell->accessoryView()))
            s << " switch=" << (sw->isOn() ? "on" : "off") << (sw->isEnabled() ? " enabled" : " disabled");
          if (cell->accessoryType() == TableViewCellAccessoryType::DisclosureIndicator) s << " >";
          if (auto icon = findView<ImageView>(cell->contentView()); icon && icon->image()) s << " icon";
          s << "\n";
        }
      }
    }
    if (auto alert = AlertController::visibleAlert()) {
      s << "alert style=" << (alert->preferredStyle() == AlertControllerStyle::Alert ? "alert" : "action-sheet")
        << " title=" << (alert->alertTitle() ? quoted(*alert->alertTitle()) : "none")
        << " message=" << (alert->message() ? quoted(*alert->message()) : "none") << "\n";
      if (auto picker = findView<DatePicker>(alert->view())) {
        auto c = foundation::Calendar::componentsInLocalTime(picker->date());
        char buf[16];
        std::snprintf(buf, sizeof buf, "%02d:%02d", c.hour, c.minute);
        s << "picker " << buf << "\n";
      }
      for (auto& a : alert->actions()) s << "action " << quoted(a->title().value_or("")) << "\n";
    }
    if (n && n->isCovered()) s << "locked\n";
    s << "=== end";
    return s.str();
  }

  std::string theme() {
    auto a = app();
    auto n = nav();
    if (!a || !n) return "error: not launched";
    auto bar = n->navigationBar();
    std::ostringstream s;
    s << "ok theme " << quoted(a->themeName()) << " bar=" << rgb(bar->barTintColor()) << " tint=" << rgb(bar->tintColor())
      << " title=" << rgb(bar->titleTextColor());
    if (auto table = visibleTable()) {
      s << " background=" << rgb(table->backgroundColor()) << " separator=" << rgb(table->separatorColor());
      auto cells = table->visibleCells();
      if (!cells.empty()) {
        s << " cell=" << rgb(cells[0]->backgroundColor());
        std::vector<std::shared_ptr<Label>> labels;
        collectLabels(cells[0], labels);
        if (!labels.empty()) s << " text=" << rgb(labels[0]->textColor());
      }
    }
    return s.str();
  }

  std::string tapRow(const std::string& arg) {
    auto table = visibleTable();
    char* end = nullptr;
    long row = std::strtol(arg.c_str(), &end, 10);
    if (arg.empty() || *end) return "error: usage: tap <row>";
    if (locked()) return kLocked;
    if (!table) return "error: no table on screen";
    auto cell = table->cellForRowAtIndexPath({0, row});
    if (!cell) return "error: no row " + arg;
    scrollTo(table, row);
    if (!reachable(cell)) return blocked();
    table->userSelectRowAtIndexPath({0, row});
    return "ok";
  }

  static void scrollTo(const std::shared_ptr<TableView>& table, long row) {
    Rect r = table->rectForRowAtIndexPath({0, row});
    Rect visible = table->bounds();
    if (r.minY() < visible.minY() || r.maxY() > visible.maxY())
      table->setContentOffset({0, std::max(0.0, std::min(r.minY(), table->contentSize().height - visible.height()))});
  }

  std::string flipSwitch(const std::string& args) {
    std::istringstream in(args);
    long row = -1;
    std::string want;
    if (!(in >> row)) return "error: usage: switch <row> [on|off]";
    in >> want;
    if (!want.empty() && want != "on" && want != "off") return "error: usage: switch <row> [on|off]";
    if (locked()) return kLocked;
    auto table = visibleTable();
    auto cell = table ? table->cellForRowAtIndexPath({0, row}) : nullptr;
    auto sw = cell ? std::dynamic_pointer_cast<Switch>(cell->accessoryView()) : nullptr;
    if (!sw) return "error: no switch in row " + std::to_string(row);
    if (!want.empty() && sw->isOn() == (want == "on")) return std::string("ok already ") + want;
    scrollTo(table, row);
    if (!reachable(sw)) return blocked();
    if (!sw->userToggle()) return "error: the switch is disabled";
    return std::string("ok ") + (sw->isOn() ? "on" : "off");
  }

  std::string barButton(const std::string& title) {
    auto n = nav();
    auto top = n ? n->topViewController() : nullptr;
    if (!top) return "error: not launched";
    if (locked()) return kLocked;
    auto item = top->navigationItem();
    std::shared_ptr<BarButtonItem> button;
    for (auto& b : {item->leftBarButtonItem(), item->rightBarButtonItem()})
      if (b && b->title() == title) button = b;
    if (!button) return "error: no button " + quoted(title);
    if (!reachable(n->navigationBar())) return blocked();
    button->tap();
    return "ok";
  }

  std::string back() {
    auto n = nav();
    if (locked()) return kLocked;
    if (!n || !n->backButtonTitle()) return "error: nothing to go back to";
    if (!reachable(n->navigationBar())) return blocked();
    n->goBack();
    return "ok";
  }

  std::string choose(const std::string& title) {
    if (locked()) return kLocked;
    auto alert = AlertController::visibleAlert();
    if (!alert) return "error: no alert";
    if (!alert->chooseActionWithTitle(title)) return "error: no action " + quoted(title);
    return "ok";
  }

  std::string picker(const std::string& arg) {
    auto date = parseTime(arg);
    if (!date) return "error: usage: picker <HH:MM|+minutes|-minutes>";
    if (locked()) return kLocked;
    auto alert = AlertController::visibleAlert();
    auto p = alert ? findView<DatePicker>(alert->view()) : nullptr;
    if (!p) return "error: no picker is up";
    if (!p->userSetDate(*date)) return "error: the picker is out of reach";
    auto c = foundation::Calendar::componentsInLocalTime(p->date());
    char buf[16];
    std::snprintf(buf, sizeof buf, "ok %02d:%02d", c.hour, c.minute);
    return buf;
  }

  std::string touchid(const std::string& args) {
    std::istringstream in(args);
    std::string what, value;
    in >> what >> value;
    auto c = la::Reader::configuration();
    if (what == "available" || what == "unavailable") c.available = what == "available";
    else if (what == "can" || what == "cannot") c.canEvaluate = what == "can";
    else if (what == "outcome" && la::Reader::outcomeNamed(value)) c.outcome = *la::Reader::outcomeNamed(value);
    else if (what == "answer" && la::Reader::outcomeNamed(value))
      return "ok answered " + std::to_string(la::Reader::answerPending(*la::Reader::outcomeNamed(value)));
    else if (what == "prompts") return "ok " + std::to_string(la::Reader::prompts());
    else return "error: usage: touchid available|unavailable|can|cannot|outcome <o>|answer <o>|prompts";
    la::Reader::configure(c);
    return "ok";
  }

  std::string run(const std::string& line) {
    std::string cmd = trim(line);
    if (cmd.empty() || cmd[0] == '#') return "";
    auto space = cmd.find(' ');
    std::string verb = cmd.substr(0, space);
    std::string rest = space == std::string::npos ? "" : trim(cmd.substr(space + 1));
    auto application = Application::sharedApplication();
    if (verb == "screen") return dumpScreen();
    if (verb == "theme") return theme();
    if (verb == "tap") return tapRow(rest);
    if (verb == "switch") return flipSwitch(rest);
    if (verb == "button") return barButton(rest);
    if (verb == "back") return back();
    if (verb == "choose") return choose(rest);
    if (verb == "picker") return picker(rest);
    if (verb == "touchid") return touchid(rest);
    if (verb == "background") {
      if (application->applicationState() != ApplicationState::Active) return "error: not in the foreground";
      application->enterBackground();
      return "ok";
    }
    if (verb == "foreground") {
      if (application->applicationState() != ApplicationState::Background) return "error: not in the background";
      application->enterForeground();
      return "ok";
    }
    if (verb == "now") {
      auto c = foundation::Calendar::componentsInLocalTime({foundation::Clock::now()});
      char buf[16];
      std::snprintf(buf, sizeof buf, "ok %02d:%02d", c.hour, c.minute);
      return buf;
    }
    if (verb == "sync") return "ok";
    if (verb == "quit") {
      quitting = true;
      application->terminate();
      return "ok";
    }
    if (verb == "help")
      return "ok commands: screen, theme, tap <row>, switch <row> [on|off], button <title>, back, "
             "choose <action>, picker <HH:MM|+min|-min>, background, foreground, "
             "touchid available|unavailable|can|cannot|outcome <o>|answer <o>|prompts, now, sync, quit";
    return "error: unknown command " + quoted(verb) + " (try help)";
  }

  void write(const std::string& text) {
    std::string s = text + "\n";
    const char* p = s.data();
    std::size_t left = s.size();
    while (left > 0) {
      ssize_t n = ::write(out, p, left);
      if (n <= 0) return;
      p += n;
      left -= std::size_t(n);
    }
  }

  void onReadable() {
    // Settling between commands runs the loop, which may call here again: the commands
    // already read must run first, in order.
    if (busy) return;
    busy = true;
    auto& loop = dispatch::RunLoop::main();
    loop.removeFileDescriptorSource(source);
    source = 0;
    bool more = readAvailable();
    if (more) source = loop.addFileDescriptorSource(in, [this] { onReadable(); });
    busy = false;
  }

  // Runs the complete lines that can be read now; answers false at the end of the input.
  bool readAvailable() {
    char buf[4096];
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n > 0) {
      pending.append(buf, std::size_t(n));
      std::size_t pos;
      while ((pos = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, pos);
        pending.erase(0, pos + 1);
        handle(line);
        if (quitting) return false;
      }
      return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    // End of the commands: the last unfinished line, then the application ends.
    if (!pending.empty()) handle(std::exchange(pending, ""));
    if (!quitting) Application::sharedApplication()->terminate();
    return false;
  }

  // Every line read gets one answer line, an empty one for a blank line or a comment, so
  // a driver reading one line per line it writes never gets out of step.
  std::string handle(const std::string& line) {
    WV_DCHECK_MAIN_THREAD();
    if (echo && !trim(line).empty()) write("> " + trim(line));
    settle();
    std::string answer = run(line);
    settle();
    write(answer);
    return answer;
  }
};

TextDriver::TextDriver(int out, bool echo) : impl_(std::make_unique<Impl>()) {
  impl_->out = out;
  impl_->echo = echo;
}

TextDriver::~TextDriver() {
  if (impl_->source) dispatch::RunLoop::main().removeFileDescriptorSource(impl_->source);
}

void TextDriver::attach(int fd) {
  impl_->in = fd;
  impl_->source = dispatch::RunLoop::main().addFileDescriptorSource(fd, [this] { impl_->onReadable(); });
}

std::string TextDriver::execute(const std::string& line) { return impl_->handle(line); }

}  // namespace wardvane::app
