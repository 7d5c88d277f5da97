#pragma once
// Geometry shared by the slot, the formats, viewability, MRAID and presentation:
// rectangles to and from the dictionaries that travel to the ad page and the ad server,
// screen rectangles in interface coordinates before OS 8, the visible part of a view,
// and a view's position on screen.

#include <memory>
#include <optional>

#include "platform/foundation/error.h"
#include "platform/foundation/value.h"
#include "platform/uikit/geometry.h"
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

// The part of the view that is on screen, in window coordinates: the view's own bounds
// cut by the window and by every clipping ancestor; zero when the application is not
// active, the view has no window, or the window, the view or an ancestor is hidden.
QMARect qma_visibleBounds(const uikit::View& view);
// Whether the application supports, for the view's window, one of the mask's orientations.
bool qma_supportsOrientations(const uikit::View& view, std::uint64_t mask);
void QMALinkCategory_UIView_QMAVisibilityAdditions();

class QMAViewUtilities {
 public:
  // The view's frame on screen in the long form plus "visible"; nullopt without a
  // superview or a window.
  static std::optional<foundation::Dictionary> positionOfViewInScreen(const uikit::View& view, const uikit::Screen& screen);
};

// The application frame of the screen: its bounds below the status bar.
QMARect QMAApplicationFrame(const uikit::Screen& screen);
// The orientations the application supports (all but upside down unless set otherwise).
void QMASetSupportedInterfaceOrientations(std::uint64_t mask);
