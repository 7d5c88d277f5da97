#include "ads/services/application.h"

#include <filesystem>

#include "platform/dispatch/operation_queue.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/property_list.h"
#include "platform/uikit/application.h"

using foundation::Dictionary;
using foundation::Value;

namespace {
std::mutex& stateSourceMutex() {
  static std::mutex m;
  return m;
}
std::function<long()>& stateSource() {
  static std::function<long()> f;
  return f;
}
}  // namespace

std::optional<Dictionary> QMAPropertyListDictionaryFromFile(const std::string& path, foundation::Error* error) {
  auto bytes = foundation::readFileBytes(path);
  if (!bytes) {
    if (error) *error = qma_errorWithCodeDescription(1, qma_localizedDescriptionForErrorCode(1));
    return std::nullopt;
  }
  auto plist = foundation::propertyListFromData(*bytes);
  if (!plist || !plist->asDictionary()) return std::nullopt;
  return *plist->asDictionary();
}

std::shared_ptr<QMAApplication> QMAApplication::create() {
  std::shared_ptr<QMAApplication> a(new QMAApplication());
  a->init();
  return a;
}

const std::shared_ptr<QMAApplication>& QMAApplication::sharedInstance() {
  // Never destroyed: the process object's teardown at exit would reach queues whose
  // thread-local state is already gone.
  static const auto* app = new std::shared_ptr<QMAApplication>(create());
  return *app;
}

void QMAApplication::setApplicationStateSource(std::function<long()> source) {
  std::lock_guard lock(stateSourceMutex());
  stateSource() = std::move(source);
}

void QMAApplication::init() {
  auto& bundle = foundation::Bundle::main();
  const Value v = bundle.objectForInfoDictionaryKey(foundation::kCFBundleVersionKey);
  version_ = v.asString() ? *v.asString() : "";
  mainBundleIdentifier_ = bundle.bundleIdentifier();
  currentSession_ = std::make_shared<QMASession>();
  statistics_ = QMAStatisticDictionary::initWithDelegate({});
  notificationSerialQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.application-notification");
  statisticsSerialQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.application-statistics");
  lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.application-ivar-lock");
  statistics_->setObjectForKeyShouldNotifyDelegate(Value(currentSession_->uniqueID()), "session_id", false);
  statistics_->decrementNumberForKeyShouldNotifyDelegate("preqs", false);
  std::weak_ptr<QMAApplication> weak = shared_from_this();
  appBecameActiveObserver_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      "UIApplicationDidBecomeActiveNotification", nullptr, dispatch::OperationQueue::mainQueue(),
      [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->didBecomeActive();
      });
}

QMAApplication::~QMAApplication() {
  foundation::NotificationCenter::defaultCenter().removeObserver(appBecameActiveObserver_);
  if (statistics_) statistics_->didFinishModifying();
}

long QMAApplication::applicationState() {
  std::lock_guard lock(stateSourceMutex());
  return stateSource() ? stateSource()() : static_cast<long>(uikit::Application::sharedApplication()->applicationState());
}

bool QMAApplication::isAppActive() {
  const long state = applicationState();
  std::lock_guard lock(monitor_);
  return !(state == QMAApplicationStateBackground && appFinishedLaunching_);
}

bool QMAApplication::appFinishedLaunching() {
  std::lock_guard lock(monitor_);
  return appFinishedLaunching_;
}

void QMAApplication::setAppFinishedLaunching(bool finished) {
  std::lock_guard lock(monitor_);
  appFinishedLaunching_ = finished;
}

std::optional<std::string> QMAApplication::iTunesMetadataPath() const {
  // The documents folder sits in the application's container; the store metadata beside it.
  std::string documents = foundation::homeDirectory() + "/Documents";
  return std::filesystem::path(documents + "/../iTunesMetadata.plist").lexically_normal().string();
}

const Dictionary& QMAApplication::iTunesMetadata() const {
  static const Dictionary metadata = [this] {
    auto path = iTunesMetadataPath();
    if (!path) return Dictionary{};
    return QMAPropertyListDictionaryFromFile(*path).value_or(Dictionary{});
  }();
  return metadata;
}

QMAStatisticDictionarySet QMAApplication::pendingAdStatistics() {
  QMAStatisticDictionarySet taken;
  notificationSerialQueue_->sync([&] { taken.swap(adStatistics_); });
  return taken;
}

void QMAApplication::didUpdateStatisticDictionary(const std::shared_ptr<QMAStatisticDictionary>& dictionary) {
  // Delivered on the notification queue, which guards the pending set.
  adStatistics_.insert(dictionary);
}

std::uint64_t QMAApplication::nextVistraceID() {
  std::uint64_t id = 0;
  lockQueue_->sync([&] { id = ++vistraceID_; });
  return id;
}

void QMAApplication::QMALinkCategories() { QMACategories::linkCategoriesAndClasses(); }

std::optional<std::vector<std::string>> QMAApplication::availableAdapterNames() {
  std::optional<std::vector<std::string>> names;
  lockQueue_->sync([&] { names = availableAdapterNames_; });
  return names;
}

void QMAApplication::setAvailableAdapterNames(std::vector<std::string> names) {
  lockQueue_->async([self = shared_from_this(), names = std::move(names)] { self->availableAdapterNames_ = names; });
}

QMAStatisticDictionarySet QMAApplication::adStatistics() {
  QMAStatisticDictionarySet copy;
  notificationSerialQueue_->sync([&] { copy = adStatistics_; });
  return copy;
}

std::map<std::string, std::shared_ptr<QMAStatisticDictionary>> QMAApplication::slotStatistics() {
  std::map<std::string, std::shared_ptr<QMAStatisticDictionary>> copy;
  statisticsSerialQueue_->sync([&] { copy = slotStatistics_; });
  return copy;
}

std::shared_ptr<QMAAdWithStatistics> QMAApplication::backgroundingAd() {
  std::shared_ptr<QMAAdWithStatistics> ad;
  statisticsSerialQueue_->sync([&] { ad = backgroundingAd_; });
  return ad;
}
