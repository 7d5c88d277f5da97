#pragma once
// Geometry shared by the slot, the formats, viewability, MRAID and presentation:
// rectangles to and from the dictionaries that travel to the ad page and the ad server,
// screen rectangles in interface coordinates before OS 8, the visible part of a view,
// a view's position on screen, and a snapshot of a view.

#include <memory>
#include <optional>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/uikit/geometry.h"
#include "platform/uikit/image.h"
#include "platform/uikit/screen.h"
#include "platform/uikit/view.h"

using QMARect = uikit::Rect;

// {"x", "y", "w", "h"} of the standardised rectangle (for the ad server).
foundation::Dictionary QMADictionaryWithRect(const QMARect& rect);
// {"x", "y", "width", "height"}, as given (for the ad pages).
foundation::Dictionary QMADictionaryFromCGRect(const QMARect& rect);
// All four long-form keys must be numbers; otherwise the zero rectangle and error
// "cg_rect_conversion" 1 "Invalid SDK Core rectangle <dictionary>.".
QMARect QMACGRectFromDictionary(const foundation::Dictionary& dict, foundation::Error* error = nullptr);
// Before OS 8 (when screen coordinates do not follow the interface orientation) the
// rectangle re-expressed for the orientation against the screen bounds; unchanged from OS 8.
QMARect QMARectForInterfaceOrientation(long orientation, const QMARect& rect, const QMARect& screenBounds);
QMARect QMAInterfaceOrientedRect(const QMARect& rect);

// Main thread. The part of the view that is on screen, in window coordinates: the view's
// own bounds cut by the window and by every clipping ancestor; zero unless the
// application is active (inactive, as under a system alert or while switching apps,
// counts as not on screen), and when the view has no window, or the window, the view or
// an ancestor is hidden.
QMARect qma_visibleBounds(const uikit::View& view);
// Main thread. Whether the application supports, for the view's window, one of the
// mask's orientations (the application answers per window, through its delegate).
bool qma_supportsOrientations(const uikit::View& view, std::uint64_t mask);
void QMALinkCategory_UIView_QMAVisibilityAdditions();

// Main thread. A snapshot of the view and its subviews, one pixel per device pixel of the
// view (its bounds size times its content scale factor), as an image of scale 1. Null
// for a view with no area, or one too large to hold in memory.
std::shared_ptr<uikit::Image> qma_render(const uikit::View& view);
void QMALinkCategory_UIView_QMARenderAdditions();
// The most pixels a snapshot may have on either side.
inline constexpr std::uint32_t kQMARenderMaximumPixelSide = 16384;

class QMAViewUtilities {
 public:
  // The view's frame on screen in the long form plus "visible"; nullopt without a
  // superview or a window.
  static std::optional<foundation::Dictionary> positionOfViewInScreen(const uikit::View& view, const uikit::Screen& screen);
};

// The application frame of the screen: its bounds below the status bar.
QMARect QMAApplicationFrame(const uikit::Screen& screen);
