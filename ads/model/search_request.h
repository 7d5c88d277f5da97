#pragma once
// A request for search ads: the user's query and the host's styling of the search-ad
// unit, sent as one nested "search" dictionary beside the base request's parameters.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ads/model/request.h"
#include "platform/uikit/color.h"

// A colour as its colour space holds it: a monochrome space has a grey component then
// alpha, an RGB space red, green, blue then alpha; other spaces (patterns, for one) hold
// components the search styling cannot read.
struct QMAColor {
  enum class Space { Monochrome, RGB, Other };
  Space space = Space::RGB;
  std::vector<double> components;

  static QMAColor colorWithWhiteAlpha(double white, double alpha) { return {Space::Monochrome, {white, alpha}}; }
  static QMAColor colorWithRedGreenBlueAlpha(double r, double g, double b, double a) {
    return {Space::RGB, {r, g, b, a}};
  }
  static QMAColor fromColor(const uikit::Color& c) {
    return colorWithRedGreenBlueAlpha(c.red, c.green, c.blue, c.alpha);
  }
  static QMAColor patternColor() { return {Space::Other, {}}; }
  bool operator==(const QMAColor&) const = default;
};

// "#rrggbb" in lower-case hexadecimal; alpha is ignored. Each component is scaled to
// 0..255, cut toward zero and kept within 0..255; other spaces give #000000.
std::string QMAColorText(const QMAColor& color);

enum QMASearchBorderType : std::uint64_t {
  QMASearchBorderTypeNone = 0,
  QMASearchBorderTypeDashed = 1,
  QMASearchBorderTypeDotted = 2,
  QMASearchBorderTypeSolid = 3,
};

enum QMASearchCallButtonColor : std::uint64_t {
  QMASearchCallButtonLight = 0,
  QMASearchCallButtonMedium = 1,
  QMASearchCallButtonDark = 2,
};

class QMASearchRequest : public QMARequest {
 public:
  static std::shared_ptr<QMASearchRequest> request();

  std::shared_ptr<QMARequest> copy() const override;
  std::string className() const override { return "QMASearchRequest"; }

  // The background colour; both gradient colours are cleared.
  void setBackgroundSolid(const std::optional<QMAColor>& color);
  // Only with both colours: the background colour is cleared and the gradient set.
  void setBackgroundGradientFromToColor(const std::optional<QMAColor>& from, const std::optional<QMAColor>& to);

  const std::optional<std::string>& query() const { return query_; }
  void setQuery(std::optional<std::string> q) { query_ = std::move(q); }
  const std::optional<QMAColor>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<QMAColor> c) { backgroundColor_ = std::move(c); }
  const std::optional<QMAColor>& gradientFrom() const { return gradientFrom_; }
  void setGradientFrom(std::optional<QMAColor> c) { gradientFrom_ = std::move(c); }
  const std::optional<QMAColor>& gradientTo() const { return gradientTo_; }
  void setGradientTo(std::optional<QMAColor> c) { gradientTo_ = std::move(c); }
  const std::optional<QMAColor>& headerColor() const { return headerColor_; }
  void setHeaderColor(std::optional<QMAColor> c) { headerColor_ = std::move(c); }
  const std::optional<QMAColor>& descriptionTextColor() const { return descriptionTextColor_; }
  void setDescriptionTextColor(std::optional<QMAColor> c) { descriptionTextColor_ = std::move(c); }
  const std::optional<QMAColor>& anchorTextColor() const { return anchorTextColor_; }
  void setAnchorTextColor(std::optional<QMAColor> c) { anchorTextColor_ = std::move(c); }
  const std::optional<std::string>& fontFamily() const { return fontFamily_; }
  void setFontFamily(std::optional<std::string> f) { fontFamily_ = std::move(f); }
  std::uint64_t headerTextSize() const { return headerTextSize_; }
  void setHeaderTextSize(std::uint64_t s) { headerTextSize_ = s; }
  const std::optional<QMAColor>& borderColor() const { return borderColor_; }
  void setBorderColor(std::optional<QMAColor> c) { borderColor_ = std::move(c); }
  // Unset until the host sets it: a fresh request sends no border type.
  const std::optional<std::uint64_t>& borderType() const { return borderType_; }
  void setBorderType(std::optional<std::uint64_t> t) { borderType_ = t; }
  std::uint64_t borderThickness() const { return borderThickness_; }
  void setBorderThickness(std::uint64_t t) { borderThickness_ = t; }
  const std::optional<std::string>& customChannels() const { return customChannels_; }
  void setCustomChannels(std::optional<std::string> c) { customChannels_ = std::move(c); }
  // Unset until the host sets it, like the border type.
  const std::optional<std::uint64_t>& callButtonColor() const { return callButtonColor_; }
  void setCallButtonColor(std::optional<std::uint64_t> c) { callButtonColor_ = c; }

  // The base parameters with "search" set to the styling dictionary.
  foundation::Dictionary parameters() override;
  foundation::Dictionary searchParameters() const;

 private:
  QMASearchRequest() = default;
  std::optional<std::string> query_;
  std::optional<QMAColor> backgroundColor_;
  std::optional<QMAColor> gradientFrom_;
  std::optional<QMAColor> gradientTo_;
  std::optional<QMAColor> headerColor_;
  std::optional<QMAColor> descriptionTextColor_;
  std::optional<QMAColor> anchorTextColor_;
  std::optional<std::string> fontFamily_;
  std::uint64_t headerTextSize_ = 0;
  std::optional<QMAColor> borderColor_;
  std::optional<std::uint64_t> borderType_;
  std::uint64_t borderThickness_ = 0;
  std::optional<std::string> customChannels_;
  std::optional<std::uint64_t> callButtonColor_;
};
