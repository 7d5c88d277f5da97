#include "ads/services/ad_settings_parameters.h"

namespace {

// The once-only lookups of the library's objects.
struct Lookups {
  std::mutex lock;
  std::optional<runtime::Id> tracker;
  std::optional<runtime::Id> screenViewService;
  std::optional<bool> screenViewsAnswerScreenId;
  std::optional<bool> screenViewsAnswerScreenName;
};

Lookups& lookups() {
  static Lookups l;
  return l;
}

// The class's shared instance when the class exists, answers `sharedInstance` and its
// instances answer `selector`.
runtime::Id sharedInstanceOfClassAnswering(std::string_view className, std::string_view selector) {
  auto cls = runtime::objc_getClass(className);
  if (!cls || !cls->instancesRespondToSelector(selector) || !cls->respondsToClassSelector("sharedInstance")) {
    return nullptr;
  }
  try {
    return runtime::msgSendClass<runtime::Id()>(cls, "sharedInstance");
  } catch (const runtime::UnrecognizedSelector&) {
    return nullptr;
  }
}

runtime::Id tracker() {
  auto& l = lookups();
  std::lock_guard lock(l.lock);
  if (!l.tracker) l.tracker = sharedInstanceOfClassAnswering("WJQ", "clientId");
  return *l.tracker;
}

}  // namespace

QMAAdSettingsParameters::QMAAdSettingsParameters()
    : lockQueue_(dispatch::Queue::createSerial("com.quillon.pelmark.ad-settings")) {}

QMAAdSettingsParameters& QMAAdSettingsParameters::sharedInstance() {
  static QMAAdSettingsParameters instance;
  return instance;
}

void QMAAdSettingsParameters::forgetLibraryLookups() {
  auto& l = lookups();
  std::lock_guard lock(l.lock);
  l.tracker.reset();
  l.screenViewService.reset();
  l.screenViewsAnswerScreenId.reset();
  l.screenViewsAnswerScreenName.reset();
}

bool QMAAdSettingsParameters::screenViewsAnswerScreenName() {
  auto& l = lookups();
  std::lock_guard lock(l.lock);
  if (!l.screenViewsAnswerScreenName) {
    auto info = runtime::objc_getClass("WJQScreenViewInfo");
    l.screenViewsAnswerScreenName = info && info->instancesRespondToSelector("screenName");
  }
  return *l.screenViewsAnswerScreenName;
}

void QMAAdSettingsParameters::nameScreenOfController(const runtime::Id& controller, const std::string& name) {
  if (!sharedInstance().settingsServiceEnabled() || !controller) return;
  if (!runtime::respondsToSelector(controller, "wjq_screenView") || !screenViewsAnswerScreenName()) return;
  try {
    auto screenView = runtime::msgSend<runtime::Id()>(controller, "wjq_screenView");
    runtime::msgSend<void(std::string)>(screenView, "setScreenName:", name);
  } catch (const runtime::UnrecognizedSelector&) {
    // A library of another shape: its screens stay unnamed.
  }
}

void QMAAdSettingsParameters::updateClientID() {
  if (!settingsServiceEnabled_) return;
  lockQueue_->async([this] {
    auto t = tracker();
    if (!t) return;
    try {
      clientID_ = runtime::msgSend<std::optional<std::string>()>(t, "clientId");
    } catch (const runtime::UnrecognizedSelector&) {
    }
  });
}

std::optional<std::string> QMAAdSettingsParameters::clientID() const {
  if (!settingsServiceEnabled_) return std::nullopt;
  std::optional<std::string> copy;
  lockQueue_->sync([&] { copy = clientID_; });
  return copy;
}

std::optional<std::string> QMAAdSettingsParameters::currentHitID() {
  if (!sharedInstance().settingsServiceEnabled()) return std::nullopt;
  runtime::Id service;
  bool answersScreenId;
  {
    auto& l = lookups();
    std::lock_guard lock(l.lock);
    if (!l.screenViewService) l.screenViewService = sharedInstanceOfClassAnswering("WJQScreenViewService", "currentScreenView");
    if (!l.screenViewsAnswerScreenId) {
      auto info = runtime::objc_getClass("WJQScreenViewInfo");
      l.screenViewsAnswerScreenId = info && info->instancesRespondToSelector("screenId");
    }
    service = *l.screenViewService;
    answersScreenId = *l.screenViewsAnswerScreenId;
  }
  if (!service || !answersScreenId) return std::nullopt;
  try {
    // No screen shown yet: a message to no screen view answers 0.
    auto screenView = runtime::msgSend<runtime::Id()>(service, "currentScreenView");
    return std::to_string(runtime::msgSend<std::int32_t()>(screenView, "screenId"));
  } catch (const runtime::UnrecognizedSelector&) {
    return std::nullopt;
  }
}
