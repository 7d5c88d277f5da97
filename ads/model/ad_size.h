#pragma once
// Ad sizes: how large a banner is to be. A size is a plain record of a width and height in
// points and a flag word: one of the standard sizes (flags 0), a size of the host's own
// (custom), or a size that follows the screen (full width, with a smart height chosen by
// device). These functions make, compare, measure, check, name and box sizes.
//
// The functions that measure against the screen (CGSizeFromQMAAdSize and the validity
// tests) read the device facts of QMADevice, which the early activities cache on the main
// thread; before that, and on other threads, they read the platform's screen facts
// directly, so a size is never judged against a screen of 0 x 0. Their overloads that take QMAAdSizeScreenFacts measure
// against the screen given. Any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ads/services/device.h"
#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/uikit/geometry.h"

struct QMAAdSize {
  uikit::Size size;
  std::uint64_t flags = 0;
};

// The bits of QMAAdSize::flags.
enum : std::uint64_t {
  QMAAdSizeFlagCustom = 1,        // width and height are the host's own
  QMAAdSizeFlagFullWidth = 2,     // the width follows the screen
  QMAAdSizeFlagSkinny = 4,        // on a tablet the smart height is the lower one
  QMAAdSizeFlagLandscape = 8,     // a full width is measured along the screen's long side
  QMAAdSizeFlagSmartHeight = 16,  // the component chooses the height by device
};

inline constexpr QMAAdSize kQMAAdSizeInvalid{{-1, -1}, 0};
inline constexpr QMAAdSize kQMAAdSizeBanner{{320, 50}, 0};
inline constexpr QMAAdSize kQMAAdSizeLargeBanner{{320, 100}, 0};
inline constexpr QMAAdSize kQMAAdSizeMediumRectangle{{300, 250}, 0};
inline constexpr QMAAdSize kQMAAdSizeFullBanner{{468, 60}, 0};
inline constexpr QMAAdSize kQMAAdSizeLeaderboard{{728, 90}, 0};
inline constexpr QMAAdSize kQMAAdSizeSkyscraper{{120, 600}, 0};
inline constexpr QMAAdSize kQMAAdSizeSmartBannerPortrait{{0, 0}, 18};
inline constexpr QMAAdSize kQMAAdSizeSmartBannerLandscape{{0, 0}, 26};
// Inside the component only (and in the names).
inline constexpr QMAAdSize kQMAAdSizeSmartBannerSkinnyPortrait{{0, 0}, 22};
inline constexpr QMAAdSize kQMAAdSizeSmartBannerSkinnyLandscape{{0, 0}, 30};

// The type encoding under which a size is boxed.
inline constexpr const char* kQMAAdSizeObjCType = "{QMAAdSize={CGSize=dd}Q}";
inline constexpr const char* kCGSizeObjCType = "{CGSize=dd}";

// User-interface idioms the smart heights know.
enum : long { QMAUserInterfaceIdiomPhone = 0, QMAUserInterfaceIdiomPad = 1 };

// What a size is measured against: the device's idiom and its screen held upright.
struct QMAAdSizeScreenFacts {
  long idiom = QMAUserInterfaceIdiomPhone;
  double portraitWidth = 0;
  double portraitHeight = 0;

  // This device: QMADevice's cached portrait bounds, or the platform's screen facts while
  // they are not cached yet.
  static QMAAdSizeScreenFacts current();
  static QMAAdSizeScreenFacts ofDevice(QMADeviceSpecifications& device);
};

// A boxed value: the bytes of a record under its type encoding.
class QMABoxedValue {
 public:
  static std::shared_ptr<const QMABoxedValue> valueWithBytesObjCType(const void* bytes, std::size_t size,
                                                                     std::string objCType);
  static std::shared_ptr<const QMABoxedValue> valueWithCGSize(uikit::Size size);
  const std::string& objCType() const { return objCType_; }
  const foundation::Bytes& bytes() const { return bytes_; }

 private:
  std::string objCType_;
  foundation::Bytes bytes_;
};

// The first of kQMAAdSizeInvalid and the six standard sizes whose width and height are
// exactly these; otherwise a custom size.
QMAAdSize QMAAdSizeFromCGSize(uikit::Size size);
QMAAdSize QMACustomAdSizeFromCGSize(uikit::Size size);
QMAAdSize QMAAdSizeFullWidthPortraitWithHeight(double height);
QMAAdSize QMAAdSizeFullWidthLandscapeWithHeight(double height);
bool QMAAdSizeEqualToSize(QMAAdSize a, QMAAdSize b);

// The size in points. Standard sizes are themselves; full-width sizes take the screen's
// width (smart ones the smart height, custom ones their own); custom sizes are themselves;
// anything else (kQMAAdSizeInvalid included) measures 0 x 0.
uikit::Size CGSizeFromQMAAdSize(QMAAdSize size);
uikit::Size CGSizeFromQMAAdSize(QMAAdSize size, const QMAAdSizeScreenFacts& screen);
// The full-width size for an idiom: 0 x 0 without the full-width bit or for an unknown idiom.
uikit::Size QMASmartBannerSizeForIdiom(QMAAdSize size, long idiom, double portraitWidth, double portraitHeight);

bool QMAAdSizeIsFullWidth(QMAAdSize size);
bool QMAAdSizeIsSmartBanner(QMAAdSize size);
bool QMAAdSizeIsCustom(QMAAdSize size);
bool QMAAdSizeIsStandard(QMAAdSize size);

// Custom sizes must fit the screen; other sizes must be standard or one of the four smart
// sizes. Failures store an internal error (code 3) whose description is the reason.
bool QMAAdSizeIsValid(QMAAdSize size);
bool QMAAdSizeIsValidWithError(QMAAdSize size, foundation::Error* error);
bool QMAAdSizeIsValidWithError(QMAAdSize size, foundation::Error* error, const QMAAdSizeScreenFacts& screen);
// Width and height must be numbers from 0 up to the screen's longer side.
bool QMACustomAdSizeFitsScreen(foundation::Error* error, double width, double height);
bool QMACustomAdSizeFitsScreen(foundation::Error* error, double width, double height,
                               const QMAAdSizeScreenFacts& screen);
bool QMAStandardAdSizeIsValid(QMAAdSize size, foundation::Error* error);

// The constant's name for the named sizes; otherwise a description.
std::string NSStringFromQMAAdSize(QMAAdSize size);
// "{320, 50}".
std::string NSStringFromCGSize(uikit::Size size);
// "{w, h}" text to a size; anything unreadable (or not finite) gives 0 x 0.
uikit::Size CGSizeFromString(std::string_view text);

std::shared_ptr<const QMABoxedValue> NSValueFromQMAAdSize(QMAAdSize size);
// kQMAAdSizeInvalid for no value or any other encoding.
QMAAdSize QMAAdSizeFromNSValue(const std::shared_ptr<const QMABoxedValue>& value);

// Width "x" height text ("320x50") to a size without flags; callers that need an ad size
// pass it on to QMAAdSizeFromCGSize. Unreadable text gives 0 x 0.
uikit::Size QMAAdSizeFromString(std::string_view text);
