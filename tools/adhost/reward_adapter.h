#pragma once
// The host's reward adapter, AdhostRewardAdapter: what an application that shows
// reward-based video ads links for each ad network. This one plays its network's "video"
// on the headless screen: a full-screen controller with the network's name and a close
// button. Its network's credentials (the "data" of the mediation configuration's entry)
// steer it:
//   "setup": "fail"          the set-up fails
//   "fill": "no" | "hang"    the load fails, or never answers (the waterfall's time-out)
//   "duration": seconds      how long the video plays before the user earns the reward (5)
//   "reward_type", "reward_amount"  the reward it grants ("coins", 5)
// A tap on the video is a click that leaves the application; the close button ends it.
//
// Main thread; it answers its connector at once.

#include <memory>
#include <string>

#include "ads/mediation/reward_based_video_connector.h"
#include "platform/uikit/view_controller.h"

namespace adhost {

inline constexpr const char* kRewardAdapterClassName = "AdhostRewardAdapter";
inline constexpr const char* kRewardCloseButtonLabel = "Close Video";

// Registers the class by name, adopting QMAMRewardBasedVideoAdNetworkAdapter.
void registerRewardAdapterClass();

// The video's screen, while a reward adapter plays it.
class RewardVideoViewController : public uikit::ViewController {
 public:
  std::string className() const override { return "AdhostRewardVideoViewController"; }
  std::string network;
  bool finished = false;
  std::function<void()> onTap;
  std::function<void()> onClose;
  void viewDidLoad() override;
  std::shared_ptr<uikit::View> videoView;
};

}  // namespace adhost
