#include "ads/services/device.h"

#include <sys/utsname.h>

#include <filesystem>

#include "ads/services/application.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/device_path.h"
#include "platform/foundation/format.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/user_defaults.h"
#include "platform/system/device_facts.h"
#include "platform/storekit/storekit.h"
#include "platform/system/screen_facts.h"
#include "platform/uikit/screen.h"

using foundation::Dictionary;
using foundation::Value;

namespace {
std::array<std::string, 3> versionComponents(const std::optional<std::string>& version) {
  std::array<std::string, 3> out{"0", "0", "0"};
  if (!version) return out;
  std::size_t i = 0, start = 0;
  while (i < 3) {
    std::size_t dot = version->find('.', start);
    out[i++] = version->substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return out;
}

bool atLeast(const std::array<std::string, 3>& c, long major, long minor, long patch) {
  long a = std::atol(c[0].c_str()), b = std::atol(c[1].c_str()), p = std::atol(c[2].c_str());
  return a > major || (a == major && (b > minor || (b == minor && p >= patch)));
}
}  // namespace

std::shared_ptr<QMADevice> QMADevice::create() {
  std::shared_ptr<QMADevice> d(new QMADevice());
  d->init();
  return d;
}

const std::shared_ptr<QMADevice>& QMADevice::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* device = new std::shared_ptr<QMADevice>(create());
  return *device;
}

void QMADevice::init() {
  lockQueue_ = dispatch::Queue::createSerial("com.quillon.pelmark.device");
  network_ = QMANetwork::init();
  network_->enableNetworkChecking();
  enableRadioAccessTechnologyChecking();
  // What an earlier run left in the temporary folder goes now, before anything can write
  // there in this run.
  std::error_code ignored;
  std::filesystem::remove_all(temporaryPathWithCreation(false), ignored);
}

QMADevice::~QMADevice() {
  disableRadioAccessTechnologyChecking();
  if (network_) network_->disableNetworkChecking();
}

long QMADevice::readStatusBarOrientation() const { return static_cast<long>(system_facts::screen().orientation); }

QMADevice::StaticFacts QMADevice::staticFacts() const {
  std::lock_guard lock(staticMutex_);
  return static_;
}

bool QMADevice::staticParametersCached() const { return staticFacts().cached; }

void QMADevice::resetStaticParameters() {
  std::lock_guard lock(staticMutex_);
  static_ = StaticFacts{};
}

void QMADevice::cacheStaticParameters() {
  if (!dispatch::isMainThread() || staticParametersCached()) return;
  auto facts = system_facts::device();
  StaticFacts s;
  s.deviceModel = facts.model;
  s.systemVersion = facts.systemVersion;
  s.userInterfaceIdiomIsPhone = facts.idiom == system_facts::InterfaceIdiom::Phone;
  s.mainScreenDensity = uikit::Screen::mainScreen().scale();
  s.standardizedMainScreenPortraitBounds = uikit::Screen::mainScreen().bounds().standardized();
  const long orientation = readStatusBarOrientation();
  lockQueue_->sync([&] { statusBarOrientation_ = orientation; });
  // From OS 8 on the screen's bounds follow the interface orientation.
  if ((orientation == 3 || orientation == 4) && atLeast(versionComponents(s.systemVersion), 8, 0, 0)) {
    QMARect& b = s.standardizedMainScreenPortraitBounds;
    b = QMARect{0, 0, b.size.height, b.size.width};
  }
  {
    std::lock_guard lock(staticMutex_);
    static_ = s;
  }
  updateDynamicParameters();
  std::lock_guard lock(staticMutex_);
  static_.cached = true;
}

void QMADevice::updateDynamicParameters() {
  updateOrientation();
  updateBookstores();
}

void QMADevice::updateOrientation() {
  long o = readStatusBarOrientation();
  lockQueue_->async([self = shared_from_this(), o] { self->statusBarOrientation_ = o; });
}

void QMADevice::updateBookstores() {
  auto open = canOpenURLs({"itms-books://", "kindle://home"});
  std::uint64_t mask = (open["itms-books://"] == Value(true) ? 1 : 0) | (open["kindle://home"] == Value(true) ? 2 : 0);
  lockQueue_->async([self = shared_from_this(), mask] { self->bookstores_ = mask; });
}

void QMADevice::enableRadioAccessTechnologyChecking() {
  // The static facts are not cached yet when the device object is made: ask the system.
  if (!atLeast(versionComponents(system_facts::device().systemVersion), 7, 0, 0)) return;
  if (radioAccessTechnologyChangeObserver_) return;
  setRadioAccessTechnology(system_facts::radioAccessTechnology());
  std::weak_ptr<QMADevice> weak = weak_from_this();
  radioAccessTechnologyChangeObserver_ = foundation::NotificationCenter::defaultCenter().addObserverForName(
      system_facts::kRadioAccessTechnologyDidChangeNotification, nullptr, dispatch::OperationQueue::mainQueue(),
      [weak](const foundation::Notification&) {
        if (auto self = weak.lock()) self->setRadioAccessTechnology(system_facts::radioAccessTechnology());
      });
}

void QMADevice::disableRadioAccessTechnologyChecking() {
  if (!radioAccessTechnologyChangeObserver_) return;
  foundation::NotificationCenter::defaultCenter().removeObserver(radioAccessTechnologyChangeObserver_);
  radioAccessTechnologyChangeObserver_.reset();
}

void QMADevice::setRadioAccessTechnology(std::optional<std::string> technology) {
  lockQueue_->async([self = shared_from_this(), technology = std::move(technology)] {
    self->radioAccessTechnology_ = technology;
    if (technology) self->lastKnownRadioAccessTechnology_ = technology;
  });
}

std::optional<std::string> QMADevice::radioAccessTechnology() {
  std::optional<std::string> v;
  lockQueue_->sync([&] { v = radioAccessTechnology_; });
  return v;
}

std::optional<std::string> QMADevice::lastKnownRadioAccessTechnology() {
  std::optional<std::string> v;
  lockQueue_->sync([&] { v = lastKnownRadioAccessTechnology_; });
  return v;
}

std::optional<std::string> QMADevice::userAgentString() {
  std::optional<std::string> v;
  lockQueue_->sync([&] { v = userAgentString_; });
  return v;
}

void QMADevice::setUserAgentString(const std::optional<std::string>& userAgent) {
  if (!userAgent || userAgent->empty()) return;
  lockQueue_->async([self = shared_from_this(), ua = *userAgent] { self->userAgentString_ = ua; });
}

std::array<std::string, 3> QMADevice::OSVersionInfoComponents() { return versionComponents(staticFacts().systemVersion); }

bool QMADevice::isOSAtLeastMajorMinorPatch(long major, long minor, long patch) {
  return atLeast(OSVersionInfoComponents(), major, minor, patch);
}

bool QMADevice::OSIsSupported() { return isOSAtLeastMajorMinorPatch(6, 0, 0); }

Dictionary QMADevice::canOpenURLs(const std::vector<std::string>& urls) {
  Dictionary out;
  for (const auto& u : urls) out[u] = Value(system_facts::canOpenURL(u));
  return out;
}

bool QMADevice::isJailbroken() {
  std::call_once(jailbreakOnce_, [this] {
    jailbroken_ = !isSimulator() && foundation::fileExists(foundation::devicePath("/Applications/Cydia.app"));
  });
  return jailbroken_;
}

std::string QMADevice::deviceIdentifier() {
  auto facts = system_facts::device();
  std::string raw = facts.advertisingTrackingEnabled ? facts.advertisingIdentifier.value_or("") : "";
  std::string hashed;
  lockQueue_->sync([&] {
    if (cachedAdvertisingID_ != raw) {
      cachedAdvertisingID_ = raw;
      cachedMD5AdvertisingID_ = raw.empty() ? "" : qma_MD5String(raw).value_or("");
    }
    hashed = cachedMD5AdvertisingID_;
  });
  return hashed;
}

std::optional<std::string> QMADevice::deviceSubmodel() {
  std::call_once(submodelOnce_, [this] { deviceSubmodel_ = [] {
    // The system's machine name is a device fact that tests and drivers set; uname is
    // only the fallback when none was given.
    std::string machine = system_facts::device().machine;
    if (!machine.empty()) return std::optional<std::string>(machine);
    utsname u{};
    if (uname(&u) != 0) return std::optional<std::string>();
    return std::optional<std::string>(u.machine);
  }(); });
  return deviceSubmodel_;
}

std::optional<std::string> QMADevice::locale() {
  std::call_once(localeOnce_, [this] { locale_ = [] {
    auto languages = foundation::UserDefaults::standardUserDefaults()->arrayForKey("AppleLanguages");
    if (!languages || languages->empty() || !languages->front().asString()) return std::optional<std::string>();
    std::string l = *languages->front().asString();
    for (auto& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::optional<std::string>(l);
  }(); });
  return locale_;
}

std::optional<std::string> QMADevice::baseSDKVersion() {
  std::call_once(sdkOnce_, [this] { baseSDKVersion_ = [] {
    auto& bundle = foundation::Bundle::main();
    Value name = bundle.objectForInfoDictionaryKey("DTSDKName");
    if (!name.asString()) return std::optional<std::string>();
    std::string s = *name.asString();
    Value platform = bundle.objectForInfoDictionaryKey("DTPlatformName");
    if (const std::string* p = platform.asString(); p && !p->empty()) {
      for (std::size_t at; (at = s.find(*p)) != std::string::npos;) s.erase(at, p->size());
    }
    return std::optional<std::string>(s);
  }(); });
  return baseSDKVersion_;
}

long QMADevice::audioRoute() {
  if (isSimulator()) return 4;
  auto outputs = system_facts::device().audioOutputs;
  if (outputs.empty()) return 3;
  if (outputs.size() == 1) {
    if (outputs[0] == system_facts::kAudioPortHeadphones) return 2;
    if (outputs[0] == system_facts::kAudioPortBuiltInSpeaker) return 1;
  }
  return 5;
}

bool QMADevice::isOrientationLandscape() {
  std::weak_ptr<QMADevice> weak = shared_from_this();
  QMARunOnMainThread([weak] {
    if (auto self = weak.lock()) self->updateOrientation();
  });
  long o = 0;
  lockQueue_->sync([&] { o = statusBarOrientation_; });
  return o == 3 || o == 4;
}

QMARect QMADevice::standardizedOrientedScreenBounds() {
  QMARect b = staticFacts().standardizedMainScreenPortraitBounds;
  if (isOrientationLandscape()) std::swap(b.size.width, b.size.height);
  return b;
}

QMARect QMADevice::standardizedOrientedApplicationFrame() {
  updateOrientation();
  QMARect frame = QMAApplicationFrame(uikit::Screen::mainScreen());
  long o = 0;
  lockQueue_->sync([&] { o = statusBarOrientation_; });
  return QMARectForInterfaceOrientation(o, frame, staticFacts().standardizedMainScreenPortraitBounds).standardized();
}

std::string QMADevice::temporaryPathWithCreation(bool create) {
  std::string path = foundation::devicePath("/tmp") + "/PelmarkTemp";
  if (create) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
  }
  return path;
}

Dictionary QMADevice::parameters() {
  Dictionary p;
  auto app = QMAApplication::sharedInstance();
  const StaticFacts facts = staticFacts();
  if (facts.deviceModel == "iPad" && facts.userInterfaceIdiomIsPhone) p["ios_ipadc"] = "1";
  p["ios_metadata"] = Value(app->iTunesMetadata());
  if (auto sdk = baseSDKVersion()) p["ios_base_sdk"] = *sdk;
  std::string name = app->version().empty() ? "" : app->version() + ".";
  p["app_name"] = name + "iphone." + app->mainBundleIdentifier().value_or("");
  if (isJailbroken()) p["ios_jb"] = "1";
  if (facts.deviceModel) p["platform"] = *facts.deviceModel;
  if (auto sub = deviceSubmodel()) p["submodel"] = *sub;
  if (auto hl = locale()) p["hl"] = *hl;
  p["u_audio"] = std::to_string(audioRoute());
  p["u_so"] = isOrientationLandscape() ? "l" : "p";
  if (auto radio = radioAccessTechnology()) p["ios_radio"] = *radio;
  if (auto last = lastKnownRadioAccessTechnology()) p["ios_radio_last"] = *last;
  p["u_sd"] = QMAStringFromDouble(facts.mainScreenDensity);
  p["u_w"] = QMAStringFromDouble(facts.standardizedMainScreenPortraitBounds.size.width);
  p["u_h"] = QMAStringFromDouble(facts.standardizedMainScreenPortraitBounds.size.height);
  std::uint64_t stores = 0;
  lockQueue_->sync([&] { stores = bookstores_; });
  if (stores != 0) p["cap_bs"] = Value(static_cast<unsigned long long>(stores));
  // The store's payment queue is the one source of the payment capability.
  p["cap_noiap"] = QMAStringFromBOOL(!storekit::SKPaymentQueue::canMakePayments());
  return p;
}
