#pragma once
// Server constants: the tuning values the SDK-core page sends ("loadSdkConstants"). Some
// are applied at once, the others stored in the standard user defaults under
// "/quillon/ads/" + name, where their readers take them. Every value arrives as text; the
// readers here turn hostile text into values or nothing, never a crash.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/value.h"

namespace QMAServerConstants {

inline constexpr const char* kKeyPrefix = "/quillon/ads/";

// The 28 constants stored as received when they are non-empty text, in the order stored.
const std::vector<std::string>& textConstantNames();

// Boolean value of a text as the platform reads it: blanks, then a sign and zeros, then
// YES for Y, y, T, t or a digit 1 to 9.
bool boolValue(std::string_view text);
// The leading decimal number of a text (blanks skipped); 0 when there is none.
double doubleValue(std::string_view text);
// "refresh_intervals": the two sampling intervals an object gives (a string or a number
// each; finite and not negative).
struct RefreshIntervals {
  std::optional<double> vistraceSamplingInterval;
  std::optional<double> swipeToViewSamplingInterval;
};
std::optional<RefreshIntervals> decodeRefreshIntervals(std::string_view text);
// "whitelisted_ad_request_domains": the strings of a JSON list, in order.
std::optional<foundation::Array> decodeStringList(std::string_view text);
// "clickthrough_confirm_schemes": the string-to-string entries of a JSON object, when
// there is at least one.
std::optional<foundation::Dictionary> decodeConfirmSchemes(std::string_view text);
// A list of class names as the page writes it: names separated by "," (blanks around
// them dropped), or a JSON list of strings.
std::vector<std::string> classNameList(std::string_view text);

// The application's mediation adapter names: the four built-in adapters and the given
// ones, kept when a class of that name exists.
void updateAvailableAdapterNamesWithPotentialAdapterNames(const std::optional<std::string>& names);

}  // namespace QMAServerConstants
