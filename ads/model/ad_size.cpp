#include "ads/model/ad_size.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "ads/model/string_values.h"
#include "ads/services/utilities.h"
#include "platform/dispatch/run_loop.h"
#include "platform/system/device_facts.h"
#include "platform/system/screen_facts.h"

namespace {

constexpr QMAAdSize kStandardSizes[] = {kQMAAdSizeBanner,     kQMAAdSizeLargeBanner, kQMAAdSizeMediumRectangle,
                                        kQMAAdSizeFullBanner, kQMAAdSizeLeaderboard, kQMAAdSizeSkyscraper};

constexpr std::pair<QMAAdSize, const char*> kNames[] = {
    {kQMAAdSizeBanner, "kQMAAdSizeBanner"},
    {kQMAAdSizeLargeBanner, "kQMAAdSizeLargeBanner"},
    {kQMAAdSizeMediumRectangle, "kQMAAdSizeMediumRectangle"},
    {kQMAAdSizeFullBanner, "kQMAAdSizeFullBanner"},
    {kQMAAdSizeLeaderboard, "kQMAAdSizeLeaderboard"},
    {kQMAAdSizeSkyscraper, "kQMAAdSizeSkyscraper"},
    {kQMAAdSizeSmartBannerSkinnyPortrait, "kQMAAdSizeSmartBannerSkinnyPortrait"},
    {kQMAAdSizeSmartBannerSkinnyLandscape, "kQMAAdSizeSmartBannerSkinnyLandscape"},
    {kQMAAdSizeSmartBannerPortrait, "kQMAAdSizeSmartBannerPortrait"},
    {kQMAAdSizeSmartBannerLandscape, "kQMAAdSizeSmartBannerLandscape"},
    {kQMAAdSizeInvalid, "kQMAAdSizeInvalid"},
};

bool sameDimensions(uikit::Size a, uikit::Size b) { return a.width == b.width && a.height == b.height; }

// A double as the platform writes it in geometry texts: up to 17 significant digits,
// the shortest form for whole numbers ("320", "0.5", "0.10000000000000001").
std::string geometryNumber(double value) {
  std::array<char, 64> buf{};
  auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::general, 17);
  return std::string(buf.data(), result.ptr);
}

std::string fixedSix(double value) {
  std::array<char, 400> buf{};
  auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, 6);
  return std::string(buf.data(), result.ptr);
}

std::string hex(std::uint64_t value) {
  std::array<char, 32> buf{};
  auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value, 16);
  return std::string(buf.data(), result.ptr);
}

void skipSpaces(std::string_view text, std::size_t& i) {
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
}

// A decimal number (sign, digits, point, exponent); no "inf", "nan" or hexadecimal.
std::optional<double> readNumber(std::string_view text, std::size_t& i) {
  std::size_t start = i;
  const std::size_t length = QMADecimalNumberLength(text.substr(i));
  if (length == 0) return std::nullopt;
  i += length;
  std::string_view number = text.substr(start, i - start);
  if (!number.empty() && number[0] == '+') number.remove_prefix(1);
  double value = 0;
  auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec != std::errc() || result.ptr != number.data() + number.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

}  // namespace

// ---- screen facts and boxed values

QMAAdSizeScreenFacts QMAAdSizeScreenFacts::current() { return ofDevice(*QMADevice::sharedInstance()); }

QMAAdSizeScreenFacts QMAAdSizeScreenFacts::ofDevice(QMADeviceSpecifications& device) {
  QMAAdSizeScreenFacts facts;
  facts.idiom = system_facts::device().idiom == system_facts::InterfaceIdiom::Pad ? QMAUserInterfaceIdiomPad
                                                                                  : QMAUserInterfaceIdiomPhone;
  // The device facts are cached on the main thread: only there are they read.
  QMARect bounds = dispatch::isMainThread() ? device.standardizedPortraitScreenBounds() : QMARect{};
  if (bounds.size.width > 0 && bounds.size.height > 0) {
    facts.portraitWidth = bounds.size.width;
    facts.portraitHeight = bounds.size.height;
  } else {
    // The early activities have not cached the device facts yet (or this is not the main
    // thread): a host that makes a banner in its launch method must still be measured
    // against the real screen.
    auto screen = system_facts::screen();
    facts.portraitWidth = screen.width;
    facts.portraitHeight = screen.height;
  }
  return facts;
}

std::shared_ptr<const QMABoxedValue> QMABoxedValue::valueWithBytesObjCType(const void* bytes, std::size_t size,
                                                                           std::string objCType) {
  auto value = std::make_shared<QMABoxedValue>();
  value->objCType_ = std::move(objCType);
  const auto* begin = static_cast<const std::uint8_t*>(bytes);
  value->bytes_.assign(begin, begin + size);
  return value;
}

std::shared_ptr<const QMABoxedValue> QMABoxedValue::valueWithCGSize(uikit::Size size) {
  double fields[2] = {size.width, size.height};
  return valueWithBytesObjCType(fields, sizeof fields, kCGSizeObjCType);
}

// ---- making and comparing

QMAAdSize QMAAdSizeFromCGSize(uikit::Size size) {
  if (sameDimensions(size, kQMAAdSizeInvalid.size)) return kQMAAdSizeInvalid;
  for (const auto& standard : kStandardSizes)
    if (sameDimensions(size, standard.size)) return standard;
  return QMACustomAdSizeFromCGSize(size);
}

QMAAdSize QMACustomAdSizeFromCGSize(uikit::Size size) { return {size, QMAAdSizeFlagCustom}; }

QMAAdSize QMAAdSizeFullWidthPortraitWithHeight(double height) {
  return {{0, height}, QMAAdSizeFlagCustom | QMAAdSizeFlagFullWidth};
}

QMAAdSize QMAAdSizeFullWidthLandscapeWithHeight(double height) {
  return {{0, height}, QMAAdSizeFlagCustom | QMAAdSizeFlagFullWidth | QMAAdSizeFlagLandscape};
}

bool QMAAdSizeEqualToSize(QMAAdSize a, QMAAdSize b) { return sameDimensions(a.size, b.size) && a.flags == b.flags; }

bool QMAAdSizeIsFullWidth(QMAAdSize size) { return (size.flags & QMAAdSizeFlagFullWidth) != 0; }
bool QMAAdSizeIsSmartBanner(QMAAdSize size) { return (size.flags & QMAAdSizeFlagSmartHeight) != 0; }
bool QMAAdSizeIsCustom(QMAAdSize size) { return (size.flags & QMAAdSizeFlagCustom) != 0; }

bool QMAAdSizeIsStandard(QMAAdSize size) {
  if (size.flags != 0) return false;
  for (const auto& standard : kStandardSizes)
    if (sameDimensions(size.size, standard.size)) return true;
  return false;
}

// ---- measuring

uikit::Size QMASmartBannerSizeForIdiom(QMAAdSize size, long idiom, double portraitWidth, double portraitHeight) {
  if (!QMAAdSizeIsFullWidth(size)) return {};
  double width = (size.flags & QMAAdSizeFlagLandscape) ? portraitHeight : portraitWidth;
  switch (idiom) {
    case QMAUserInterfaceIdiomPhone:
      return {width, (size.flags & QMAAdSizeFlagLandscape) ? 32.0 : 50.0};
    case QMAUserInterfaceIdiomPad:
      return {width, (size.flags & QMAAdSizeFlagSkinny) ? 66.0 : 90.0};
    default:
      return {};
  }
}

uikit::Size CGSizeFromQMAAdSize(QMAAdSize size) { return CGSizeFromQMAAdSize(size, QMAAdSizeScreenFacts::current()); }

uikit::Size CGSizeFromQMAAdSize(QMAAdSize size, const QMAAdSizeScreenFacts& screen) {
  if (QMAAdSizeIsStandard(size)) return size.size;
  if (QMAAdSizeIsFullWidth(size)) {
    uikit::Size smart = QMASmartBannerSizeForIdiom(size, screen.idiom, screen.portraitWidth, screen.portraitHeight);
    if (QMAAdSizeIsSmartBanner(size)) return smart;
    if (QMAAdSizeIsCustom(size)) return {smart.width, size.size.height};
    return {};
  }
  if (QMAAdSizeIsCustom(size)) return size.size;
  return {};
}

// ---- validity

bool QMAAdSizeIsValid(QMAAdSize size) { return QMAAdSizeIsValidWithError(size, nullptr); }

bool QMAAdSizeIsValidWithError(QMAAdSize size, foundation::Error* error) {
  if (!QMAAdSizeIsCustom(size)) return QMAStandardAdSizeIsValid(size, error);
  return QMAAdSizeIsValidWithError(size, error, QMAAdSizeScreenFacts::current());
}

bool QMAAdSizeIsValidWithError(QMAAdSize size, foundation::Error* error, const QMAAdSizeScreenFacts& screen) {
  if (QMAAdSizeIsCustom(size)) return QMACustomAdSizeFitsScreen(error, size.size.width, size.size.height, screen);
  return QMAStandardAdSizeIsValid(size, error);
}

bool QMACustomAdSizeFitsScreen(foundation::Error* error, double width, double height) {
  return QMACustomAdSizeFitsScreen(error, width, height, QMAAdSizeScreenFacts::current());
}

bool QMACustomAdSizeFitsScreen(foundation::Error* error, double width, double height,
                               const QMAAdSizeScreenFacts& screen) {
  // A negative side has no meaning for a view and turns into a huge number wherever a size
  // is sent as whole numbers, so it is refused outright.
  if (width < 0 || height < 0) {
    if (error) {
      *error = qma_errorWithCodeDescription(3, "Invalid custom ad size, " + NSStringFromCGSize({width, height}) +
                                                   ". Width and height must not be negative.");
    }
    return false;
  }
  double longest = std::max(screen.portraitWidth, screen.portraitHeight);
  if (width <= longest && height <= longest) return true;  // a NaN never passes
  if (error) {
    *error = qma_errorWithCodeDescription(
        3, "Not enough space to show ad with custom size, " + NSStringFromCGSize({width, height}) +
               ". Please use a size the fits the current screen bounds of " +
               NSStringFromCGSize({screen.portraitWidth, screen.portraitHeight}) + ".");
  }
  return false;
}

bool QMAStandardAdSizeIsValid(QMAAdSize size, foundation::Error* error) {
  if (QMAAdSizeIsStandard(size)) return true;
  if (size.size.width == 0 && size.size.height == 0) {
    for (const auto& smart : {kQMAAdSizeSmartBannerPortrait, kQMAAdSizeSmartBannerSkinnyPortrait,
                              kQMAAdSizeSmartBannerLandscape, kQMAAdSizeSmartBannerSkinnyLandscape})
      if (size.flags == smart.flags) return true;
  }
  if (error) {
    *error = qma_errorWithCodeDescription(3, "Non-standard size, " + NSStringFromQMAAdSize(size) +
                                                 ". Please create a custom ad size using QMAAdSizeFromCGSize.");
  }
  return false;
}

// ---- names and texts

std::string NSStringFromQMAAdSize(QMAAdSize size) {
  for (const auto& [named, name] : kNames)
    if (QMAAdSizeEqualToSize(size, named)) return name;
  if (QMAAdSizeIsFullWidth(size)) return "Full width QMAAdSize with height: " + fixedSix(size.size.height);
  if (QMAAdSizeIsCustom(size)) return "Custom QMAAdSize: " + NSStringFromCGSize(size.size);
  return "QMAAdSize: " + NSStringFromCGSize(size.size) + ", " + hex(size.flags);
}

std::string NSStringFromCGSize(uikit::Size size) {
  return "{" + geometryNumber(size.width) + ", " + geometryNumber(size.height) + "}";
}

uikit::Size CGSizeFromString(std::string_view text) {
  std::size_t i = 0;
  skipSpaces(text, i);
  if (i >= text.size() || text[i] != '{') return {};
  ++i;
  skipSpaces(text, i);
  auto width = readNumber(text, i);
  if (!width) return {};
  skipSpaces(text, i);
  if (i >= text.size() || text[i] != ',') return {};
  ++i;
  skipSpaces(text, i);
  auto height = readNumber(text, i);
  if (!height) return {};
  skipSpaces(text, i);
  if (i >= text.size() || text[i] != '}') return {};
  ++i;
  skipSpaces(text, i);
  if (i != text.size()) return {};
  return {*width, *height};
}

uikit::Size QMAAdSizeFromString(std::string_view text) {
  std::string braced = "{";
  braced.reserve(text.size() + 2);
  for (char c : text) braced += c == 'x' ? ',' : c;
  braced += '}';
  return CGSizeFromString(braced);
}

// ---- boxing

std::shared_ptr<const QMABoxedValue> NSValueFromQMAAdSize(QMAAdSize size) {
  return QMABoxedValue::valueWithBytesObjCType(&size, sizeof size, kQMAAdSizeObjCType);
}

QMAAdSize QMAAdSizeFromNSValue(const std::shared_ptr<const QMABoxedValue>& value) {
  if (!value || value->objCType() != kQMAAdSizeObjCType || value->bytes().size() != sizeof(QMAAdSize))
    return kQMAAdSizeInvalid;
  QMAAdSize size;
  std::memcpy(&size, value->bytes().data(), sizeof size);
  return size;
}
