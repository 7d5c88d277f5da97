#pragma once
// Device facts for every ad request: what cannot change while the process runs is cached
// once (on the main thread, by the early activities), what can is refreshed; the OS
// version tests of the whole component; orientation-aware screen rectangles; the web
// view's user agent; the hashed advertising identifier.

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ads/services/geometry.h"
#include "ads/services/network.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/value.h"

class QMADeviceSpecifications {
 public:
  virtual ~QMADeviceSpecifications() = default;
  virtual bool isJailbroken() = 0;
  virtual std::optional<std::string> systemVersion() = 0;
  virtual std::string deviceIdentifier() = 0;
  virtual std::optional<std::string> deviceModel() = 0;
  virtual std::optional<std::string> deviceSubmodel() = 0;
  virtual std::optional<std::string> locale() = 0;
  virtual long audioRoute() = 0;
  virtual bool isOrientationLandscape() = 0;
  virtual double mainScreenDensity() = 0;
  virtual QMARect standardizedPortraitScreenBounds() = 0;
  virtual QMARect standardizedOrientedScreenBounds() = 0;
  virtual QMARect standardizedOrientedApplicationFrame() = 0;
};

class QMADevice : public QMADeviceSpecifications, public std::enable_shared_from_this<QMADevice> {
 public:
  static const std::shared_ptr<QMADevice>& sharedInstance();
  // A device object as the process starts with; the shared one is the first of these.
  static std::shared_ptr<QMADevice> create();
  ~QMADevice() override;

  // Main thread: reads the facts that cannot change while the process runs, once.
  void cacheStaticParameters();
  // Forgets the static facts, as a new launch would: the next cacheStaticParameters reads
  // them again (tests play a device with another OS version this way).
  void resetStaticParameters();
  bool staticParametersCached() const;
  void updateDynamicParameters();
  void updateOrientation();
  void updateBookstores();
  void enableRadioAccessTechnologyChecking();
  void disableRadioAccessTechnologyChecking();
  foundation::Dictionary parameters();
  std::optional<std::string> baseSDKVersion();
  std::array<std::string, 3> OSVersionInfoComponents();
  bool isOSAtLeastMajorMinorPatch(long major, long minor, long patch);
  bool OSIsSupported();
  foundation::Dictionary canOpenURLs(const std::vector<std::string>& urls);

  bool isJailbroken() override;
  std::optional<std::string> systemVersion() override { return staticFacts().systemVersion; }
  std::string deviceIdentifier() override;
  std::optional<std::string> deviceModel() override { return staticFacts().deviceModel; }
  std::optional<std::string> deviceSubmodel() override;
  std::optional<std::string> locale() override;
  long audioRoute() override;
  bool isOrientationLandscape() override;
  double mainScreenDensity() override { return staticFacts().mainScreenDensity; }
  QMARect standardizedPortraitScreenBounds() override { return staticFacts().standardizedMainScreenPortraitBounds; }
  QMARect standardizedOrientedScreenBounds() override;
  QMARect standardizedOrientedApplicationFrame() override;

  std::optional<std::string> radioAccessTechnology();
  std::optional<std::string> lastKnownRadioAccessTechnology();
  void setRadioAccessTechnology(std::optional<std::string> technology);
  std::optional<std::string> userAgentString();
  void setUserAgentString(const std::optional<std::string>& userAgent);
  bool isSimulator() const { return false; }
  std::string temporaryPathWithCreation(bool create);
  const std::shared_ptr<QMANetwork>& network() const { return network_; }

 private:
  // What cacheStaticParameters reads: written once on the main thread and read from any
  // thread, so published under a lock of its own.
  struct StaticFacts {
    std::optional<std::string> deviceModel;
    std::optional<std::string> systemVersion;
    bool userInterfaceIdiomIsPhone = false;
    double mainScreenDensity = 0;
    QMARect standardizedMainScreenPortraitBounds;
    bool cached = false;
  };

  QMADevice() = default;
  void init();
  long readStatusBarOrientation() const;
  StaticFacts staticFacts() const;

  dispatch::QueuePtr lockQueue_;
  foundation::NotificationCenter::ObserverToken radioAccessTechnologyChangeObserver_;
  std::optional<std::string> cachedAdvertisingID_;
  std::string cachedMD5AdvertisingID_;
  long statusBarOrientation_ = 0;
  std::uint64_t bookstores_ = 0;
  std::optional<std::string> lastKnownRadioAccessTechnology_;
  std::optional<std::string> radioAccessTechnology_;
  std::optional<std::string> userAgentString_;
  std::shared_ptr<QMANetwork> network_;
  mutable std::mutex staticMutex_;
  StaticFacts static_;
  // Facts read once in the life of the device object (the process, for the shared one).
  std::once_flag submodelOnce_, localeOnce_, sdkOnce_, jailbreakOnce_;
  std::optional<std::string> deviceSubmodel_, locale_, baseSDKVersion_;
  bool jailbroken_ = false;
};
