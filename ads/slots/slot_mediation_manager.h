#pragma once
// What a slot asks of the mediation manager it owns. The manager itself comes from above:
// the mediation part installs its maker once (QMASlot::setMediationManagerFactory), and
// every slot made after that owns a manager that knows it; without one installed a slot
// has none and a mediation response fails with request error 8 (no adapter).
//
// The mediation configuration is the mediation part's type; the slot holds it without
// knowing it and asks the manager for the few things it reads of it.
//
// Threads: main thread (checked by the manager).

#include <memory>
#include <optional>
#include <string>

#include "ads/model/ad_type.h"
#include "ads/model/request_error.h"

class QMASlot;
class QMAMConfig;

namespace uikit {
class ViewController;
}

class QMASlotMediationManager {
 public:
  virtual ~QMASlotMediationManager() = default;
  // The slot, held weakly; the slot clears it when it goes away.
  virtual std::shared_ptr<QMASlot> slot() const = 0;
  virtual void setSlot(std::weak_ptr<QMASlot> slot) = 0;
  // Stops the pending mediation actions and the request in progress.
  virtual void cancel() = 0;

  // ---- the configuration, for the slot's entry
  // The configuration decoded from a mediation response's body with the app key; null with
  // the error when the body is no JSON object or the configuration is invalid.
  virtual std::shared_ptr<QMAMConfig> configurationWithAppKeyBodyError(const std::optional<std::string>& appKey,
                                                                       const std::string& body,
                                                                       std::optional<QMARequestError>* error) = 0;
  virtual std::shared_ptr<QMAAdType> adTypeOfConfiguration(const QMAMConfig& config) const = 0;
  virtual void setAdTypeOfConfiguration(QMAMConfig& config, std::shared_ptr<QMAAdType> type) const = 0;
  virtual double refreshIntervalOfConfiguration(const QMAMConfig& config) const = 0;

  // ---- the waterfall (QMAMSlotDelegate)
  virtual void mediateForAdTypeConfig(const std::shared_ptr<QMAAdType>& type, const std::shared_ptr<QMAMConfig>& config) = 0;
  // YES when the shown network's adapter resizes its banner in place.
  virtual bool changeAdTypeTo(const std::shared_ptr<QMAAdType>& type) = 0;
  virtual void presentInterstitialFromRootViewController(const std::shared_ptr<uikit::ViewController>& root) = 0;
  // The class name of the adapter whose ad is shown; none without one.
  virtual std::optional<std::string> receivedAdapterClassName() const = 0;
};
