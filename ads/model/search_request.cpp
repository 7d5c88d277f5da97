#include "ads/model/search_request.h"

#include <cmath>
#include <cstdio>

using foundation::Dictionary;

std::string QMAColorText(const QMAColor& color) {
  double rgb[3] = {0, 0, 0};
  const auto& c = color.components;
  if (color.space == QMAColor::Space::Monochrome && !c.empty()) {
    rgb[0] = rgb[1] = rgb[2] = c[0];
  } else if (color.space == QMAColor::Space::RGB && c.size() >= 3) {
    rgb[0] = c[0];
    rgb[1] = c[1];
    rgb[2] = c[2];
  }
  int bytes[3];
  for (int i = 0; i < 3; ++i) {
    // Extended-range colours reach beyond 0..1; two hexadecimal digits cannot say more
    // than 0..255, so the value is held there instead of spilling into more digits.
    double scaled = std::trunc(rgb[i] * 255);
    bytes[i] = std::isnan(scaled) ? 0 : static_cast<int>(std::fmin(255, std::fmax(0, scaled)));
  }
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", bytes[0], bytes[1], bytes[2]);
  return buf;
}

std::shared_ptr<QMASearchRequest> QMASearchRequest::request() {
  return std::shared_ptr<QMASearchRequest>(new QMASearchRequest());
}

std::shared_ptr<QMARequest> QMASearchRequest::copy() const {
  auto r = QMASearchRequest::request();
  copyRequestFieldsInto(*r);
  r->setQuery(query_);
  r->setBackgroundColor(backgroundColor_);
  r->setGradientFrom(gradientFrom_);
  r->setGradientTo(gradientTo_);
  r->setHeaderColor(headerColor_);
  r->setDescriptionTextColor(descriptionTextColor_);
  r->setAnchorTextColor(anchorTextColor_);
  r->setFontFamily(fontFamily_);
  r->setHeaderTextSize(headerTextSize_);
  r->setBorderColor(borderColor_);
  r->setBorderType(borderType_);
  r->setBorderThickness(borderThickness_);
  r->setCustomChannels(customChannels_);
  r->setCallButtonColor(callButtonColor_);
  return r;
}

void QMASearchRequest::setBackgroundSolid(const std::optional<QMAColor>& color) {
  backgroundColor_ = color;
  gradientFrom_.reset();
  gradientTo_.reset();
}

void QMASearchRequest::setBackgroundGradientFromToColor(const std::optional<QMAColor>& from,
                                                        const std::optional<QMAColor>& to) {
  if (!from || !to) return;
  backgroundColor_.reset();
  gradientFrom_ = from;
  gradientTo_ = to;
}

Dictionary QMASearchRequest::searchParameters() const {
  Dictionary s;
  auto colour = [&s](const char* key, const std::optional<QMAColor>& c) {
    if (c) s[key] = QMAColorText(*c);
  };
  if (query_) s["q"] = *query_;
  colour("bgcolor", backgroundColor_);
  colour("gradientfrom", gradientFrom_);
  colour("gradientto", gradientTo_);
  colour("hcolor", headerColor_);
  colour("dcolor", descriptionTextColor_);
  colour("acolor", anchorTextColor_);
  if (fontFamily_) s["font"] = *fontFamily_;
  s["headersize"] = std::to_string(headerTextSize_);
  colour("bcolor", borderColor_);
  static const char* const kBorderTypes[] = {"none", "dashed", "dotted", "solid"};
  if (borderType_ && *borderType_ < 4) s["btype"] = kBorderTypes[*borderType_];
  s["bthick"] = std::to_string(borderThickness_);
  if (customChannels_) s["channel"] = *customChannels_;
  static const char* const kCallButtonColors[] = {"light", "medium", "dark"};
  if (callButtonColor_ && *callButtonColor_ < 3) s["callbuttoncolor"] = kCallButtonColors[*callButtonColor_];
  return s;
}

Dictionary QMASearchRequest::parameters() {
  Dictionary search = searchParameters();
  Dictionary p = QMARequest::parameters();
  p["search"] = std::move(search);
  return p;
}
