#pragma once
// adhost's command reader: one line of text to one command, or the reason it is not one.
// It reads the words of a line and what they stand for (ad sizes, points, seconds, indexes
// and options), bounded: a line longer than kMaximumLineLength, a name longer than
// kMaximumNameLength, or a size or point outside the screen's reach is refused. Pure: no
// state, any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ads/model/ad_size.h"
#include "platform/uikit/geometry.h"

namespace adhost {

inline constexpr std::size_t kMaximumLineLength = 4096;
inline constexpr std::size_t kMaximumNameLength = 64;
inline constexpr double kMaximumDimension = 10000;
inline constexpr double kMaximumClockStep = 365.0 * 24 * 3600;
inline constexpr std::size_t kMaximumPathLength = 1024;

enum class Verb {
  Nothing,          // a blank line or a "#" comment
  Banner,           // banner NAME [SIZE] [at X,Y] [unit UNIT] [no-root]
  KVRBanner,        // kvr-banner NAME [...as banner] [sizes SIZE,SIZE...] [manual-impressions] [custom-rendering]
  Interstitial,     // interstitial NAME [unit UNIT]
  KVRInterstitial,  // kvr-interstitial NAME [unit UNIT] [custom-rendering]
  Load,             // load NAME [key=value ...]
  Present,          // present NAME
  Cancel,           // cancel NAME
  RewardLoad,       // reward load UNIT [USER]
  RewardPresent,    // reward present
  Tap,              // tap NAME [LINK | ASSET | at X,Y]
  Native,           // native NAME TYPE[,TYPE...] [unit UNIT] [templates ID,...] [multiple-images] [no-images]
  Close,            // close: the close button of the full-screen ad on top (a store page, composer or
                    // event editor an ad opened closes as its user would)
  Browse,           // browse NAME URL: the ad's creative opens the URL in the in-app browser
  Answer,           // answer TITLE...: taps the button of that title on the alert on screen (or "Add" or
                    // "Cancel" of the event editor on top)
  Calendar,         // calendar [grant|deny]: the calendar's access and events; what the user answers when
                    // an application asks for the calendar (an answer already given changes to it)
  Script,           // js NAME SCRIPT...: runs script in the ad's page (wherever the ad view is) and answers its result
  Frame,            // frame NAME X,Y WxH
  Size,             // size NAME SIZE
  Hide,             // hide NAME
  Show,             // show NAME
  Remove,           // remove NAME
  Autoload,         // autoload NAME on|off
  Impression,       // impression NAME (a manual impression)
  Implements,       // implements NAME all|none|SELECTOR...
  Correlator,       // correlator (a new page view)
  Configure,        // configure CODE [TRACKING]
  Clock,            // clock | clock advance SECONDS
  Scroll,           // scroll X,Y: the host's page scrolls to this content offset
  Swipe,            // swipe NAME X,Y X,Y [cancelled]: a finger pans over the banner (screen points)
  Background,       // background
  Foreground,       // foreground
  Screen,           // screen
  Requests,         // requests: the pages' requests out and waiting in line
  Snapshot,         // snapshot [NAME] FILE.png, or snapshot NAME: a native ad's asset views in text
  Events,           // events [NAME]
  Wait,             // wait NAME [EVENT]
  Log,              // log
  Help,             // help
  Quit,             // quit
  // Web processes ending, as a crash would.
  Crash,            // crash NAME: the web process of the ad's page
  CrashSDKCore,     // crash-sdk-core: the web process of the hidden SDK-core page
  // The device and the store, as the system around the host plays them.
  Rotate,           // rotate portrait|landscape-left|landscape-right|upside-down: the device turns
  StorePage,        // store fail|load ITEM: the store's product page of that item fails to load, or loads
};

struct Command {
  Verb verb = Verb::Nothing;
  std::string name;
  std::optional<QMAAdSize> size;
  std::optional<uikit::Point> origin;
  std::optional<uikit::Size> frameSize;
  std::optional<uikit::Point> to;  // where a swipe ends
  std::optional<std::string> unit;
  std::optional<std::string> user;
  std::optional<std::string> url;
  std::vector<QMAAdSize> validSizes;
  bool manualImpressions = false;
  bool customRendering = false;
  bool noRoot = false;
  bool on = false;
  std::optional<double> seconds;
  std::optional<std::size_t> link;
  std::optional<std::string> event;
  std::optional<std::string> file;  // for snapshot: where the PNG goes
  std::optional<std::string> script;  // for js: the rest of the line, as written
  std::vector<std::pair<std::string, std::string>> parameters;
  std::vector<std::string> selectors;  // for implements: "all", "none" or selectors
  // native: the kinds ("content", "app-install", "custom") and the template IDs; tap: an
  // asset of a native ad ("headline", "attribution-icon", a custom asset's name...).
  std::vector<std::string> nativeTypes;
  std::vector<std::string> templateIDs;
  bool multipleImages = false;
  bool noImages = false;
  std::optional<std::string> asset;
  // rotate: the device orientation (1 portrait, 2 upside down, 3 landscape left, 4 landscape right).
  std::optional<long> deviceOrientation;
  // store: the item whose page fails (on) or loads again (off).
  std::optional<std::int64_t> storeItem;
};

struct ParseError {
  std::string message;
};

std::variant<Command, ParseError> parseCommand(std::string_view line);

// "banner", "largebanner", "mrec", "fullbanner", "leaderboard", "skyscraper", "smart",
// "smart-landscape", or "WxH" (a custom size, whole or decimal points, each at most
// kMaximumDimension).
std::optional<QMAAdSize> parseAdSize(std::string_view text);
// "X,Y", each within +-kMaximumDimension.
std::optional<uikit::Point> parsePoint(std::string_view text);
// A finite number of seconds, > 0 and at most kMaximumClockStep.
std::optional<double> parseSeconds(std::string_view text);
// The command list, one line.
std::string helpLine();

}  // namespace adhost
