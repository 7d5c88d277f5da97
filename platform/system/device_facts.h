#pragma once
// The system facts that the ad component's device facts read, each injectable: machine
// and model names, OS version, interface idiom, preferred languages and locale, time
// zone, radio access technology (with its change notification), audio route outputs,
// advertising identifier and the URL schemes other apps answer. Whether payments can be
// made is the store's to say (storekit::SKPaymentQueue::canMakePayments).
// Defaults describe an upright phone on Wi-Fi with a built-in speaker.

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace system_facts {

enum class InterfaceIdiom { Phone = 0, Pad = 1 };

// Audio port types of the route's outputs.
inline constexpr const char* kAudioPortBuiltInSpeaker = "Speaker";
inline constexpr const char* kAudioPortHeadphones = "Headphones";
inline constexpr const char* kAudioPortBluetoothA2DP = "BluetoothA2DPOutput";

// Posted on the default notification centre when the radio access technology changes.
inline constexpr const char* kRadioAccessTechnologyDidChangeNotification = "CTRadioAccessTechnologyDidChangeNotification";

struct DeviceFacts {
  std::string machine = "iPhone7,2";  // uname's machine field
  std::string model = "iPhone";
  std::string systemName = "iOS";
  std::string systemVersion = "8.1.2";
  InterfaceIdiom idiom = InterfaceIdiom::Phone;
  std::string timeZone = "UTC";
  std::vector<std::string> audioOutputs = {kAudioPortBuiltInSpeaker};
  std::optional<std::string> advertisingIdentifier = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
  bool advertisingTrackingEnabled = true;
  std::set<std::string> openableURLSchemes = {"http", "https", "itms-apps"};
  std::optional<std::string> carrierName = "Carrier";
};

DeviceFacts device();
void setDevice(const DeviceFacts& facts);

// The radio access technology (for example "CTRadioAccessTechnologyLTE"); nullopt when
// there is no cellular radio. Setting it posts the change notification.
std::optional<std::string> radioAccessTechnology();
void setRadioAccessTechnology(std::optional<std::string> technology);

// The preferred languages live in the global user-defaults domain as "AppleLanguages",
// the locale as "AppleLocale", as on the device.
void setPreferredLanguages(const std::vector<std::string>& languages);
void setLocaleIdentifier(const std::string& locale);

// Whether an app answers the URL's scheme (the text before the first ":").
bool canOpenURL(const std::string& url);

// Back to the defaults above (radio technology: none).
void resetDeviceFacts();

}  // namespace system_facts
