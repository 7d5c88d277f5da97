#pragma once
// The ad component's process-wide application object: what every other part needs about
// the host application (version, bundle identifier, session), the application statistics
// and the per-ad statistics waiting for the next request, the per-slot statistics, and
// the viewability identifiers.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "ads/services/statistic_dictionary.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/error.h"

// What the request statistics read of the slot about to request.
class QMARequestingSlot {
 public:
  virtual ~QMARequestingSlot() = default;
  // Whether the slot's current ad is a mediation response.
  virtual bool isMediating() const = 0;
};

// An ad response whose statistics travel with requests (the click and return times).
class QMAAdWithStatistics {
 public:
  virtual ~QMAAdWithStatistics() = default;
  virtual std::shared_ptr<QMAStatisticDictionary> statistics() const = 0;
};

// The host application's state as the platform reports it.
enum QMAApplicationState : long { QMAApplicationStateActive = 0, QMAApplicationStateInactive = 1, QMAApplicationStateBackground = 2 };

using QMAStatisticDictionarySet = std::unordered_set<std::shared_ptr<QMAStatisticDictionary>>;

// Reads a property-list file whose root is a dictionary. Nullopt when the file cannot be
// read (with internal error 1 in `error`) or holds no dictionary.
std::optional<foundation::Dictionary> QMAPropertyListDictionaryFromFile(const std::string& path,
                                                                        foundation::Error* error = nullptr);

class QMAApplication : public QMAStatisticDictionaryDelegate, public std::enable_shared_from_this<QMAApplication> {
 public:
  static const std::shared_ptr<QMAApplication>& sharedInstance();
  // A new application object as the process starts with; the shared instance is the
  // first of these. Tests make their own so each starts from a fresh process's state.
  static std::shared_ptr<QMAApplication> create();
  // Replaces where the application state comes from (nullptr: the shared UIKit
  // application's state, the default).
  static void setApplicationStateSource(std::function<long()> source);
  // The host application's state (QMAApplicationState) from that source; any thread.
  static long applicationState();

  ~QMAApplication() override;

  const std::string& version() const { return version_; }
  const std::optional<std::string>& mainBundleIdentifier() const { return mainBundleIdentifier_; }
  const std::shared_ptr<QMASession>& currentSession() const { return currentSession_; }
  const std::shared_ptr<QMAStatisticDictionary>& statistics() const { return statistics_; }

  // The component's start-up. The class-load hook (load, run from the top of the component,
  // ads/startup/, when the image holding it is loaded) observes the host's
  // did-finish-launching notification; once the
  // main run loop has served what was ready at the launch, an operation of the main
  // operation queue sets appFinishedLaunching and runs the early activities,
  // which the first use of the request or slot class also runs. Once per process, on the
  // main thread (checked): the device facts cached, the early activities the other parts
  // added (the MRAID script interceptor allowed), the token dispenser made, the pinger
  // started with its stored retries, purchase reporting switched on unless it should not
  // be, crash reporting switched on.
  static void load();
  void runEarlyActivities();
  // Main thread.
  static bool earlyActivitiesHaveRun();
  // Adds an early activity of a part built on the services (the start-up adds them); added
  // ones run in order, after the device facts. Any thread; in practice while the image loads.
  static void addEarlyActivity(std::function<void()> activity);
  // A process that has not started yet, for tests (main thread).
  static void resetEarlyActivitiesForTesting();

  // NO only in the background after launching has finished.
  bool isAppActive();
  bool appFinishedLaunching();
  void setAppFinishedLaunching(bool finished);

  std::optional<std::string> iTunesMetadataPath() const;
  // Read once per process; an empty dictionary when nothing could be read.
  const foundation::Dictionary& iTunesMetadata() const;

  // Takes the pending per-ad statistics, leaving none.
  QMAStatisticDictionarySet pendingAdStatistics();
  dispatch::QueuePtr notificationQueue() override { return notificationSerialQueue_; }
  void didUpdateStatisticDictionary(const std::shared_ptr<QMAStatisticDictionary>& dictionary) override;

  std::uint64_t nextVistraceID();
  void QMALinkCategories();

  // Mediation adapter names: read synchronously, written asynchronously on the lock queue.
  std::optional<std::vector<std::string>> availableAdapterNames();
  void setAvailableAdapterNames(std::vector<std::string> names);

  const dispatch::QueuePtr& notificationSerialQueue() const { return notificationSerialQueue_; }
  const dispatch::QueuePtr& statisticsSerialQueue() const { return statisticsSerialQueue_; }
  const dispatch::QueuePtr& lockQueue() const { return lockQueue_; }

  // Statistics operations (the request signals).
  foundation::Dictionary nextRequestStatisticsDictionaryForSlot(const QMARequestingSlot* slot);
  void incrementTotalAdRequestCount();
  void decrementTotalAdRequestCount();
  void incrementTotalAdClickCount();
  void incrementSequenceNumber();
  std::string nextSequenceNumberAsString();
  std::uint64_t timeSinceFirstAdRequestInMilliseconds();
  // Nullptr when the identifier is not a string.
  std::shared_ptr<QMAStatisticDictionary> slotStatisticsForSlotID(const foundation::Value& slotID);
  foundation::Dictionary slotStatisticsDictionary();
  void willLeaveApplicationDueToClickOnAd(std::shared_ptr<QMAAdWithStatistics> ad);
  void didBecomeActive();
  void didNotSendAdStatistics(const QMAStatisticDictionarySet& statistics);

  // The pending set and the registry as they stand (reads on their queues).
  QMAStatisticDictionarySet adStatistics();
  std::map<std::string, std::shared_ptr<QMAStatisticDictionary>> slotStatistics();
  std::shared_ptr<QMAAdWithStatistics> backgroundingAd();

 private:
  QMAApplication() = default;
  void init();

  std::shared_ptr<QMAAdWithStatistics> backgroundingAd_;
  foundation::NotificationCenter::ObserverToken appBecameActiveObserver_;
  dispatch::QueuePtr lockQueue_;
  std::optional<std::vector<std::string>> availableAdapterNames_;
  std::uint64_t vistraceID_ = 0;
  std::string version_;
  std::optional<std::string> mainBundleIdentifier_;
  bool appFinishedLaunching_ = false;
  std::mutex monitor_;
  std::shared_ptr<QMASession> currentSession_;
  std::shared_ptr<QMAStatisticDictionary> statistics_;
  dispatch::QueuePtr notificationSerialQueue_;
  dispatch::QueuePtr statisticsSerialQueue_;
  QMAStatisticDictionarySet adStatistics_;
  std::map<std::string, std::shared_ptr<QMAStatisticDictionary>> slotStatistics_;
};
