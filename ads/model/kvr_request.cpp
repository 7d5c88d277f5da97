#include "ads/model/kvr_request.h"

#include <random>

#include "platform/dispatch/thread_checks.h"

using foundation::Array;
using foundation::Dictionary;

namespace {

std::uint64_t uniformDraw() {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  return std::uniform_int_distribution<std::uint64_t>(0, 4294967294ULL)(engine);
}

}  // namespace

// ---- request

std::shared_ptr<KVRRequest> KVRRequest::request() { return std::shared_ptr<KVRRequest>(new KVRRequest()); }

void KVRRequest::updateCorrelator() { KVRRequestPrivate::sharedInstance()->updateCorrelationID(); }

std::shared_ptr<QMARequest> KVRRequest::copy() const {
  auto request = KVRRequest::request();
  copyRequestFieldsInto(*request);
  request->setPublisherProvidedID(publisherProvidedID_);
  request->setCategoryExclusions(categoryExclusions_);
  request->setCustomTargeting(customTargeting_);
  return request;
}

Dictionary KVRRequest::parameters() {
  Dictionary p = QMARequest::parameters();
  if (publisherProvidedID_) {
    std::string ppid = QMATrimmedString(*publisherProvidedID_);
    if (!ppid.empty()) p["ppid"] = ppid;
  }
  if (customTargeting_ && !customTargeting_->empty()) p["custom_targeting"] = *customTargeting_;
  if (categoryExclusions_ && !categoryExclusions_->empty())
    p["category_exclusions"] = Array(categoryExclusions_->begin(), categoryExclusions_->end());
  return p;
}

// ---- correlator

const std::shared_ptr<KVRRequestPrivate>& KVRRequestPrivate::sharedInstance() {
  // Never destroyed: blocks still running on other threads while the process exits may reach it.
  static const auto* shared = new std::shared_ptr<KVRRequestPrivate>(init());
  return *shared;
}

std::shared_ptr<KVRRequestPrivate> KVRRequestPrivate::init(Draw draw) {
  std::shared_ptr<KVRRequestPrivate> p(new KVRRequestPrivate());
  p->draw_ = draw ? std::move(draw) : Draw(uniformDraw);
  p->queue_ = dispatch::Queue::createSerial(kQueueLabel);
  for (int i = 0; i < 5 && p->correlationID_ == 0; ++i) p->correlationID_ = p->draw_();
  return p;
}

std::uint64_t KVRRequestPrivate::correlationID() const {
  std::uint64_t id = 0;
  queue_->sync([&] { id = correlationID_; });
  return id;
}

void KVRRequestPrivate::updateCorrelationID() {
  queue_->async([self = shared_from_this()] {
    WV_DCHECK_ON_QUEUE(self->queue_);
    std::uint64_t next = 0;
    for (int i = 0; i < 5; ++i) {
      std::uint64_t drawn = self->draw_();
      if (drawn != 0 && drawn != self->correlationID_) {
        next = drawn;
        break;
      }
    }
    self->correlationID_ = next;
  });
}
