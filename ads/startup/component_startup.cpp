// The ad component's start-up, at the top of the component: the one place that knows every
// ad folder. Each folder declares what it asks of the folders above it (an interface and a
// maker to install); here, as the image that holds the component loads, the upper folders
// install their makers below, the early activities of the folders above the services are
// added, and the class-load hook starts observing the host's launch. Everything runs before
// the host can post its launch, so no ad object is made without its collaborators.
//
// The libraries are linked whole into both deliverables (WV_AD_COMPONENT), so this file's
// initialiser runs in each of them although nothing refers to it.

#include "ads/mediation/ad_manager.h"
#include "ads/mediation/reward_based_video_mediation.h"
#include "ads/present/opener.h"
#include "ads/render/mraid_interceptor.h"
#include "ads/services/application.h"

namespace {

const bool started = [] {
  // Presentation serves rendering's ad view delegates with their opener.
  QMAOpener::install();
  // Mediation serves the slots' mediation managers and the reward-based video ad's waterfall.
  QMAMAdManager::install();
  QMARewardBasedVideoAdMediationAdditions::install();
  // Rendering's part of the early activities: the MRAID script may be served from then on.
  QMAMRAIDInterceptor::allowAtStartUp();
  // Last, once everything is in place: the hook that runs the early activities at launch.
  QMAApplication::load();
  return true;
}();

}  // namespace
