#pragma once
// A launched WardvaneApp inside the test process: a temporary device root, a stand-in
// home screen serving the app list on a thread of its own, and helpers to read the
// settings file and count change notifications.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "hooklib/shared/settings_file.h"
#include "hooklib/shared/string_table.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/calendar.h"
#include "platform/foundation/property_list.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/notify_center.h"
#include "platform/localauthentication/la_context.h"
#include "platform/uikit/alert_controller.h"
#include "platform/uikit/application.h"
#include "settings-app/app_delegate.h"
#include "settings-app/bc_navigation_controller.h"
#include "settings-app/root_view_controller.h"

namespace wardvane::app::testing {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

inline Dictionary entry(const std::string& name, const std::string& id, double modified = 0, int usage = 0) {
  return Dictionary{{"displayName", name}, {"bundleIdentifier", id}, {"modificationDate", modified},
                    {"dataUsage", usage}};
}

// Serves "getAppListInformation" as the hook library does, from a list the test sets.
class FakeHomeScreen {
 public:
  explicit FakeHomeScreen(Array apps) : apps_(std::move(apps)) {
    thread_ = std::thread([this] { serve(); });
    std::unique_lock lock(mu_);
    cv_.wait(lock, [&] { return loop_ != nullptr; });
  }
  ~FakeHomeScreen() {
    stopping_ = true;
    loop_.load()->wakeUp();
    thread_.join();
    // A thread's loop is kept for the life of the process; this one's thread has ended,
    // and only now has nobody a use for it (the wake-up above reached into it).
    delete loop_.load();
  }
  void setApps(Array apps) {
    std::lock_guard lock(mu_);
    apps_ = std::move(apps);
  }
  std::vector<bool> requests() {
    std::lock_guard lock(mu_);
    return requests_;
  }

 private:
  void serve() {
    auto center = ipc::DistributedMessagingCenter::centerNamed(*getApplicationStringWithID(kMessagingCenterNameString));
    ipc::rocketbootstrap_distributedmessagingcenter_apply(center);
    center->runServerOnCurrentThread();
    center->registerForMessageName(kGetAppListInformationMessage,
                                   [this](const std::string&, const Dictionary& info) -> std::optional<Dictionary> {
                                     std::lock_guard lock(mu_);
                                     requests_.push_back(foundation::boolForKey(info, kShowHiddenKey).value_or(false));
                                     return Dictionary{{kApplicationsArrayKey, apps_}};
                                   });
    {
      std::lock_guard lock(mu_);
      loop_ = &dispatch::RunLoop::current();
    }
    cv_.notify_all();
    // A flag rather than the loop's stop(), which a run() that has not begun yet would miss.
    while (!stopping_) loop_.load()->runOnce(3600);
    center->stopServer();
    center.reset();
  }

  std::mutex mu_;
  std::condition_variable cv_;
  Array apps_;
  std::vector<bool> requests_;
  std::atomic<dispatch::RunLoop*> loop_{nullptr};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Short, as the sockets under it must fit a socket address; numbered, so no test
    // of a run meets the files of another.
    static int serial = 0;
    root_ = std::filesystem::temp_directory_path() /
            ("wv-app-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    ::setenv("WARDVANE_DEVICE_ROOT", root_.c_str(), 1);
    foundation::Calendar::setLocalTimeZone("UTC");
    localauthentication::Reader::configure({});
    app = std::make_shared<AppDelegate>();
    uikit::Application::sharedApplication()->setDelegate(app);
    observer_ = ipc::DarwinNotifyCenter::shared().addObserver(kSettingsChangedNotification,
                                                             [this](const std::string&) { ++notifications_; });
  }

  void TearDown() override {
    settle();
    ipc::DarwinNotifyCenter::shared().removeObserver(observer_);
    if (app->window) app->window->setHidden(true);
    uikit::Application::sharedApplication()->setDelegate(nullptr);
    localauthentication::Reader::configure({});
    std::filesystem::remove_all(root_);
    ::unsetenv("WARDVANE_DEVICE_ROOT");
  }

  void launch() {
    app->applicationDidFinishLaunching(uikit::Application::sharedApplication());
    settle();
  }

  // Lets replies of other threads reach the main queue and lays the screen out.
  void settle() {
    localauthentication::Reader::waitUntilIdle();
    dispatch::RunLoop::main().drain();
    for (auto& w : uikit::Window::visibleWindows()) w->layoutIfNeeded();
  }

  // Waits (a bounded real time) until `count` notifications have arrived.
  bool notified(int count) {
    return dispatch::RunLoop::main().runUntil([&] { return notifications_ >= count; }, 2.0);
  }
  int notifications() const { return notifications_; }

  std::shared_ptr<uikit::TableView> visibleTable() {
    auto top = app->navigationController->topViewController();
    auto tvc = std::dynamic_pointer_cast<uikit::TableViewController>(top);
    return tvc ? tvc->tableView() : nullptr;
  }

  // The texts of each visible row, joined with "|".
  std::vector<std::string> rows() {
    std::vector<std::string> out;
    auto table = visibleTable();
    for (auto& cell : table->visibleCells()) {
      std::string text = cell->textLabel()->text();
      if (cell->detailTextLabel() && !cell->detailTextLabel()->text().empty())
        text += "|" + cell->detailTextLabel()->text();
      for (auto& v : cell->contentView()->subviews())
        if (auto l = std::dynamic_pointer_cast<uikit::Label>(v); l && l != cell->textLabel() &&
                                                                  l != cell->detailTextLabel())
          text += (text.empty() ? "" : "|") + l->text();
      out.push_back(text);
    }
    return out;
  }

  std::shared_ptr<uikit::Switch> switchInRow(long row) {
    auto cell = visibleTable()->cellForRowAtIndexPath({0, row});
    return cell ? std::dynamic_pointer_cast<uikit::Switch>(cell->accessoryView()) : nullptr;
  }

  void tapRow(long row) {
    ASSERT_TRUE(visibleTable()->userSelectRowAtIndexPath({0, row})) << "row " << row;
    settle();
  }

  void choose(const std::string& action) {
    auto alert = uikit::AlertController::visibleAlert();
    ASSERT_TRUE(alert) << "no alert for " << action;
    ASSERT_TRUE(alert->chooseActionWithTitle(action)) << action;
    settle();
  }

  std::optional<Dictionary> settingsFile() { return readSettingsFile(*settingsFilePath()); }
  void writeSettingsFile(const Dictionary& d) { foundation::writePropertyListFile(*settingsFilePath(), Value(d)); }

  std::shared_ptr<AppDelegate> app;

 private:
  std::filesystem::path root_;
  int observer_ = 0;
  int notifications_ = 0;
};

// "HH:MM" of a date in local time.
inline std::string hhmm(foundation::Date d) {
  auto c = foundation::Calendar::componentsInLocalTime(d);
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d:%02d", c.hour, c.minute);
  return buf;
}

}  // namespace wardvane::app::testing
