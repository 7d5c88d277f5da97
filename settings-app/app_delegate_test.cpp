#include "settings-app/app_delegate.h"

#include <sys/stat.h>

#include "settings-app/app_test_support.h"
#include "settings-app/detail_controller.h"
#include "settings-app/settings_controller.h"

namespace wardvane::app::testing {
namespace {

std::vector<std::string> names(const Dictionary& sorted) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    auto it = sorted.find(std::to_string(i));
    auto d = it->second.asDictionary();
    auto n = d->find("displayName");
    out.push_back(n != d->end() && n->second.asString() ? *n->second.asString() : "?");
  }
  return out;
}

TEST(SortApplications, OrdersAreStableAndToleratesEntriesOfTheWrongType) {
  AppDelegate app;
  Dictionary wrongName = entry("", "com.example.x", 5, 5);
  wrongName["displayName"] = 42;  // not a string: no name
  Dictionary noNumbers{{"displayName", "zeta"}, {"bundleIdentifier", "com.example.zeta"}};
  app.appListInformation = Dictionary{{"applicationsArray",
                                       Array{entry("beta", "b", 30, 100), entry("Alpha", "a", 10, 300),
                                             entry("alpha", "a2", 30, 100), Value("not an entry"),
                                             entry("Gamma", "g", 20, 200), wrongName, noNumbers}}};
  struct Case {
    std::int32_t type;
    std::vector<std::string> order;
  } cases[] = {
      // Names differing only in case compare equal and keep the reply's order.
      {0, {"?", "Alpha", "alpha", "beta", "Gamma", "zeta"}},
      {1, {"beta", "alpha", "Gamma", "Alpha", "?", "zeta"}},
      {2, {"Alpha", "Gamma", "beta", "alpha", "?", "zeta"}},
      {7, {"Alpha", "Gamma", "beta", "alpha", "?", "zeta"}},  // any other type: data usage
  };
  for (auto& c : cases) EXPECT_EQ(names(app.sortApplications(c.type)), c.order) << "sort type " << c.type;

  app.appListInformation.reset();
  EXPECT_TRUE(app.sortApplications(0).empty());
  app.appListInformation = Dictionary{{"applicationsArray", "not an array"}};
  EXPECT_TRUE(app.sortApplications(0).empty());
}

TEST(Themes, AccessorsFollowTheThemeAndFallBackToLight) {
  AppDelegate app;
  app.colorThemes = initializeThemes();
  ASSERT_EQ(app.colorThemes.size(), 2u);
  EXPECT_EQ(app.colorThemes[0]->themeName, "Light");
  EXPECT_EQ(app.colorThemes[1]->themeName, "Dark");
  app.uiTheme = 1;
  EXPECT_EQ(app.tableViewBackgroundColor().description(), "24,24,24,255");
  EXPECT_EQ(app.navigationBarColor().description(), "36,36,36,255");
  EXPECT_EQ(app.navigationBarTintColor().description(), "36,194,103,255");
  EXPECT_EQ(app.tableViewTextColor().description(), "170,170,170,255");
  EXPECT_EQ(app.tableViewSeparatorColor().description(), "16,16,16,255");
  EXPECT_EQ(app.colorThemes[1]->navigationBarBackgroundColor.red, double(36.0f / 255.0f));
  for (std::int32_t outside : {-1, 2, 7}) {
    app.uiTheme = outside;
    EXPECT_EQ(app.themeName(), "Light");
    EXPECT_EQ(app.tableViewCellColor().description(), "237,237,237,255");
    EXPECT_EQ(app.navigationBarColor().description(), "36,194,103,255");
  }
}

TEST_F(AppTest, FirstLaunchShowsDefaultsAndTheFirstChangeWritesEveryKey) {
  launch();  // no settings file, no home screen
  EXPECT_TRUE(app->isEnabled);
  EXPECT_TRUE(app->showAlerts);
  EXPECT_FALSE(app->useTouchID);
  EXPECT_FALSE(app->showHiddenApps);
  EXPECT_EQ(app->sortType, 0);
  EXPECT_EQ(app->uiTheme, 0);
  EXPECT_FALSE(app->appListInformation);
  EXPECT_TRUE(rows().empty());
  EXPECT_EQ(app->navigationController->topViewController()->title(), "Wardvane");
  EXPECT_FALSE(settingsFile());

  auto sortButton = app->rootViewController->navigationItem()->leftBarButtonItem();
  ASSERT_TRUE(sortButton);
  EXPECT_EQ(sortButton->title(), "Sort");
  EXPECT_EQ(app->rootViewController->navigationItem()->rightBarButtonItem()->title(), "Settings");
  sortButton->tap();
  auto alert = uikit::AlertController::visibleAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->alertTitle(), "Choose Sorting Type");
  EXPECT_EQ(alert->message(), "Select how you wish your apps to be sorted by.");
  ASSERT_EQ(alert->actions().size(), 3u);
  EXPECT_EQ(alert->actions()[0]->title(), "Display Name");
  EXPECT_EQ(alert->actions()[1]->title(), "Date Modified");
  EXPECT_EQ(alert->actions()[2]->title(), "Data Usage");
  EXPECT_EQ(alert->popoverPresentationController()->sourceView(), sortButton->view());
  choose("Date Modified");

  auto file = settingsFile();
  ASSERT_TRUE(file);
  EXPECT_EQ(*file, (Dictionary{{"isEnabled", true}, {"showAlerts", true}, {"showHiddenApps", false},
                               {"useTouchID", false}, {"uiTheme", 0}, {"sortType", 1},
                               {"wardvaneions", Dictionary{}}}));
  EXPECT_TRUE(notified(1));
  // Only this user may read or change the settings.
  struct stat st{};
  ASSERT_EQ(::stat(settingsFilePath()->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(std::filesystem::path(*settingsFilePath()).parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(AppTest, ListShowsTheAppsAndTheDetailScreenSavesWholeRecords) {
  FakeHomeScreen home({entry("Notes", "com.example.notes"), entry("calendar", "com.example.calendar")});
  launch();
  EXPECT_EQ(rows(), (std::vector<std::string>{"calendar|com.example.calendar", "Notes|com.example.notes"}));
  EXPECT_EQ(home.requests().size(), 1u);

  tapRow(1);
  auto detail = std::dynamic_pointer_cast<DetailController>(app->navigationController->topViewController());
  ASSERT_TRUE(detail);
  EXPECT_EQ(detail->title(), "Notes");
  EXPECT_EQ(rows(), (std::vector<std::string>{"Enable Restrictions", "Start Time|09:00", "End Time|17:00"}));
  ASSERT_TRUE(switchInRow(0));
  EXPECT_FALSE(switchInRow(0)->isOn());
  EXPECT_FALSE(settingsFile());  // nothing written until something changes

  // Turning the switch on without touching the times stores 09:00 to 17:00.
  ASSERT_TRUE(switchInRow(0)->userToggle());
  auto record = restrictionRecord(settingsFile()->at("wardvaneions").asDictionary()->at("com.example.notes"));
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->enableRestrictions);
  EXPECT_EQ(hhmm(*record->startTime), "09:00");
  EXPECT_EQ(hhmm(*record->endTime), "17:00");
  EXPECT_EQ(record->displayName, "Notes");
  EXPECT_EQ(foundation::Calendar::componentsInLocalTime(*record->startTime).second, 0);

  // A picker in an alert edits the start; every change is saved at once.
  tapRow(1);
  auto alert = uikit::AlertController::visibleAlert();
  ASSERT_TRUE(alert);
  EXPECT_FALSE(alert->alertTitle());
  EXPECT_EQ(alert->message(), "\n\n\n\n\n\n\n\n\n\n");
  ASSERT_EQ(alert->actions().size(), 1u);
  EXPECT_EQ(alert->actions()[0]->title(), "Ok");
  auto picker = DetailController::startTimePicker();
  ASSERT_TRUE(picker->isDescendantOfView(alert->view().get()));
  EXPECT_EQ(picker->datePickerMode(), uikit::DatePickerMode::Time);
  auto today = foundation::Calendar::componentsInLocalTime(picker->date());
  today.hour = 22;
  today.minute = 30;
  ASSERT_TRUE(picker->userSetDate(foundation::Calendar::dateFromLocalComponents(today)));
  record = restrictionRecord(settingsFile()->at("wardvaneions").asDictionary()->at("com.example.notes"));
  EXPECT_EQ(hhmm(*record->startTime), "22:30");
  EXPECT_TRUE(record->enableRestrictions);
  int before = notifications();
  choose("Ok");
  EXPECT_EQ(rows(), (std::vector<std::string>{"Enable Restrictions", "Start Time|22:30", "End Time|17:00"}));
  EXPECT_TRUE(switchInRow(0)->isOn());
  EXPECT_TRUE(notified(before + 1));

  // "Ok" stores the record even when the picker was not moved.
  tapRow(2);
  choose("Ok");
  record = restrictionRecord(settingsFile()->at("wardvaneions").asDictionary()->at("com.example.notes"));
  EXPECT_EQ(hhmm(*record->endTime), "17:00");

  // Coming back re-reads the file and asks for the list again.
  ASSERT_TRUE(app->navigationController->goBack());
  settle();
  EXPECT_EQ(home.requests().size(), 2u);
}

TEST_F(AppTest, ReturnToTheForegroundShowsTheNewListSoARowOpensTheAppItShows) {
  FakeHomeScreen home({entry("Notes", "com.example.notes"), entry("Weather", "com.example.weather")});
  launch();
  home.setApps({entry("Notes", "com.example.notes"), entry("Atlas", "com.example.atlas"),
                entry("Weather", "com.example.weather")});
  app->applicationWillEnterForeground(uikit::Application::sharedApplication());
  settle();
  EXPECT_EQ(rows(), (std::vector<std::string>{"Atlas|com.example.atlas", "Notes|com.example.notes",
                                              "Weather|com.example.weather"}));
  tapRow(0);
  EXPECT_EQ(app->navigationController->topViewController()->title(), "Atlas");

  // Off the list screen the new list waits until the screen is shown again.
  home.setApps({entry("Weather", "com.example.weather")});
  app->applicationWillEnterForeground(uikit::Application::sharedApplication());
  settle();
  EXPECT_EQ(rows(), (std::vector<std::string>{"Enable Restrictions", "Start Time|09:00", "End Time|17:00"}));
  ASSERT_TRUE(app->navigationController->goBack());
  settle();
  EXPECT_EQ(rows(), (std::vector<std::string>{"Weather|com.example.weather"}));
}

TEST_F(AppTest, AppsAndRecordsOfTheWrongTypeNeverCrash) {
  Dictionary noId{{"displayName", "Nameless"}, {"iconImage", "not data"}};
  FakeHomeScreen home({Value(7), noId, entry("Notes", "com.example.notes")});
  writeSettingsFile({{"wardvaneions", Dictionary{{"com.example.notes", "not a record"}}}, {"isEnabled", "yes"}});
  launch();
  EXPECT_TRUE(app->isEnabled);  // a string is no Boolean
  EXPECT_EQ(rows(), (std::vector<std::string>{"Nameless|", "Notes|com.example.notes"}));
  tapRow(1);
  EXPECT_EQ(rows(), (std::vector<std::string>{"Enable Restrictions", "Start Time|09:00", "End Time|17:00"}));
  ASSERT_TRUE(app->navigationController->goBack());
  settle();
  tapRow(0);
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(switchInRow(0)->userToggle());  // nowhere to keep it: logged, nothing stored
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("no bundle identifier"), std::string::npos);
  EXPECT_EQ(settingsFile()->at("wardvaneions").asDictionary()->count("com.example.notes"), 1u);
}

TEST_F(AppTest, OutOfRangeThemeShowsLightUntilTheUserPicksOne) {
  writeSettingsFile({{"uiTheme", 7}});
  launch();
  EXPECT_EQ(app->uiTheme, 7);
  EXPECT_EQ(app->themeName(), "Light");
  app->rootViewController->navigationItem()->rightBarButtonItem()->tap();
  settle();
  auto settings = std::dynamic_pointer_cast<SettingsController>(app->navigationController->topViewController());
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->title(), "Settings");
  EXPECT_EQ(rows()[4], "UI Theme:|Light");
  ASSERT_TRUE(switchInRow(2)->userToggle());  // another change keeps the value as read
  EXPECT_EQ(settingsFile()->at("uiTheme"), Value(7));
  EXPECT_EQ(settingsFile()->at("showAlerts"), Value(false));

  tapRow(4);
  auto alert = uikit::AlertController::visibleAlert();
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->alertTitle(), "Choose Theme");
  EXPECT_EQ(alert->message(), "Select the UI theme that you wish to use.");
  ASSERT_EQ(alert->actions().size(), 2u);
  EXPECT_EQ(alert->actions()[0]->title(), "Light");
  EXPECT_EQ(alert->actions()[1]->title(), "Dark");
  choose("Dark");
  EXPECT_EQ(settingsFile()->at("uiTheme"), Value(1));
  // The bar and this screen at once, the list screen when it is shown again.
  auto bar = app->navigationController->navigationBar();
  EXPECT_EQ(bar->barTintColor()->description(), "36,36,36,255");
  EXPECT_EQ(bar->tintColor()->description(), "36,194,103,255");
  EXPECT_EQ(visibleTable()->backgroundColor()->description(), "24,24,24,255");
  EXPECT_EQ(rows()[4], "UI Theme:|Dark");
  EXPECT_EQ(visibleTable()->visibleCells()[0]->textLabel()->textColor()->description(), "170,170,170,255");
  ASSERT_TRUE(app->navigationController->goBack());
  settle();
  EXPECT_EQ(visibleTable()->backgroundColor()->description(), "24,24,24,255");
}

TEST_F(AppTest, SettingsSwitchesSaveAndHiddenAppsChangeTheNextRequest) {
  FakeHomeScreen home({entry("Notes", "com.example.notes")});
  localauthentication::Reader::configure({true, false, localauthentication::Outcome::Success});
  launch();
  app->rootViewController->Settings(nullptr);
  settle();
  EXPECT_EQ(rows(), (std::vector<std::string>{
                        "Enabled|Globally enable or disable Wardvane.",
                        "Show Hidden Apps|Also show the hidden applications on this system.",
                        "Show Alerts|Show an alert when an app is prevented from launching.",
                        "Use TouchID|Lock the Wardvane app with your fingerprint.", "UI Theme:|Light"}));
  EXPECT_FALSE(switchInRow(3)->isEnabled());  // the reader cannot check now
  EXPECT_FALSE(switchInRow(3)->userToggle());

  int before = notifications();
  ASSERT_TRUE(switchInRow(0)->userToggle());  // "Enabled" saves, then saves again with the theme
  EXPECT_EQ(settingsFile()->at("isEnabled"), Value(false));
  EXPECT_TRUE(notified(before + 2));
  ASSERT_TRUE(switchInRow(1)->userToggle());
  EXPECT_EQ(home.requests(), (std::vector<bool>{false}));  // not the current list
  ASSERT_TRUE(app->navigationController->goBack());
  settle();
  EXPECT_EQ(home.requests(), (std::vector<bool>{false, true}));

  // A change made outside shows up as soon as the screen builds its cells again.
  app->rootViewController->Settings(nullptr);
  settle();
  auto file = *settingsFile();
  file["showAlerts"] = false;
  writeSettingsFile(file);
  visibleTable()->reloadData();
  EXPECT_FALSE(switchInRow(2)->isOn());
}

TEST_F(AppTest, AFailedWriteIsLoggedAndStillNotified) {
  launch();
  std::filesystem::create_directories(*settingsFilePath() + "/in-the-way");
  ::testing::internal::CaptureStderr();
  app->saveSettings();
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("could not write the settings file"), std::string::npos);
  EXPECT_TRUE(notified(1));
}

}  // namespace
}  // namespace wardvane::app::testing
