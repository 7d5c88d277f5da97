#include "ads/services/location.h"

#include <cmath>

#include "platform/foundation/clock.h"
#include "platform/foundation/format.h"

namespace {
constexpr double kEpsilon = 1.1920928955078125e-7;
}

QMALocation::QMALocation() : timestamp_(foundation::Clock::now()) {}

std::shared_ptr<QMALocation> QMALocation::initWithLatitudeLongitudeAccuracy(double latitude, double longitude,
                                                                           double accuracy) {
  std::shared_ptr<QMALocation> l(new QMALocation());
  l->latitude_ = latitude;
  l->longitude_ = longitude;
  l->accuracy_ = accuracy;
  if (!l->isPreciseLocation()) return nullptr;
  return l;
}

std::shared_ptr<QMALocation> QMALocation::initWithLocationDescription(const std::string& description) {
  if (description.empty()) return nullptr;
  std::shared_ptr<QMALocation> l(new QMALocation());
  l->description_ = description;
  return l;
}

bool QMALocation::isPreciseLocation() const {
  return std::fabs(latitude_) <= 90 && std::fabs(longitude_) <= 180 && std::fabs(latitude_) > kEpsilon &&
         std::fabs(longitude_) > kEpsilon;
}

std::string QMALocation::locationDescription() const {
  if (description_) return *description_;
  if (isPreciseLocation()) return foundation::stringWithFormat("%f,%f", latitude_, longitude_);
  return "";
}

std::optional<foundation::Dictionary> QMALocation::dictionaryRepresentation() {
  if (dictionaryRepresentation_) return dictionaryRepresentation_;
  if (!isPreciseLocation()) return std::nullopt;
  dictionaryRepresentation_ = foundation::Dictionary{
      {"time", foundation::Value(timestamp_ * 1'000'000)},
      {"lat", foundation::Value(static_cast<long long>(latitude_ * 10'000'000))},
      {"long", foundation::Value(static_cast<long long>(longitude_ * 10'000'000))},
      {"radius", foundation::Value(accuracy_ * 1000)},
  };
  return dictionaryRepresentation_;
}

bool QMALocation::isEqual(const QMALocation& other) const {
  if (this == &other) return true;
  if (isPreciseLocation() != other.isPreciseLocation()) return false;
  if (isPreciseLocation())
    return std::fabs(latitude_ - other.latitude_) < kEpsilon && std::fabs(longitude_ - other.longitude_) < kEpsilon &&
           std::fabs(accuracy_ - other.accuracy_) < kEpsilon;
  return locationDescription() == other.locationDescription();
}

std::size_t QMALocation::hash() const {
  // Equality ignores the time and allows a small tolerance, so precise locations share one
  // hash; descriptive ones hash their text. Equal locations therefore always hash alike.
  if (isPreciseLocation()) return 0x9e3779b9u;
  return std::hash<std::string>()(locationDescription());
}

std::shared_ptr<QMALocation> QMALocation::copy() const {
  std::shared_ptr<QMALocation> l(new QMALocation(*this));
  l->dictionaryRepresentation_.reset();
  return l;
}
