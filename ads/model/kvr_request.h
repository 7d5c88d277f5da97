#pragma once
// The publisher edition's request and its process-wide correlation ID. KVRRequest adds a
// publisher-provided user ID, custom key-value targeting and category exclusions to the
// request parameters. KVRRequestPrivate keeps one correlation ID for the whole process,
// so that the ad server can treat the ads of one screen as one page view; a host draws a
// new one with KVRRequest::updateCorrelator when it shows a new screen.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/model/request.h"
#include "platform/dispatch/queue.h"

// The publisher-edition name of the simulator's test-device identifier.
inline constexpr const char* kKVRSimulatorID = "Simulator";

class KVRRequest : public QMARequest {
 public:
  static std::shared_ptr<KVRRequest> request();
  // A new correlation ID for the requests that follow.
  static void updateCorrelator();

  std::shared_ptr<QMARequest> copy() const override;
  std::string className() const override { return "KVRRequest"; }

  const std::optional<std::string>& publisherProvidedID() const { return publisherProvidedID_; }
  void setPublisherProvidedID(std::optional<std::string> id) { publisherProvidedID_ = std::move(id); }
  const std::optional<std::vector<std::string>>& categoryExclusions() const { return categoryExclusions_; }
  void setCategoryExclusions(std::optional<std::vector<std::string>> exclusions) {
    categoryExclusions_ = std::move(exclusions);
  }
  const std::optional<foundation::Dictionary>& customTargeting() const { return customTargeting_; }
  void setCustomTargeting(std::optional<foundation::Dictionary> targeting) { customTargeting_ = std::move(targeting); }

  // The base parameters, then "ppid", "custom_targeting" and "category_exclusions".
  foundation::Dictionary parameters() override;

 private:
  KVRRequest() = default;
  std::optional<std::string> publisherProvidedID_;
  std::optional<std::vector<std::string>> categoryExclusions_;
  std::optional<foundation::Dictionary> customTargeting_;
};

// The correlation ID, guarded by the serial queue "com.quillon.pelmark.kvr-request":
// updates are queued asynchronously, reads wait for the queue, so a read made after an
// update was asked for sees the new value. Any thread.
class KVRRequestPrivate : public std::enable_shared_from_this<KVRRequestPrivate> {
 public:
  static constexpr const char* kQueueLabel = "com.quillon.pelmark.kvr-request";
  // Uniform below 4294967295, so every ID fits in 32 bits.
  using Draw = std::function<std::uint64_t()>;

  static const std::shared_ptr<KVRRequestPrivate>& sharedInstance();
  // An instance drawing from `draw` (the platform's uniform random function when null).
  static std::shared_ptr<KVRRequestPrivate> init(Draw draw = nullptr);

  // 0 means none.
  std::uint64_t correlationID() const;
  // Up to five draws for one that is neither 0 nor the current ID; 0 when none is.
  void updateCorrelationID();
  const dispatch::QueuePtr& queue() const { return queue_; }

 private:
  KVRRequestPrivate() = default;
  Draw draw_;
  dispatch::QueuePtr queue_;
  std::uint64_t correlationID_ = 0;  // on queue_
};
