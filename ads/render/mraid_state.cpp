#include "ads/render/mraid_state.h"

#include "ads/model/ad_collaborators.h"
#include "ads/render/ad_view.h"
#include "platform/dispatch/thread_checks.h"

void QMADispatchMRAIDState(const std::shared_ptr<QMAAdView>& view, const std::string& state,
                           const std::shared_ptr<QMAMRAIDEventHandling>& handler) {
  WV_DCHECK_MAIN_THREAD();
  if (!view) return;
  foundation::Dictionary parameters;
  if (handler) parameters = handler->MRAIDValuesFromView(view);
  parameters["state"] = state;
  view->dispatchSDKEventParameters("onStateChanged", parameters);
}
