#pragma once
// The location a host may attach to an ad request: a precise position or a free text.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/value.h"

class QMALocation {
 public:
  // Nullptr when the values make no precise location.
  static std::shared_ptr<QMALocation> initWithLatitudeLongitudeAccuracy(double latitude, double longitude,
                                                                       double accuracy);
  // Nullptr for an empty text.
  static std::shared_ptr<QMALocation> initWithLocationDescription(const std::string& description);

  bool isPreciseLocation() const;
  double latitude() const { return latitude_; }
  double longitude() const { return longitude_; }
  double accuracy() const { return accuracy_; }
  std::string locationDescription() const;
  void setLocationDescription(std::optional<std::string> d) { description_ = std::move(d); }
  // The request form ("uule") of a precise location, built once; nullopt otherwise.
  std::optional<foundation::Dictionary> dictionaryRepresentation();
  double timestamp() const { return timestamp_; }
  void setTimestamp(double t) { timestamp_ = t; }

  bool isEqual(const QMALocation& other) const;
  friend bool operator==(const QMALocation& a, const QMALocation& b) { return a.isEqual(b); }
  std::size_t hash() const;
  std::shared_ptr<QMALocation> copy() const;

 private:
  QMALocation();
  double latitude_ = 0;
  double longitude_ = 0;
  double accuracy_ = 0;
  std::optional<std::string> description_;
  std::optional<foundation::Dictionary> dictionaryRepresentation_;
  double timestamp_ = 0;
};
